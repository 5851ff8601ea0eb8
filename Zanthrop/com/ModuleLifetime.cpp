#include "com/ModuleLifetime.h"

#include <atomic>

namespace {
std::atomic<LONG> lockCount{0};
}

namespace ModuleLifetime {
void Lock() { lockCount.fetch_add(1, std::memory_order_relaxed); }
void Unlock() { lockCount.fetch_sub(1, std::memory_order_acq_rel); }
LONG Count() { return lockCount.load(std::memory_order_acquire); }
}  // namespace ModuleLifetime
