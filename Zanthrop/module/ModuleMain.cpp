// Load and unload entry of the module, and the module's handle.
#include "module/ModuleInstance.h"

namespace {

HMODULE moduleInstance = nullptr;

}  // namespace

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
        // The module keeps no per-thread state.
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HMODULE ModuleInstance() { return moduleInstance; }
#else
// A shared library has no load entry with its handle: it is found from an address inside it.
HMODULE ModuleInstance() {
    if (moduleInstance == nullptr) {
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&ModuleInstance), &moduleInstance);
    }
    return moduleInstance;
}
#endif

std::string ModulePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(ModuleInstance(), &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // cut short: try a larger buffer
    }
}
