// Process-local synchronisation and thread identity.
#include <windows.h>

#include <pthread.h>

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern "C" void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t recursive;
    pthread_mutexattr_init(&recursive);
    pthread_mutexattr_settype(&recursive, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->mutex, &recursive);
    pthread_mutexattr_destroy(&recursive);
}

extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }

extern "C" void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(&cs->mutex); }

extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }

// Two's complement wrap-around, as on Windows, without signed overflow in C++.
extern "C" LONG InterlockedIncrement(LONG volatile* target) { return InterlockedExchangeAdd(target, 1) + static_cast<ULONG>(1); }

extern "C" LONG InterlockedDecrement(LONG volatile* target) { return InterlockedExchangeAdd(target, -1) - static_cast<ULONG>(1); }

extern "C" LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

extern "C" LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;  // the value found, whether or not it was replaced
}

extern "C" LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}

namespace {
// The id is asked of the kernel once per thread: a system call is costly and mutexes ask for it
// on every acquire and release. A forked child's only thread has a new id: the cache is reset.
thread_local DWORD cachedThreadId = 0;
void ForgetThreadId() { cachedThreadId = 0; }
const int forkHandlerInstalled = pthread_atfork(nullptr, nullptr, ForgetThreadId);
}  // namespace

extern "C" DWORD GetCurrentThreadId(void) {
    (void)forkHandlerInstalled;
    if (cachedThreadId == 0) cachedThreadId = static_cast<DWORD>(syscall(SYS_gettid));
    return cachedThreadId;
}

extern "C" DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

extern "C" void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec delay{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}
