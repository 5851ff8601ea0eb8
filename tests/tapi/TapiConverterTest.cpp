// The TAPI converter with the simulated broker and telephony component, the component's class
// named in the registry (the real one under Wine, a private database on Linux).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <shlwapi.h>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "registry/CRegistryStore.h"
#include "sim/SimTapi.h"
#include "tapi/CTapiConverter.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

const char kComponentClass[] = "{3D2A6E51-0C7F-4B19-A8E2-5F9C1D7B0E34}";

class TapiConverterTest : public testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        m_database = "/tmp/zanthrop-tapi-test-" + std::to_string(getpid()) + ".db";
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
#endif
        ClearRegistry();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_framework = std::make_unique<SimFramework>();
        World().ClearFailures();
        World().ClearCalls();
        m_liveBefore = World().LiveObjects();
        m_lockCountBefore = ModuleLifetime::Count();
    }
    void TearDown() override {
        m_converter.Reset();
        m_framework.reset();
        World().ClearFailures();
        EXPECT_EQ(World().LiveObjects(), m_liveBefore) << "a framework object was leaked or released too often";
        EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore);
        CoUninitialize();
        ClearRegistry();
#ifndef _WIN32
        for (const char* suffix : {"", "-wal", "-shm"}) std::remove((m_database + suffix).c_str());
#endif
    }

    static SimWorld& World() { return SimWorld::Instance(); }
    static void ClearRegistry() { SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velsa\\Kestrix\\Components\\Ports\\Serial"); }
    static void ConfigureComponent(const char* text) {
        ASSERT_TRUE(CRegistryStore().WriteString(HKEY_LOCAL_MACHINE, kTapiComponentKey, kTapiComponentValue, text));
    }
    void MakeConverter() {
        ASSERT_EQ(CTapiConverter::CreateObject(nullptr, IID_IZTK_TapiConverter, m_converter.PutVoid()), S_OK);
    }
    static long CountCalls(const char* operation) {
        const std::vector<std::string> calls = World().Calls();
        return static_cast<long>(std::count(calls.begin(), calls.end(), operation));
    }

    std::string m_database;
    std::unique_ptr<SimFramework> m_framework;
    LONG m_liveBefore = 0;
    LONG m_lockCountBefore = 0;
    ComPtr<IZTK_TapiConverter> m_converter;
};

TEST_F(TapiConverterTest, WithoutAConfiguredComponentNothingIsAcquiredOrForwarded) {
    MakeConverter();
    EXPECT_EQ(m_converter->Create(), S_OK);
    EXPECT_EQ(CountCalls("IPortBroker::AcquireComponent"), 0);
    IZTK_EnumDevices* devices = reinterpret_cast<IZTK_EnumDevices*>(0x1234);
    EXPECT_EQ(m_converter->GetDevices(&devices), S_OK);
    EXPECT_EQ(devices, reinterpret_cast<IZTK_EnumDevices*>(0x1234));  // untouched
    EXPECT_EQ(m_converter->Destroy(), S_OK);
    EXPECT_EQ(CountCalls("IPortBroker::ReleaseComponent"), 1);  // still given back, with cookie 0
}

TEST_F(TapiConverterTest, ForwardsToTheComponentsPort) {
    ConfigureComponent(kComponentClass);
    MakeConverter();
    ASSERT_EQ(m_converter->Create(), S_OK);
    EXPECT_EQ(CountCalls("IPortBroker::AcquireComponent"), 1);

    ComPtr<IZTK_EnumDevices> devices;
    ASSERT_EQ(m_converter->GetDevices(devices.Put()), S_OK);
    std::vector<std::string> names;
    LPWSTR name = nullptr;
    while (devices->Next(&name) == S_OK) {
        names.push_back(ToAnsi(name));
        CoTaskMemFree(name);
    }
    EXPECT_EQ(names, SimTapiComponent::kDevices);

    ComPtr<IZTK_EnumCountries> countries;
    ASSERT_EQ(m_converter->GetCountries(countries.Put()), S_OK);
    LONG code = 0;
    ASSERT_EQ(countries->Next(&name, &code), S_OK);
    EXPECT_EQ(ToAnsi(name), "Germany");
    EXPECT_EQ(code, 49);
    CoTaskMemFree(name);

    std::basic_string<WCHAR> device = ToWide(SimTapiComponent::kDevices[0]);
    std::basic_string<WCHAR> settings = ToWide("BAUD=19200");
    EXPECT_EQ(m_converter->SetSettings(&device[0], &settings[0]), S_OK);
    LPWSTR read = nullptr;
    EXPECT_EQ(m_converter->GetSettings(&device[0], &read), S_OK);
    EXPECT_EQ(ToAnsi(read), "BAUD=19200");
    CoTaskMemFree(read);
    EXPECT_EQ(m_converter->Configure(&device[0], 0), S_OK);

    std::basic_string<WCHAR> unknown = ToWide("No Such Modem");
    EXPECT_EQ(m_converter->Configure(&unknown[0], 0), E_INVALIDARG);  // the port's failure comes back
    EXPECT_EQ(m_converter->GetSettings(&unknown[0], &read), E_INVALIDARG);
    EXPECT_EQ(m_converter->SetSettings(&unknown[0], &settings[0]), E_INVALIDARG);

    World().ClearCalls();
    EXPECT_EQ(m_converter->Configure(nullptr, 0), S_OK);  // no device: nothing forwarded
    EXPECT_EQ(m_converter->GetSettings(nullptr, &read), S_OK);
    EXPECT_EQ(m_converter->SetSettings(nullptr, &settings[0]), S_OK);
    EXPECT_TRUE(World().Calls().empty());

    devices.Reset();
    countries.Reset();
    EXPECT_EQ(m_converter->Destroy(), S_OK);
    EXPECT_EQ(CountCalls("IPortBroker::ReleaseComponent"), 1);
    EXPECT_EQ(m_converter->GetDevices(devices.Put()), S_OK);  // no port any more
    EXPECT_FALSE(devices);
    EXPECT_EQ(m_converter->Destroy(), S_OK);  // again: nothing held, given back again
    EXPECT_EQ(CountCalls("IPortBroker::ReleaseComponent"), 2);
}

TEST_F(TapiConverterTest, DestroyTracesTheCountThePortsReleaseReturned) {
    const std::string suffix = "ZanthropTapiTrace_" + std::to_string(GetCurrentThreadId());
    const std::string area = suffix + "_A", mutex = suffix + "_M", event = suffix + "_E";
    TraceReader reader;
    ASSERT_TRUE(reader.Create({area.c_str(), mutex.c_str(), event.c_str()}));
    reader.SetChannels("E");
    reader.SetOutput(true);
    trace_testing::Reattach({area.c_str(), mutex.c_str(), event.c_str()});

    MakeConverter();
    EXPECT_EQ(m_converter->Destroy(), S_OK);  // nothing held: count 0
    ConfigureComponent(kComponentClass);
    ASSERT_EQ(m_converter->Create(), S_OK);
    EXPECT_EQ(m_converter->Destroy(), S_OK);  // the table still holds the component until it is given back
    m_converter.Reset();
    EXPECT_EQ(reader.Take(), (std::vector<std::string>{"ERROR: CTapiConverter::Destroy() - TAPI Ref Count - [0]\n",
                                                        "ERROR: CTapiConverter::Destroy() - TAPI Ref Count - [1]\n",
                                                        "ERROR: CTapiConverter::~CTapiConverter()\n"}));
    const std::string gone = suffix + "_none";
    trace_testing::Reattach({gone.c_str(), gone.c_str(), gone.c_str()});
}

TEST_F(TapiConverterTest, AcquireFailureIsReturnedAndDestroyStillGivesBack) {
    ConfigureComponent(kComponentClass);
    MakeConverter();
    World().InjectFailure("IPortBroker::AcquireComponent", E_ACCESSDENIED);
    EXPECT_EQ(m_converter->Create(), E_ACCESSDENIED);
    World().ClearFailures();
    EXPECT_EQ(m_converter->Destroy(), S_OK);
    EXPECT_EQ(CountCalls("IPortBroker::ReleaseComponent"), 1);
}

TEST_F(TapiConverterTest, ReleasedWithoutDestroyGivesTheComponentBack) {
    ConfigureComponent(kComponentClass);
    MakeConverter();
    ASSERT_EQ(m_converter->Create(), S_OK);
    m_converter.Reset();
    EXPECT_EQ(CountCalls("IPortBroker::ReleaseComponent"), 1);
}

TEST_F(TapiConverterTest, ASecondCreateGivesBackWhatTheFirstTook) {
    ConfigureComponent(kComponentClass);
    MakeConverter();
    ASSERT_EQ(m_converter->Create(), S_OK);
    ASSERT_EQ(m_converter->Create(), S_OK);
    EXPECT_EQ(CountCalls("IPortBroker::AcquireComponent"), 2);
    EXPECT_EQ(CountCalls("IPortBroker::ReleaseComponent"), 1);
    EXPECT_EQ(m_converter->Destroy(), S_OK);
}

TEST_F(TapiConverterTest, AClassTextThatDoesNotParseIsLeftToTheBroker) {
    ConfigureComponent("not a class");
    MakeConverter();
    EXPECT_EQ(m_converter->Create(), S_OK);  // the simulated broker accepts any class
    EXPECT_EQ(CountCalls("IPortBroker::AcquireComponent"), 1);
    EXPECT_EQ(m_converter->Destroy(), S_OK);
}

TEST_F(TapiConverterTest, RefusesAggregationAndNeedsTheBroker) {
    ComPtr<IUnknown> outer;
    ASSERT_EQ(CTapiConverter::CreateObject(nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
    void* aggregated = reinterpret_cast<void*>(1);
    EXPECT_EQ(CTapiConverter::CreateObject(outer.Get(), IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);
    outer.Reset();

    m_framework.reset();  // no broker class registered any more
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CTapiConverter::CreateObject(nullptr, IID_IZTK_TapiConverter, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ModuleLifetime::Count(), m_lockCountBefore);
}

}  // namespace
