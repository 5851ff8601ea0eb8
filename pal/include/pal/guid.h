// GUIDs with the Windows memory layout (16 bytes, little-endian fields).
#pragma once

#include <cstring>

#include "pal/types.h"

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

// Writes the braced, upper-case form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and its NUL.
// Returns the number of characters written including the NUL (39), or 0 when cchMax < 39.
extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR lpsz, int cchMax);

// Parses a braced GUID text (hex digits in either case). Returns S_OK, or CO_E_CLASSSTRING for
// a text that is not a braced GUID; *pclsid is then GUID_NULL. A null text yields GUID_NULL
// and S_OK, as on Windows.
extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
extern "C" HRESULT IIDFromString(LPCOLESTR lpsz, LPIID piid);
