// The high-resolution counter and the executable's path.
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

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

extern "C" DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    char path[4096] = {};
    if (hModule == nullptr) {
        const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
        if (length <= 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        path[length] = 0;
    } else {
        Dl_info info{};
        if (dladdr(hModule, &info) == 0 || info.dli_fname == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        std::strncpy(path, info.dli_fname, sizeof(path) - 1);
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(std::strlen(path));
    if (length >= nSize) {  // cut to fit, without a NUL, as Wine does
        std::memcpy(lpFilename, path, nSize);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path, length + 1);
    SetLastError(ERROR_SUCCESS);
    return length;
}
