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
    void ClearFailures();

    std::vector<std::string> Calls();
    void ClearCalls();

    // Simulated objects alive now.
    LONG LiveObjects() const { return m_live.load(); }
    void ObjectBorn() { ++m_live; }
    void ObjectDied() { --m_live; }

    // Recording can be turned off for throughput runs (benchmarks, the demo).
    void SetRecording(bool on) { m_recording = on; }

private:
    std::mutex m_lock;  // guards m_calls and m_failures
    std::vector<std::string> m_calls;
    std::map<std::string, HRESULT> m_failures;
    std::atomic<bool> m_recording{true};
    std::atomic<bool> m_anyFailure{false};
    std::atomic<LONG> m_live{0};
};
