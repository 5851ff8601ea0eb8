// Shared libraries through the dynamic loader.
#include <dlfcn.h>

#include <windows.h>

extern "C" HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* library = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) SetLastError(ERROR_FILE_NOT_FOUND);
    return library;
}

extern "C" FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    void* symbol = dlsym(hModule, lpProcName);
    if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" BOOL FreeLibrary(HMODULE hLibModule) { return dlclose(hLibModule) == 0 ? TRUE : FALSE; }
