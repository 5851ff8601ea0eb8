#include "trace/TraceSink.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "interfaces/ZanthropIds.h"

namespace trace_detail {
std::atomic<TraceOutputArea*> attachedArea{nullptr};
}  // namespace trace_detail

namespace {

using trace_detail::attachedArea;

constexpr LONGLONG kWaitLimitMs = 1000;  // longest wait for a stalled viewer before a line is dropped

// The process's trace objects, made at start-up in this order: the trace lock, the named mutex,
// the named event, then the area is attached; they go in the reverse order at shutdown.
class TraceProcessState {
public:
    TraceProcessState() {
        InitializeCriticalSection(&lock);
        Open({kTraceOutputName, kTraceMutexName, kTraceEventName});
    }
    ~TraceProcessState() {
        Close();
        DeleteCriticalSection(&lock);
    }

    void Open(const TraceNames& names) {
        mutex = CreateMutexA(nullptr, FALSE, names.mutex);
        event = CreateEventA(nullptr, FALSE, FALSE, names.event);
        areaName = names.area;
        if (mutex != nullptr && event != nullptr) {  // without both, tracing stays off
            TraceAttach();
        }
    }
    void Close() {
        if (mutex != nullptr) TraceDetach();
        if (event != nullptr) CloseHandle(event);
        if (mutex != nullptr) CloseHandle(mutex);
        event = nullptr;
        mutex = nullptr;
    }

    CRITICAL_SECTION lock;
    HANDLE mutex = nullptr;
    HANDLE event = nullptr;
    HANDLE area = nullptr;
    std::string areaName;
    bool dropping = false;  // a line was dropped for a stalled viewer and it has not caught up yet
};

TraceProcessState state;

// The named mutex, taken without limit; an owner that died leaves it to us.
void TakeMutex() { WaitForSingleObject(state.mutex, INFINITE); }
void GiveMutex() { ReleaseMutex(state.mutex); }

char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Guarded by the trace lock: the executable's path (at most 259 characters and the NUL), read
// for each prefix.
char pathBuffer[MAX_PATH];

void AppendProcessName(std::string& line) {
    const DWORD length = GetModuleFileNameA(nullptr, pathBuffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;  // unknown or cut: leave the field empty
    line += trace_detail::ProcessNameFromPath(std::string(pathBuffer, length));
}

void AppendClock(std::string& line) {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    if (!QueryPerformanceFrequency(&frequency)) return;
    QueryPerformanceCounter(&counter);
    trace_detail::AppendClockField(line, counter.QuadPart, frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

LONGLONG MillisecondsSince(LONGLONG start) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? (Now() - start) * 1000 / frequency.QuadPart : 0;
}

}  // namespace

namespace trace_detail {

std::string ProcessNameFromPath(const std::string& path) {
    std::string name = path;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char& c : name) c = ToLower(c);
    return name;
}

void AppendClockField(std::string& line, LONGLONG counter, LONGLONG frequency) {
    if (frequency < 1000) return;  // no whole ticks per millisecond: leave the field out
    const LONGLONG milliseconds = counter / (frequency / 1000);
    char field[16];
    std::snprintf(field, sizeof(field), "(%05d)", static_cast<int>(milliseconds % 10000));
    line += field;
}

}  // namespace trace_detail

void TraceAttach() {
    attachedArea.store(nullptr);
    state.area = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, state.areaName.c_str());
    if (state.area == nullptr) return;  // no viewer: this process never traces
    void* view = MapViewOfFile(state.area, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr) return;  // the handle stays open until TraceDetach
    attachedArea.store(static_cast<TraceOutputArea*>(view));
}

void TraceDetach() {
    TakeMutex();
    if (TraceOutputArea* area = attachedArea.exchange(nullptr)) {
        UnmapViewOfFile(area);
    }
    if (state.area != nullptr) {
        CloseHandle(state.area);
        state.area = nullptr;
    }
    GiveMutex();
}

void TraceLock() { EnterCriticalSection(&state.lock); }
void TraceUnlock() { LeaveCriticalSection(&state.lock); }

bool TraceChannelEnabled(const char* code) {
    char set[kTraceChannelSetSize + 1] = {};
    TakeMutex();
    TraceOutputArea* area = attachedArea.load();
    if (area == nullptr) {
        GiveMutex();
        return false;
    }
    // Bounded copy: a set without its NUL ends at the field's end.
    for (int i = 0; i < kTraceChannelSetSize && area->channelSet[i] != 0; ++i) set[i] = area->channelSet[i];
    GiveMutex();
    for (const char* c = code; *c != 0; ++c) {
        if (std::strchr(set, ToUpper(*c)) == nullptr) return false;
    }
    return true;
}

void TraceLinePrefix(std::string& line) {
    const size_t start = line.size();
    if (TraceChannelEnabled("@")) AppendProcessName(line);
    if (TraceChannelEnabled("I")) {
        char field[16];
        std::snprintf(field, sizeof(field), "(%02X)", static_cast<unsigned>(GetCurrentThreadId()));
        line += field;
    }
    if (TraceChannelEnabled("N")) AppendClock(line);
    if (line.size() > start) line += ": ";
}

void TracePost(const std::string& line) {
    if (line.size() > static_cast<size_t>(kTraceMaxLine)) return;
    TakeMutex();
    TraceOutputArea* area = attachedArea.load();
    if (area == nullptr) {
        GiveMutex();
        return;
    }
    // A full ring means a slow viewer: wait for it in 1 ms steps, but not for ever, and not again
    // while it has not caught up since a line was dropped.
    LONGLONG waitStart = -1;
    while (area->pendingCount > kTracePendingLimit) {
        if (state.dropping || (waitStart >= 0 && MillisecondsSince(waitStart) >= kWaitLimitMs)) {
            state.dropping = true;
            GiveMutex();
            return;
        }
        if (waitStart < 0) waitStart = Now();
        GiveMutex();
        Sleep(1);
        TakeMutex();
        area = attachedArea.load();
        if (area == nullptr || area->outputOn == 0) {
            GiveMutex();
            return;
        }
    }
    state.dropping = false;
    LONG slot = area->writeSlot;
    if (slot < 0 || slot >= kTraceSlotCount) slot = 0;  // never write outside the slots
    std::memcpy(area->slots[slot], line.c_str(), line.size() + 1);
    area->writeSlot = slot + 1 == kTraceSlotCount ? 0 : slot + 1;
    area->pendingCount += 1;
    SetEvent(state.event);
    GiveMutex();
}

namespace trace_testing {
void Reattach(const TraceNames& names) {
    TraceLock();
    state.Close();
    state.dropping = false;
    state.Open(names);
    TraceUnlock();
}
}  // namespace trace_testing
