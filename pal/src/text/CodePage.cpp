// UTF-16 <-> 8-bit text. The ANSI code page is fixed to Windows-1252; characters it cannot
// represent become the default character "?" (no best-fit substitutes). UTF-8 is converted too.
#include <windows.h>

#include <climits>

namespace {

constexpr UINT kAnsiCodePage = 1252;
constexpr WCHAR kReplacement = 0xFFFD;

constexpr DWORD kMultiByteFlags = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
constexpr DWORD kWideCharFlags = WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_ERR_INVALID_CHARS |
                                 WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;

// Windows-1252 bytes 0x80-0x9F. The five bytes the page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the C1 control character of the same value, both ways, as on Windows.
constexpr WCHAR kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

WCHAR AnsiToWide(unsigned char c) { return (c >= 0x80 && c <= 0x9F) ? kHighControls[c - 0x80] : static_cast<WCHAR>(c); }

// The byte for a UTF-16 unit, or -1 when the page has none.
int WideToAnsi(WCHAR w) {
    if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) return static_cast<int>(w);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == w) return 0x80 + i;
    }
    return -1;
}

enum class Page { Ansi, Utf8, Unsupported };

Page PageOf(UINT codePage) {
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == kAnsiCodePage) return Page::Ansi;
    if (codePage == CP_UTF8) return Page::Utf8;
    return Page::Unsupported;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// Where converted units go: counted only for a size query (capacity 0), else written while they
// fit. A character's units are written all or none.
template <class Unit>
struct Output {
    Unit* out;
    int capacity;
    int count = 0;
    bool overflow = false;  // a character did not fit (or the count would exceed an int)

    bool Put(const Unit* units, int n) {
        if (count > INT_MAX - n || (capacity != 0 && count + n > capacity)) {
            overflow = true;
            return false;
        }
        if (capacity != 0) {
            for (int i = 0; i < n; ++i) out[count + i] = units[i];
        }
        count += n;
        return true;
    }
};

// One code point from UTF-8 at text[pos], advancing pos. An ill-formed sequence yields U+FFFD
// for its longest valid beginning (at least one byte), as Unicode recommends.
std::uint32_t DecodeUtf8(const unsigned char* text, int length, int& pos, bool& invalid) {
    const unsigned char lead = text[pos++];
    if (lead < 0x80) return lead;
    int need = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the first continuation byte
    std::uint32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        invalid = true;
        return kReplacement;
    }
    for (int k = 0; k < need; ++k) {
        if (pos >= length || text[pos] < low || text[pos] > high) {
            invalid = true;
            return kReplacement;
        }
        cp = (cp << 6) | (text[pos++] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return cp;
}

void ToUtf16(std::uint32_t cp, WCHAR units[2], int& n) {
    if (cp < 0x10000) {
        units[0] = static_cast<WCHAR>(cp);
        n = 1;
    } else {
        cp -= 0x10000;
        units[0] = static_cast<WCHAR>(0xD800 + (cp >> 10));
        units[1] = static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
        n = 2;
    }
}

void ToUtf8(std::uint32_t cp, char bytes[4], int& n) {
    if (cp < 0x80) {
        bytes[0] = static_cast<char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 4;
    }
}

template <class Unit>
int LengthOf(const Unit* text, int length) {
    if (length >= 0) return length;
    int n = 0;
    while (text[n] != 0) ++n;
    return n + 1;  // the terminating NUL is converted too
}

}  // namespace

extern "C" UINT GetACP(void) { return kAnsiCodePage; }

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte, LPWSTR wideChar,
                                   int cchWideChar) {
    if (multiByte == nullptr || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && wideChar == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const Page page = PageOf(codePage);
    if (page == Page::Unsupported) return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~kMultiByteFlags) != 0) return Fail(ERROR_INVALID_FLAGS);

    const int length = LengthOf(multiByte, cbMultiByte);
    const auto* bytes = reinterpret_cast<const unsigned char*>(multiByte);
    Output<WCHAR> output{wideChar, cchWideChar};
    bool invalid = false;
    for (int pos = 0; pos < length;) {
        WCHAR units[2];
        int n = 1;
        if (page == Page::Ansi) {
            units[0] = AnsiToWide(bytes[pos++]);
        } else {
            ToUtf16(DecodeUtf8(bytes, length, pos, invalid), units, n);
        }
        if (!output.Put(units, n)) break;
    }
    if (output.overflow) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (invalid && (flags & MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return output.count;
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar, LPSTR multiByte,
                                   int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar) {
    if (wideChar == nullptr || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && multiByte == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const Page page = PageOf(codePage);
    if (page == Page::Unsupported) return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~kWideCharFlags) != 0) return Fail(ERROR_INVALID_FLAGS);

    const int length = LengthOf(wideChar, cchWideChar);
    Output<char> output{multiByte, cbMultiByte};
    if (page == Page::Ansi) {
        const char fallback = defaultChar != nullptr ? *defaultChar : '?';
        bool usedDefault = false;
        for (int pos = 0; pos < length; ++pos) {
            const int byte = WideToAnsi(wideChar[pos]);
            const char c = byte < 0 ? fallback : static_cast<char>(byte);
            if (!output.Put(&c, 1)) break;
            if (byte < 0) usedDefault = true;
        }
        if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
        if (output.overflow) return Fail(ERROR_INSUFFICIENT_BUFFER);
        return output.count;
    }

    // UTF-8 represents everything but lone surrogates, which become U+FFFD. The default character
    // arguments do not apply (Windows refuses them with ERROR_INVALID_PARAMETER; Wine ignores them).
    bool invalid = false;
    for (int pos = 0; pos < length;) {
        std::uint32_t cp = wideChar[pos++];
        if (cp >= 0xD800 && cp <= 0xDBFF && pos < length && wideChar[pos] >= 0xDC00 && wideChar[pos] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wideChar[pos++] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
            invalid = true;
        }
        char bytes[4];
        int n = 0;
        ToUtf8(cp, bytes, n);
        if (!output.Put(bytes, n)) break;
    }
    if (output.overflow) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (invalid && (flags & WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return output.count;
}
