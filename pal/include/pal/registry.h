// The registry: a hierarchical store of keys (case-insensitive names, case kept; a class name;
// sub-keys) and typed values under the predefined roots, kept durably in one SQLite database
// shared by every process: $ZANTHROP_REGISTRY when set, else $XDG_DATA_HOME/zanthrop/registry.db
// (or ~/.local/share/zanthrop/registry.db). Each change is one transaction; writers from several
// processes wait for each other (busy timeout) and lose nothing.
// Results are Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
// ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_KEY_DELETED, ...), as Windows returns them.
// A handle carries the access it was opened with: reading values needs KEY_QUERY_VALUE, writing
// and deleting them KEY_SET_VALUE, enumerating sub-keys KEY_ENUMERATE_SUB_KEYS. Sub-key paths are
// relative (a leading backslash gives ERROR_BAD_PATHNAME); value names have at most 16383
// characters.
#pragma once

#include <cstdarg>

#include "pal/kernel.h"
#include "pal/types.h"

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define ERROR_BAD_PATHNAME 161L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NOACCESS 998L
#define ERROR_KEY_DELETED 1018L

// A root opened with an empty path gives the root's own handle.
extern "C" LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
extern "C" LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                                REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                LPDWORD lpdwDisposition);
// A null lpData asks for the size; too small a buffer gives ERROR_MORE_DATA and the needed size.
extern "C" LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                 LPDWORD lpcbData);
extern "C" LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                               DWORD cbData);
extern "C" LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                 LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                 LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                 PFILETIME lpftLastWriteTime);
// Sub-keys and values are enumerated by 0-based position in case-insensitive name order;
// ERROR_NO_MORE_ITEMS past the last one.
extern "C" LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                              LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
extern "C" LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                              LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
extern "C" LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
// Deletes a key without sub-keys (ERROR_ACCESS_DENIED for one with sub-keys, as Windows does).
// An empty path deletes hKey itself.
extern "C" LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
extern "C" LONG RegCloseKey(HKEY hKey);
// Deletes a key and everything below it, in one transaction. An empty path removes everything
// below hKey and keeps hKey; a root is never removed or emptied (ERROR_ACCESS_DENIED).
extern "C" DWORD SHDeleteKeyA(HKEY hKey, LPCSTR pszSubKey);

// Message texts of system error codes (the registry's among them), as Windows gives them.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
extern "C" DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                                DWORD nSize, va_list* Arguments);
extern "C" HLOCAL LocalFree(HLOCAL hMem);
