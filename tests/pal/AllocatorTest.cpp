// The task allocator and the spy protocol. Tests of other areas count blocks with a spy on both
// builds, so the callbacks a spy sees are checked one by one against what Windows does.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// Logs every callback. (A spy may refuse an allocation by answering 0 from PreAlloc; Wine then
// counts the refused block as outstanding for ever, so that case is not tested here.)
class RecordingSpy final : public IMallocSpy {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
            *ppv = static_cast<IMallocSpy*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cb) override {
        Log("PreAlloc(" + std::to_string(cb) + ")");
        return cb;
    }
    STDMETHODIMP_(void*) PostAlloc(void* p) override {
        Log(p != nullptr ? "PostAlloc" : "PostAlloc(null)");
        return p;
    }
    STDMETHODIMP_(void*) PreFree(void* p, BOOL spied) override {
        Log(std::string("PreFree") + Spied(spied));
        return p;
    }
    STDMETHODIMP_(void) PostFree(BOOL spied) override { Log(std::string("PostFree") + Spied(spied)); }
    STDMETHODIMP_(SIZE_T) PreRealloc(void* p, SIZE_T cb, void** ppNew, BOOL spied) override {
        Log(std::string("PreRealloc(") + (p != nullptr ? "p" : "null") + "," + std::to_string(cb) + ")" + Spied(spied));
        *ppNew = p;
        return cb;
    }
    STDMETHODIMP_(void*) PostRealloc(void* p, BOOL spied) override {
        Log(std::string(p != nullptr ? "PostRealloc" : "PostRealloc(null)") + Spied(spied));
        return p;
    }
    STDMETHODIMP_(void*) PreGetSize(void* p, BOOL spied) override {
        Log(std::string("PreGetSize") + Spied(spied));
        return p;
    }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cb, BOOL spied) override {
        Log("PostGetSize(" + std::to_string(cb) + ")" + Spied(spied));
        return cb;
    }
    STDMETHODIMP_(void*) PreDidAlloc(void* p, BOOL) override { return p; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    // The callbacks since the last call, in order.
    std::vector<std::string> Take() {
        std::vector<std::string> log;
        log.swap(m_log);
        return log;
    }
    ULONG Refs() const { return m_refs; }

private:
    static const char* Spied(BOOL spied) { return spied ? " spied" : " unspied"; }
    void Log(std::string entry) { m_log.push_back(std::move(entry)); }
    ULONG m_refs = 1;
    std::vector<std::string> m_log;
};

using Log = std::vector<std::string>;

class AllocatorTest : public testing::Test {
protected:
    void TearDown() override {
        HRESULT hr = CoRevokeMallocSpy();  // a failed test may leave its spy registered
        EXPECT_TRUE(hr == CO_E_OBJNOTREG || hr == S_OK) << std::hex << hr;
    }
};

TEST_F(AllocatorTest, BlocksKeepTheirBytesAcrossReallocation) {
    auto* block = static_cast<char*>(CoTaskMemAlloc(16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "0123456789abcde", 16);
    block = static_cast<char*>(CoTaskMemRealloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "0123456789abcde");
    block = static_cast<char*>(CoTaskMemRealloc(block, 4));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::memcmp(block, "0123", 4), 0);
    CoTaskMemFree(block);
}

TEST_F(AllocatorTest, EdgeSizesAndNullPointers) {
    void* empty = CoTaskMemAlloc(0);
    EXPECT_NE(empty, nullptr);  // a block, even of no bytes
    EXPECT_EQ(CoTaskMemRealloc(empty, 0), nullptr);  // frees it
    void* fresh = CoTaskMemRealloc(nullptr, 8);  // allocates
    ASSERT_NE(fresh, nullptr);
    CoTaskMemFree(fresh);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(CoTaskMemAlloc(static_cast<SIZE_T>(-1)), nullptr);
}

TEST_F(AllocatorTest, GetMallocServesTheTaskAllocatorOnly) {
    IMalloc* allocator = reinterpret_cast<IMalloc*>(1);
    for (DWORD context : {0u, 2u, 3u}) {
        EXPECT_EQ(CoGetMalloc(context, &allocator), E_INVALIDARG) << context;
        EXPECT_EQ(allocator, nullptr);
    }
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    void* block = allocator->Alloc(32);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocator->GetSize(block), 32u);
    EXPECT_EQ(allocator->GetSize(nullptr), static_cast<SIZE_T>(-1));
    EXPECT_EQ(allocator->DidAlloc(nullptr), -1);
    block = allocator->Realloc(block, 100);
    EXPECT_EQ(allocator->GetSize(block), 100u);
    CoTaskMemFree(block);  // one allocator behind both names
    allocator->Release();
}

TEST_F(AllocatorTest, RegisteringAndRevokingTheSpy) {
    RecordingSpy spy;
    EXPECT_EQ(CoRevokeMallocSpy(), CO_E_OBJNOTREG);
    EXPECT_EQ(CoRegisterMallocSpy(nullptr), E_INVALIDARG);
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    EXPECT_EQ(spy.Refs(), 2u);  // held while registered
    RecordingSpy other;
    EXPECT_EQ(CoRegisterMallocSpy(&other), CO_E_OBJISREG);
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
    EXPECT_EQ(spy.Refs(), 1u);
    EXPECT_EQ(other.Refs(), 1u);
}

TEST_F(AllocatorTest, SpySeesAllocationsAndFreesAndWhetherABlockIsItsOwn) {
    void* before = CoTaskMemAlloc(4);
    RecordingSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);

    void* block = CoTaskMemAlloc(5);
    EXPECT_EQ(spy.Take(), (Log{"PreAlloc(5)", "PostAlloc"}));
    CoTaskMemFree(before);
    EXPECT_EQ(spy.Take(), (Log{"PreFree unspied", "PostFree unspied"}));
    CoTaskMemFree(nullptr);
    EXPECT_EQ(spy.Take(), Log{});
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    EXPECT_EQ(allocator->GetSize(block), 5u);
    EXPECT_EQ(spy.Take(), (Log{"PreGetSize spied", "PostGetSize(5) spied"}));
    CoTaskMemFree(block);
    EXPECT_EQ(spy.Take(), (Log{"PreFree spied", "PostFree spied"}));
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
}

// (A null pointer is not reallocated under a spy here: Wine may report it as spied and then
// miscount its blocks for the rest of the process.)
TEST_F(AllocatorTest, ReallocationAlwaysYieldsASpiedBlock) {
    void* before = CoTaskMemAlloc(4);
    RecordingSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);

    before = CoTaskMemRealloc(before, 40);
    EXPECT_EQ(spy.Take(), (Log{"PreRealloc(p,40) unspied", "PostRealloc spied"}));
    before = CoTaskMemRealloc(before, 400);
    EXPECT_EQ(spy.Take(), (Log{"PreRealloc(p,400) spied", "PostRealloc spied"}));
    CoTaskMemFree(before);
    EXPECT_EQ(spy.Take(), (Log{"PreFree spied", "PostFree spied"}));
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
}

TEST_F(AllocatorTest, RevokingWaitsForTheSpiedBlocks) {
    RecordingSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    void* first = CoTaskMemAlloc(8);
    EXPECT_EQ(CoRevokeMallocSpy(), E_ACCESSDENIED);
    EXPECT_EQ(CoRevokeMallocSpy(), E_ACCESSDENIED);
    RecordingSpy next;
    EXPECT_EQ(CoRegisterMallocSpy(&next), CO_E_OBJISREG);  // the old one is still there
    spy.Take();

    void* second = CoTaskMemAlloc(6);  // still spied, and waited for
    EXPECT_EQ(spy.Take(), (Log{"PreAlloc(6)", "PostAlloc"}));
    CoTaskMemFree(first);
    EXPECT_EQ(spy.Take(), (Log{"PreFree spied", "PostFree spied"}));
    EXPECT_EQ(spy.Refs(), 2u);
    CoTaskMemFree(second);  // the last spied block: the spy goes with it
    EXPECT_EQ(spy.Take(), (Log{"PreFree spied", "PostFree spied"}));
    EXPECT_EQ(spy.Refs(), 1u);

    ASSERT_EQ(CoRegisterMallocSpy(&next), S_OK);
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
    EXPECT_EQ(next.Refs(), 1u);
}

}  // namespace
