// The system's type-library loader and registration.
#include "module/TypeLibRegistration.h"

#include <oleauto.h>

#include "com/ComPtr.h"
#include "com/TextConversion.h"

namespace {

HRESULT LoadModuleTypeLib(const std::string& modulePath, ITypeLib** typeLib, std::string& loadedFrom) {
    HRESULT hr = E_FAIL;
    for (const std::string& candidate : TypeLibCandidates(modulePath)) {
        hr = LoadTypeLibEx(ToWide(candidate).c_str(), REGKIND_NONE, typeLib);
        if (SUCCEEDED(hr)) {
            loadedFrom = candidate;
            return hr;
        }
    }
    return hr;  // the last candidate's failure
}

}  // namespace

HRESULT RegisterModuleTypeLib(const std::string& modulePath) {
    ComPtr<ITypeLib> typeLib;
    std::string path;
    const HRESULT hr = LoadModuleTypeLib(modulePath, typeLib.Put(), path);
    if (FAILED(hr)) return hr;
    std::basic_string<WCHAR> widePath = ToWide(path);
    std::basic_string<WCHAR> helpDirectory = ToWide(DirectoryOf(path));
    return RegisterTypeLib(typeLib.Get(), &widePath[0], &helpDirectory[0]);
}

void UnregisterModuleTypeLib(const std::string& modulePath) {
    ComPtr<ITypeLib> typeLib;
    std::string path;
    if (FAILED(LoadModuleTypeLib(modulePath, typeLib.Put(), path))) return;
    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLib->GetLibAttr(&attributes))) return;
    UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                      attributes->syskind);
    typeLib->ReleaseTLibAttr(attributes);
}
