// The free-threaded marshaler aggregated into an outer object, and the global interface table
// holding such objects.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <initializer_list>
#include <functional>
#include <thread>

namespace {

constexpr IID kTestInterface = {0x9A2C5E71, 0x0B3D, 0x4F86, {0x91, 0x2E, 0x3D, 0x4C, 0x5B, 0x6A, 0x79, 0x08}};
constexpr IID kOtherInterface = {0x9A2C5E71, 0x0B3D, 0x4F86, {0x91, 0x2E, 0x3D, 0x4C, 0x5B, 0x6A, 0x79, 0x09}};

// An outer object answering IUnknown and kTestInterface; with routeMarshal it also answers
// IMarshal through the marshaler it aggregates, as a free-threaded object does. It counts its
// references and the QueryInterface calls that reach it, and never deletes itself.
class Outer final : public IUnknown {
public:
    explicit Outer(bool routeMarshal) : m_routeMarshal(routeMarshal) {}
    ~Outer() {
        if (marshaler != nullptr) marshaler->Release();
    }
    HRESULT Aggregate() { return CoCreateFreeThreadedMarshaler(this, &marshaler); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kTestInterface)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        if (m_routeMarshal && IsEqualIID(riid, IID_IMarshal) && marshaler != nullptr) {
            return marshaler->QueryInterface(riid, ppv);
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    ULONG Refs() const { return m_refs; }

    IUnknown* marshaler = nullptr;  // the inner object: one reference
    std::atomic<int> queries{0};

private:
    const bool m_routeMarshal;
    std::atomic<ULONG> m_refs{1};
};

// ---- free-threaded marshaler ----

TEST(FreeThreadedMarshalerTest, InnerUnknownIsItsOwnAndAnswersOnlyIUnknownAndIMarshal) {
    Outer outer(false);
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(&outer, &inner), S_OK);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(outer.Refs(), 1u);  // the inner object holds no reference to its outer one

    IUnknown* identity = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, inner);
    EXPECT_EQ(identity->Release(), 1u);

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(inner->QueryInterface(kTestInterface, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(outer.queries, 0);  // not asked

    IMarshal* marshal = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    ASSERT_NE(marshal, nullptr);
    EXPECT_NE(static_cast<void*>(marshal), static_cast<void*>(inner));
    EXPECT_EQ(outer.Refs(), 2u);  // IMarshal's reference is counted by the outer object
    marshal->Release();
    EXPECT_EQ(outer.Refs(), 1u);
    EXPECT_EQ(inner->Release(), 0u);  // gone (the sanitizers would see a leak or a reuse)
}

TEST(FreeThreadedMarshalerTest, IMarshalDelegatesIUnknownToTheOuterObject) {
    Outer outer(true);
    ASSERT_EQ(outer.Aggregate(), S_OK);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    ASSERT_NE(marshal, nullptr);
    EXPECT_EQ(outer.Refs(), 2u);

    EXPECT_EQ(marshal->AddRef(), 3u);
    EXPECT_EQ(marshal->Release(), 2u);
    IUnknown* identity = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    void* again = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_IMarshal, &again), S_OK);  // through the outer object
    EXPECT_EQ(again, static_cast<void*>(marshal));
    static_cast<IUnknown*>(again)->Release();
    EXPECT_EQ(marshal->DisconnectObject(0), S_OK);

    marshal->Release();
    EXPECT_EQ(outer.Refs(), 1u);
}

TEST(FreeThreadedMarshalerTest, WithoutAnOuterObjectItIsItsOwnOuter) {
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &inner), S_OK);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    IUnknown* identity = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, inner);
    identity->Release();
    EXPECT_EQ(marshal->Release(), 1u);
    EXPECT_EQ(inner->Release(), 0u);
}

// ---- global interface table ----

class GlobalInterfaceTableTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                                   reinterpret_cast<void**>(&table)),
                  S_OK);
        ASSERT_EQ(object.Aggregate(), S_OK);  // marshalable, as Windows requires of registered objects
    }
    void TearDown() override {
        if (table != nullptr) table->Release();
        CoUninitialize();
    }

    IGlobalInterfaceTable* table = nullptr;
    Outer object{true};
};

TEST_F(GlobalInterfaceTableTest, IsOneTableServedInProcessOnly) {
    IGlobalInterfaceTable* again = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_ALL, IID_IGlobalInterfaceTable,
                               reinterpret_cast<void**>(&again)),
              S_OK);
    EXPECT_EQ(again, table);
    again->Release();
    void* marshal = reinterpret_cast<void*>(1);
    EXPECT_EQ(table->QueryInterface(IID_IMarshal, &marshal), E_NOINTERFACE);
    EXPECT_EQ(marshal, nullptr);
    void* remote = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_LOCAL_SERVER, IID_IGlobalInterfaceTable, &remote),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(remote, nullptr);
}

TEST_F(GlobalInterfaceTableTest, EachCookieHoldsOneReference) {
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, kTestInterface, &first), S_OK);
    EXPECT_EQ(object.Refs(), 2u);
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, kTestInterface, &second), S_OK);
    EXPECT_EQ(object.Refs(), 3u);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);

    EXPECT_EQ(table->RevokeInterfaceFromGlobal(first), S_OK);
    EXPECT_EQ(object.Refs(), 2u);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(second), S_OK);
    EXPECT_EQ(object.Refs(), 1u);
}

TEST_F(GlobalInterfaceTableTest, GetReturnsTheObjectWithAnAddedReference) {
    DWORD cookie = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, kTestInterface, &cookie), S_OK);
    for (const IID* riid : {&kTestInterface, &IID_IUnknown}) {
        IUnknown* fetched = nullptr;
        ASSERT_EQ(table->GetInterfaceFromGlobal(cookie, *riid, reinterpret_cast<void**>(&fetched)), S_OK);
        EXPECT_EQ(fetched, static_cast<IUnknown*>(&object));
        EXPECT_EQ(object.Refs(), 3u);
        fetched->Release();
    }
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, kOtherInterface, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(object.Refs(), 2u);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
}

TEST_F(GlobalInterfaceTableTest, OtherApartmentsGetTheSameObject) {
    DWORD cookie = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, kTestInterface, &cookie), S_OK);
    for (bool ownApartment : {true, false}) {  // a single-threaded one, then the implicit MTA
        SCOPED_TRACE(ownApartment);
        std::thread([&] {
            if (ownApartment) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            IUnknown* fetched = nullptr;
            EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, kTestInterface, reinterpret_cast<void**>(&fetched)), S_OK);
            EXPECT_EQ(fetched, static_cast<IUnknown*>(&object));
            if (fetched != nullptr) fetched->Release();
            if (ownApartment) CoUninitialize();
        }).join();
    }
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
        CoUninitialize();
    }).join();
    EXPECT_EQ(object.Refs(), 1u);
}

TEST_F(GlobalInterfaceTableTest, FailuresLeaveReferencesAlone) {
    DWORD cookie = 77;
    EXPECT_EQ(table->RegisterInterfaceInGlobal(&object, kOtherInterface, &cookie), E_NOINTERFACE);
    EXPECT_EQ(table->RegisterInterfaceInGlobal(nullptr, kTestInterface, &cookie), E_INVALIDARG);
    EXPECT_EQ(object.Refs(), 1u);

    ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, kTestInterface, &cookie), S_OK);
    ASSERT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
    struct Case {
        const char* name;
        DWORD cookie;
    };
    const Case unknown[] = {{"revoked", cookie}, {"zero", 0}, {"never issued", 0xDEAD}};
    for (const Case& c : unknown) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(table->RevokeInterfaceFromGlobal(c.cookie), E_INVALIDARG);
        void* fetched = reinterpret_cast<void*>(1);
        EXPECT_EQ(table->GetInterfaceFromGlobal(c.cookie, kTestInterface, &fetched), E_INVALIDARG);
    }
    EXPECT_EQ(object.Refs(), 1u);
}

}  // namespace
