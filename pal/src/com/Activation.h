// Internal seam of activation: where class objects come from.
#pragma once

#include <windows.h>

namespace pal {

// Looks for a class object of clsid beyond those registered in the process (for instance in
// the registry). Returns S_OK with an added reference in *ppv, or REGDB_E_CLASSNOTREG.
using ClassObjectResolver = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);

// Installs the resolver consulted after the process's own registrations (one at a time).
void SetClassObjectResolver(ClassObjectResolver resolver);

// The process's global interface table (a singleton without a reference count).
IUnknown* GlobalInterfaceTable();

}  // namespace pal
