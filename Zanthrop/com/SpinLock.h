// A lock for short sections under contention from several threads: it spins briefly before it
// sleeps, as a critical section with a spin count does, because a sleeping waiter costs two
// system calls and the holder is usually done within a few hundred nanoseconds.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

class SpinThenBlockLock {
public:
    void lock() {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (m_lock.try_lock()) return;
#if defined(__i386__) || defined(__x86_64__)
            __builtin_ia32_pause();
#endif
        }
        m_lock.lock();
    }
    bool try_lock() { return m_lock.try_lock(); }
    void unlock() { m_lock.unlock(); }

private:
    static constexpr int kSpins = 200;
    std::mutex m_lock;
};
