// Apartments exist only as bookkeeping here: every thread may use COM, objects are called
// directly, and nothing is marshalled. The per-thread count reproduces the results callers see.
#include <windows.h>

namespace {
thread_local int initCount = 0;
}

STDAPI CoInitializeEx(LPVOID /*pvReserved*/, DWORD /*dwCoInit*/) { return initCount++ == 0 ? S_OK : S_FALSE; }

STDAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

STDAPI_(void) CoUninitialize(void) {
    if (initCount > 0) {
        --initCount;
    }
}
