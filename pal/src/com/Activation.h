// Internal seams of the component runtime: apartments, where class objects come from, and the
// registrations that an apartment's teardown revokes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <list>

namespace pal {

// Apartments are identities only: 0 is none, 1 the multithreaded apartment, higher values are
// single-threaded apartments, one per thread and per entry.
using ApartmentId = std::uint64_t;
constexpr ApartmentId kNoApartment = 0;
constexpr ApartmentId kMultiThreadedApartment = 1;

// The calling thread's apartment: its own; else the multithreaded apartment while some thread is
// in it (the implicit MTA); else kNoApartment.
ApartmentId CurrentApartment();

struct ClassRegistration {
    DWORD cookie;
    CLSID clsid;
    DWORD context;
    ApartmentId apartment;
    IUnknown* classObject;  // one reference, released when the registration goes
};
using ClassRegistrations = std::list<ClassRegistration>;

// Removes the registrations made in apartment. The caller releases their class objects, outside
// its locks (a release may run arbitrary code).
ClassRegistrations TakeRegistrationsOf(ApartmentId apartment);

// The class object of an in-process server that the registry names for clsid
// (HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32): the library is loaded once and kept, and its
// DllGetClassObject asked. REGDB_E_CLASSNOTREG when no server is registered; E_ACCESSDENIED when
// the library does not load; CO_E_DLLNOTFOUND when it exports no DllGetClassObject.
HRESULT InprocServerClassObject(REFCLSID clsid, REFIID riid, void** ppv);

// The process's global interface table (a singleton without a reference count).
IUnknown* GlobalInterfaceTable();

}  // namespace pal
