// The shared IUnknown implementation: interface table, reference counting, module lock count,
// the creation sequence and aggregation; and the smart pointer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "com/HResult.h"

namespace {

// A two-interface test class; FinalConstruct's result and calls are steerable per test.
struct Steering {
    HRESULT finalConstructResult = S_OK;
    int finalReleases = 0;
    int destructions = 0;
};
Steering steering;

class CTestObject final : public ComObject<CTestObject, Counting::Atomic, IZTK_TapiConverter, IEnumMessages> {
public:
    ~CTestObject() { ++steering.destructions; }
    HRESULT FinalConstruct() {
        // References handed out and given back during construction must not destroy the object.
        ComPtr<IUnknown> self(ControllingUnknown());
        return steering.finalConstructResult;
    }
    void FinalRelease() { ++steering.finalReleases; }

    STDMETHODIMP Create() override { return S_OK; }
    STDMETHODIMP Destroy() override { return S_OK; }
    STDMETHODIMP Configure(LPWSTR, LONG) override { return S_OK; }
    STDMETHODIMP GetSettings(LPWSTR, LPWSTR*) override { return S_OK; }
    STDMETHODIMP SetSettings(LPWSTR, LPWSTR) override { return S_OK; }
    STDMETHODIMP GetDevices(IZTK_EnumDevices**) override { return S_OK; }
    STDMETHODIMP GetCountries(IZTK_EnumCountries**) override { return S_OK; }
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }
};

class ComObjectTest : public testing::Test {
protected:
    void SetUp() override {
        steering = Steering{};
        m_lockCountBefore = ModuleLifetime::Count();
    }
    void TearDown() override { EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore); }
    LONG m_lockCountBefore = 0;
};

TEST_F(ComObjectTest, AnswersItsInterfacesAndIUnknownAsIdentity) {
    ComPtr<IZTK_TapiConverter> object;
    ASSERT_EQ(CTestObject::CreateObject(nullptr, IID_IZTK_TapiConverter, object.PutVoid()), S_OK);
    EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore + 1);

    ComPtr<IEnumMessages> second;
    EXPECT_EQ(object.As(&second), S_OK);
    ComPtr<IUnknown> viaFirst, viaSecond;
    ASSERT_EQ(object.As(&viaFirst), S_OK);
    ASSERT_EQ(second.As(&viaSecond), S_OK);
    EXPECT_EQ(viaFirst.Get(), viaSecond.Get());
    EXPECT_EQ(viaFirst.Get(), static_cast<IUnknown*>(object.Get()));

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IZanthropBase, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IEnumMessages, nullptr), E_POINTER);
}

TEST_F(ComObjectTest, LastReleaseRunsFinalReleaseThenDestroys) {
    IZTK_TapiConverter* object = nullptr;
    ASSERT_EQ(CTestObject::CreateObject(nullptr, IID_IZTK_TapiConverter, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(steering.destructions, 0);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(steering.finalReleases, 1);
    EXPECT_EQ(steering.destructions, 1);
}

struct CreationFailure {
    HRESULT finalConstruct;
    const IID* requested;
    HRESULT expected;
};

TEST_F(ComObjectTest, FailedCreationDestroysTheObjectAndReturnsTheFailure) {
    const CreationFailure cases[] = {
        {E_OUTOFMEMORY, &IID_IZTK_TapiConverter, E_OUTOFMEMORY},
        {E_ACCESSDENIED, &IID_IUnknown, E_ACCESSDENIED},
        {S_OK, &IID_IZanthropBase, E_NOINTERFACE},
    };
    for (const CreationFailure& c : cases) {
        steering = Steering{};
        steering.finalConstructResult = c.finalConstruct;
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CTestObject::CreateObject(nullptr, *c.requested, &object), c.expected);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(steering.finalReleases, 1);
        EXPECT_EQ(steering.destructions, 1);
        EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore);
    }
}

// A minimal outer object that aggregates a CTestObject.
class Outer final : public IUnknown {
public:
    Outer() { m_hr = CTestObject::CreateObject(this, IID_IUnknown, m_inner.PutVoid()); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    HRESULT m_hr;
    ULONG m_refs = 1;
    ComPtr<IUnknown> m_inner;
};

TEST_F(ComObjectTest, AggregatedObjectDelegatesToItsController) {
    {
        Outer outer;
        ASSERT_EQ(outer.m_hr, S_OK);
        ComPtr<IEnumMessages> messages;
        ASSERT_EQ(outer.QueryInterface(IID_IEnumMessages, messages.PutVoid()), S_OK);
        EXPECT_EQ(outer.m_refs, 2u);  // the inner interface counts on the outer object

        ComPtr<IUnknown> identity;
        ASSERT_EQ(messages->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
        EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
        identity.Reset();
        messages.Reset();
        EXPECT_EQ(outer.m_refs, 1u);
        EXPECT_EQ(steering.destructions, 0);
    }
    EXPECT_EQ(steering.destructions, 1);  // the outer's reference on the inner unknown was the last
}

TEST_F(ComObjectTest, AggregationAsksForIUnknownOnly) {
    Outer outer;
    outer.m_inner.Reset();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CTestObject::CreateObject(&outer, IID_IZTK_TapiConverter, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComObjectTest, AtomicCountSurvivesConcurrentUse) {
    ComPtr<IEnumMessages> object;
    ASSERT_EQ(CTestObject::CreateObject(nullptr, IID_IEnumMessages, object.PutVoid()), S_OK);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                ComPtr<IEnumMessages> copy = object;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(object->AddRef(), 2u);
    object->Release();
}

TEST_F(ComObjectTest, ComPtrHoldsExactlyOneReference) {
    CTestObject* raw = nullptr;
    ASSERT_EQ(CTestObject::MakeObject(&raw), S_OK);
    ComPtr<IEnumMessages> first;
    first.Attach(raw);  // takes over Make's reference
    {
        ComPtr<IEnumMessages> copy = first;
        EXPECT_EQ(first->AddRef(), 3u);
        first->Release();
        ComPtr<IEnumMessages> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(first->AddRef(), 3u);
        first->Release();
    }
    IEnumMessages* out = nullptr;
    first.CopyTo(&out);
    EXPECT_EQ(out->Release(), 1u);
    IEnumMessages* detached = first.Detach();
    EXPECT_FALSE(first);
    EXPECT_EQ(steering.destructions, 0);
    detached->Release();
    EXPECT_EQ(steering.destructions, 1);
}

HRESULT FailsAtSecondStep(int* steps) {
    RETURN_IF_FAILED((++*steps, S_OK));
    RETURN_IF_FAILED((++*steps, E_ACCESSDENIED));
    ++*steps;
    return S_OK;
}

TEST(HResultTest, ReturnIfFailedStopsAtTheFirstFailure) {
    int steps = 0;
    EXPECT_EQ(FailsAtSecondStep(&steps), E_ACCESSDENIED);
    EXPECT_EQ(steps, 2);
}

}  // namespace
