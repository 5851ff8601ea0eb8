// Basic Win32 types for the Linux build. Sizes follow 32-bit Windows where the module's
// binary contracts depend on them: LONG and DWORD are 32 bits, WCHAR is a UTF-16 unit.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
#define TRUE 1
#define FALSE 0

typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint16_t USHORT;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::size_t SIZE_T;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;

typedef char CHAR;
typedef char16_t WCHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE HMODULE;
typedef HANDLE HINSTANCE;
typedef HANDLE HWND;
typedef HANDLE HLOCAL;

typedef std::int32_t HRESULT;
typedef HRESULT SCODE;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

// Calling conventions do not exist on this target; the macros keep the declarations uniform.
#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define __stdcall
#define interface struct
#define PURE = 0
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" type STDAPICALLTYPE

#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
