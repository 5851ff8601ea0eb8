// GUID texts: the braced form both ways, and what each parser answers for texts that are not.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "com/WideText.h"

namespace {

constexpr GUID kSample = {0x3B7F1A95, 0xC2D4, 0x11E0, {0xA5, 0xB8, 0x6C, 0x9E, 0x0F, 0x1D, 0x2A, 0x34}};
constexpr GUID kSentinel = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; *text != 0; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '#');
    return out;
}

TEST(GuidTest, StringFromGuidWritesTheBracedUpperCaseFormWhenItFits) {
    struct Case {
        int cchMax;
        int expected;
    };
    const Case cases[] = {{39, 39}, {40, 39}, {38, 0}, {1, 0}, {0, 0}, {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cchMax);
        WCHAR text[41];
        for (WCHAR& unit : text) unit = '#';
        EXPECT_EQ(StringFromGUID2(kSample, text, c.cchMax), c.expected);
        if (c.expected != 0) {
            EXPECT_EQ(Narrow(text), "{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}");
        } else {
            EXPECT_EQ(text[0], '#');  // nothing written
        }
    }
}

TEST(GuidTest, TextsRoundTrip) {
    const GUID guids[] = {kSentinel, GUID_NULL, {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}};
    for (const GUID& guid : guids) {
        WCHAR text[39];
        ASSERT_EQ(StringFromGUID2(guid, text, 39), 39);
        SCOPED_TRACE(Narrow(text));
        GUID parsed = kSample;
        EXPECT_EQ(CLSIDFromString(text, &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, guid));
        parsed = kSample;
        EXPECT_EQ(IIDFromString(text, &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, guid));
    }
}

// What both parsers answer. CLSIDFromString fails with one code for everything; IIDFromString
// tells a text of the wrong length (E_INVALIDARG, output untouched) from a malformed one.
struct ParseCase {
    const WCHAR* text;
    HRESULT clsidResult;
    HRESULT iidResult;
};

const ParseCase kParseCases[] = {
    {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}"), S_OK, S_OK},
    {ZW("{3b7f1a95-c2d4-11e0-a5b8-6c9e0f1d2a34}"), S_OK, S_OK},
    {ZW("3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34"), CO_E_CLASSSTRING, E_INVALIDARG},     // no braces
    {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34"), CO_E_CLASSSTRING, E_INVALIDARG},    // no closing brace
    {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}x"), CO_E_CLASSSTRING, E_INVALIDARG},  // trailing text
    {ZW(" {3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}"), CO_E_CLASSSTRING, E_INVALIDARG},  // leading space
    {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A3}"), CO_E_CLASSSTRING, E_INVALIDARG},    // a digit short
    {ZW(""), CO_E_CLASSSTRING, E_INVALIDARG},
    {ZW("{}"), CO_E_CLASSSTRING, E_INVALIDARG},
    {ZW("Zanthrop.NoSuchProgId"), CO_E_CLASSSTRING, E_INVALIDARG},
    {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A3G}"), CO_E_CLASSSTRING, CO_E_IIDSTRING},  // not hex
    {ZW("{3B7F1A95+C2D4-11E0-A5B8-6C9E0F1D2A34}"), CO_E_CLASSSTRING, CO_E_IIDSTRING},  // wrong separator
    {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34)"), CO_E_CLASSSTRING, CO_E_IIDSTRING},  // wrong closing
    {ZW("{0x3B7F1A-C2D4-11E0-A5B8-6C9E0F1D2A34}"), CO_E_CLASSSTRING, CO_E_IIDSTRING},
    {ZW("(3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}"), CO_E_CLASSSTRING, CO_E_IIDSTRING},
};

TEST(GuidTest, ClsidFromStringAcceptsOnlyTheBracedForm) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(Narrow(c.text));
        CLSID parsed = kSentinel;
        EXPECT_EQ(CLSIDFromString(c.text, &parsed), c.clsidResult);
        if (c.clsidResult == S_OK) {
            EXPECT_TRUE(IsEqualGUID(parsed, kSample));
        } else if (c.text[0] != '{') {
            EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));  // the value after other failures is not defined
        }
    }
}

TEST(GuidTest, IidFromStringTellsWrongLengthFromMalformed) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(Narrow(c.text));
        IID parsed = kSentinel;
        EXPECT_EQ(IIDFromString(c.text, &parsed), c.iidResult);
        if (c.iidResult == S_OK) {
            EXPECT_TRUE(IsEqualGUID(parsed, kSample));
        } else if (c.iidResult == E_INVALIDARG) {
            EXPECT_TRUE(IsEqualGUID(parsed, kSentinel));
        }
    }
}

TEST(GuidTest, NullTextGivesTheNullGuid) {
    CLSID clsid = kSentinel;
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, GUID_NULL));
    IID iid = kSentinel;
    EXPECT_EQ(IIDFromString(nullptr, &iid), S_OK);
    EXPECT_TRUE(IsEqualGUID(iid, GUID_NULL));
}

TEST(GuidTest, ClsidFromStringRefusesANullOutput) {
    EXPECT_EQ(CLSIDFromString(ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}"), nullptr), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(ZW("bad"), nullptr), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
