// GUID texts in the braced registry form.
#include <windows.h>

namespace {

int HexValue(WCHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos]; false if any is not a hex digit.
bool ReadHex(LPCOLESTR text, int pos, int digits, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = HexValue(text[pos + i]);
        if (v < 0) return false;
        value = (value << 4) | static_cast<std::uint32_t>(v);
    }
    return true;
}

bool Parse(LPCOLESTR text, GUID& guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters, nothing after them.
    for (int i = 0; i < 38; ++i) {
        if (text[i] == 0) return false;
    }
    if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-' ||
        text[37] != u'}' || text[38] != 0) {
        return false;
    }
    std::uint32_t v = 0;
    if (!ReadHex(text, 1, 8, v)) return false;
    guid.Data1 = v;
    if (!ReadHex(text, 10, 4, v)) return false;
    guid.Data2 = static_cast<WORD>(v);
    if (!ReadHex(text, 15, 4, v)) return false;
    guid.Data3 = static_cast<WORD>(v);
    static const int kBytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePositions[i], 2, v)) return false;
        guid.Data4[i] = static_cast<BYTE>(v);
    }
    return true;
}

}  // namespace

extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < 39) return 0;
    static const char kDigits[] = "0123456789ABCDEF";
    int pos = 0;
    auto put = [&](WCHAR c) { lpsz[pos++] = c; };
    auto putHex = [&](std::uint32_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) put(static_cast<WCHAR>(kDigits[(value >> shift) & 0xF]));
    };
    put(u'{');
    putHex(guid.Data1, 8);
    put(u'-');
    putHex(guid.Data2, 4);
    put(u'-');
    putHex(guid.Data3, 4);
    put(u'-');
    putHex(guid.Data4[0], 2);
    putHex(guid.Data4[1], 2);
    put(u'-');
    for (int i = 2; i < 8; ++i) putHex(guid.Data4[i], 2);
    put(u'}');
    put(0);
    return pos;
}

extern "C" HRESULT IIDFromString(LPCOLESTR lpsz, LPIID piid) {
    if (piid == nullptr) return E_INVALIDARG;
    if (lpsz == nullptr) {
        *piid = GUID_NULL;
        return S_OK;
    }
    int length = 0;
    while (length <= 38 && lpsz[length] != 0) ++length;
    if (length != 38) return E_INVALIDARG;  // not even the length of a braced GUID
    GUID parsed;
    if (!Parse(lpsz, parsed)) return CO_E_IIDSTRING;
    *piid = parsed;
    return S_OK;
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (lpsz == nullptr) return S_OK;
    GUID parsed;
    if (!Parse(lpsz, parsed)) return CO_E_CLASSSTRING;
    *pclsid = parsed;
    return S_OK;
}
