// Named shared memory, mutexes and events, waits and handles: the contracts the trace facility
// and the converters rely on, checked on both builds.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

namespace {

// Names unique to this process and test, so parallel test programs never meet.
std::string UniqueName(const char* what) {
    return std::string("ZanthropTest_") + what + "_" + std::to_string(GetCurrentThreadId()) + "_" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
}

TEST(FileMappingTest, OpenFindsOnlyExistingAreasAndViewsShareBytes) {
    const std::string name = UniqueName("area");
    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE opened = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);

    auto* writer = static_cast<char*>(MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    auto* reader = static_cast<char*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader[4095], 0);  // new areas are zero-filled
    std::strcpy(writer + 100, "shared");
    EXPECT_STREQ(reader + 100, "shared");

    // A view outlives the handle it came from.
    EXPECT_TRUE(CloseHandle(opened));
    EXPECT_STREQ(reader + 100, "shared");
    EXPECT_TRUE(UnmapViewOfFile(reader));
    EXPECT_TRUE(UnmapViewOfFile(writer));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(created));

    // Gone with its last handle.
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
}

TEST(EventTest, AutomaticResetReleasesOneWaitAndTimesOut) {
    const std::string name = UniqueName("event");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);

    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(SetEvent(opened));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // reset by the wait

    std::thread setter([opened] {
        Sleep(20);
        SetEvent(opened);
    });
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(opened);
    CloseHandle(event);
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, UniqueName("manual").c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(EventTest, OpeningAMissingEventFails) {
    SetLastError(0);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, UniqueName("missing").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(MutexTest, OwnerMayEnterAgainOthersWait) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, UniqueName("mutex").c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    DWORD seenByOther = 0;
    std::thread([&] { seenByOther = WaitForSingleObject(mutex, 20); }).join();
    EXPECT_EQ(seenByOther, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    BOOL releasedByOther = TRUE;
    std::thread([&] { releasedByOther = ReleaseMutex(mutex); }).join();
    EXPECT_FALSE(releasedByOther);  // not its owner
    CloseHandle(mutex);
}

TEST(MutexTest, AThreadThatEndsHoldingTheMutexLeavesItAbandoned) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not model a robust mutex passing from a dead owner";
#endif
    HANDLE mutex = CreateMutexA(nullptr, FALSE, UniqueName("abandoned").c_str());
    ASSERT_NE(mutex, nullptr);
    std::thread([mutex] { WaitForSingleObject(mutex, INFINITE); }).join();  // ends without releasing
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // consistent again
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(MutexTest, CreatingAnExistingMutexOpensItOpeningAMissingOneFails) {
    const std::string name = UniqueName("named");
    SetLastError(0);
    EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE first = CreateMutexA(nullptr, TRUE, name.c_str());  // owned by this thread from the start
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE second = CreateMutexA(nullptr, TRUE, name.c_str());  // exists: opened, ownership not asked again
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    DWORD seenByOther = 0;
    std::thread([&] { seenByOther = WaitForSingleObject(second, 0); }).join();
    EXPECT_EQ(seenByOther, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(second));  // one entry: the initial ownership
    EXPECT_FALSE(ReleaseMutex(first));
    std::thread([&] {
        seenByOther = WaitForSingleObject(first, 0);
        ReleaseMutex(first);
    }).join();
    EXPECT_EQ(seenByOther, WAIT_OBJECT_0);
    CloseHandle(second);
    CloseHandle(first);
}

TEST(HandleTest, ClosedForeignAndWrongKindsOfHandlesAreRefused) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    int notAHandle = 0;
    for (HANDLE handle : {event, static_cast<HANDLE>(&notAHandle), static_cast<HANDLE>(nullptr)}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetEvent(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(mutex));  // a mutex is no event
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MapViewOfFile(mutex, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(mutex));
}

// While one thread keeps making and dropping the last handle of a named object, another opens it
// twice: both of its handles must reach the same object, never one that is going away.
TEST(NamedObjectTest, ReopeningWhileTheLastHandleClosesNeverSplitsTheObject) {
    const std::string name = UniqueName("churn");
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            HANDLE handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
            if (handle != nullptr) CloseHandle(handle);
        }
    });
    int failures = 0;
    for (int i = 0; i < 1500 && failures == 0; ++i) {
        HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
        HANDLE opened = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
        auto* first = created != nullptr ? static_cast<volatile int*>(MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
        auto* second = opened != nullptr ? static_cast<volatile int*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
        if (first == nullptr || second == nullptr) {
            ++failures;
        } else {
            first[0] = i + 1;
            if (second[0] != i + 1) ++failures;
        }
        if (first != nullptr) UnmapViewOfFile(const_cast<int*>(first));
        if (second != nullptr) UnmapViewOfFile(const_cast<int*>(second));
        if (opened != nullptr) CloseHandle(opened);
        if (created != nullptr) CloseHandle(created);
    }
    stop = true;
    churn.join();
    EXPECT_EQ(failures, 0);
}

// Other processes: one that is ended while it holds a mutex, one that is ended while it waits.
class KernelProcessTest : public testing::Test {
protected:
    KernelProcessTest() : m_ready(CreateEventA(nullptr, FALSE, FALSE, m_readyName.c_str())) {}
    ~KernelProcessTest() override { CloseHandle(m_ready); }

    ChildProcess Start(const char* mode, const std::string& object) {
        return ChildProcess(SiblingProgram("pal_kernel_child"), {mode, object, m_readyName});
    }
    bool ChildReady() { return WaitForSingleObject(m_ready, 30000) == WAIT_OBJECT_0; }

    std::string m_readyName = UniqueName("ready");
    HANDLE m_ready;
};

TEST_F(KernelProcessTest, AProcessEndedHoldingTheMutexLeavesItAbandonedToTheNextWaiter) {
    const std::string name = UniqueName("mutex");
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    ChildProcess child = Start("hold-mutex", name);
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(ChildReady());
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);  // the child holds it
    child.Kill();
    EXPECT_EQ(WaitForSingleObject(mutex, 30000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    DWORD seenByOther = 0;
    std::thread([&] {
        seenByOther = WaitForSingleObject(mutex, 0);
        ReleaseMutex(mutex);
    }).join();
    EXPECT_EQ(seenByOther, WAIT_OBJECT_0);  // an ordinary mutex again
    CloseHandle(mutex);
}

TEST_F(KernelProcessTest, AProcessEndedWhileWaitingLeavesTheEventUsable) {
    const std::string name = UniqueName("event");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    ChildProcess child = Start("wait-event", name);
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(ChildReady());
    Sleep(100);  // into its wait
    child.Kill();
    for (int round = 0; round < 3; ++round) {
        DWORD seen = WAIT_FAILED;
        std::thread waiter([&] { seen = WaitForSingleObject(event, 30000); });
        Sleep(20);
        EXPECT_TRUE(SetEvent(event));  // must neither block nor be spent on the dead waiter
        waiter.join();
        EXPECT_EQ(seen, WAIT_OBJECT_0) << "round " << round;
    }
    CloseHandle(event);
}

TEST_F(KernelProcessTest, AnObjectGoesWithItsLastHolderEvenWhenThatProcessIsEnded) {
    const std::string name = UniqueName("area");
    ChildProcess child = Start("make-area", name);
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(ChildReady());
    HANDLE whileAlive = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(whileAlive, nullptr);
    EXPECT_TRUE(CloseHandle(whileAlive));
    child.Kill();
    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    auto* bytes = static_cast<char*>(MapViewOfFile(fresh, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0], 0);  // a new area, not the ended process's
    UnmapViewOfFile(bytes);
    CloseHandle(fresh);
}

TEST(ClockTest, CounterIsMonotonicAndFrequencyUsable) {
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_GE(frequency.QuadPart, 1000);
    LARGE_INTEGER first{}, second{};
    QueryPerformanceCounter(&first);
    Sleep(5);
    QueryPerformanceCounter(&second);
    EXPECT_GE((second.QuadPart - first.QuadPart) * 1000 / frequency.QuadPart, 4);
}

TEST(ModulePathTest, ExecutablePathEndsWithTheProgramName) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::string text(path, length);
    EXPECT_NE(text.find("pal_kernel_tests"), std::string::npos) << text;

    char small[4] = {};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 4u);  // cut: callers cannot rely on a NUL
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
