// The high-resolution counter.
#include <time.h>

#include <windows.h>

extern "C" BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    lpPerformanceCount->QuadPart = static_cast<LONGLONG>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    return TRUE;
}

extern "C" BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    lpFrequency->QuadPart = 1000000000LL;
    return TRUE;
}
