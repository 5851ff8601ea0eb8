// A private corner of the registry for one test. Under Windows (Wine) it is a key of the test's
// own below HKEY_CURRENT_USER\Software\ZanthropTests and HKEY_LOCAL_MACHINE\SOFTWARE\ZanthropTests,
// removed before and after the test. On Linux the whole registry is a fresh database file,
// named by ZANTHROP_REGISTRY, which child processes inherit.
#pragma once

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

class TestRegistry {
public:
    TestRegistry() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        for (char& c : name) {
            if (c == '/' || c == '\\') c = '_';
        }
        m_base = "Software\\ZanthropTests\\" + name;
        m_machineBase = "SOFTWARE\\ZanthropTests\\" + name;
#ifndef _WIN32
        m_database = "/tmp/zanthrop-registry-" + std::to_string(getpid()) + "-" + name + ".db";
        RemoveDatabase();
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
#endif
        RemoveKeys();
    }
    ~TestRegistry() {
        RemoveKeys();
#ifndef _WIN32
        RemoveDatabase();
#endif
    }
    TestRegistry(const TestRegistry&) = delete;
    TestRegistry& operator=(const TestRegistry&) = delete;

    // The test's key below HKEY_CURRENT_USER, and a path below it.
    const std::string& Base() const { return m_base; }
    std::string Key(const std::string& relative) const { return m_base + "\\" + relative; }
    // The test's key below HKEY_LOCAL_MACHINE.
    const std::string& MachineBase() const { return m_machineBase; }
    const std::string& Database() const { return m_database; }

private:
    void RemoveKeys() {
        SHDeleteKeyA(HKEY_CURRENT_USER, m_base.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, m_machineBase.c_str());
    }
#ifndef _WIN32
    void RemoveDatabase() {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((m_database + suffix).c_str());
    }
#endif

    std::string m_base;
    std::string m_machineBase;
    std::string m_database;
};

// A key handle closed with its scope.
class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle() { Close(); }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* Put() {
        Close();
        return &m_key;
    }
    HKEY Get() const { return m_key; }
    HKEY Release() {
        HKEY key = m_key;
        m_key = nullptr;
        return key;
    }
    void Close() {
        if (m_key != nullptr) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};
