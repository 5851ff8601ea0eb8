// UTF-16 <-> 8-bit text. The ANSI code page is fixed to Windows-1252; characters it cannot
// represent become the default character "?" (no best-fit substitutes).
#include <windows.h>

namespace {

constexpr UINT kAnsiCodePage = 1252;

// Windows-1252 bytes 0x80-0x9F; the five bytes the page leaves undefined map to the C1 control
// character of the same value, as on Windows.
constexpr WCHAR kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

WCHAR ToWide(unsigned char c) { return (c >= 0x80 && c <= 0x9F) ? kHighControls[c - 0x80] : static_cast<WCHAR>(c); }

// The byte for a UTF-16 unit, or -1 when the page has none.
int ToByte(WCHAR w) {
    if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) return static_cast<int>(w);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == w) return 0x80 + i;
    }
    return -1;
}

bool IsAnsi(UINT codePage) { return codePage == CP_ACP || codePage == kAnsiCodePage; }

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

extern "C" UINT GetACP(void) { return kAnsiCodePage; }

extern "C" int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, LPCSTR multiByte, int cbMultiByte, LPWSTR wideChar,
                                   int cchWideChar) {
    if (multiByte == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && wideChar == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!IsAnsi(codePage)) return Fail(ERROR_INVALID_PARAMETER);
    int length = cbMultiByte;
    if (length == -1) {
        length = 0;
        while (multiByte[length] != 0) ++length;
        ++length;  // the terminating NUL is converted too
    }
    if (cchWideChar == 0) return length;
    if (cchWideChar < length) {
        for (int i = 0; i < cchWideChar; ++i) wideChar[i] = ToWide(static_cast<unsigned char>(multiByte[i]));
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    for (int i = 0; i < length; ++i) wideChar[i] = ToWide(static_cast<unsigned char>(multiByte[i]));
    return length;
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR wideChar, int cchWideChar, LPSTR multiByte,
                                   int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar) {
    if (wideChar == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && multiByte == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!IsAnsi(codePage)) return Fail(ERROR_INVALID_PARAMETER);
    int length = cchWideChar;
    if (length == -1) {
        length = 0;
        while (wideChar[length] != 0) ++length;
        ++length;
    }
    const char fallback = defaultChar != nullptr ? *defaultChar : '?';
    bool usedDefault = false;
    const int written = cbMultiByte == 0 ? length : (cbMultiByte < length ? cbMultiByte : length);
    for (int i = 0; i < length; ++i) {
        const int byte = ToByte(wideChar[i]);
        if (byte < 0) usedDefault = true;
        if (cbMultiByte != 0 && i < written) multiByte[i] = byte < 0 ? fallback : static_cast<char>(byte);
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    if (cbMultiByte != 0 && cbMultiByte < length) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return length;
}
