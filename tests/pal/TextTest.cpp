// Conversion between UTF-16 and the ANSI code page (Windows-1252).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(TextTest, AnsiCodePageIsWindows1252) { EXPECT_EQ(GetACP(), 1252u); }

struct ByteCase {
    unsigned char byte;
    WCHAR wide;
};

// ASCII, Latin-1, and the page's own characters in 0x80-0x9F.
const ByteCase kMappings[] = {
    {'A', 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x8A, 0x0160}, {0x92, 0x2019}, {0x9F, 0x0178},
    {0xA0, 0x00A0}, {0xC4, 0x00C4}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
};

TEST(TextTest, BytesMapToTheirCharactersBothWays) {
    for (const ByteCase& c : kMappings) {
        SCOPED_TRACE(static_cast<int>(c.byte));
        const char narrow[2] = {static_cast<char>(c.byte), 0};
        WCHAR wide[2] = {};
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 2), 2);
        EXPECT_EQ(wide[0], c.wide);

        const WCHAR source[2] = {c.wide, 0};
        char back[2] = {};
        BOOL usedDefault = TRUE;
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, source, -1, back, 2, nullptr, &usedDefault), 2);
        EXPECT_EQ(static_cast<unsigned char>(back[0]), c.byte);
        EXPECT_FALSE(usedDefault);
    }
}

TEST(TextTest, UnmappableCharactersBecomeTheDefaultCharacter) {
    const WCHAR source[] = {0x4E2D, 'x', 0x0416, 0};  // a CJK ideograph and a Cyrillic letter
    char out[8] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, source, -1, out, sizeof(out), nullptr, &usedDefault), 4);
    EXPECT_STREQ(out, "?x?");
    EXPECT_TRUE(usedDefault);

    const char star = '*';
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, source, -1, out, sizeof(out), &star, nullptr), 4);
    EXPECT_STREQ(out, "*x*");
}

TEST(TextTest, SizesAndBufferRules) {
    const char narrow[] = "config";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0), 7);  // NUL counted
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, 3, nullptr, 0), 3);   // explicit length: no NUL

    WCHAR small[3];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, small, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    const WCHAR wide[] = {'a', 'b', 'c', 0};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 4);
    char tiny[2];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, tiny, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(TextTest, InvalidArgumentsAreRefused) {
    WCHAR wide[4];
    char narrow[4];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
