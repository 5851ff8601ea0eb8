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

// Looks for a class object of clsid beyond those registered in the process (for instance among
// in-process servers named by the registry). Returns S_OK with an added reference in *ppv, or
// REGDB_E_CLASSNOTREG, or the failure that prevented loading the class.
using ClassObjectResolver = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);

// Installs the resolver consulted for CLSCTX_INPROC_SERVER after the apartment's own
// registrations and the built-in classes (one at a time; null removes it).
void SetClassObjectResolver(ClassObjectResolver resolver);

// The process's global interface table (a singleton without a reference count).
IUnknown* GlobalInterfaceTable();

}  // namespace pal
