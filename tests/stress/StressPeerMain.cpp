// The other processes of the stress and crash tests.
//   stress_peer trace-writer AREA MUTEX EVENT TAG THREADS COUNT
//       THREADS threads write COUNT lines "TAG thread n\n" each on channel qo
//   stress_peer trace-viewer AREA MUTEX EVENT READY PENDING
//       creates the trace area, output on, with PENDING lines stored and not taken, signals the named
//       event READY and then never takes a line (until it is killed)
//   stress_peer hold-trace-mutex MUTEX READY
//       takes the trace mutex, signals READY and keeps it until it is killed
//   stress_peer registry-writer ID SECONDS RESULT
//       for SECONDS creates keys Software\ZanthropStress\P<ID>\K<n> with value "v" = n and deletes
//       every third one again; writes the number of failed calls, the longest round in ms and
//       the keys that stand at the end ("K<n> n" lines) to the file RESULT
#include <windows.h>
#include <shlwapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "trace/Trace.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

// Keeps the longest time any of its scopes lasted, in milliseconds.
class RoundTimer {
public:
    explicit RoundTimer(long long& longest) : m_longest(longest), m_start(std::chrono::steady_clock::now()) {}
    ~RoundTimer() {
        const auto elapsed = std::chrono::steady_clock::now() - m_start;
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
        if (ms > m_longest) m_longest = ms;
    }
    RoundTimer(const RoundTimer&) = delete;
    RoundTimer& operator=(const RoundTimer&) = delete;

private:
    long long& m_longest;
    std::chrono::steady_clock::time_point m_start;
};

int TraceWriter(const TraceNames& names, const std::string& tag, int threads, int count) {
    trace_testing::Reattach(names);
    if (!TraceOutputOn()) return 4;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&tag, t, count] {
            for (int i = 0; i < count; ++i) TraceQO("%s %d %d\n", tag.c_str(), t, i);
        });
    }
    for (std::thread& writer : writers) writer.join();
    return 0;
}

int TraceViewer(const TraceNames& names, const char* ready, LONG pending) {
    TraceReader reader;
    if (!reader.Create(names)) return 3;
    reader.SetChannels("QO");
    // As if writers had stored PENDING lines that this viewer never took.
    reader.Locked([pending](TraceOutputArea& area) {
        for (LONG slot = 0; slot < pending && slot < kTraceSlotCount; ++slot) {
            std::snprintf(area.slots[slot], kTraceSlotSize, "stale %ld\n", static_cast<long>(slot));
        }
        area.readSlot = 0;
        area.writeSlot = pending % kTraceSlotCount;
        area.pendingCount = pending;
    });
    reader.SetOutput(true);
    HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, ready);
    if (event == nullptr) return 3;
    SetEvent(event);
    for (;;) Sleep(1000);
}

int HoldTraceMutex(const char* mutexName, const char* ready) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName);
    HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, ready);
    if (mutex == nullptr || event == nullptr || WaitForSingleObject(mutex, 5000) == WAIT_TIMEOUT) return 3;
    SetEvent(event);
    for (;;) Sleep(1000);
}

int RegistryWriter(const std::string& id, int seconds, const char* resultPath) {
    const std::string base = "Software\\ZanthropStress\\P" + id;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<int> standing;
    long failures = 0;
    // The longest round (create, write, perhaps delete): how long a writer may wait for its turn.
    long long longestMs = 0;
    for (int n = 0; std::chrono::steady_clock::now() < end; ++n) {
        RoundTimer timer(longestMs);
        const std::string path = base + "\\K" + std::to_string(n);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        const DWORD value = static_cast<DWORD>(n);
        const bool written =
            RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (!written) {
            ++failures;
            SHDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
            continue;
        }
        if (n % 3 == 0) {
            if (SHDeleteKeyA(HKEY_CURRENT_USER, path.c_str()) != ERROR_SUCCESS) {
                ++failures;
                standing.push_back(n);  // still there as far as we know
            }
            continue;
        }
        standing.push_back(n);
    }
    FILE* result = std::fopen(resultPath, "w");
    if (result == nullptr) return 3;
    std::fprintf(result, "failures %ld\nlongest %lld\n", failures, longestMs);
    for (int n : standing) std::fprintf(result, "K%d %d\n", n, n);
    std::fclose(result);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "trace-writer" && argc == 8) {
        return TraceWriter({argv[2], argv[3], argv[4]}, argv[5], std::atoi(argv[6]), std::atoi(argv[7]));
    }
    if (mode == "trace-viewer" && argc == 7) return TraceViewer({argv[2], argv[3], argv[4]}, argv[5], std::atol(argv[6]));
    if (mode == "hold-trace-mutex" && argc == 4) return HoldTraceMutex(argv[2], argv[3]);
    if (mode == "registry-writer" && argc == 5) return RegistryWriter(argv[2], std::atoi(argv[3]), argv[4]);
    return 2;
}
