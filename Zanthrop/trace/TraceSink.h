// The trace sink: stores finished lines in the shared ring for the viewer, under the named
// cross-process mutex, and signals the viewer's event.
//
// Locks: the process trace lock (TraceLock/TraceUnlock) is held by the formatting layer around a
// whole line or frame dump; it guards the format buffer, the line buffer, the path buffer and
// the dropping state. The named mutex guards the area's header and slots and is taken only for
// copying the channel set or storing one line. Order: trace lock, then mutex.
#pragma once

#include <atomic>
#include <string>

#include "trace/TraceArea.h"

namespace trace_detail {
// The mapped area while attached, else null. Read without a lock by the output-on test.
extern std::atomic<TraceOutputArea*> attachedArea;

// The prefix's process name: the executable's file name ("\\" or "/" separated) without its
// last extension, in lower case.
std::string ProcessNameFromPath(const std::string& path);
// Appends "(%05d)": whole milliseconds of counter modulo 10000; nothing for a frequency below 1000.
void AppendClockField(std::string& line, LONGLONG counter, LONGLONG frequency);
}  // namespace trace_detail

// True when the area is attached and the viewer has output on: the one test every trace call
// makes before anything else.
inline bool TraceOutputOn() {
    TraceOutputArea* area = trace_detail::attachedArea.load(std::memory_order_relaxed);
    return area != nullptr && *static_cast<volatile const char*>(&area->outputOn) != 0;
}

void TraceAttach();
void TraceDetach();

void TraceLock();
void TraceUnlock();

// With the trace lock held:
bool TraceChannelEnabled(const char* code);
// Appends the prefix (process name, thread, clock, as the channel set asks) to line.
void TraceLinePrefix(std::string& line);
void TracePost(const std::string& line);

// For tests and tools: detaches and attaches again to objects of other names (the production
// names are "_ZRB_TraceOutput", "_ZRB_TraceMutex" and "_ZRB_TraceEvent").
namespace trace_testing {
void Reattach(const TraceNames& names);
}
