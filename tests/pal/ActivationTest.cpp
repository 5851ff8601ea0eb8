// In-process activation, the global interface table and the free-threaded marshaler.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>

namespace {

constexpr CLSID kTestClass = {0x6E0B3F2A, 0x41C7, 0x4D9E, {0x8A, 0x13, 0x5C, 0x2B, 0x7F, 0x90, 0xD4, 0x61}};
constexpr CLSID kUnknownClass = {0x6E0B3F2A, 0x41C7, 0x4D9E, {0x8A, 0x13, 0x5C, 0x2B, 0x7F, 0x90, 0xD4, 0x62}};
constexpr IID kTestInterface = {0x9A2C5E71, 0x0B3D, 0x4F86, {0x91, 0x2E, 0x3D, 0x4C, 0x5B, 0x6A, 0x79, 0x08}};

std::atomic<int> liveObjects{0};

// A plain object answering kTestInterface (as IUnknown), optionally aggregating the
// free-threaded marshaler.
class TestObject final : public IUnknown {
public:
    explicit TestObject(bool withMarshaler) {
        ++liveObjects;
        if (withMarshaler) CoCreateFreeThreadedMarshaler(this, &m_marshaler);
    }
    ~TestObject() {
        if (m_marshaler != nullptr) m_marshaler->Release();
        --liveObjects;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kTestInterface)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IMarshal) && m_marshaler != nullptr) return m_marshaler->QueryInterface(riid, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }
    ULONG Refs() const { return m_refs; }

private:
    std::atomic<ULONG> m_refs{1};
    IUnknown* m_marshaler = nullptr;
};

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
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new TestObject(false);
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    ULONG Refs() const { return m_refs; }

private:
    std::atomic<ULONG> m_refs{1};
};

class ActivationTest : public testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(liveObjects, 0);
    }
};

TEST_F(ActivationTest, RegisteredClassesAreCreatedThroughTheirFactory) {
    TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kTestClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    EXPECT_GT(factory.Refs(), 1u);  // the registration holds a reference

    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kTestInterface, reinterpret_cast<void**>(&object)), S_OK);
    ASSERT_NE(object, nullptr);
    object->Release();

    IUnknown* aggregated = reinterpret_cast<IUnknown*>(1);
    TestObject outer(false);
    EXPECT_EQ(CoCreateInstance(kTestClass, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);

    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.Refs(), 1u);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
}

TEST_F(ActivationTest, UnknownClassIsNotRegistered) {
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ActivationTest, GlobalInterfaceTableHoldsAReferencePerCookie) {
    IGlobalInterfaceTable* table = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                               reinterpret_cast<void**>(&table)),
              S_OK);
    auto* object = new TestObject(true);  // free-threaded, so the table hands out the object itself
    DWORD cookie = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(object, kTestInterface, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);

    IUnknown* fetched = nullptr;
    ASSERT_EQ(table->GetInterfaceFromGlobal(cookie, kTestInterface, reinterpret_cast<void**>(&fetched)), S_OK);
    EXPECT_EQ(fetched, static_cast<IUnknown*>(object));
    fetched->Release();

    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(object->Refs(), 1u);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
    fetched = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, kTestInterface, reinterpret_cast<void**>(&fetched)), E_INVALIDARG);
    object->Release();
    table->Release();
}

TEST_F(ActivationTest, FreeThreadedMarshalerAnswersIMarshalForItsOuterObject) {
    auto* object = new TestObject(true);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    ASSERT_NE(marshal, nullptr);
    EXPECT_EQ(object->Refs(), 2u);  // the marshaler's IUnknown methods act on the outer object

    IUnknown* identity = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(object));
    identity->Release();
    marshal->Release();
    EXPECT_EQ(object->Refs(), 1u);
    object->Release();
}

TEST_F(ActivationTest, FreeThreadedMarshalerInnerUnknownIsNotDelegating) {
    TestObject* outer = new TestObject(false);
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(outer, &inner), S_OK);
    IUnknown* innerIdentity = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerIdentity)), S_OK);
    EXPECT_EQ(innerIdentity, inner);
    innerIdentity->Release();
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(inner->QueryInterface(kTestInterface, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(outer->Refs(), 1u);
    EXPECT_EQ(inner->Release(), 0u);
    outer->Release();
}

}  // namespace
