// Every framework call a converter makes, failed in turn. For each operation of the object (the
// steps below) a clean run records the calls the operation makes on the caller's thread; then
// each recorded call is failed alone (its n-th occurrence) and the object's life is finished.
// Each round checks the HRESULT (the injected one, or the documented one where the code ignores
// a result), and that afterwards every simulated framework object, every module lock and every
// task-allocator block is given back. Deriving the calls from a recorded run keeps the sweep
// complete when an operation starts calling something new.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <shlwapi.h>

#include "com/ComPtr.h"
#include "com/ModuleLifetime.h"
#include "com/TextConversion.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "registry/CRegistryStore.h"
#include "sim/SimObjects.h"
#include "sim/SimTapi.h"
#include "support/CountingMallocSpy.h"
#include "support/SimSession.h"
#include "tapi/CTapiConverter.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using Calls = std::vector<std::string>;

SimWorld& World() { return SimWorld::Instance(); }

// One failure of a round: the call, which of its occurrences, and what the step must return.
struct Injection {
    std::string operation;
    int occurrence;
};

// The calls of a recorded run, each with its occurrence number.
std::vector<Injection> InjectionsOf(const Calls& calls) {
    std::vector<Injection> injections;
    std::map<std::string, int> seen;
    for (const std::string& call : calls) injections.push_back({call, ++seen[call]});
    return injections;
}

HRESULT InjectedResult(size_t round) { return static_cast<HRESULT>(0x80042000u + round); }

// --- protocol converters ---

template <class Converter>
class ConverterFaultTest : public testing::Test {
protected:
    // The object's state when a step runs, the step itself, and the results the code documents
    // for calls whose failure it ignores.
    struct Step {
        const char* name;
        std::function<void(ConverterFaultTest&)> prepare;
        std::function<HRESULT(ConverterFaultTest&)> run;
        std::map<std::string, HRESULT> ignored;  // operation -> what the step returns when it fails
        bool destroys;                           // the step is Destroy: nothing finishes after it
    };


    // A fresh converter, factory and configuration for one round.
    void Begin() {
        m_liveBefore = World().LiveObjects();
        m_locksBefore = ModuleLifetime::Count();
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make("[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:5;[ADDRESS]IPADDR:10.0.0.1;");
        m_sink = SimDeviceConfig::Make("");
        ASSERT_EQ(Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, m_converter.PutVoid()), S_OK);
        ASSERT_EQ(m_converter.As(&m_callback), S_OK);
    }

    // Lets go of everything; the framework takes apart what a failed Destroy left to it (its
    // factory deletes its stacks, its broker forgets its ports). Then nothing may be left.
    void End(bool destroyed) {
        if (!destroyed) {
            EXPECT_EQ(m_converter->Destroy(), S_OK) << "Destroy cleans up after any failure";
            EXPECT_EQ(SimBroker::RegisteredPorts(), 0u) << "Destroy left a port registered";
        }
        m_callback.Reset();
        m_converter.Reset();
        m_factory.Reset();
        m_config.Reset();
        m_sink.Reset();
        SimBroker::ForgetPorts();
        EXPECT_EQ(World().LiveObjects(), m_liveBefore) << "a framework object was leaked or released too often";
        EXPECT_EQ(ModuleLifetime::Count(), m_locksBefore) << "a converter or queue outlived its references";
    }

    HRESULT Create() {
        const std::basic_string<WCHAR> event = ToWide("ZanthropFaultTest"), name = ToWide("LEGACY");
        return m_converter->Create(reinterpret_cast<USHORT*>(const_cast<WCHAR*>(event.c_str())),
                                   reinterpret_cast<USHORT*>(const_cast<WCHAR*>(name.c_str())), m_factory.Get(),
                                   m_config.Get(), m_sink.Get());
    }
    SimStack* Stack() { return static_cast<SimStackFactory*>(m_factory.Get())->LastStack(); }

    static std::vector<Step> Steps() {
        const auto created = [](ConverterFaultTest& t) { ASSERT_EQ(t.Create(), S_OK); };
        return {
            {"Create", [](ConverterFaultTest&) {}, [](ConverterFaultTest& t) { return t.Create(); }, {}, false},
            {"Destroy", created, [](ConverterFaultTest& t) { return t.m_converter->Destroy(); },
             {{"IProtocolStack::Unadvise", S_OK}}, true},
            {"Send", created,
             [](ConverterFaultTest& t) {
                 BYTE data[] = {'p', 'i', 'n', 'g'};
                 BYTE options[] = {'o', 'p'};
                 return t.m_converter->Send(1, 0, 500, sizeof(data), data, sizeof(options), options);
             },
             {}, false},
            {"ConnectPort",
             [](ConverterFaultTest& t) {
                 ASSERT_EQ(t.Create(), S_OK);
                 ASSERT_EQ(t.m_callback->DisconnectPort(), S_OK);
             },
             [](ConverterFaultTest& t) { return t.m_callback->ConnectPort(t.Stack()); }, {}, false},
            {"DisconnectPort", created, [](ConverterFaultTest& t) { return t.m_callback->DisconnectPort(); }, {}, false},
            {"Receive", created,
             [](ConverterFaultTest& t) {
                 const BYTE frame[] = {'d', 'a', 't', 'a'};
                 ComPtr<IPortMessage> message = SimPortMessage::Make(frame, sizeof(frame));
                 return t.m_callback->Receive(message.Get());
             },
             {}, false},
            {"CompareConfiguration", created,
             [](ConverterFaultTest& t) {
                 const std::basic_string<WCHAR> candidate = ToWide("[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;");
                 LONG same = 0;
                 return t.m_callback->CompareConfiguration(candidate.c_str(), &same);
             },
             {}, false},
        };
    }

    SimSession m_session;
    LONG m_liveBefore = 0;
    LONG m_locksBefore = 0;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
    ComPtr<IZTK_DeviceConfig> m_sink;
    ComPtr<IZTK_ProtocolConverter> m_converter;
    ComPtr<IStackCallback> m_callback;
};

using Converters = testing::Types<CProtocolConverter, CTCPProtocolConverter>;
TYPED_TEST_SUITE(ConverterFaultTest, Converters);

TYPED_TEST(ConverterFaultTest, EveryFrameworkCallOfEveryStepFailsCleanly) {
    for (const auto& step : this->Steps()) {
        SCOPED_TRACE(step.name);
        // The clean run: what the step calls on this thread (the stack's own thread answers Send).
        Calls calls;
        {
            ScopedMallocSpy spy;
            ASSERT_TRUE(spy.Registered());
            this->Begin();
            step.prepare(*this);
            World().ClearCalls();
            ASSERT_EQ(step.run(*this), S_OK);
            calls = World().CallsOn(GetCurrentThreadId());
            this->End(step.destroys);
            EXPECT_EQ(spy.Spy().Outstanding(), 0) << "a task-allocator block was not freed";
        }
        ASSERT_FALSE(calls.empty());

        const std::vector<Injection> injections = InjectionsOf(calls);
        for (size_t round = 0; round < injections.size(); ++round) {
            const Injection& injection = injections[round];
            SCOPED_TRACE(injection.operation + " #" + std::to_string(injection.occurrence));
            ScopedMallocSpy spy;
            this->Begin();
            step.prepare(*this);
            const HRESULT injected = InjectedResult(round);
            World().InjectFailureAt(injection.operation, injection.occurrence, injected);
            const auto ignored = step.ignored.find(injection.operation);
            EXPECT_EQ(step.run(*this), ignored == step.ignored.end() ? injected : ignored->second);
            World().ClearFailures();
            this->End(step.destroys);
            EXPECT_EQ(spy.Spy().Outstanding(), 0) << "a task-allocator block was not freed";
        }
    }
}

// --- TAPI converter ---

const char kComponentClass[] = "{3D2A6E51-0C7F-4B19-A8E2-5F9C1D7B0E34}";

class TapiFaultTest : public testing::Test {
protected:
    struct Step {
        const char* name;
        bool created;  // the step runs on a converter whose Create succeeded
        std::function<HRESULT(IZTK_TapiConverter*)> run;
        std::map<std::string, HRESULT> ignored;
    };

    void SetUp() override {
#ifndef _WIN32
        m_database = "/tmp/zanthrop-fault-test-" + std::to_string(getpid()) + ".db";
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
#endif
        ClearRegistry();
        ASSERT_TRUE(CRegistryStore().WriteString(HKEY_LOCAL_MACHINE, kTapiComponentKey, kTapiComponentValue, kComponentClass));
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_framework = std::make_unique<SimFramework>();
        World().ClearFailures();
    }
    void TearDown() override {
        World().ClearFailures();
        m_framework.reset();
        CoUninitialize();
        ClearRegistry();
#ifndef _WIN32
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((m_database + suffix).c_str());
#endif
    }
    static void ClearRegistry() { SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velsa\\Kestrix\\Components\\Ports\\Serial"); }

    void Begin() {
        m_liveBefore = World().LiveObjects();
        m_locksBefore = ModuleLifetime::Count();
        ASSERT_EQ(CTapiConverter::CreateObject(nullptr, IID_IZTK_TapiConverter, m_converter.PutVoid()), S_OK);
    }
    // A second Destroy gives the component back again: after a failed give-back it is the one
    // that succeeds. Then the converter goes and nothing may be left.
    void End() {
        EXPECT_EQ(m_converter->Destroy(), S_OK);
        m_converter.Reset();
        EXPECT_EQ(World().LiveObjects(), m_liveBefore) << "a component was leaked or released too often";
        EXPECT_EQ(ModuleLifetime::Count(), m_locksBefore);
    }

    static std::vector<Step> Steps() {
        static std::basic_string<WCHAR> device = ToWide(SimTapiComponent::kDevices[0]);
        static std::basic_string<WCHAR> settings = ToWide("BAUD=9600");
        return {
            {"Create", false, [](IZTK_TapiConverter* c) { return c->Create(); }, {}},
            {"Destroy", true, [](IZTK_TapiConverter* c) { return c->Destroy(); }, {{"IPortBroker::ReleaseComponent", S_OK}}},
            {"Configure", true, [](IZTK_TapiConverter* c) { return c->Configure(&device[0], 0); }, {}},
            {"GetSettings", true,
             [](IZTK_TapiConverter* c) {
                 LPWSTR text = nullptr;
                 const HRESULT hr = c->GetSettings(&device[0], &text);
                 CoTaskMemFree(text);
                 return hr;
             },
             {}},
            {"SetSettings", true, [](IZTK_TapiConverter* c) { return c->SetSettings(&device[0], &settings[0]); }, {}},
            {"GetDevices", true,
             [](IZTK_TapiConverter* c) {
                 ComPtr<IZTK_EnumDevices> devices;
                 return c->GetDevices(devices.Put());
             },
             {}},
            {"GetCountries", true,
             [](IZTK_TapiConverter* c) {
                 ComPtr<IZTK_EnumCountries> countries;
                 return c->GetCountries(countries.Put());
             },
             {}},
        };
    }

    void Prepare(const Step& step) {
        Begin();
        if (step.created) {
            ASSERT_EQ(m_converter->Create(), S_OK);
        }
    }

    std::string m_database;
    std::unique_ptr<SimFramework> m_framework;
    LONG m_liveBefore = 0;
    LONG m_locksBefore = 0;
    ComPtr<IZTK_TapiConverter> m_converter;
};

TEST_F(TapiFaultTest, EveryFrameworkCallOfEveryStepFailsCleanly) {
    for (const Step& step : Steps()) {
        SCOPED_TRACE(step.name);
        Calls calls;
        {
            ScopedMallocSpy spy;
            ASSERT_TRUE(spy.Registered());
            Prepare(step);
            World().ClearCalls();
            ASSERT_EQ(step.run(m_converter.Get()), S_OK);
            calls = World().CallsOn(GetCurrentThreadId());
            End();
            EXPECT_EQ(spy.Spy().Outstanding(), 0);
        }
        ASSERT_FALSE(calls.empty());

        const std::vector<Injection> injections = InjectionsOf(calls);
        for (size_t round = 0; round < injections.size(); ++round) {
            const Injection& injection = injections[round];
            SCOPED_TRACE(injection.operation + " #" + std::to_string(injection.occurrence));
            ScopedMallocSpy spy;
            Prepare(step);
            const HRESULT injected = InjectedResult(round);
            World().InjectFailureAt(injection.operation, injection.occurrence, injected);
            const auto ignored = step.ignored.find(injection.operation);
            EXPECT_EQ(step.run(m_converter.Get()), ignored == step.ignored.end() ? injected : ignored->second);
            World().ClearFailures();
            End();
            EXPECT_EQ(spy.Spy().Outstanding(), 0) << "a task-allocator block was not freed";
        }
    }
}

}  // namespace
