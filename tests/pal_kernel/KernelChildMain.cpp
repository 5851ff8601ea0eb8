// A second process for the kernel-object tests; the test ends it with ChildProcess::Kill.
//   pal_kernel_child hold-mutex MUTEX READY   takes MUTEX, sets the event READY, then sleeps
//   pal_kernel_child wait-event EVENT READY   sets READY, then waits on EVENT
//   pal_kernel_child make-area AREA READY     creates AREA (4096 bytes, first byte 7), sets READY, sleeps
// Either gives up after a minute, so a test that fails before it kills the child still ends.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    HANDLE ready = OpenEventA(EVENT_ALL_ACCESS, FALSE, argv[3]);
    if (ready == nullptr) return 3;
    if (std::strcmp(argv[1], "hold-mutex") == 0) {
        HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, argv[2]);
        if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 4;
        SetEvent(ready);
        Sleep(60000);
        return 5;
    }
    if (std::strcmp(argv[1], "wait-event") == 0) {
        HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, argv[2]);
        if (event == nullptr) return 4;
        SetEvent(ready);
        WaitForSingleObject(event, 60000);
        return 5;
    }
    if (std::strcmp(argv[1], "make-area") == 0) {
        HANDLE area = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, argv[2]);
        auto* bytes = area != nullptr ? static_cast<char*>(MapViewOfFile(area, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
        if (bytes == nullptr) return 4;
        bytes[0] = 7;
        SetEvent(ready);
        Sleep(60000);
        return 5;
    }
    return 2;
}
