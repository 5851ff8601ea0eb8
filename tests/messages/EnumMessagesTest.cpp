// The received-message queue: order, refusals, empty reads, shared readers, and ownership of
// every frame buffer and record, proven by counting allocations.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "com/ComPtr.h"
#include "messages/CEnumMessages.h"
#include "support/CountingMallocSpy.h"

// Live blocks of the C++ free store in this program, to show that queue records are freed; and
// a budget of allocations after which the free store fails, to show what the queue does then.
// The replacements below pair malloc with free themselves; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<long> liveNewBlocks{0};
static std::atomic<long> allocationBudget{-1};  // -1: unlimited

static void* AllocateBlock(std::size_t size) {
    long budget = allocationBudget.load();
    while (budget >= 0) {
        if (budget == 0) return nullptr;
        if (allocationBudget.compare_exchange_weak(budget, budget - 1)) break;
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) ++liveNewBlocks;
    return block;
}

void* operator new(std::size_t size) {
    void* block = AllocateBlock(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateBlock(size); }
static void FreeBlock(void* block) {
    if (block != nullptr) --liveNewBlocks;
    std::free(block);
}
void operator delete(void* block) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }

namespace {

// Lets the next `allowed` allocations of the free store succeed and fails every later one, for
// one scope.
class AllocationBudget {
public:
    explicit AllocationBudget(long allowed) { allocationBudget = allowed; }
    ~AllocationBudget() { allocationBudget = -1; }
};

BYTE* Frame(const char* text) {
    const size_t size = std::strlen(text);
    auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(size));
    std::memcpy(buffer, text, size);
    return buffer;
}

std::string Take(IEnumMessages* messages) {
    LONG size = -1;
    BYTE* data = nullptr;
    if (messages->Next(&size, &data) != S_OK) return "<none>";
    std::string text(reinterpret_cast<char*>(data), static_cast<size_t>(size));
    CoTaskMemFree(data);
    return text;
}

class EnumMessagesTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(CEnumMessages::MakeObject(&m_raw), S_OK);
        m_queue.Attach(m_raw);
    }
    void TearDown() override {
        m_queue.Reset();
        CoUninitialize();
    }
    CEnumMessages* m_raw = nullptr;
    ComPtr<IEnumMessages> m_queue;
};

TEST_F(EnumMessagesTest, EmptyQueueFailsAndWritesNothing) {
    LONG size = 77;
    BYTE* data = reinterpret_cast<BYTE*>(0x1234);
    EXPECT_EQ(m_queue->Next(&size, &data), E_FAIL);
    EXPECT_EQ(size, 77);
    EXPECT_EQ(data, reinterpret_cast<BYTE*>(0x1234));

    ASSERT_TRUE(m_raw->push(3, Frame("one")));
    EXPECT_EQ(Take(m_queue.Get()), "one");
    EXPECT_EQ(m_queue->Next(&size, &data), E_FAIL);  // drained
    EXPECT_EQ(size, 77);
}

TEST_F(EnumMessagesTest, FramesComeOutInPushOrder) {
    for (const char* text : {"alpha", "beta", "gamma"}) {
        ASSERT_TRUE(m_raw->push(static_cast<LONG>(std::strlen(text)), Frame(text)));
    }
    EXPECT_EQ(m_raw->count(), 3);
    EXPECT_EQ(Take(m_queue.Get()), "alpha");
    EXPECT_EQ(Take(m_queue.Get()), "beta");
    EXPECT_EQ(Take(m_queue.Get()), "gamma");
    EXPECT_EQ(m_raw->count(), 0);
}

TEST_F(EnumMessagesTest, RefusesEmptyFramesWithoutTakingThem) {
    BYTE byte = 1;
    const struct {
        LONG size;
        BYTE* data;
    } refused[] = {{4, nullptr}, {0, &byte}, {-1, &byte}, {-2147483647 - 1, &byte}};
    for (const auto& c : refused) {
        EXPECT_FALSE(m_raw->push(c.size, c.data));
    }
    EXPECT_EQ(m_raw->count(), 0);
    EXPECT_EQ(byte, 1);
}

// When the queue cannot grow, push refuses the frame, which stays the caller's, and the queue
// keeps what it had, in order.
TEST_F(EnumMessagesTest, PushRefusedWhenTheQueueCannotGrow) {
    constexpr int kFrames = 1000;
    std::vector<BYTE*> frames;
    for (int i = 0; i < kFrames; ++i) {
        frames.push_back(static_cast<BYTE*>(CoTaskMemAlloc(sizeof(int))));
        std::memcpy(frames.back(), &i, sizeof(int));
    }
    int accepted = 0;
    {
        AllocationBudget budget(0);
        while (accepted < kFrames && m_raw->push(sizeof(int), frames[accepted])) ++accepted;
    }
    ASSERT_LT(accepted, kFrames);
    EXPECT_EQ(m_raw->count(), accepted);
    int refused = -1;
    std::memcpy(&refused, frames[accepted], sizeof(int));  // still the caller's, untouched
    EXPECT_EQ(refused, accepted);

    for (int i = accepted; i < kFrames; ++i) ASSERT_TRUE(m_raw->push(sizeof(int), frames[i]));
    bool ordered = true;
    for (int i = 0; i < kFrames; ++i) {
        LONG size = 0;
        BYTE* data = nullptr;
        ASSERT_EQ(m_queue->Next(&size, &data), S_OK);
        int value = -1;
        std::memcpy(&value, data, sizeof(int));
        CoTaskMemFree(data);
        ordered = ordered && size == static_cast<LONG>(sizeof(int)) && value == i;
    }
    EXPECT_TRUE(ordered);
    EXPECT_EQ(m_raw->count(), 0);
}

TEST_F(EnumMessagesTest, TwoReferencesReadTheSameQueue) {
    ComPtr<IEnumMessages> other;
    ASSERT_EQ(m_queue.As(&other), S_OK);
    ASSERT_TRUE(m_raw->push(1, Frame("a")));
    ASSERT_TRUE(m_raw->push(1, Frame("b")));
    EXPECT_EQ(Take(other.Get()), "a");
    EXPECT_EQ(Take(m_queue.Get()), "b");
    EXPECT_EQ(Take(other.Get()), "<none>");
}

TEST_F(EnumMessagesTest, AnswersIEnumMessagesOnly) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(m_queue.As(&unknown), S_OK);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_queue->QueryInterface(IID_IZTK_ProtocolConverter, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST(EnumMessagesLifetimeTest, ReleasingTheLastReferenceFreesQueuedFramesAndRecords) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ScopedMallocSpy spy;
    ASSERT_TRUE(spy.Registered());
    const LONG lockCountBefore = ModuleLifetime::Count();
    const long newBlocksBefore = liveNewBlocks;

    CEnumMessages* queue = nullptr;
    ASSERT_EQ(CEnumMessages::MakeObject(&queue), S_OK);
    const LONG lockCountAlive = ModuleLifetime::Count();
    bool allPushed = true;
    // Enough frames to need more than one block of the queue's storage.
    constexpr int kFrames = 100;
    for (int i = 0; i < kFrames; ++i) allPushed = queue->push(8, static_cast<BYTE*>(CoTaskMemAlloc(8))) && allPushed;
    const long framesOutstanding = spy.Spy().Outstanding();
    LONG size = 0;
    BYTE* taken = nullptr;
    const HRESULT next = queue->Next(&size, &taken);  // the reader's from here on
    const long newBlocksWithFrames = liveNewBlocks;
    queue->Release();
    const long newBlocksAfter = liveNewBlocks;
    const long outstandingAfterRelease = spy.Spy().Outstanding();
    CoTaskMemFree(taken);

    EXPECT_TRUE(allPushed);
    EXPECT_EQ(next, S_OK);
    EXPECT_EQ(lockCountAlive, lockCountBefore + 1);  // a live queue keeps the module loaded
    EXPECT_EQ(framesOutstanding, kFrames);
    EXPECT_GT(newBlocksWithFrames, newBlocksBefore);  // the object and the queue's storage
    EXPECT_EQ(outstandingAfterRelease, 1);             // every queued frame but the one taken
    EXPECT_EQ(spy.Spy().Outstanding(), 0);
    EXPECT_EQ(newBlocksAfter, newBlocksBefore);
    EXPECT_EQ(ModuleLifetime::Count(), lockCountBefore);
    CoUninitialize();
}

// Every allocation that creation makes may fail in turn: each failure is E_OUTOFMEMORY, with
// nothing left allocated and the module's lock count as it was.
TEST(EnumMessagesLifetimeTest, CreationFailsCleanlyAtEveryAllocation) {
    struct Attempt {
        HRESULT hr;
        CEnumMessages* queue;
        LONG lockCount;
        long newBlocks;
    };
    std::vector<Attempt> attempts;
    attempts.reserve(64);
    const LONG lockCountBefore = ModuleLifetime::Count();
    const long newBlocksBefore = liveNewBlocks;
    for (long allowed = 0; allowed < 64; ++allowed) {
        Attempt attempt{};
        {
            AllocationBudget budget(allowed);
            attempt.hr = CEnumMessages::MakeObject(&attempt.queue);
        }
        attempt.lockCount = ModuleLifetime::Count();
        attempt.newBlocks = liveNewBlocks;
        attempts.push_back(attempt);
        if (attempt.hr == S_OK) break;
    }

    ASSERT_EQ(attempts.back().hr, S_OK);
    ASSERT_GE(attempts.size(), 2u);  // the object's own allocation at least could fail
    for (size_t i = 0; i + 1 < attempts.size(); ++i) {
        EXPECT_EQ(attempts[i].hr, E_OUTOFMEMORY) << "failing allocation " << i;
        EXPECT_EQ(attempts[i].queue, nullptr) << "failing allocation " << i;
        EXPECT_EQ(attempts[i].lockCount, lockCountBefore) << "failing allocation " << i;
        EXPECT_EQ(attempts[i].newBlocks, newBlocksBefore) << "failing allocation " << i;
    }
    attempts.back().queue->Release();
    EXPECT_EQ(ModuleLifetime::Count(), lockCountBefore);
}

TEST_F(EnumMessagesTest, ConcurrentPushersLoseNothingAndKeepTheirOrder) {
    constexpr int kThreads = 4;
    constexpr int kFrames = 5000;
    std::vector<std::thread> pushers;
    for (int t = 0; t < kThreads; ++t) {
        pushers.emplace_back([this, t] {
            for (int i = 0; i < kFrames; ++i) {
                auto* frame = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(int) * 2));
                const int header[2] = {t, i};
                std::memcpy(frame, header, sizeof(header));
                m_raw->push(sizeof(header), frame);
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int received = 0;
    bool ordered = true;
    while (received < kThreads * kFrames) {
        LONG size = 0;
        BYTE* data = nullptr;
        if (m_queue->Next(&size, &data) != S_OK) {
            std::this_thread::yield();
            continue;
        }
        int header[2];
        std::memcpy(header, data, sizeof(header));
        CoTaskMemFree(data);
        ordered = ordered && header[1] == next[header[0]];
        next[header[0]] = header[1] + 1;
        ++received;
    }
    for (auto& pusher : pushers) pusher.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(m_raw->count(), 0);
}

}  // namespace
