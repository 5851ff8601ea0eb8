// Conversion between UTF-16 and the ANSI code page (Windows-1252), and UTF-8.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <initializer_list>
#include <functional>
#include <string>

namespace {

using Wide = std::basic_string<WCHAR>;

Wide W(std::initializer_list<unsigned> units) {
    Wide text;
    for (unsigned unit : units) text.push_back(static_cast<WCHAR>(unit));
    return text;
}

std::string Hex(const Wide& text) {
    std::string out;
    char unit[8];
    for (WCHAR c : text) {
        snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

// Both directions with explicit lengths (no NUL), checked against what the call reports.
Wide ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0) {
    const int size = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    Wide out(static_cast<size_t>(size), 0);
    EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0], size), size);
    return out;
}

std::string ToBytes(UINT codePage, const Wide& text, DWORD flags = 0, BOOL* usedDefault = nullptr) {
    const int size = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, usedDefault),
              size);
    return out;
}

TEST(TextTest, AnsiCodePageIsWindows1252) { EXPECT_EQ(GetACP(), 1252u); }

// ASCII, Latin-1, the page's own characters in 0x80-0x9F and its five undefined bytes.
TEST(TextTest, BytesMapToTheirCharactersBothWays) {
    struct Case {
        unsigned byte;
        unsigned wide;
    };
    const Case cases[] = {
        {0x01, 0x0001}, {'A', 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x82, 0x201A}, {0x8A, 0x0160},
        {0x92, 0x2019}, {0x99, 0x2122}, {0x9F, 0x0178}, {0x81, 0x0081}, {0x8D, 0x008D}, {0x8F, 0x008F},
        {0x90, 0x0090}, {0x9D, 0x009D}, {0xA0, 0x00A0}, {0xC4, 0x00C4}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
    };
    for (UINT codePage : {static_cast<UINT>(CP_ACP), static_cast<UINT>(CP_THREAD_ACP), 1252u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "code page " << codePage << ", byte " << c.byte);
            const std::string narrow(1, static_cast<char>(c.byte));
            EXPECT_EQ(ToWide(codePage, narrow), W({c.wide}));
            BOOL usedDefault = TRUE;
            EXPECT_EQ(ToBytes(codePage, W({c.wide}), 0, &usedDefault), narrow);
            EXPECT_FALSE(usedDefault);
        }
    }
}

TEST(TextTest, MultiByteErrorFlagFindsNothingInvalidInThePage) {
    EXPECT_EQ(ToWide(CP_ACP, "a\x81\x8D", MB_ERR_INVALID_CHARS), W({'a', 0x81, 0x8D}));
}

// Characters without a byte and without a best-fit substitute on Windows; and U+0100, which
// Windows turns into 'A' unless told not to.
TEST(TextTest, CharactersThePageLacksBecomeTheDefaultCharacter) {
    struct Case {
        const char* name;
        Wide text;
        DWORD flags;
        std::string expected;
    };
    const Case cases[] = {
        {"CJK and Cyrillic", W({0x4E2D, 'x', 0x0416}), 0, "?x?"},
        {"surrogate pair: one per unit", W({0xD83D, 0xDE00, 'x'}), 0, "??x"},
        {"lone surrogates", W({0xD83D, 'x', 0xDE00}), 0, "?x?"},
        {"no best fit", W({0x0100, 0x0101, 'x'}), WC_NO_BEST_FIT_CHARS, "??x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BOOL usedDefault = FALSE;
        EXPECT_EQ(ToBytes(CP_ACP, c.text, c.flags, &usedDefault), c.expected);
        EXPECT_TRUE(usedDefault);
    }
}

TEST(TextTest, TheCallersDefaultCharacterIsItsFirstByte) {
    const Wide text = W({0x4E2D, 'x', 0});
    struct Case {
        const char* defaultChar;
        std::string expected;
    };
    const Case cases[] = {{"*", std::string("*x\0", 3)}, {"yz", std::string("yx\0", 3)}, {"", std::string("\0x\0", 3)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.defaultChar);
        char out[8];
        BOOL usedDefault = FALSE;
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text.data(), -1, out, sizeof out, c.defaultChar, &usedDefault), 3);
        EXPECT_EQ(std::string(out, 3), c.expected);
        EXPECT_TRUE(usedDefault);
    }
}

TEST(TextTest, LengthsAndTheNul) {
    // -1 (any negative length) converts up to and including the NUL; a length converts that
    // many units, NULs included, and adds none.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "config", -1, nullptr, 0), 7);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "config", -2, nullptr, 0), 7);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "config", 3, nullptr, 0), 3);
    EXPECT_EQ(ToWide(CP_ACP, std::string("a\0b", 3)), W({'a', 0, 'b'}));

    const Wide abc = W({'a', 'b', 'c', 0});
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, abc.data(), -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, abc.data(), -2, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(ToBytes(CP_ACP, W({'a', 0, 'b'})), std::string("a\0b", 3));

    WCHAR wide[8];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(Wide(wide), W({'a', 'b', 'c'}));
}

TEST(TextTest, SizeQueryReportsWhetherTheDefaultWouldBeUsed) {
    const Wide text = W({'a', 0x4E2D, 0});
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text.data(), -1, nullptr, 0, nullptr, &usedDefault), 3);
    EXPECT_TRUE(usedDefault);
}

TEST(TextTest, TooSmallAnOutputFailsAfterWritingWhatFits) {
    WCHAR wide[8];
    for (WCHAR& unit : wide) unit = 0xEEEE;
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Wide(wide, 4), W({'a', 'b', 'c', 0xEEEE}));

    // The default-character flag covers what was converted before the output ran out.
    const Wide text = W({'a', 0x4E2D, 'b', 0});
    struct Case {
        int size;
        std::string written;
        BOOL usedDefault;
    };
    const Case cases[] = {{1, "a", FALSE}, {2, "a?", TRUE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char narrow[8] = {};
        BOOL usedDefault = 7;
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text.data(), -1, narrow, c.size, nullptr, &usedDefault), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(std::string(narrow), c.written);
        EXPECT_EQ(usedDefault, c.usedDefault);
    }
}

TEST(TextTest, InvalidArgumentsFlagsAndCodePagesAreRefused) {
    WCHAR wide[4];
    char narrow[4];
    const WCHAR abc[] = {'a', 'b', 'c', 0};
    BOOL usedDefault = 7;
    struct Case {
        const char* name;
        std::function<int()> call;
        DWORD error;
    };
    const Case cases[] = {
        {"MB null input", [&] { return MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 4); }, ERROR_INVALID_PARAMETER},
        {"MB empty input", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4); }, ERROR_INVALID_PARAMETER},
        {"MB negative output size", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", -1, wide, -1); }, ERROR_INVALID_PARAMETER},
        {"MB null output", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 4); }, ERROR_INVALID_PARAMETER},
        {"MB unknown code page", [&] { return MultiByteToWideChar(12345, 0, "a", -1, wide, 4); }, ERROR_INVALID_PARAMETER},
        {"MB unknown flag", [&] { return MultiByteToWideChar(CP_ACP, 0x100, "a", -1, wide, 4); }, ERROR_INVALID_FLAGS},
        {"WC null input", [&] { return WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 4, nullptr, &usedDefault); },
         ERROR_INVALID_PARAMETER},
        {"WC empty input", [&] { return WideCharToMultiByte(CP_ACP, 0, abc, 0, narrow, 4, nullptr, &usedDefault); },
         ERROR_INVALID_PARAMETER},
        {"WC negative output size", [&] { return WideCharToMultiByte(CP_ACP, 0, abc, -1, narrow, -1, nullptr, &usedDefault); },
         ERROR_INVALID_PARAMETER},
        {"WC null output", [&] { return WideCharToMultiByte(CP_ACP, 0, abc, -1, nullptr, 4, nullptr, &usedDefault); },
         ERROR_INVALID_PARAMETER},
        {"WC unknown code page", [&] { return WideCharToMultiByte(12345, 0, abc, -1, narrow, 4, nullptr, &usedDefault); },
         ERROR_INVALID_PARAMETER},
        {"WC unknown flag", [&] { return WideCharToMultiByte(CP_ACP, 0x100, abc, -1, narrow, 4, nullptr, &usedDefault); },
         ERROR_INVALID_FLAGS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(usedDefault, 7);  // untouched
    }
}

TEST(TextTest, KnownFlagsChangeNothingForThePage) {
    for (DWORD flags : {static_cast<DWORD>(MB_PRECOMPOSED), static_cast<DWORD>(MB_COMPOSITE),
                        static_cast<DWORD>(MB_USEGLYPHCHARS)}) {
        SCOPED_TRACE(flags);
        EXPECT_EQ(ToWide(CP_ACP, "a\x80", flags), W({'a', 0x20AC}));
    }
    for (DWORD flags : {static_cast<DWORD>(WC_COMPOSITECHECK), static_cast<DWORD>(WC_DEFAULTCHAR),
                        static_cast<DWORD>(WC_NO_BEST_FIT_CHARS)}) {
        SCOPED_TRACE(flags);
        EXPECT_EQ(ToBytes(CP_ACP, W({'a', 0x20AC, 0x4E2D}), flags), "a\x80?");
    }
}

TEST(TextTest, Utf8BothWays) {
    struct Case {
        Wide wide;
        std::string utf8;
    };
    const Case cases[] = {
        {W({'a'}), "a"},
        {W({0xE9, 0x20AC}), "\xC3\xA9\xE2\x82\xAC"},
        {W({0xD83D, 0xDE00, 'x'}), "\xF0\x9F\x98\x80x"},
        {W({0xFFFD}), "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.wide));
        EXPECT_EQ(ToBytes(CP_UTF8, c.wide), c.utf8);
        EXPECT_EQ(Hex(ToWide(CP_UTF8, c.utf8)), Hex(c.wide));
    }
}

TEST(TextTest, IllFormedUtf8BecomesReplacementCharacters) {
    struct Case {
        const char* name;
        std::string utf8;
        Wide wide;
    };
    const Case cases[] = {
        {"invalid byte", "a\xFFz", W({'a', 0xFFFD, 'z'})},
        {"truncated sequence", "a\xE2\x82", W({'a', 0xFFFD})},
        {"overlong form", "\xC0\xAF", W({0xFFFD, 0xFFFD})},
        {"stray continuation", "\x80z", W({0xFFFD, 'z'})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Hex(ToWide(CP_UTF8, c.utf8)), Hex(c.wide));
        WCHAR out[8];
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.utf8.data(), static_cast<int>(c.utf8.size()), out, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
}

TEST(TextTest, LoneSurrogatesBecomeReplacementCharactersInUtf8) {
    EXPECT_EQ(ToBytes(CP_UTF8, W({0xD83D, 'x'})), "\xEF\xBF\xBDx");
    EXPECT_EQ(ToBytes(CP_UTF8, W({'x', 0xDE00})), "x\xEF\xBF\xBD");
    const Wide lone = W({0xD83D, 'x', 0});
    char out[8];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), -1, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(TextTest, Utf8OutputTakesWholeSequencesOnly) {
    const Wide text = W({0xE9, 0x20AC, 0});
    char out[8] = {};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, out, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(out), "\xC3\xA9");
}

}  // namespace
