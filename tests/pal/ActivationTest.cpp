// Apartments and activation over in-process class registrations.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

namespace {

constexpr CLSID kTestClass = {0x6E0B3F2A, 0x41C7, 0x4D9E, {0x8A, 0x13, 0x5C, 0x2B, 0x7F, 0x90, 0xD4, 0x61}};
constexpr CLSID kUnknownClass = {0x6E0B3F2A, 0x41C7, 0x4D9E, {0x8A, 0x13, 0x5C, 0x2B, 0x7F, 0x90, 0xD4, 0x62}};
constexpr IID kTestInterface = {0x9A2C5E71, 0x0B3D, 0x4F86, {0x91, 0x2E, 0x3D, 0x4C, 0x5B, 0x6A, 0x79, 0x08}};
constexpr IID kOtherInterface = {0x9A2C5E71, 0x0B3D, 0x4F86, {0x91, 0x2E, 0x3D, 0x4C, 0x5B, 0x6A, 0x79, 0x09}};

void OnThread(const std::function<void()>& body) { std::thread(body).join(); }

// Answers IUnknown and kTestInterface; counts without deleting itself.
class TestObject final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kTestInterface)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    ULONG Refs() const { return m_refs; }

private:
    std::atomic<ULONG> m_refs{1};
};

// Hands out its one object, or fails with `result`; remembers the outer object it was given.
class TestFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        lastOuter = outer;
        if (FAILED(result)) {
            *ppv = nullptr;
            return result;
        }
        return object.QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    ULONG Refs() const { return m_refs; }

    HRESULT result = S_OK;
    IUnknown* lastOuter = nullptr;
    TestObject object;

private:
    std::atomic<ULONG> m_refs{1};
};

HRESULT Create(REFCLSID clsid, DWORD context = CLSCTX_INPROC_SERVER) {
    IUnknown* object = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, context, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object != nullptr) object->Release();
    return hr;
}

HRESULT Register(IUnknown* factory, DWORD* cookie, REFCLSID clsid = kTestClass, DWORD flags = REGCLS_MULTIPLEUSE) {
    return CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, flags, cookie);
}

// ---- apartments ----

TEST(ApartmentTest, NestingAndChangingTheKind) {
    struct Case {
        const char* name;
        DWORD first;
        DWORD second;
        HRESULT secondResult;
    };
    const Case cases[] = {
        {"MTA twice", COINIT_MULTITHREADED, COINIT_MULTITHREADED, S_FALSE},
        {"STA twice", COINIT_APARTMENTTHREADED, COINIT_APARTMENTTHREADED, S_FALSE},
        {"MTA then STA", COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED, RPC_E_CHANGED_MODE},
        {"STA then MTA", COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED, RPC_E_CHANGED_MODE},
        {"other flags keep the kind", COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE,
         COINIT_MULTITHREADED | COINIT_SPEED_OVER_MEMORY, S_FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnThread([&] {
            EXPECT_EQ(CoInitializeEx(nullptr, c.first), S_OK);
            EXPECT_EQ(CoInitializeEx(nullptr, c.second), c.secondResult);
            if (SUCCEEDED(c.secondResult)) CoUninitialize();  // a refused call is not counted
            CoUninitialize();
            // Left: the next call opens an apartment again, of either kind.
            EXPECT_EQ(CoInitializeEx(nullptr, c.second), S_OK);
            CoUninitialize();
        });
    }
}

TEST(ApartmentTest, CoInitializeIsSingleThreaded) {
    OnThread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
    });
}

TEST(ApartmentTest, ExtraUninitializeIsIgnored) {
    OnThread([] {
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

// No thread of the process is in an apartment here (each test leaves the ones it enters).
TEST(ApartmentTest, ActivationNeedsAnApartment) {
    TestFactory factory;
    DWORD cookie = 99;
    EXPECT_EQ(Register(&factory, &cookie), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoRevokeClassObject(1), CO_E_NOTINITIALIZED);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoGetClassObject(kTestClass, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Create(CLSID_StdGlobalInterfaceTable), CO_E_NOTINITIALIZED);
    EXPECT_EQ(Create(kUnknownClass, 0), CO_E_NOTINITIALIZED);  // before the context is looked at
    EXPECT_EQ(factory.Refs(), 1u);

    // Needing none: the allocator and the free-threaded marshaler.
    void* block = CoTaskMemAlloc(4);
    EXPECT_NE(block, nullptr);
    CoTaskMemFree(block);
    IUnknown* marshaler = nullptr;
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &marshaler), S_OK);
    if (marshaler != nullptr) marshaler->Release();
}

// ---- activation, in the multithreaded apartment ----

class ActivationTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ActivationTest, RegistrationHoldsAReferenceUntilRevoked) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(Register(&factory, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(factory.Refs(), 2u);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.Refs(), 1u);
    EXPECT_EQ(Create(kTestClass), REGDB_E_CLASSNOTREG);

    // Unknown cookies: E_INVALIDARG, although CO_E_OBJNOTREG is what Windows documents.
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    EXPECT_EQ(CoRevokeClassObject(0), E_INVALIDARG);
    EXPECT_EQ(CoRevokeClassObject(0x7FFF1234), E_INVALIDARG);
}

TEST_F(ActivationTest, RegistrationRefusesNullArguments) {
    TestFactory factory;
    DWORD cookie = 0;
    EXPECT_EQ(Register(nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(Register(&factory, nullptr), E_INVALIDARG);
    EXPECT_EQ(factory.Refs(), 1u);
}

TEST_F(ActivationTest, AClassIsRegisteredOncePerApartment) {
    TestFactory first;
    TestFactory second;
    DWORD cookie = 0;
    ASSERT_EQ(Register(&first, &cookie), S_OK);

    DWORD again = 99;
    EXPECT_EQ(Register(&second, &again, kTestClass, REGCLS_MULTIPLEUSE), S_OK);
    EXPECT_EQ(again, 0u);
    again = 99;
    EXPECT_EQ(Register(&second, &again, kTestClass, REGCLS_SINGLEUSE), CO_E_OBJISREG);
    EXPECT_EQ(again, 0u);
    EXPECT_EQ(second.Refs(), 1u);  // never held

    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(object, static_cast<IUnknown*>(&first.object));
    object->Release();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(ActivationTest, GetClassObjectHandsOutTheRegisteredObject) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(Register(&factory, &cookie), S_OK);

    IClassFactory* found = nullptr;
    ASSERT_EQ(CoGetClassObject(kTestClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&found)),
              S_OK);
    EXPECT_EQ(found, &factory);
    EXPECT_EQ(factory.Refs(), 3u);
    found->Release();

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoGetClassObject(kTestClass, CLSCTX_INPROC_SERVER, nullptr, kTestInterface, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(CoGetClassObject(kTestClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, nullptr), E_INVALIDARG);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.Refs(), 1u);
}

TEST_F(ActivationTest, CreateInstancePassesTheFactorysAnswerThrough) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(Register(&factory, &cookie), S_OK);
    TestObject outer;
    struct Case {
        const char* name;
        HRESULT factoryResult;
        IUnknown* outer;
        const IID* riid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"plain", S_OK, nullptr, &kTestInterface, S_OK},
        {"interface the object lacks", S_OK, nullptr, &kOtherInterface, E_NOINTERFACE},
        {"aggregation accepted by the factory", S_OK, &outer, &IID_IUnknown, S_OK},
        {"aggregation with another interface, checked by the factory alone", S_OK, &outer, &kTestInterface, S_OK},
        {"aggregation refused", CLASS_E_NOAGGREGATION, &outer, &IID_IUnknown, CLASS_E_NOAGGREGATION},
        {"factory failure", E_OUTOFMEMORY, nullptr, &IID_IUnknown, E_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        factory.result = c.factoryResult;
        factory.lastOuter = reinterpret_cast<IUnknown*>(1);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(kTestClass, c.outer, CLSCTX_INPROC_SERVER, *c.riid, &object), c.expected);
        EXPECT_EQ(factory.lastOuter, c.outer);
        if (SUCCEEDED(c.expected)) {
            EXPECT_EQ(object, static_cast<void*>(&factory.object));
            static_cast<IUnknown*>(object)->Release();
        } else {
            EXPECT_EQ(object, nullptr);
        }
    }
    EXPECT_EQ(factory.object.Refs(), 1u);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.Refs(), 1u);
}

TEST_F(ActivationTest, ContextDecidesWhichClassObjectsCount) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(Register(&factory, &cookie), S_OK);  // an in-process server
    struct Case {
        DWORD context;
        HRESULT registered;
        HRESULT unknown;
    };
    const Case cases[] = {
        {CLSCTX_INPROC_SERVER, S_OK, REGDB_E_CLASSNOTREG},
        {CLSCTX_ALL, S_OK, REGDB_E_CLASSNOTREG},
        {CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, S_OK, REGDB_E_CLASSNOTREG},
        {CLSCTX_INPROC_HANDLER, REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG},
        {CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG},
        {CLSCTX_REMOTE_SERVER, REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG},
        {0, E_UNEXPECTED, E_UNEXPECTED},
        {0x8, E_UNEXPECTED, E_UNEXPECTED},  // only bits outside CLSCTX_ALL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.context);
        EXPECT_EQ(Create(kTestClass, c.context), c.registered);
        EXPECT_EQ(Create(kUnknownClass, c.context), c.unknown);
    }
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(ActivationTest, ThreadsWithoutAnApartmentUseTheMultithreadedOne) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(Register(&factory, &cookie), S_OK);
    OnThread([&] {
        EXPECT_EQ(Create(kTestClass), S_OK);
        DWORD own = 0;
        TestFactory other;
        EXPECT_EQ(Register(&other, &own, kUnknownClass), S_OK);
        EXPECT_EQ(CoRevokeClassObject(own), S_OK);
        EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);  // any thread of the apartment may revoke
    });
    EXPECT_EQ(factory.Refs(), 1u);
}

TEST_F(ActivationTest, SingleThreadedApartmentsKeepTheirRegistrationsToThemselves) {
    TestFactory factory;
    std::promise<DWORD> registered;
    std::promise<void> checked;
    std::thread apartment([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        DWORD cookie = 0;
        EXPECT_EQ(Register(&factory, &cookie), S_OK);
        EXPECT_EQ(Create(kTestClass), S_OK);
        registered.set_value(cookie);
        checked.get_future().wait();
        CoUninitialize();  // leaving revokes the registration
    });
    const DWORD cookie = registered.get_future().get();
    EXPECT_EQ(Create(kTestClass), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(cookie), RPC_E_WRONG_THREAD);
    OnThread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(Create(kTestClass), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(CoRevokeClassObject(cookie), RPC_E_WRONG_THREAD);
        CoUninitialize();
    });
    checked.set_value();
    apartment.join();
    EXPECT_EQ(factory.Refs(), 1u);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
}

TEST(ApartmentTeardownTest, LeavingTheLastApartmentRevokesItsRegistrations) {
    struct Case {
        const char* name;
        DWORD coInit;
        bool uninitialize;  // else the thread just ends
    };
    const Case cases[] = {
        {"multithreaded", COINIT_MULTITHREADED, true},
        {"single-threaded", COINIT_APARTMENTTHREADED, true},
        {"single-threaded, thread ends", COINIT_APARTMENTTHREADED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFactory factory;
        OnThread([&] {
            ASSERT_EQ(CoInitializeEx(nullptr, c.coInit), S_OK);
            DWORD cookie = 0;
            EXPECT_EQ(Register(&factory, &cookie), S_OK);
            EXPECT_EQ(factory.Refs(), 2u);
            if (c.uninitialize) CoUninitialize();
        });
        EXPECT_EQ(factory.Refs(), 1u);
    }
}

}  // namespace
