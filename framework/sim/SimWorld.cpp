#include "sim/SimWorld.h"

SimWorld& SimWorld::Instance() {
    static SimWorld* world = new SimWorld();
    return *world;
}

HRESULT SimWorld::Enter(const char* operation) {
    if (!m_recording && !m_anyFailure) return S_OK;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_recording) m_calls.emplace_back(operation);
    auto found = m_failures.find(operation);
    return found == m_failures.end() ? S_OK : found->second;
}

void SimWorld::InjectFailure(const std::string& operation, HRESULT hr) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failures[operation] = hr;
    m_anyFailure = true;
}

void SimWorld::ClearFailures() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failures.clear();
    m_anyFailure = false;
}

std::vector<std::string> SimWorld::Calls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

void SimWorld::ClearCalls() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
}
