// Events: one 32-bit word in shared memory, waited on with a futex. Nothing of a waiter stays
// behind in the shared state, so a process that dies while it waits (a viewer ended with SIGKILL)
// cannot stop the next SetEvent; a process-shared condition variable in glibc can: a signaller
// waits there for every earlier waiter to leave, and a dead one never does.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>

#include "KernelObject.h"

namespace {

struct EventState {
    std::atomic<std::uint32_t> signalled;  // 1 while set; the futex word
    std::atomic<std::uint32_t> manualReset;
    // Waiters asleep or about to sleep, so that SetEvent makes no system call while nobody waits.
    // A waiter that is killed asleep stays counted: SetEvent then merely wakes for nothing.
    std::atomic<std::uint32_t> sleepers;
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "futex word");
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "futex word");

// Run by the creator before the event becomes visible to anyone else.
template <std::uint32_t manualReset, std::uint32_t initialState>
void InitialiseEvent(void* memory) {
    auto* state = new (memory) EventState{};
    state->manualReset.store(manualReset, std::memory_order_relaxed);
    state->signalled.store(initialState, std::memory_order_relaxed);
}

std::uint32_t* Word(std::atomic<std::uint32_t>& value) { return reinterpret_cast<std::uint32_t*>(&value); }

// Shared (not process-private) futex operations: waiters and wakers may be in other processes.
long FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* relative) {
    return syscall(SYS_futex, Word(word), FUTEX_WAIT, expected, relative, nullptr, 0);
}
void FutexWake(std::atomic<std::uint32_t>& word, int count) {
    syscall(SYS_futex, Word(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

long long MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

class Event final : public pal::KernelObject {
public:
    static constexpr pal::ObjectKind kKind = pal::ObjectKind::Event;
    Event() : KernelObject(kKind) {}

    pal::SharedRegion region;
    EventState* State() { return static_cast<EventState*>(region.Payload()); }

    // Takes the signal (automatic reset) or sees it (manual reset).
    bool TryTake(EventState* state) {
        if (state->manualReset.load(std::memory_order_relaxed) != 0) {
            return state->signalled.load(std::memory_order_acquire) != 0;
        }
        std::uint32_t expected = 1;
        return state->signalled.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }

    DWORD Wait(DWORD milliseconds) override {
        EventState* state = State();
        const long long deadline =
            milliseconds == INFINITE ? 0 : MonotonicNanoseconds() + static_cast<long long>(milliseconds) * 1000000LL;
        for (;;) {
            if (TryTake(state)) return WAIT_OBJECT_0;
            timespec remaining{};
            const timespec* timeout = nullptr;
            if (milliseconds != INFINITE) {
                const long long left = deadline - MonotonicNanoseconds();
                if (left <= 0) return WAIT_TIMEOUT;
                remaining.tv_sec = static_cast<time_t>(left / 1000000000LL);
                remaining.tv_nsec = static_cast<long>(left % 1000000000LL);
                timeout = &remaining;
            }
            // Returns at once if the word is no longer 0; woken, interrupted or timed out, look again.
            state->sleepers.fetch_add(1);
            FutexWait(state->signalled, 0, timeout);
            state->sleepers.fetch_sub(1);
        }
    }

    void Set() {
        EventState* state = State();
        // Already set: whoever set it wakes the waiters. Otherwise a waiter either is counted in
        // sleepers by now or will find the word set before it sleeps (both orders sequentially
        // consistent).
        if (state->signalled.exchange(1) != 0 || state->sleepers.load() == 0) return;
        // A manual-reset event releases every waiter; an automatic-reset one, one of them.
        FutexWake(state->signalled, state->manualReset.load(std::memory_order_relaxed) != 0 ? INT_MAX : 1);
    }

    void Reset() { State()->signalled.store(0, std::memory_order_release); }
};

HANDLE Attach(const char* name, pal::SharedRegion::Mode mode, BOOL manualReset, BOOL initialState) {
    void (*const initialisers[2][2])(void*) = {{InitialiseEvent<0, 0>, InitialiseEvent<0, 1>},
                                                 {InitialiseEvent<1, 0>, InitialiseEvent<1, 1>}};
    auto* event = new Event();
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
    if (!event->region.Attach("event", name, sizeof(EventState), mode, initialisers[manualReset ? 1 : 0][initialState ? 1 : 0],
                              existed, error)) {
        delete event;
        SetLastError(error);
        return nullptr;
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
    event->Set();
    return TRUE;
}

extern "C" BOOL ResetEvent(HANDLE hEvent) {
    auto* event = pal::ObjectOf<Event>(hEvent);
    if (event == nullptr) return FALSE;
    event->Reset();
    return TRUE;
}
