// zanthrop-regsvr: registers or unregisters an in-process server, as regsvr32 does on Windows:
// loads the module, calls its DllRegisterServer (or DllUnregisterServer with /u) inside an
// apartment, and tells the result. The registry is the one the platform layer uses
// ($ZANTHROP_REGISTRY, else the user's default database).
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The exit codes regsvr32 uses.
enum ExitCode { kSucceeded = 0, kBadArguments = 1, kLoadFailed = 3, kNoEntryPoint = 4, kEntryPointFailed = 5 };

const char kUsage[] =
    "usage: zanthrop-regsvr [/u] [/s] MODULE\n"
    "  /u  unregister the module (call DllUnregisterServer)\n"
    "  /s  silent: print nothing, tell the result by the exit code only\n";

bool IsOption(const char* argument, char letter) {
    return (argument[0] == '/' || argument[0] == '-') && (argument[1] == letter || argument[1] == (letter - 'a' + 'A')) &&
           argument[2] == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    bool silent = false;
    const char* module = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (IsOption(argv[i], 'u')) {
            unregister = true;
        } else if (IsOption(argv[i], 's')) {
            silent = true;
        } else if (module == nullptr) {  // anything else is the module (a Linux path starts with '/')
            module = argv[i];
        } else {
            module = nullptr;
            break;
        }
    }
    if (module == nullptr) {
        std::fputs(kUsage, stderr);
        return kBadArguments;
    }

    const char* entryPointName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    HMODULE library = LoadLibraryA(module);
    if (library == nullptr) {
        if (!silent) std::fprintf(stderr, "zanthrop-regsvr: the module \"%s\" failed to load.\n", module);
        return kLoadFailed;
    }
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    auto entryPoint = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(library, entryPointName)));
    if (entryPoint == nullptr) {
        if (!silent) std::fprintf(stderr, "zanthrop-regsvr: %s was not found in \"%s\".\n", entryPointName, module);
        FreeLibrary(library);
        return kNoEntryPoint;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT hr = entryPoint();
    CoUninitialize();
    FreeLibrary(library);
    if (FAILED(hr)) {
        if (!silent) {
            std::fprintf(stderr, "zanthrop-regsvr: %s in \"%s\" failed with error 0x%08X.\n", entryPointName, module,
                         static_cast<unsigned>(hr));
        }
        return kEntryPointFailed;
    }
    if (!silent) std::printf("%s in \"%s\" succeeded.\n", entryPointName, module);
    return kSucceeded;
}
