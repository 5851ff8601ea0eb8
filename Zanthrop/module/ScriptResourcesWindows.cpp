#include "module/ScriptResources.h"

HRESULT LoadRegistrationScript(HMODULE module, UINT id, std::string& script) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    if (resource == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL loaded = LoadResource(module, resource);
    const DWORD size = SizeofResource(module, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    script.assign(static_cast<const char*>(data), size);
    return S_OK;
}
