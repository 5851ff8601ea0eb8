// The module as a component runtime sees it: loaded from its file, asked for class objects
// through its exported entry points, and asked whether it may be unloaded.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/ComPtr.h"
#include "interfaces/ZanthropIds.h"
#include "sim/SimObjects.h"
#include "support/ChildProcess.h"

namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// An exported function's address, to be cast to its real type.
void* Export(HMODULE module, const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }

class ModuleTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_framework = std::make_unique<SimFramework>();
        LoadModule();
    }
    // Loads the module (again: a module unloaded before starts afresh, without class objects).
    void LoadModule() {
        if (m_module != nullptr) FreeLibrary(m_module);
        const std::string exe = SiblingProgram("x");
        const std::string dir = exe.substr(0, exe.find_last_of("\\/") + 1);
#ifdef _WIN32
        m_module = LoadLibraryA((dir + "Zanthrop.dll").c_str());
#else
        m_module = LoadLibraryA((dir + "Zanthrop.so").c_str());
#endif
        ASSERT_NE(m_module, nullptr);
        m_getClassObject = reinterpret_cast<GetClassObjectFunction>(Export(m_module, "DllGetClassObject"));
        m_canUnloadNow = reinterpret_cast<CanUnloadNowFunction>(Export(m_module, "DllCanUnloadNow"));
        ASSERT_NE(m_getClassObject, nullptr);
        ASSERT_NE(m_canUnloadNow, nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(m_canUnloadNow(), S_OK) << "something still holds the module";
        FreeLibrary(m_module);
        m_framework.reset();
        CoUninitialize();
    }

    ComPtr<IClassFactory> ClassObject(REFCLSID clsid) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(m_getClassObject(clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
        return factory;
    }

    std::unique_ptr<SimFramework> m_framework;
    HMODULE m_module = nullptr;
    GetClassObjectFunction m_getClassObject = nullptr;
    CanUnloadNowFunction m_canUnloadNow = nullptr;
};

TEST_F(ModuleTest, ServesItsThreeClassesAndNoOther) {
    for (const CLSID* clsid : {&CLSID_CoZTK_ProtocolConverter, &CLSID_CoZTK_TapiConverter, &CLSID_CoZTK_TCPProtocolConverter}) {
        EXPECT_TRUE(ClassObject(*clsid));
    }
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_getClassObject(CLSID_CoEnumMessages, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(m_getClassObject(CLSID_PortBroker, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(m_getClassObject(CLSID_CoZTK_ProtocolConverter, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(m_getClassObject(CLSID_CoZTK_ProtocolConverter, IID_IZTK_ProtocolConverter, &object), E_NOINTERFACE);
}

TEST_F(ModuleTest, ClassObjectsRefuseBadRequestsAndKeepTheLockCount) {
    ComPtr<IClassFactory> factory = ClassObject(CLSID_CoZTK_ProtocolConverter);
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IZTK_ProtocolConverter, nullptr), E_POINTER);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IZanthropBase, &object), E_NOINTERFACE);  // made, then destroyed
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IZTK_ProtocolConverter, &object), E_NOINTERFACE);
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
    factory.Reset();
    EXPECT_EQ(m_canUnloadNow(), S_OK);  // no object of the failed requests lives on
}

TEST_F(ModuleTest, ClassObjectsAreCachedAndExtraReferencesHoldTheModule) {
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    ComPtr<IClassFactory> first = ClassObject(CLSID_CoZTK_ProtocolConverter);
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    ComPtr<IClassFactory> second = ClassObject(CLSID_CoZTK_ProtocolConverter);
    EXPECT_EQ(first.Get(), second.Get());
    second.Reset();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    first.Reset();
    EXPECT_EQ(m_canUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory = ClassObject(CLSID_CoZTK_TCPProtocolConverter);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    factory = ClassObject(CLSID_CoZTK_TCPProtocolConverter);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
}

TEST_F(ModuleTest, ThreadsAskingForTheSameClassAtOnceGetTheSameClassObject) {
    for (int round = 0; round < 20 && !HasFailure(); ++round) {
        LoadModule();  // a fresh module each round, so the racing threads make the class object
        void* objects[4] = {};
        std::vector<std::thread> threads;
        for (void*& object : objects) {
            threads.emplace_back([this, &object] {
                IClassFactory* factory = nullptr;
                if (SUCCEEDED(m_getClassObject(CLSID_CoZTK_TCPProtocolConverter, IID_IClassFactory,
                                               reinterpret_cast<void**>(&factory)))) {
                    object = factory;
                    factory->Release();
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        for (void* object : objects) EXPECT_EQ(object, objects[0]);
        EXPECT_NE(objects[0], nullptr);
    }
}

TEST_F(ModuleTest, ObjectsAndTheirEnumeratorsHoldTheModule) {
    ComPtr<IZTK_ProtocolConverter> converter;
    ASSERT_EQ(ClassObject(CLSID_CoZTK_ProtocolConverter)->CreateInstance(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid()),
              S_OK);
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    ComPtr<IEnumMessages> messages;
    LONG count = -1;
    ASSERT_EQ(converter->GetReceiveData(0, &count, messages.Put()), S_OK);
    converter.Reset();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);  // the enumerator lives on
    messages.Reset();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
}

TEST_F(ModuleTest, InterfacesAndAggregationRules) {
    ComPtr<IClassFactory> legacy = ClassObject(CLSID_CoZTK_ProtocolConverter);
    ComPtr<IUnknown> converter;
    ASSERT_EQ(legacy->CreateInstance(nullptr, IID_IUnknown, converter.PutVoid()), S_OK);
    void* base = reinterpret_cast<void*>(1);
    EXPECT_EQ(converter->QueryInterface(IID_IZanthropBase, &base), E_NOINTERFACE);
    EXPECT_EQ(base, nullptr);
    ComPtr<IMarshal> marshal;
    EXPECT_EQ(converter.As(&marshal), S_OK);
    ComPtr<IStackCallback> callback;
    EXPECT_EQ(converter.As(&callback), S_OK);

    // Aggregated: only IUnknown may be asked for; the inner unknown answers the converter's interfaces.
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(legacy->CreateInstance(converter.Get(), IID_IZTK_ProtocolConverter, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(legacy->CreateInstance(converter.Get(), IID_IUnknown, inner.PutVoid()), S_OK);
    ComPtr<IZTK_ProtocolConverter> innerConverter;
    EXPECT_EQ(inner.As(&innerConverter), S_OK);
    innerConverter.Reset();
    inner.Reset();
    marshal.Reset();
    callback.Reset();

    ComPtr<IClassFactory> tapi = ClassObject(CLSID_CoZTK_TapiConverter);
    EXPECT_EQ(tapi->CreateInstance(converter.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    ComPtr<IZTK_TapiConverter> tapiConverter;
    EXPECT_EQ(tapi->CreateInstance(nullptr, IID_IZTK_TapiConverter, tapiConverter.PutVoid()), S_OK);
}

TEST_F(ModuleTest, TapiConverterCannotBeCreatedWithoutTheBroker) {
    m_framework.reset();
    ComPtr<IZTK_TapiConverter> tapiConverter;
    EXPECT_EQ(ClassObject(CLSID_CoZTK_TapiConverter)->CreateInstance(nullptr, IID_IZTK_TapiConverter, tapiConverter.PutVoid()),
              REGDB_E_CLASSNOTREG);
    m_framework = std::make_unique<SimFramework>();
}

}  // namespace
