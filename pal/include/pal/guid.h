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
// Returns the number of characters written including the NUL (39), or 0 with nothing written
// when cchMax < 39 or lpsz is null.
extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR lpsz, int cchMax);

// Parses the braced form (hex digits in either case, nothing before or after it). S_OK; a null
// text yields GUID_NULL and S_OK, as on Windows; E_INVALIDARG for a null pclsid; any other text
// gives CO_E_CLASSSTRING and GUID_NULL. (Windows first looks a text without a brace up as a
// ProgID; there are none here. For a text that begins with a brace, Windows leaves the fields it
// parsed before the fault: callers must not use the value after a failure.)
extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);

// The same form. A null text yields GUID_NULL and S_OK; a text that is not 38 characters long
// gives E_INVALIDARG, one of that length that is not a braced GUID CO_E_IIDSTRING. On failure
// *piid is left as it was (Windows may leave fields parsed before the fault).
extern "C" HRESULT IIDFromString(LPCOLESTR lpsz, LPIID piid);
