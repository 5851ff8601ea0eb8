// Load and unload entry of the module.
#include <windows.h>

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        // The module keeps no per-thread state.
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
#endif
