// The simulated framework for one test, in the multithreaded apartment: registered on
// construction, with no control frames interleaved and no failures injected; everything put
// back as it was on destruction.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sim/SimObjects.h"

class SimSession {
public:
    SimSession() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_framework = std::make_unique<SimFramework>();
        EXPECT_TRUE(m_framework->Registered());
        m_controlFramesBefore = SimStack::controlFrameEvery;
        SimStack::controlFrameEvery = 0;
        SimWorld::Instance().ClearFailures();
    }
    ~SimSession() {
        SimWorld::Instance().ClearFailures();
        SimStack::controlFrameEvery = m_controlFramesBefore;
        m_framework.reset();
        CoUninitialize();
    }
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

private:
    std::unique_ptr<SimFramework> m_framework;
    int m_controlFramesBefore = 0;
};
