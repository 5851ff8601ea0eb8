// The simulated framework's shared state: a record of every framework call the converters make,
// failures to inject into them, and counts of live simulated objects, for tests and the demo.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class SimWorld {
public:
    static SimWorld& Instance();

    // Records a call ("IStackFactory::OpenStack") and returns the failure injected for it, if any.
    HRESULT Enter(const char* operation);

    void InjectFailure(const std::string& operation, HRESULT hr);
    // Fails only the occurrence-th call (1-based) of operation made from now on.
    void InjectFailureAt(const std::string& operation, int occurrence, HRESULT hr);
    void ClearFailures();

    std::vector<std::string> Calls();
    // The calls made on one thread, in order (calls from the stacks' threads left out).
    std::vector<std::string> CallsOn(DWORD threadId);
    void ClearCalls();

    // Simulated objects alive now.
    LONG LiveObjects() const { return m_live.load(); }
    void ObjectBorn() { ++m_live; }
    void ObjectDied() { --m_live; }

    // Recording can be turned off for throughput runs (benchmarks, the demo).
    void SetRecording(bool on) { m_recording = on; }

private:
    struct CountedFailure {
        int remaining;  // calls until the failing one
        HRESULT hr;
    };

    std::mutex m_lock;  // guards m_calls, m_callThreads, m_failures and m_countedFailures
    std::vector<std::string> m_calls;
    std::vector<DWORD> m_callThreads;  // the thread of each entry of m_calls
    std::map<std::string, HRESULT> m_failures;
    std::map<std::string, CountedFailure> m_countedFailures;
    std::atomic<bool> m_recording{true};
    std::atomic<bool> m_anyFailure{false};
    std::atomic<LONG> m_live{0};
};
