// Mutexes: robust, process-shared, recursive pthread mutexes. A waiter that finds the owner
// dead makes the mutex consistent and reports WAIT_ABANDONED, as Windows does.
#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "KernelObject.h"

namespace {

// The shared state: the pthread mutex and who holds it how often, so that a release by a thread
// that does not own the mutex is refused before it reaches pthread (which would be undefined).
struct MutexState {
    pthread_mutex_t native;
    DWORD owner;  // thread id of the holder, 0 when free; written only by the holder
    LONG depth;   // how often the holder has entered
};

void InitialiseMutex(void* memory) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&static_cast<MutexState*>(memory)->native, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

timespec Deadline(DWORD milliseconds) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long nanoseconds = now.tv_nsec + static_cast<long long>(milliseconds % 1000) * 1000000LL;
    return timespec{now.tv_sec + static_cast<time_t>(milliseconds / 1000) + static_cast<time_t>(nanoseconds / 1000000000LL),
                    static_cast<long>(nanoseconds % 1000000000LL)};
}

class Mutex final : public pal::KernelObject {
public:
    static constexpr pal::ObjectKind kKind = pal::ObjectKind::Mutex;
    Mutex() : KernelObject(kKind) {}

    static constexpr int kSpins = 200;

    pal::SharedRegion region;
    MutexState* State() { return static_cast<MutexState*>(region.Payload()); }
    pthread_mutex_t* Native() { return &State()->native; }

    DWORD Acquired(DWORD result) {
        MutexState* state = State();
        if (result == WAIT_ABANDONED) state->depth = 0;  // the dead holder's entries go with it
        state->owner = GetCurrentThreadId();
        ++state->depth;
        return result;
    }

    // A holder usually lets go within a few hundred nanoseconds (the trace mutex guards one copy
    // of a line): try a little before sleeping, which costs two system calls and a task switch.
    int TrySpinning() {
        int result = EBUSY;
        for (int spin = 0; spin < kSpins && result == EBUSY; ++spin) {
            result = pthread_mutex_trylock(Native());
#if defined(__i386__) || defined(__x86_64__)
            if (result == EBUSY) __builtin_ia32_pause();
#endif
        }
        return result;
    }

    DWORD Wait(DWORD milliseconds) override {
        int result = TrySpinning();
        if (result != EBUSY) {
            // taken (or found abandoned) without sleeping
        } else if (milliseconds == INFINITE) {
            result = pthread_mutex_lock(Native());
        } else {
            const timespec deadline = Deadline(milliseconds);
            result = pthread_mutex_timedlock(Native(), &deadline);
        }
        switch (result) {
            case 0:
                return Acquired(WAIT_OBJECT_0);
            case EOWNERDEAD:
                pthread_mutex_consistent(Native());
                return Acquired(WAIT_ABANDONED);
            case ETIMEDOUT:
                return WAIT_TIMEOUT;
            default:
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
        }
    }
};

HANDLE Attach(const char* name, pal::SharedRegion::Mode mode, BOOL initialOwner) {
    auto* mutex = new Mutex();
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
    if (!mutex->region.Attach("mutex", name, sizeof(MutexState), mode, InitialiseMutex, existed, error)) {
        delete mutex;
        SetLastError(error);
        return nullptr;
    }
    if (initialOwner && !existed) {
        mutex->Wait(INFINITE);
    }
    SetLastError(existed && mode == pal::SharedRegion::Mode::Create ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return pal::RegisterHandle(mutex);
}

}  // namespace

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    return Attach(lpName, pal::SharedRegion::Mode::Create, bInitialOwner);
}

extern "C" HANDLE OpenMutexA(DWORD, BOOL, LPCSTR lpName) { return Attach(lpName, pal::SharedRegion::Mode::Open, FALSE); }

extern "C" BOOL ReleaseMutex(HANDLE hMutex) {
    auto* mutex = pal::ObjectOf<Mutex>(hMutex);
    if (mutex == nullptr) return FALSE;
    MutexState* state = mutex->State();
    if (state->owner != GetCurrentThreadId() || state->depth <= 0) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--state->depth == 0) state->owner = 0;
    if (pthread_mutex_unlock(mutex->Native()) != 0) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
