// Process-local synchronisation: critical sections, interlocked counters, the thread's id, Sleep.
#pragma once

#include <pthread.h>

#include "pal/types.h"

// A recursive lock that lives inside the structure: initialising it cannot fail.
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

// The owner may enter again and leaves as often as it entered. Initialise before first use,
// delete after last use; deleting or leaving a section that is not owned is undefined, as on
// Windows.
extern "C" void InitializeCriticalSection(LPCRITICAL_SECTION cs);
extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION cs);
extern "C" void EnterCriticalSection(LPCRITICAL_SECTION cs);
extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION cs);

// Atomic operations on a 32-bit value, each a full barrier. Increment, Decrement return the new
// value; Exchange, ExchangeAdd and CompareExchange the value found before (CompareExchange stores
// exchange only when that value equals comparand). Values wrap around as two's complement.
extern "C" LONG InterlockedIncrement(LONG volatile* target);
extern "C" LONG InterlockedDecrement(LONG volatile* target);
extern "C" LONG InterlockedExchange(LONG volatile* target, LONG value);
extern "C" LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
extern "C" LONG InterlockedExchangeAdd(LONG volatile* target, LONG value);

// The calling thread's identifier: non-zero, distinct among live threads of the process, the same
// for the thread's whole life.
extern "C" DWORD GetCurrentThreadId(void);
// The calling process's identifier.
extern "C" DWORD GetCurrentProcessId(void);

// Suspends the thread for at least the given time; 0 gives up the rest of its time slice.
extern "C" void Sleep(DWORD milliseconds);
