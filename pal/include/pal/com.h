// The component runtime subset: apartments (bookkeeping only), activation, the task allocator,
// the free-threaded marshaler and the global interface table. Results and error codes are those
// Windows gives for the same calls; where this layer differs, the function's comment says so.
#pragma once

#include "pal/unknwn.h"

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
};
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};

enum REGCLS : DWORD {
    REGCLS_SINGLEUSE = 0,
    REGCLS_MULTIPLEUSE = 1,
    REGCLS_MULTI_SEPARATE = 2,
};

#define MEMCTX_TASK 1

// Apartments. Objects are called directly on every thread and nothing is marshalled; what is
// kept is what callers can observe:
// - CoInitializeEx enters the thread into the multithreaded apartment (COINIT_APARTMENTTHREADED
//   clear) or into a single-threaded apartment of its own (set). S_OK the first time, S_FALSE
//   for a nested call, RPC_E_CHANGED_MODE (not counted) when the thread is in the other kind.
//   Other flag bits and pvReserved are ignored.
// - Each successful call needs one CoUninitialize; extra calls are ignored. When a thread leaves
//   its single-threaded apartment, or the last thread leaves the multithreaded one, the class
//   objects registered there are revoked. A thread that ends without CoUninitialize leaves too.
// - A thread that has not called CoInitializeEx works in the multithreaded apartment while some
//   other thread is in it (the implicit MTA); otherwise activation fails with CO_E_NOTINITIALIZED.
STDAPI CoInitialize(LPVOID pvReserved);
STDAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
STDAPI_(void) CoUninitialize(void);

// Activation. Class objects are those registered in the calling thread's apartment with
// CoRegisterClassObject, the global interface table's (CLSID_StdGlobalInterfaceTable), then for
// CLSCTX_INPROC_SERVER the in-process server that the registry names under
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 (its default value: the library's path). Such
// a library is loaded once and stays loaded; its DllGetClassObject is asked for the class object.
// A library that does not load gives E_ACCESSDENIED and one without DllGetClassObject
// CO_E_DLLNOTFOUND, as Wine answers (Windows itself gives HRESULT_FROM_WIN32 of the load's error
// for the first).
//
// CoRegisterClassObject: holds one reference to pUnk until revoked; *lpdwRegister receives a
// non-zero cookie. E_INVALIDARG for a null pUnk or lpdwRegister; CO_E_NOTINITIALIZED without an
// apartment. A class already registered in the apartment for an overlapping context is not
// registered again: REGCLS_MULTIPLEUSE gives S_OK, other flags CO_E_OBJISREG, with cookie 0.
STDAPI CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister);
// Releases the registration's reference. E_INVALIDARG for an unknown cookie (Windows documents
// CO_E_OBJNOTREG; it answers E_INVALIDARG), RPC_E_WRONG_THREAD from another apartment,
// CO_E_NOTINITIALIZED without an apartment.
STDAPI CoRevokeClassObject(DWORD dwRegister);
// E_INVALIDARG for a null ppv; CO_E_NOTINITIALIZED without an apartment; E_UNEXPECTED for a
// context without any of CLSCTX_ALL; REGDB_E_CLASSNOTREG when nothing serves the class in that
// context; otherwise the class object's QueryInterface result. pvReserved is ignored.
STDAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv);
// E_POINTER for a null ppv, else *ppv is set (null on failure). The class object's lookup fails
// as CoGetClassObject does; otherwise the factory's CreateInstance result, with pUnkOuter passed
// through unchecked (the factory decides about aggregation).
STDAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
// The class identifier that HKEY_CLASSES_ROOT\<lpszProgID>\CLSID names. E_INVALIDARG for a null
// argument, CO_E_CLASSSTRING when the ProgID is not registered or names no valid identifier
// (*lpclsid is then cleared). Needs no apartment.
STDAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);

// The task allocator: memory that crosses interfaces, freed by its receiver. Needs no apartment.
// Alloc(0) yields a block; Free(null) does nothing; Realloc(null, cb) allocates, Realloc(pv, 0)
// frees pv and returns null; a failed Realloc leaves pv as it was. A registered IMallocSpy sees
// every call (see Allocator.cpp for the exact protocol, which is the one Windows follows).
STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
STDAPI_(void) CoTaskMemFree(LPVOID pv);
// The process's IMalloc for MEMCTX_TASK (E_INVALIDARG and null for any other context). Its
// GetSize gives a block's requested size; DidAlloc answers -1 ("cannot tell") for every block.
STDAPI CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc);
// Registers the one spy (CO_E_OBJISREG while one is registered, E_INVALIDARG for null or an
// object without IMallocSpy); holds one reference to it.
STDAPI CoRegisterMallocSpy(IMallocSpy* pMallocSpy);
// CO_E_OBJNOTREG without a spy; E_ACCESSDENIED while blocks allocated under it are outstanding,
// in which case the spy goes on spying and is released when no spied block is left.
STDAPI CoRevokeMallocSpy(void);

// Creates the free-threaded marshaler aggregated into punkOuter (itself when null). *ppunkMarshal
// receives the inner, non-delegating IUnknown with one reference: it answers IUnknown (itself)
// and IMarshal, whose IUnknown methods go to the outer object. E_INVALIDARG for a null
// ppunkMarshal (Windows would crash). Needs no apartment. There is no other process to marshal
// to: GetUnmarshalClass, GetMarshalSizeMax, MarshalInterface, UnmarshalInterface and
// ReleaseMarshalData return E_NOTIMPL; DisconnectObject returns S_OK.
STDAPI CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal);
