// Process-local synchronisation: critical sections, interlocked counters, the thread's id, Sleep.
#pragma once

#include "pal/types.h"

typedef struct _CRITICAL_SECTION {
    void* impl;  // owned by the layer; created by InitializeCriticalSection
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

// A critical section may be entered again by the thread that holds it.
extern "C" void InitializeCriticalSection(LPCRITICAL_SECTION cs);
extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION cs);
extern "C" void EnterCriticalSection(LPCRITICAL_SECTION cs);
extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION cs);

// Full-barrier atomic operations on a 32-bit value; each returns what Windows returns.
extern "C" LONG InterlockedIncrement(LONG volatile* target);
extern "C" LONG InterlockedDecrement(LONG volatile* target);
extern "C" LONG InterlockedExchange(LONG volatile* target, LONG value);
extern "C" LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
extern "C" LONG InterlockedExchangeAdd(LONG volatile* target, LONG value);

extern "C" DWORD GetCurrentThreadId(void);
extern "C" void Sleep(DWORD milliseconds);
