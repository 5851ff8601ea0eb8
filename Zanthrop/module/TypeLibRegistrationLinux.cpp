// Linux has no type-library loader: the library is found as a file that holds one, and the keys
// the system's registration would write are written directly, naming that file.
#include "module/TypeLibRegistration.h"

#include <cstdio>
#include <cstring>

#include "interfaces/ZanthropIds.h"
#include "module/Registrar.h"

namespace {

// A compiled type library starts with "MSFT".
bool HoldsTypeLib(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char magic[4] = {};
    const bool holds = std::fread(magic, 1, sizeof(magic), file) == sizeof(magic) && std::memcmp(magic, "MSFT", 4) == 0;
    std::fclose(file);
    return holds;
}

HRESULT FindModuleTypeLib(const std::string& modulePath, std::string& path) {
    for (const std::string& candidate : TypeLibCandidates(modulePath)) {
        if (HoldsTypeLib(candidate)) {
            path = candidate;
            return S_OK;
        }
    }
    return TYPE_E_CANTLOADLIBRARY;
}

const std::string kLibraryKey = std::string("TypeLib\\") + kTypeLibText;
const std::string kVersion = std::to_string(kTypeLibMajorVersion) + "." + std::to_string(kTypeLibMinorVersion);

}  // namespace

HRESULT RegisterModuleTypeLib(const std::string& modulePath) {
    std::string path;
    const HRESULT hr = FindModuleTypeLib(modulePath, path);
    if (FAILED(hr)) return hr;
    using registration::QuoteForScript;
    const std::string script = "HKCR\n{\n NoRemove TypeLib\n {\n  '" + std::string(kTypeLibText) + "'\n  {\n   ForceRemove '" +
                               kVersion + "' = s '" + kTypeLibHelpString + "'\n   {\n    '0'\n    {\n     win32 = s '" +
                               QuoteForScript(path) + "'\n    }\n    FLAGS = s '0'\n    HELPDIR = s '" +
                               QuoteForScript(DirectoryOf(path)) + "'\n   }\n  }\n }\n}\n";
    return registration::ApplyScript(script, {}, registration::Mode::Register);
}

void UnregisterModuleTypeLib(const std::string& modulePath) {
    std::string path;
    if (FAILED(FindModuleTypeLib(modulePath, path))) return;
    registration::DeleteKeyTree(HKEY_CLASSES_ROOT, kLibraryKey + "\\" + kVersion);
    // The library's own key goes with its last version.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kLibraryKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD subKeys = 0;
    const LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && subKeys == 0) RegDeleteKeyA(HKEY_CLASSES_ROOT, kLibraryKey.c_str());
}
