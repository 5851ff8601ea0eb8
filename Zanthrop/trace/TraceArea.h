// The shared trace area that the trace viewer creates and every process with the module loaded
// writes into: a header and a ring of 1000 fixed-size line slots.
#pragma once

#include <windows.h>

#include <cstddef>

inline constexpr int kTraceSlotCount = 1000;
inline constexpr int kTraceSlotSize = 513;     // one line of at most 512 characters and its NUL
inline constexpr int kTraceMaxLine = 512;
inline constexpr int kTraceChannelSetSize = 35;
inline constexpr LONG kTracePendingLimit = 900;  // writers wait while more lines than this are pending

#pragma pack(push, 1)
struct TraceOutputArea {
    char outputOn;                          // non-zero while the viewer wants output
    char channelSet[kTraceChannelSetSize];  // NUL-terminated enabled channel letters (viewer writes)
    LONG pendingCount;                      // lines stored and not yet taken
    LONG writeSlot;                         // next slot a writer fills, 0..999
    LONG readSlot;                          // the viewer's: next slot it takes
    char slots[kTraceSlotCount][kTraceSlotSize];
};
#pragma pack(pop)

static_assert(offsetof(TraceOutputArea, channelSet) == 1, "trace area layout");
static_assert(offsetof(TraceOutputArea, pendingCount) == 36, "trace area layout");
static_assert(offsetof(TraceOutputArea, writeSlot) == 40, "trace area layout");
static_assert(offsetof(TraceOutputArea, readSlot) == 44, "trace area layout");
static_assert(offsetof(TraceOutputArea, slots) == 48, "trace area layout");
static_assert(sizeof(TraceOutputArea) == 48 + 1000 * 513, "trace area layout");

// The names of the three shared objects; tests and tools may use others.
struct TraceNames {
    const char* area;
    const char* mutex;
    const char* event;
};
