// The task allocator and its spy.
#include <gtest/gtest.h>

#include <cstring>

#include "support/CountingMallocSpy.h"

namespace {

class AllocatorTest : public testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(AllocatorTest, BlocksHoldTheirBytesAndGrow) {
    auto* block = static_cast<char*>(CoTaskMemAlloc(16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "0123456789abcde", 16);
    block = static_cast<char*>(CoTaskMemRealloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "0123456789abcde");
    CoTaskMemFree(block);
    CoTaskMemFree(nullptr);  // accepted and ignored
}

TEST_F(AllocatorTest, SpySeesEveryAllocationAndFree) {
    CountingMallocSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    EXPECT_EQ(CoRegisterMallocSpy(&spy), CO_E_OBJISREG);
    void* a = CoTaskMemAlloc(10);
    void* b = CoTaskMemAlloc(20);
    EXPECT_EQ(spy.Allocations(), 2);
    CoTaskMemFree(a);
    EXPECT_EQ(spy.Outstanding(), 1);
    CoTaskMemFree(b);
    EXPECT_EQ(spy.Outstanding(), 0);
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
    EXPECT_EQ(CoRevokeMallocSpy(), CO_E_OBJNOTREG);
}

TEST_F(AllocatorTest, RevokingWithBlocksOutstandingIsRefusedUntilTheyAreFreed) {
    CountingMallocSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    void* block = CoTaskMemAlloc(8);
    EXPECT_EQ(CoRevokeMallocSpy(), E_ACCESSDENIED);
    CoTaskMemFree(block);
    EXPECT_EQ(spy.Frees(), 1);
    // The spy went away with the last block: a new one can be registered.
    CountingMallocSpy next;
    EXPECT_EQ(CoRegisterMallocSpy(&next), S_OK);
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
}

TEST_F(AllocatorTest, GetMallocHandsOutTheTaskAllocator) {
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(1, &allocator), S_OK);
    void* block = allocator->Alloc(32);
    ASSERT_NE(block, nullptr);
    CoTaskMemFree(block);  // the same allocator behind both names
    allocator->Release();
}

}  // namespace
