// The shared IUnknown implementation: interface table, reference counting, module lock count,
// the creation sequence and aggregation; and the smart pointer on a real object.
#include <gtest/gtest.h>

#include <new>
#include <thread>
#include <vector>

#include "com/ComObject.h"
#include "com/ComPtr.h"

namespace {

// A two-interface test class; its construction, FinalConstruct's result and FinalRelease are
// steerable per test.
struct Steering {
    bool constructorThrows = false;
    HRESULT finalConstructResult = S_OK;
    bool finalReleaseTouchesSelf = false;
    int finalReleases = 0;
    int destructions = 0;
};
Steering steering;

// A member that allocates, as a queue's container does, and can be made to fail.
struct AllocatingMember {
    AllocatingMember() {
        if (steering.constructorThrows) throw std::bad_alloc();
    }
};

class CTestObject final : public ComObject<CTestObject, Counting::Atomic, IZTK_TapiConverter, IEnumMessages> {
public:
    ~CTestObject() { ++steering.destructions; }
    HRESULT FinalConstruct() {
        // References handed out and given back during construction must not destroy the object.
        ComPtr<IUnknown> self(ControllingUnknown());
        return steering.finalConstructResult;
    }
    void FinalRelease() {
        ++steering.finalReleases;
        // Nor must references taken and given back during final release destroy it twice.
        if (steering.finalReleaseTouchesSelf) ComPtr<IUnknown> self(ControllingUnknown());
    }

    STDMETHODIMP Create() override { return S_OK; }
    STDMETHODIMP Destroy() override { return S_OK; }
    STDMETHODIMP Configure(LPWSTR, LONG) override { return S_OK; }
    STDMETHODIMP GetSettings(LPWSTR, LPWSTR*) override { return S_OK; }
    STDMETHODIMP SetSettings(LPWSTR, LPWSTR) override { return S_OK; }
    STDMETHODIMP GetDevices(IZTK_EnumDevices**) override { return S_OK; }
    STDMETHODIMP GetCountries(IZTK_EnumCountries**) override { return S_OK; }
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }

private:
    AllocatingMember m_member;
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
    EXPECT_EQ(CTestObject::CreateObject(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComObjectTest, LastReleaseRunsFinalReleaseThenDestroysOnce) {
    for (const bool touchesSelf : {false, true}) {
        steering = Steering{};
        steering.finalReleaseTouchesSelf = touchesSelf;
        IZTK_TapiConverter* object = nullptr;
        ASSERT_EQ(CTestObject::CreateObject(nullptr, IID_IZTK_TapiConverter, reinterpret_cast<void**>(&object)), S_OK);
        EXPECT_EQ(object->AddRef(), 2u);
        EXPECT_EQ(object->Release(), 1u);
        EXPECT_EQ(steering.destructions, 0);
        EXPECT_EQ(object->Release(), 0u);
        EXPECT_EQ(steering.finalReleases, 1) << "touches itself: " << touchesSelf;
        EXPECT_EQ(steering.destructions, 1) << "touches itself: " << touchesSelf;
    }
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
        {S_FALSE, &IID_IZTK_TapiConverter, S_FALSE},  // only S_OK lets creation go on
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

TEST_F(ComObjectTest, ThrowingConstructionIsOutOfMemoryAndUncounted) {
    steering.constructorThrows = true;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CTestObject::CreateObject(nullptr, IID_IUnknown, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    CTestObject* made = reinterpret_cast<CTestObject*>(1);
    EXPECT_EQ(CTestObject::MakeObject(&made), E_OUTOFMEMORY);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore);
    EXPECT_EQ(steering.finalReleases, 0);  // nothing was constructed to release
}

// A minimal outer object that aggregates a CTestObject. A forwarding outer passes every
// interface it does not implement itself to the inner object; a non-forwarding one answers
// IUnknown only.
class Outer final : public IUnknown {
public:
    explicit Outer(bool forwards = true) : m_forwards(forwards) {
        m_hr = CTestObject::CreateObject(this, IID_IUnknown, m_inner.PutVoid());
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (m_forwards) return m_inner->QueryInterface(riid, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    bool m_forwards;
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

TEST_F(ComObjectTest, InnerUnknownIsNonDelegating) {
    Outer outer;
    ASSERT_EQ(outer.m_hr, S_OK);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(outer.m_inner.As(&inner), S_OK);
    EXPECT_EQ(inner.Get(), outer.m_inner.Get());  // IUnknown through the inner unknown is the inner unknown
    EXPECT_NE(inner.Get(), static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.m_refs, 1u);  // its count is the inner object's own

    ComPtr<IZTK_TapiConverter> tapi;
    ASSERT_EQ(outer.m_inner.As(&tapi), S_OK);  // other interfaces come from the table...
    EXPECT_EQ(outer.m_refs, 2u);               // ...and count on the controlling unknown
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(outer.m_inner->QueryInterface(IID_IZanthropBase, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(outer.m_inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComObjectTest, InnerInterfacesFallBackToTheirOwnTableWhenTheControllerDoesNotAnswer) {
    Outer outer(/*forwards=*/false);
    ASSERT_EQ(outer.m_hr, S_OK);
    ComPtr<IEnumMessages> messages;
    ASSERT_EQ(outer.m_inner.As(&messages), S_OK);
    ComPtr<IZTK_TapiConverter> tapi;
    EXPECT_EQ(messages.As(&tapi), S_OK);
    EXPECT_EQ(outer.m_refs, 3u);  // both references count on the controlling unknown
    ComPtr<IUnknown> identity;
    ASSERT_EQ(tapi.As(&identity), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));  // the controller still answers IUnknown
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(tapi->QueryInterface(IID_IZanthropBase, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
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

// An apartment-threaded class that refuses aggregation and counts plainly.
class CApartmentObject final : public ComObject<CApartmentObject, Counting::Plain, IEnumMessages> {
public:
    static constexpr bool kAggregatable = false;
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }
};

// An object that is not part of the module (as the simulated framework's are).
class COutsideObject final : public ComObject<COutsideObject, Counting::Atomic, IEnumMessages> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }
};

TEST_F(ComObjectTest, CountingPolicyAggregationAndModuleCountPerClass) {
    ComPtr<IEnumMessages> apartment;
    ASSERT_EQ(CApartmentObject::CreateObject(nullptr, IID_IEnumMessages, apartment.PutVoid()), S_OK);
    EXPECT_EQ(apartment->AddRef(), 2u);
    EXPECT_EQ(apartment->Release(), 1u);
    EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore + 1);

    void* aggregated = reinterpret_cast<void*>(1);
    EXPECT_EQ(CApartmentObject::CreateObject(apartment.Get(), IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);

    ComPtr<IEnumMessages> outside;
    ASSERT_EQ(COutsideObject::CreateObject(nullptr, IID_IEnumMessages, outside.PutVoid()), S_OK);
    EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore + 1);  // the apartment object's only
}

// A class that aggregates the free-threaded marshaler and answers IMarshal through it, as the
// protocol converters do.
class CMarshalingObject final : public ComObject<CMarshalingObject, Counting::Atomic, IEnumMessages> {
public:
    ~CMarshalingObject() { ++steering.destructions; }
    HRESULT FinalConstruct() { return CoCreateFreeThreadedMarshaler(ControllingUnknown(), m_marshaler.Put()); }
    void FinalRelease() { m_marshaler.Reset(); }
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IMarshal) && m_marshaler) return m_marshaler->QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }

private:
    ComPtr<IUnknown> m_marshaler;  // the marshaler's inner unknown
};

TEST_F(ComObjectTest, ForwardsIMarshalToTheAggregatedMarshaler) {
    ComPtr<IEnumMessages> object;
    ASSERT_EQ(CMarshalingObject::CreateObject(nullptr, IID_IEnumMessages, object.PutVoid()), S_OK);
    ComPtr<IMarshal> marshal;
    ASSERT_EQ(object.As(&marshal), S_OK);
    ComPtr<IUnknown> viaMarshal, viaObject;
    ASSERT_EQ(marshal.As(&viaMarshal), S_OK);
    ASSERT_EQ(object.As(&viaObject), S_OK);
    EXPECT_EQ(viaMarshal.Get(), viaObject.Get());  // the marshaler shares the object's identity
    ComPtr<IEnumMessages> back;
    EXPECT_EQ(marshal.As(&back), S_OK);
    EXPECT_EQ(back.Get(), object.Get());
    EXPECT_EQ(object->AddRef(), 6u);  // every reference taken through the marshaler counts on the object
    object->Release();

    marshal.Reset();
    viaMarshal.Reset();
    viaObject.Reset();
    back.Reset();
    object.Reset();
    EXPECT_EQ(steering.destructions, 1);
}

TEST(ModuleLifetimeTest, CountBalancesAcrossThreads) {
    const LONG before = ModuleLifetime::Count();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 10000; ++i) {
                ModuleLifetime::Lock();
                ModuleLifetime::Unlock();
            }
            ModuleLifetime::Lock();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(ModuleLifetime::Count(), before + 4);
    for (int t = 0; t < 4; ++t) ModuleLifetime::Unlock();
    EXPECT_EQ(ModuleLifetime::Count(), before);
}

}  // namespace
