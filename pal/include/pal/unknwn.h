// The base COM interfaces that the module and its tests use, with their Windows IIDs.
// Slots follow the Windows declarations so that vtables agree across the two builds.
#pragma once

#include "pal/errors.h"
#include "pal/guid.h"

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMallocSpy = {0x0000001D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IGlobalInterfaceTable = {0x00000146, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr CLSID CLSID_StdGlobalInterfaceTable = {0x00000323, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

interface IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;
};
typedef IUnknown* LPUNKNOWN;

interface IClassFactory : public IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;
};

interface IStream;  // never dereferenced here: marshalling across processes does not exist on this target

interface IMarshal : public IUnknown {
    STDMETHOD(GetUnmarshalClass)(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags, CLSID* pCid) PURE;
    STDMETHOD(GetMarshalSizeMax)(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags, DWORD* pSize) PURE;
    STDMETHOD(MarshalInterface)(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags) PURE;
    STDMETHOD(UnmarshalInterface)(IStream* pStm, REFIID riid, void** ppv) PURE;
    STDMETHOD(ReleaseMarshalData)(IStream* pStm) PURE;
    STDMETHOD(DisconnectObject)(DWORD dwReserved) PURE;
};

interface IMalloc : public IUnknown {
    STDMETHOD_(void*, Alloc)(SIZE_T cb) PURE;
    STDMETHOD_(void*, Realloc)(void* pv, SIZE_T cb) PURE;
    STDMETHOD_(void, Free)(void* pv) PURE;
    STDMETHOD_(SIZE_T, GetSize)(void* pv) PURE;
    STDMETHOD_(int, DidAlloc)(void* pv) PURE;
    STDMETHOD_(void, HeapMinimize)() PURE;
};

// Observes the task allocator; tests use it to count allocations and frees.
interface IMallocSpy : public IUnknown {
    STDMETHOD_(SIZE_T, PreAlloc)(SIZE_T cbRequest) PURE;
    STDMETHOD_(void*, PostAlloc)(void* pActual) PURE;
    STDMETHOD_(void*, PreFree)(void* pRequest, BOOL fSpyed) PURE;
    STDMETHOD_(void, PostFree)(BOOL fSpyed) PURE;
    STDMETHOD_(SIZE_T, PreRealloc)(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL fSpyed) PURE;
    STDMETHOD_(void*, PostRealloc)(void* pActual, BOOL fSpyed) PURE;
    STDMETHOD_(void*, PreGetSize)(void* pRequest, BOOL fSpyed) PURE;
    STDMETHOD_(SIZE_T, PostGetSize)(SIZE_T cbActual, BOOL fSpyed) PURE;
    STDMETHOD_(void*, PreDidAlloc)(void* pRequest, BOOL fSpyed) PURE;
    STDMETHOD_(int, PostDidAlloc)(void* pRequest, BOOL fSpyed, int fActual) PURE;
    STDMETHOD_(void, PreHeapMinimize)() PURE;
    STDMETHOD_(void, PostHeapMinimize)() PURE;
};

// The process's global interface table, from CoCreateInstance(CLSID_StdGlobalInterfaceTable)
// (a singleton; AddRef and Release do not count; aggregation is refused). Within one process no
// proxy is needed, so the table stores the object itself:
// - Register holds one reference to the object's riid interface (its QueryInterface failure is
//   returned) and yields a non-zero cookie; E_INVALIDARG for a null pUnk or pdwCookie. Windows
//   requires the object to be marshalable (for instance aggregating the free-threaded marshaler).
// - Get returns the object's riid interface with an added reference (null and the
//   QueryInterface failure otherwise); Revoke releases the registration's reference. Both give
//   E_INVALIDARG for an unknown cookie.
interface IGlobalInterfaceTable : public IUnknown {
    STDMETHOD(RegisterInterfaceInGlobal)(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) PURE;
    STDMETHOD(RevokeInterfaceFromGlobal)(DWORD dwCookie) PURE;
    STDMETHOD(GetInterfaceFromGlobal)(DWORD dwCookie, REFIID riid, void** ppv) PURE;
};
