// The component runtime subset: apartments (bookkeeping only), activation, the task allocator,
// the free-threaded marshaler and the global interface table.
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
};

enum REGCLS : DWORD {
    REGCLS_SINGLEUSE = 0,
    REGCLS_MULTIPLEUSE = 1,
};

// Apartments: every thread may call COM; these calls only keep the per-thread count
// (S_OK for the first initialisation of a thread, S_FALSE for a nested one).
STDAPI CoInitialize(LPVOID pvReserved);
STDAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
STDAPI_(void) CoUninitialize(void);

// Activation. Classes are found among those registered by CoRegisterClassObject.
STDAPI CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister);
STDAPI CoRevokeClassObject(DWORD dwRegister);
STDAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv);
STDAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

// The task allocator: memory that crosses interfaces. Free accepts null.
STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
STDAPI_(void) CoTaskMemFree(LPVOID pv);
STDAPI CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc);
STDAPI CoRegisterMallocSpy(IMallocSpy* pMallocSpy);
STDAPI CoRevokeMallocSpy(void);

// An inner object, aggregated into punkOuter, that answers IMarshal and passes everything
// else to the outer object's IUnknown.
STDAPI CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal);
