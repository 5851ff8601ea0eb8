// Shared libraries through the dynamic loader, and the paths of loaded modules.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>

extern "C" HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A relative path is made absolute now, so the module's file name is a full path later on.
    std::string path = lpLibFileName;
    if (path.find('/') != std::string::npos && path[0] != '/') {
        if (char* absolute = realpath(lpLibFileName, nullptr)) {
            path = absolute;
            free(absolute);
        }
    }
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return library;
}

extern "C" FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    void* symbol = dlsym(hModule, lpProcName);
    if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" BOOL FreeLibrary(HMODULE hLibModule) { return dlclose(hLibModule) == 0 ? TRUE : FALSE; }

extern "C" BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    if (phModule == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0 || lpModuleName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // only lookups by address are supported
        return FALSE;
    }
    Dl_info info{};
    if (dladdr(lpModuleName, &info) == 0 || info.dli_fname == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // The main program's dladdr name may be its bare argv[0]; a null name asks for it.
    const bool mainProgram = info.dli_fbase == dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
    void* module = dlopen(mainProgram ? nullptr : info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // The module is loaded: a handle without a reference of its own stays valid while it is.
    if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0) dlclose(module);
    *phModule = module;
    return TRUE;
}

extern "C" DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    link_map* map = nullptr;
    if (hModule != nullptr && dlinfo(hModule, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] != 0) {
        path = map->l_name;
    } else if (hModule == nullptr || map != nullptr) {  // the program itself
        char self[4096] = {};
        const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
        if (length <= 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        path.assign(self, static_cast<size_t>(length));
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(path.size());
    if (length >= nSize) {  // cut to fit, without a NUL, as Wine does
        std::memcpy(lpFilename, path.data(), nSize);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), length + 1);
    SetLastError(ERROR_SUCCESS);
    return length;
}
