// Events: a flag under a robust process-shared mutex, with a process-shared condition variable
// on the monotonic clock.
#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "KernelObject.h"

namespace {

struct EventState {
    pthread_mutex_t lock;  // guards signalled
    pthread_cond_t changed;
    int signalled;
    int manualReset;
};

void InitialiseEvent(void* memory) {
    auto* state = static_cast<EventState*>(memory);
    pthread_mutexattr_t mutexAttributes;
    pthread_mutexattr_init(&mutexAttributes);
    pthread_mutexattr_setpshared(&mutexAttributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&mutexAttributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&state->lock, &mutexAttributes);
    pthread_mutexattr_destroy(&mutexAttributes);
    pthread_condattr_t condAttributes;
    pthread_condattr_init(&condAttributes);
    pthread_condattr_setpshared(&condAttributes, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&condAttributes, CLOCK_MONOTONIC);
    pthread_cond_init(&state->changed, &condAttributes);
    pthread_condattr_destroy(&condAttributes);
}

// Locks the state; a holder that died leaves nothing half-done (each section is one assignment).
void Lock(EventState* state) {
    if (pthread_mutex_lock(&state->lock) == EOWNERDEAD) pthread_mutex_consistent(&state->lock);
}

class Event final : public pal::KernelObject {
public:
    pal::SharedRegion region;
    EventState* State() { return static_cast<EventState*>(region.Payload()); }

    DWORD Wait(DWORD milliseconds) override {
        EventState* state = State();
        timespec deadline{};
        if (milliseconds != INFINITE) {
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            const long long nanoseconds = deadline.tv_nsec + static_cast<long long>(milliseconds % 1000) * 1000000LL;
            deadline.tv_sec += static_cast<time_t>(milliseconds / 1000) + static_cast<time_t>(nanoseconds / 1000000000LL);
            deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
        }
        Lock(state);
        while (state->signalled == 0) {
            const int result = milliseconds == INFINITE ? pthread_cond_wait(&state->changed, &state->lock)
                                                        : pthread_cond_timedwait(&state->changed, &state->lock, &deadline);
            if (result == EOWNERDEAD) {
                pthread_mutex_consistent(&state->lock);
            } else if (result == ETIMEDOUT) {
                pthread_mutex_unlock(&state->lock);
                return WAIT_TIMEOUT;
            }
        }
        if (state->manualReset == 0) state->signalled = 0;
        pthread_mutex_unlock(&state->lock);
        return WAIT_OBJECT_0;
    }

    void Set(bool signalled) {
        EventState* state = State();
        Lock(state);
        state->signalled = signalled ? 1 : 0;
        if (signalled) pthread_cond_broadcast(&state->changed);
        pthread_mutex_unlock(&state->lock);
    }
};

HANDLE Attach(const char* name, pal::SharedRegion::Mode mode, BOOL manualReset, BOOL initialState) {
    auto* event = new Event();
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
    if (!event->region.Attach("event", name, sizeof(EventState), mode, InitialiseEvent, existed, error)) {
        delete event;
        SetLastError(error);
        return nullptr;
    }
    if (!existed && mode == pal::SharedRegion::Mode::Create) {
        EventState* state = event->State();
        Lock(state);
        state->manualReset = manualReset ? 1 : 0;
        state->signalled = initialState ? 1 : 0;
        pthread_mutex_unlock(&state->lock);
    }
    SetLastError(existed && mode == pal::SharedRegion::Mode::Create ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return pal::RegisterHandle(event);
}

}  // namespace

extern "C" HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    return Attach(lpName, pal::SharedRegion::Mode::Create, bManualReset, bInitialState);
}

extern "C" HANDLE OpenEventA(DWORD, BOOL, LPCSTR lpName) {
    return Attach(lpName, pal::SharedRegion::Mode::Open, FALSE, FALSE);
}

extern "C" BOOL SetEvent(HANDLE hEvent) {
    auto* event = pal::ObjectOf<Event>(hEvent);
    if (event == nullptr) return FALSE;
    event->Set(true);
    return TRUE;
}

extern "C" BOOL ResetEvent(HANDLE hEvent) {
    auto* event = pal::ObjectOf<Event>(hEvent);
    if (event == nullptr) return FALSE;
    event->Set(false);
    return TRUE;
}
