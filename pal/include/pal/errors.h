// Result codes and the thread's last-error value. The numeric values are those of Windows:
// they cross interfaces, are compared by callers and appear in traces.
#pragma once

#include "pal/types.h"

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((std::uint32_t)(sev) << 31) | ((std::uint32_t)(fac) << 16) | ((std::uint32_t)(code))))

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_ABORT ((HRESULT)0x80004004u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_ACCESSDENIED ((HRESULT)0x80070005u)
#define E_HANDLE ((HRESULT)0x80070006u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define REGDB_E_READREGDB ((HRESULT)0x80040150u)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0u)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3u)
#define CO_E_IIDSTRING ((HRESULT)0x800401F4u)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8u)
#define TYPE_E_CANTLOADLIBRARY ((HRESULT)0x80029C4Au)
#define CO_E_OBJNOTREG ((HRESULT)0x800401FBu)
#define CO_E_OBJISREG ((HRESULT)0x800401FCu)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106u)
#define RPC_E_WRONG_THREAD ((HRESULT)0x8001010Eu)

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_NOT_OWNER 288L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

inline HRESULT HRESULT_FROM_WIN32(unsigned long error) {
    return (HRESULT)error <= 0 ? (HRESULT)error
                               : (HRESULT)((error & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

// The calling thread's last-error value, as set by the functions of this layer that document it.
extern "C" DWORD GetLastError(void);
extern "C" void SetLastError(DWORD error);
