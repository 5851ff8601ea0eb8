// GUID texts: the braced form both ways.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "com/WideText.h"

namespace {

constexpr GUID kSample = {0x3B7F1A95, 0xC2D4, 0x11E0, {0xA5, 0xB8, 0x6C, 0x9E, 0x0F, 0x1D, 0x2A, 0x34}};
constexpr GUID kSentinel = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};

std::u16string ToU16(const WCHAR* text) {
    std::u16string out;
    for (; *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
    return out;
}

TEST(GuidTest, StringFromGuidWritesTheBracedUpperCaseForm) {
    WCHAR text[39];
    EXPECT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_EQ(ToU16(text), u"{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}");
    EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
}

struct ParseCase {
    const WCHAR* text;
    HRESULT expected;
    bool yieldsSample;
};

TEST(GuidTest, ClsidFromStringAcceptsOnlyBracedGuids) {
    const ParseCase cases[] = {
        {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}"), S_OK, true},
        {ZW("{3b7f1a95-c2d4-11e0-a5b8-6c9e0f1d2a34}"), S_OK, true},
        {ZW("3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34"), CO_E_CLASSSTRING, false},
        {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34"), CO_E_CLASSSTRING, false},
        {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A3G}"), CO_E_CLASSSTRING, false},
        {ZW("{3B7F1A95-C2D4-11E0-A5B8-6C9E0F1D2A34}x"), CO_E_CLASSSTRING, false},
        {ZW("{3B7F1A95+C2D4-11E0-A5B8-6C9E0F1D2A34}"), CO_E_CLASSSTRING, false},
    };
    for (const ParseCase& c : cases) {
        const std::u16string text = ToU16(c.text);
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        CLSID parsed = kSentinel;
        EXPECT_EQ(CLSIDFromString(c.text, &parsed), c.expected);
        if (c.yieldsSample) {
            EXPECT_TRUE(IsEqualGUID(parsed, kSample));
        }
    }
}

TEST(GuidTest, NullTextGivesTheNullGuid) {
    CLSID parsed = kSentinel;
    EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));
}

TEST(GuidTest, RoundTrip) {
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(kSentinel, text, 39), 39);
    CLSID parsed = GUID_NULL;
    ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, kSentinel));
}

}  // namespace
