#include "sim/SimWorld.h"

SimWorld& SimWorld::Instance() {
    static SimWorld* world = new SimWorld();
    return *world;
}

HRESULT SimWorld::Enter(const char* operation) {
    if (!m_recording && !m_anyFailure) return S_OK;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_recording) {
        m_calls.emplace_back(operation);
        m_callThreads.push_back(GetCurrentThreadId());
    }
    auto counted = m_countedFailures.find(operation);
    if (counted != m_countedFailures.end() && --counted->second.remaining == 0) return counted->second.hr;
    auto found = m_failures.find(operation);
    return found == m_failures.end() ? S_OK : found->second;
}

void SimWorld::InjectFailure(const std::string& operation, HRESULT hr) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failures[operation] = hr;
    m_anyFailure = true;
}

void SimWorld::InjectFailureAt(const std::string& operation, int occurrence, HRESULT hr) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_countedFailures[operation] = CountedFailure{occurrence, hr};
    m_anyFailure = true;
}

void SimWorld::ClearFailures() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failures.clear();
    m_countedFailures.clear();
    m_anyFailure = false;
}

std::vector<std::string> SimWorld::Calls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

std::vector<std::string> SimWorld::CallsOn(DWORD threadId) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> calls;
    for (size_t i = 0; i < m_calls.size(); ++i) {
        if (m_callThreads[i] == threadId) calls.push_back(m_calls[i]);
    }
    return calls;
}

void SimWorld::ClearCalls() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
    m_callThreads.clear();
}
