// DllRegisterServer and DllUnregisterServer: the framework's values, each class's registration
// script, and the type library.
#include "interfaces/ZanthropIds.h"
#include "module/ClassTable.h"
#include "module/Exports.h"
#include "module/ModuleInstance.h"
#include "module/Registrar.h"
#include "module/ScriptResources.h"
#include "module/TypeLibRegistration.h"
#include "registry/CRegistryStore.h"

namespace {

// The values the framework reads. A value that cannot be written (for want of rights, say) is
// left out; the store keeps the failure to itself.
void WriteFrameworkValues() {
    CRegistryStore store;
    store.WriteString(HKEY_LOCAL_MACHINE, kSorbanetKey, kSerialHandleValue, kSerialHandleData);
    store.WriteString(HKEY_LOCAL_MACHINE, kLegacyDeviceConfigurationKey, kLegacyDeviceConfigurationValue,
                      kLegacyDeviceConfigurationData);
    store.WriteString(HKEY_LOCAL_MACHINE, kPlumvaneGroupKey, kPlumvaneGroupValue, kPlumvaneGroupData);
}

HRESULT ApplyClassScript(const ClassEntry& entry, const std::string& modulePath, registration::Mode mode) {
    std::string script;
    const HRESULT hr = LoadRegistrationScript(ModuleInstance(), entry.registrationScript, script);
    if (FAILED(hr)) return hr;
    return registration::ApplyScript(script, {{"MODULE", registration::QuoteForScript(modulePath)}}, mode);
}

}  // namespace

extern "C" ZANTHROP_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    WriteFrameworkValues();
    const std::string modulePath = ModulePath();
    if (modulePath.empty()) return E_UNEXPECTED;  // the module cannot tell where it lies
    for (const ClassEntry& entry : ClassTable()) {
        const HRESULT hr = ApplyClassScript(entry, modulePath, registration::Mode::Register);
        if (FAILED(hr)) return hr;
    }
    return RegisterModuleTypeLib(modulePath);
}

extern "C" ZANTHROP_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
    const std::string modulePath = ModulePath();
    for (const ClassEntry& entry : ClassTable()) {
        ApplyClassScript(entry, modulePath, registration::Mode::Unregister);
    }
    UnregisterModuleTypeLib(modulePath);
    return S_OK;
}
