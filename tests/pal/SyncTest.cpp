// Interlocked counters, critical sections and thread identity.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

namespace {

TEST(SyncTest, InterlockedCountersWrapAround) {
    LONG volatile value = 0x7FFFFFFF;
    EXPECT_EQ(InterlockedIncrement(&value), static_cast<LONG>(0x80000000u));
    EXPECT_EQ(InterlockedDecrement(&value), 0x7FFFFFFF);
    value = static_cast<LONG>(0x80000000u);
    EXPECT_EQ(InterlockedExchangeAdd(&value, -1), static_cast<LONG>(0x80000000u));
    EXPECT_EQ(value, 0x7FFFFFFF);
}

TEST(SyncTest, InterlockedOperationsReturnWhatWindowsReturns) {
    LONG volatile value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 7), 9);  // no match: unchanged
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 10), 1);
    EXPECT_EQ(value, 11);
}

TEST(SyncTest, CountersAndCriticalSectionsHoldUnderContention) {
    LONG volatile counter = 0;
    long guarded = 0;
    CRITICAL_SECTION lock;
    InitializeCriticalSection(&lock);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                InterlockedIncrement(&counter);
                EnterCriticalSection(&lock);
                EnterCriticalSection(&lock);  // the owner may enter again
                ++guarded;
                LeaveCriticalSection(&lock);
                LeaveCriticalSection(&lock);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    DeleteCriticalSection(&lock);
    EXPECT_EQ(counter, 80000);
    EXPECT_EQ(guarded, 80000);
}

TEST(SyncTest, ThreadsHaveDistinctIds) {
    const DWORD mine = GetCurrentThreadId();
    DWORD other = mine;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(other, mine);
    EXPECT_EQ(GetCurrentThreadId(), mine);
}

TEST(SyncTest, LastErrorIsPerThread) {
    SetLastError(1234);
    DWORD seenAtStart = 1;
    DWORD seenAfterSet = 0;
    std::thread([&] {
        seenAtStart = GetLastError();
        SetLastError(77);
        seenAfterSet = GetLastError();
    }).join();
    EXPECT_EQ(seenAtStart, 0u);
    EXPECT_EQ(seenAfterSet, 77u);
}

}  // namespace
