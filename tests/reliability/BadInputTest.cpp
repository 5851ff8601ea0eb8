// Bad input at every interface: the values a real caller may pass by mistake (null texts and
// pointers, negative and huge sizes, configuration texts that stop anywhere, unknown interface
// ids, calls out of order) and a trace area whose header holds anything. Each row states the
// documented result (docs/ROBUSTNESS.md lists them); afterwards the object must still be whole:
// no crash, every framework object, module lock and task-allocator block given back.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <shlwapi.h>
#include <unistd.h>

#include "com/ComPtr.h"
#include "com/ModuleLifetime.h"
#include "com/TextConversion.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "messages/CEnumMessages.h"
#include "registry/CRegistryStore.h"
#include "sim/SimObjects.h"
#include "sim/SimTapi.h"
#include "support/CountingMallocSpy.h"
#include "support/SimSession.h"
#include "tapi/CTapiConverter.h"
#include "trace/Trace.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

SimWorld& World() { return SimWorld::Instance(); }

constexpr LONG kUntouched = 7;
const IID kUnknownIid = {0x0BADF00D, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};

std::basic_string<WCHAR> Wide(const std::string& text) { return ToWide(text); }
USHORT* AsUshort(std::basic_string<WCHAR>& text) { return reinterpret_cast<USHORT*>(&text[0]); }

// --- protocol converters ---

// One converter with its simulated framework, for one row; checks on the way out that nothing
// was left behind.
template <class Converter>
class ConverterRig {
public:
    ConverterRig() {
        m_liveBefore = World().LiveObjects();
        m_locksBefore = ModuleLifetime::Count();
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make("[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:5;[ADDRESS]IPADDR:10.0.0.1;");
        m_sink = SimDeviceConfig::Make("");
        EXPECT_EQ(Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid()), S_OK);
        EXPECT_EQ(converter.As(&callback), S_OK);
    }
    ~ConverterRig() {
        EXPECT_EQ(converter->Destroy(), S_OK) << "the converter could not be taken apart afterwards";
        callback.Reset();
        converter.Reset();
        m_factory.Reset();
        m_config.Reset();
        m_sink.Reset();
        SimBroker::ForgetPorts();
        EXPECT_EQ(World().LiveObjects(), m_liveBefore) << "a framework object was leaked or released too often";
        EXPECT_EQ(ModuleLifetime::Count(), m_locksBefore) << "a converter or queue outlived its references";
    }

    HRESULT Create(USHORT* eventName = nullptr) {
        std::basic_string<WCHAR> name = Wide("LEGACY");
        return converter->Create(eventName, AsUshort(name), m_factory.Get(), m_config.Get(), m_sink.Get());
    }
    SimStack* Stack() { return static_cast<SimStackFactory*>(m_factory.Get())->LastStack(); }
    IStackFactory* Factory() { return m_factory.Get(); }
    IZTK_DeviceConfig* Config() { return m_config.Get(); }
    IUnknown* Sink() { return m_sink.Get(); }
    void Deliver(const char* text) {
        EXPECT_EQ(Stack()->Deliver(reinterpret_cast<const BYTE*>(text), static_cast<LONG>(std::strlen(text))), S_OK);
    }

    ComPtr<IZTK_ProtocolConverter> converter;
    ComPtr<IStackCallback> callback;

private:
    LONG m_liveBefore = 0;
    LONG m_locksBefore = 0;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
    ComPtr<IZTK_DeviceConfig> m_sink;
};

template <class Converter>
struct ConverterRow {
    const char* input;
    HRESULT expected;
    std::function<HRESULT(ConverterRig<Converter>&)> call;
    std::function<void(ConverterRig<Converter>&)> check;  // what else must hold afterwards, may be empty
};

template <class Converter>
class ConverterBadInputTest : public testing::Test {
protected:
    using Rig = ConverterRig<Converter>;
    using Row = ConverterRow<Converter>;


    static void Run(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.input);
            ScopedMallocSpy spy;
            ASSERT_TRUE(spy.Registered());
            {
                Rig rig;
                EXPECT_EQ(row.call(rig), row.expected);
                if (row.check) row.check(rig);
            }
            EXPECT_EQ(spy.Spy().Outstanding(), 0) << "a task-allocator block was not freed";
        }
    }

    // A created converter, then the call.
    static std::function<HRESULT(Rig&)> Created(std::function<HRESULT(Rig&)> call) {
        return [call](Rig& rig) {
            EXPECT_EQ(rig.Create(), S_OK);
            return call(rig);
        };
    }

    static HRESULT Compare(Rig& rig, const std::string& candidate, LONG* same) {
        const std::basic_string<WCHAR> text = Wide(candidate);
        return rig.callback->CompareConfiguration(text.c_str(), same);
    }

    SimSession m_session;
};

using Converters = testing::Types<CProtocolConverter, CTCPProtocolConverter>;
TYPED_TEST_SUITE(ConverterBadInputTest, Converters);

TYPED_TEST(ConverterBadInputTest, Create) {
    using Rig = typename TestFixture::Rig;
    this->Run({
        {"null event name: no event, no error", S_OK, [](Rig& rig) { return rig.Create(nullptr); }, {}},
        {"name of an event that does not exist", S_OK,
         [](Rig& rig) {
             std::basic_string<WCHAR> name = Wide("ZanthropNoSuchEvent_" + std::to_string(getpid()));
             return rig.Create(AsUshort(name));
         },
         {}},
        {"event name of 100000 characters", S_OK,
         [](Rig& rig) {
             std::basic_string<WCHAR> name(100000, u'E');
             return rig.Create(AsUshort(name));
         },
         {}},
        {"event name with a lone surrogate", S_OK,
         [](Rig& rig) {
             std::basic_string<WCHAR> name = {0xD800, u'x', 0xDC00};
             return rig.Create(AsUshort(name));
         },
         {}},
        {"null stack name: passed to the factory (the simulated one accepts it)", S_OK,
         [](Rig& rig) { return rig.converter->Create(nullptr, nullptr, rig.Factory(), rig.Config(), rig.Sink()); }, {}},
        {"null factory: nothing happens", S_OK,
         [](Rig& rig) { return rig.converter->Create(nullptr, nullptr, nullptr, rig.Config(), rig.Sink()); }, {}},
        {"null device configuration", E_POINTER,
         [](Rig& rig) { return rig.converter->Create(nullptr, nullptr, rig.Factory(), nullptr, rig.Sink()); }, {}},
        {"null sink: the stack's Advise refuses it and Destroy cleans up", E_POINTER,
         [](Rig& rig) { return rig.converter->Create(nullptr, nullptr, rig.Factory(), rig.Config(), nullptr); }, {}},
    });
}

TYPED_TEST(ConverterBadInputTest, SendAndGetReceiveData) {
    using Rig = typename TestFixture::Rig;
    const auto send = [](LONG dataSize, BYTE* data, LONG optionsSize, BYTE* options, LONG timeout) {
        return [=](Rig& rig) { return rig.converter->Send(1, 0, timeout, dataSize, data, optionsSize, options); };
    };
    static BYTE frame[4] = {'p', 'i', 'n', 'g'};
    this->Run({
        {"Send before Create", E_UNEXPECTED, send(4, frame, 0, nullptr, 0), {}},
        {"Send after Destroy", E_UNEXPECTED,
         [](Rig& rig) {
             EXPECT_EQ(rig.Create(), S_OK);
             EXPECT_EQ(rig.converter->Destroy(), S_OK);
             BYTE data[] = {1};
             return rig.converter->Send(0, 0, 0, 1, data, 0, nullptr);
         },
         {}},
        {"Send with null data and size 10: the framework's message judges (the simulated one takes nothing)", S_OK,
         TestFixture::Created(send(10, nullptr, 0, nullptr, 0)), {}},
        {"Send with a negative size", S_OK, TestFixture::Created(send(-5, frame, -1, frame, 0)), {}},
        {"Send with null options and size 4", S_OK, TestFixture::Created(send(4, frame, 4, nullptr, 0)), {}},
        {"Send with the extreme time-outs", S_OK, TestFixture::Created(send(4, frame, 0, nullptr, INT_MIN)), {}},
        {"GetReceiveData with a null count pointer", E_POINTER,
         [](Rig& rig) {
             ComPtr<IEnumMessages> messages;
             return rig.converter->GetReceiveData(0, nullptr, messages.Put());
         },
         {}},
        {"GetReceiveData with a null enumerator pointer", E_POINTER,
         [](Rig& rig) {
             LONG count = kUntouched;
             const HRESULT hr = rig.converter->GetReceiveData(0, &count, nullptr);
             EXPECT_EQ(count, kUntouched);
             return hr;
         },
         {}},
        {"GetReceiveData before Create, any cookie", S_OK,
         [](Rig& rig) {
             LONG count = kUntouched;
             ComPtr<IEnumMessages> messages;
             const HRESULT hr = rig.converter->GetReceiveData(INT_MIN, &count, messages.Put());
             EXPECT_EQ(count, 0);
             EXPECT_TRUE(messages);
             return hr;
         },
         {}},
        {"QueryInterface for an unknown interface", E_NOINTERFACE,
         [](Rig& rig) {
             void* out = &rig;
             const HRESULT hr = rig.converter->QueryInterface(kUnknownIid, &out);
             EXPECT_EQ(out, nullptr);
             return hr;
         },
         {}},
        {"QueryInterface into a null pointer", E_POINTER,
         [](Rig& rig) { return rig.converter->QueryInterface(IID_IStackCallback, nullptr); }, {}},
    });
}

TYPED_TEST(ConverterBadInputTest, StackCallback) {
    using Rig = typename TestFixture::Rig;
    this->Run({
        {"ConnectPort with a null stack: the framework's result (the simulated port refuses to attach it)",
         E_INVALIDARG, TestFixture::Created([](Rig& rig) { return rig.callback->ConnectPort(nullptr); }), {}},
        {"DisconnectPort before Create", S_OK, [](Rig& rig) { return rig.callback->DisconnectPort(); }, {}},
        {"DisconnectPort twice (the stack's, then Destroy's)", S_OK,
         TestFixture::Created([](Rig& rig) {
             EXPECT_EQ(rig.callback->DisconnectPort(), S_OK);
             return rig.callback->DisconnectPort();
         }),
         {}},
        {"Notify with any value", E_NOTIMPL, [](Rig& rig) { return rig.callback->Notify(INT_MIN); }, {}},
        {"Receive with a null message", S_OK, TestFixture::Created([](Rig& rig) { return rig.callback->Receive(nullptr); }),
         {}},
        {"Receive with a message without data: nothing queued", S_OK,
         TestFixture::Created([](Rig& rig) {
             ComPtr<IPortMessage> empty = SimPortMessage::Make(nullptr, 0);
             return rig.callback->Receive(empty.Get());
         }),
         [](Rig& rig) {
             LONG count = kUntouched;
             ComPtr<IEnumMessages> messages;
             EXPECT_EQ(rig.converter->GetReceiveData(0, &count, messages.Put()), S_OK);
             EXPECT_EQ(count, 0);
         }},
        {"CompareConfiguration with a null text: flag untouched", S_OK,
         TestFixture::Created([](Rig& rig) {
             LONG same = kUntouched;
             const HRESULT hr = rig.callback->CompareConfiguration(nullptr, &same);
             EXPECT_EQ(same, kUntouched);
             return hr;
         }),
         {}},
        {"CompareConfiguration with a null flag pointer", E_POINTER,
         TestFixture::Created([](Rig& rig) {
             return TestFixture::Compare(rig, "[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:5;[ADDRESS]IPADDR:10.0.0.1;", nullptr);
         }),
         {}},
        {"CompareConfiguration before Create", E_UNEXPECTED,
         [](Rig& rig) {
             LONG same = kUntouched;
             return TestFixture::Compare(rig, "[NET]NET:ETNTCPKORA;", &same);
         },
         {}},
        {"CompareConfiguration after Destroy", E_UNEXPECTED,
         [](Rig& rig) {
             EXPECT_EQ(rig.Create(), S_OK);
             EXPECT_EQ(rig.converter->Destroy(), S_OK);
             LONG same = kUntouched;
             return TestFixture::Compare(rig, "[NET]NET:ETNTCPKORA;", &same);
         },
         {}},
    });
}

// Candidate texts that stop anywhere or hold anything: always S_OK and a flag of 0, 1 or untouched.
TYPED_TEST(ConverterBadInputTest, CompareConfigurationWithMalformedTexts) {
    using Rig = typename TestFixture::Rig;
    const std::vector<std::string> candidates = {
        "",
        "[",
        "]",
        "[NET",
        "[NET]",
        "[NET]NET",
        "[NET]NET:",
        "[NET]NET:ETNTCPKORA",  // no ';'
        "[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:5;[ADDRESS]IPADDR:10.0.0.1",
        "[]]][[[;;;:::,,,",
        ":;:;:;",
        "NET:ETNTCPKORA;",
        "[NET]NET:,,,,;",
        std::string(1000000, '['),
        "[NET]NET:" + std::string(100000, 'X') + ";",
    };
    for (const std::string& candidate : candidates) {
        SCOPED_TRACE(candidate.substr(0, 40));
        this->Run({{"malformed candidate", S_OK, TestFixture::Created([&candidate](Rig& rig) {
                        LONG same = kUntouched;
                        const HRESULT hr = TestFixture::Compare(rig, candidate, &same);
                        EXPECT_TRUE(same == kUntouched || same == 0 || same == 1) << same;
                        return hr;
                    }),
                    {}}});
    }
    // A candidate with a lone surrogate and one cut by a zero unit.
    this->Run({{"candidate with lone surrogates and an inner zero", S_OK, TestFixture::Created([](Rig& rig) {
                    const WCHAR text[] = {u'[', 0xD800, u']', 0xDFFF, u';', 0, u'[', u'N', 0};
                    LONG same = kUntouched;
                    return rig.callback->CompareConfiguration(text, &same);
                }),
                {}}});
}

TYPED_TEST(ConverterBadInputTest, Enumerator) {
    using Rig = typename TestFixture::Rig;
    const auto queuedOne = [](Rig& rig, ComPtr<IEnumMessages>& messages) {
        EXPECT_EQ(rig.Create(), S_OK);
        rig.Deliver("frame");
        LONG count = 0;
        EXPECT_EQ(rig.converter->GetReceiveData(0, &count, messages.Put()), S_OK);
    };
    // The frame stays queued after a refused Next: the next good call gets it.
    const auto stillQueued = [](Rig& rig) {
        LONG count = 0;
        ComPtr<IEnumMessages> messages;
        EXPECT_EQ(rig.converter->GetReceiveData(0, &count, messages.Put()), S_OK);
        EXPECT_EQ(count, 1);
        LONG size = 0;
        BYTE* data = nullptr;
        EXPECT_EQ(messages->Next(&size, &data), S_OK);
        CoTaskMemFree(data);
    };
    this->Run({
        {"Next with a null size pointer", E_POINTER,
         [queuedOne](Rig& rig) {
             ComPtr<IEnumMessages> messages;
             queuedOne(rig, messages);
             BYTE* data = nullptr;
             return messages->Next(nullptr, &data);
         },
         stillQueued},
        {"Next with a null data pointer", E_POINTER,
         [queuedOne](Rig& rig) {
             ComPtr<IEnumMessages> messages;
             queuedOne(rig, messages);
             LONG size = kUntouched;
             return messages->Next(&size, nullptr);
         },
         stillQueued},
        {"Next on an empty queue: outputs untouched", E_FAIL,
         [](Rig& rig) {
             LONG count = 0;
             ComPtr<IEnumMessages> messages;
             EXPECT_EQ(rig.converter->GetReceiveData(0, &count, messages.Put()), S_OK);
             LONG size = kUntouched;
             BYTE* data = reinterpret_cast<BYTE*>(&size);
             const HRESULT hr = messages->Next(&size, &data);
             EXPECT_EQ(size, kUntouched);
             EXPECT_EQ(data, reinterpret_cast<BYTE*>(&size));
             return hr;
         },
         {}},
        {"enumerator QueryInterface for an unknown interface", E_NOINTERFACE,
         [](Rig& rig) {
             LONG count = 0;
             ComPtr<IEnumMessages> messages;
             EXPECT_EQ(rig.converter->GetReceiveData(0, &count, messages.Put()), S_OK);
             void* out = &rig;
             const HRESULT hr = messages->QueryInterface(kUnknownIid, &out);
             EXPECT_EQ(out, nullptr);
             return hr;
         },
         {}},
    });
}

// --- TAPI converter ---

const char kComponentClass[] = "{3D2A6E51-0C7F-4B19-A8E2-5F9C1D7B0E34}";

class TapiBadInputTest : public testing::Test {
protected:
    struct Row {
        const char* input;
        bool created;  // Create ran first (with a configured component)
        HRESULT expected;
        std::function<HRESULT(IZTK_TapiConverter*)> call;
        bool forwards;  // the call reaches the component's port
    };

    void SetUp() override {
        m_database = "/tmp/zanthrop-badinput-" + std::to_string(getpid()) + ".db";
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
        ASSERT_TRUE(CRegistryStore().WriteString(HKEY_LOCAL_MACHINE, kTapiComponentKey, kTapiComponentValue, kComponentClass));
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_framework = std::make_unique<SimFramework>();
        World().ClearFailures();
    }
    void TearDown() override {
        m_framework.reset();
        CoUninitialize();
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((m_database + suffix).c_str());
    }

    void Run(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.input);
            ScopedMallocSpy spy;
            const LONG liveBefore = World().LiveObjects();
            const LONG locksBefore = ModuleLifetime::Count();
            {
                ComPtr<IZTK_TapiConverter> converter;
                ASSERT_EQ(CTapiConverter::CreateObject(nullptr, IID_IZTK_TapiConverter, converter.PutVoid()), S_OK);
                if (row.created) {
                    ASSERT_EQ(converter->Create(), S_OK);
                }
                World().ClearCalls();
                EXPECT_EQ(row.call(converter.Get()), row.expected);
                const std::vector<std::string> calls = World().Calls();
                const bool forwarded = !calls.empty() && calls.front().rfind("ITapiPort::", 0) == 0;
                EXPECT_EQ(forwarded, row.forwards);
                EXPECT_EQ(converter->Destroy(), S_OK);
            }
            EXPECT_EQ(World().LiveObjects(), liveBefore);
            EXPECT_EQ(ModuleLifetime::Count(), locksBefore);
            EXPECT_EQ(spy.Spy().Outstanding(), 0) << "a task-allocator block was not freed";
        }
    }

    std::string m_database;
    std::unique_ptr<SimFramework> m_framework;
};

TEST_F(TapiBadInputTest, EveryMethod) {
    static std::basic_string<WCHAR> device = Wide(SimTapiComponent::kDevices[0]);
    static std::basic_string<WCHAR> unknown = Wide("No Such Modem");
    static std::basic_string<WCHAR> surrogate = {0xD800, u'x', 0};
    Run({
        {"Configure with a null device: nothing forwarded", true, S_OK,
         [](IZTK_TapiConverter* c) { return c->Configure(nullptr, 0); }, false},
        {"Configure with an unknown device: the port's result", true, E_INVALIDARG,
         [](IZTK_TapiConverter* c) { return c->Configure(&unknown[0], -1); }, true},
        {"Configure with a device name holding a lone surrogate", true, E_INVALIDARG,
         [](IZTK_TapiConverter* c) { return c->Configure(&surrogate[0], 0); }, true},
        {"GetSettings with a null device", true, S_OK,
         [](IZTK_TapiConverter* c) {
             LPWSTR text = nullptr;
             return c->GetSettings(nullptr, &text);
         },
         false},
        {"GetSettings into a null pointer", true, E_POINTER,
         [](IZTK_TapiConverter* c) { return c->GetSettings(&device[0], nullptr); }, false},
        {"SetSettings with null settings: forwarded, the port's result", true, S_OK,
         [](IZTK_TapiConverter* c) { return c->SetSettings(&device[0], nullptr); }, true},
        {"SetSettings with a null device", true, S_OK,
         [](IZTK_TapiConverter* c) { return c->SetSettings(nullptr, nullptr); }, false},
        {"GetDevices into a null pointer", true, E_POINTER, [](IZTK_TapiConverter* c) { return c->GetDevices(nullptr); },
         false},
        {"GetCountries into a null pointer", true, E_POINTER,
         [](IZTK_TapiConverter* c) { return c->GetCountries(nullptr); }, false},
        {"GetDevices before Create: nothing to forward to", false, S_OK,
         [](IZTK_TapiConverter* c) {
             IZTK_EnumDevices* devices = nullptr;
             return c->GetDevices(&devices);
         },
         false},
        {"GetSettings after Destroy: nothing to forward to", true, S_OK,
         [](IZTK_TapiConverter* c) {
             EXPECT_EQ(c->Destroy(), S_OK);
             LPWSTR text = nullptr;
             return c->GetSettings(&device[0], &text);
         },
         false},
        {"Destroy before Create", false, S_OK, [](IZTK_TapiConverter* c) { return c->Destroy(); }, false},
        {"Destroy twice", true, S_OK,
         [](IZTK_TapiConverter* c) {
             EXPECT_EQ(c->Destroy(), S_OK);
             return c->Destroy();
         },
         false},
        {"Create twice: the first component is given back", true, S_OK, [](IZTK_TapiConverter* c) { return c->Create(); },
         false},
        {"QueryInterface for an unknown interface", false, E_NOINTERFACE,
         [](IZTK_TapiConverter* c) {
             void* out = c;
             const HRESULT hr = c->QueryInterface(kUnknownIid, &out);
             EXPECT_EQ(out, nullptr);
             return hr;
         },
         false},
        {"QueryInterface into a null pointer", false, E_POINTER,
         [](IZTK_TapiConverter* c) { return c->QueryInterface(IID_IUnknown, nullptr); }, false},
    });
}

TEST_F(TapiBadInputTest, AggregationIsRefused) {
    ComPtr<IUnknown> outer;
    ASSERT_EQ(CTapiConverter::CreateObject(nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
    void* inner = outer.Get();
    EXPECT_EQ(CTapiConverter::CreateObject(outer.Get(), IID_IUnknown, &inner), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(inner, nullptr);
}

// --- the trace area as the viewer leaves it ---

// A header holding anything: the writers and the viewer still stay inside the ring.
class TraceAreaBadInputTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string suffix = std::to_string(getpid());
        m_area = "ZanthropBadInput_Area_" + suffix;
        m_mutex = "ZanthropBadInput_Mutex_" + suffix;
        m_event = "ZanthropBadInput_Event_" + suffix;
    }
    void TearDown() override {
        const TraceNames gone{"ZanthropBadInput_None", "ZanthropBadInput_NoneMutex", "ZanthropBadInput_NoneEvent"};
        trace_testing::Reattach(gone);
    }
    TraceNames Names() const { return {m_area.c_str(), m_mutex.c_str(), m_event.c_str()}; }

    std::string m_area, m_mutex, m_event;
};

struct HeaderRow {
    const char* input;
    std::function<void(TraceOutputArea&)> corrupt;
    size_t shownAfterOneLine;  // lines the viewer shows after one more line is written
};

TEST_F(TraceAreaBadInputTest, CorruptedHeaders) {
    const std::vector<HeaderRow> rows = {
        {"write slot negative: the writer starts at slot 0", [](TraceOutputArea& a) { a.writeSlot = -7; }, 1},
        {"write slot past the ring", [](TraceOutputArea& a) { a.writeSlot = INT_MAX; }, 1},
        {"read slot negative: the viewer starts at slot 0", [](TraceOutputArea& a) { a.readSlot = INT_MIN; }, 1},
        {"read slot past the ring", [](TraceOutputArea& a) { a.readSlot = 1000; }, 1},
        {"pending count negative: lines stored, none shown until it is positive again",
         [](TraceOutputArea& a) { a.pendingCount = -3; }, 0},
        {"pending count the most negative", [](TraceOutputArea& a) { a.pendingCount = INT_MIN; }, 0},
        {"pending count above the ring: the writer waits at most a second and drops, the viewer shows one ring",
         [](TraceOutputArea& a) { a.pendingCount = 5000; }, 1000},
        {"output flag any non-zero byte: on", [](TraceOutputArea& a) { a.outputOn = static_cast<char>(0x80); }, 1},
        {"channel set without its terminator", [](TraceOutputArea& a) { std::memset(a.channelSet, 'Q', sizeof(a.channelSet)); },
         0},
        {"every header byte 0xFF", [](TraceOutputArea& a) { std::memset(&a, 0xFF, offsetof(TraceOutputArea, slots)); }, 0},
        {"slots without terminators", [](TraceOutputArea& a) {
             std::memset(a.slots, 'z', sizeof(a.slots));
             a.pendingCount = 3;
         }, 4},
    };
    for (const HeaderRow& row : rows) {
        SCOPED_TRACE(row.input);
        TraceReader reader;
        ASSERT_TRUE(reader.Create(Names()));
        reader.SetChannels("QO");
        reader.SetOutput(true);
        trace_testing::Reattach(Names());
        ASSERT_TRUE(TraceOutputOn());
        reader.Locked(row.corrupt);
        TraceQO("one line\n");
        const std::vector<std::string> lines = reader.Take();
        EXPECT_EQ(lines.size(), row.shownAfterOneLine);
        for (const std::string& line : lines) EXPECT_LE(line.size(), static_cast<size_t>(kTraceSlotSize));
        // A viewer that starts afresh (header reset) gets lines again.
        reader.Locked([](TraceOutputArea& area) {
            area.outputOn = 1;
            std::memset(area.channelSet, 0, sizeof(area.channelSet));
            std::memcpy(area.channelSet, "QO", 2);
            area.pendingCount = 0;
            area.writeSlot = 0;
            area.readSlot = 0;
        });
        TraceQO("again\n");
        EXPECT_EQ(reader.Take(), std::vector<std::string>{"again\n"});
        const TraceNames gone{"ZanthropBadInput_None", "ZanthropBadInput_NoneMutex", "ZanthropBadInput_NoneEvent"};
        trace_testing::Reattach(gone);
    }
}

// Frame dumps and lines with the sizes and pointers a caller may get wrong.
TEST_F(TraceAreaBadInputTest, FrameDumpsAndLinesWithBadSizes) {
    TraceReader reader;
    ASSERT_TRUE(reader.Create(Names()));
    reader.SetChannels("QDOF");
    reader.SetOutput(true);
    trace_testing::Reattach(Names());
    const BYTE frame[20] = {'a', 'b', 'c'};
    struct DumpRow {
        const char* input;
        const BYTE* data;
        LONG length;
        size_t lines;
    };
    const DumpRow rows[] = {
        {"null data with a length: the header line alone", nullptr, 100, 1},
        {"negative length: the header line alone", frame, -1, 1},
        {"the most negative length", frame, INT_MIN, 1},
        {"zero length", frame, 0, 1},
        {"length 20: two lines of bytes", frame, 20, 3},
    };
    for (const DumpRow& row : rows) {
        SCOPED_TRACE(row.input);
        DumpQD(row.data, row.length, 1);
        EXPECT_EQ(reader.Take().size(), row.lines);
    }
    TraceQO("%s", std::string(600, 'x').c_str());  // longer than a slot: dropped whole
    EXPECT_TRUE(reader.Take().empty());
    TraceF("%s", "");
    EXPECT_EQ(reader.Take().size(), 2u);  // the empty line, then the (empty) message
    TraceResult(INT_MIN);
    TraceResult(-1);
    EXPECT_EQ(reader.Take().size(), 4u);
}

// --- registry store ---

class RegistryBadInputTest : public testing::Test {
protected:
    void SetUp() override {
        m_database = "/tmp/zanthrop-badinput-registry-" + std::to_string(getpid()) + ".db";
        Remove();
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
        ASSERT_TRUE(CRegistryStore().WriteString(HKEY_CURRENT_USER, kBase, "text", "value"));
        ASSERT_TRUE(CRegistryStore().WriteString(HKEY_CURRENT_USER, std::string(kBase) + "\\Sub", "", ""));
        const BYTE big[100] = {1, 2, 3};
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kBase, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, "big", 0, REG_BINARY, big, sizeof(big)), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override { Remove(); }
    void Remove() {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((m_database + suffix).c_str());
    }

    static constexpr const char* kBase = "Software\\ZanthropBadInput";
    std::string m_database;
};

struct StoreRow {
    const char* input;
    std::function<bool(CRegistryStore&)> call;  // the operation's result, as a truth value
    bool expected;
    bool recordsError;  // the store's status is -1 with an error text afterwards
};

TEST_F(RegistryBadInputTest, EveryOperation) {
    const HKEY badRoot = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    const std::string longPath(300, 'k');
    const std::string longName(20000, 'n');
    const std::vector<StoreRow> rows = {
        {"ReadString with a null root", [](CRegistryStore& s) { return !s.ReadString(nullptr, kBase, "text", "d").empty(); },
         false, true},
        {"ReadString with a root that is no key", [badRoot](CRegistryStore& s) {
             return !s.ReadString(badRoot, kBase, "text", "d").empty();
         }, false, true},
        {"ReadString below a path of 300 characters",
         [longPath](CRegistryStore& s) { return !s.ReadString(HKEY_CURRENT_USER, longPath, "x", "d").empty(); }, false,
         true},
        {"ReadString of a name of 20000 characters: the default cannot be written either",
         [longName](CRegistryStore& s) { return !s.ReadString(HKEY_CURRENT_USER, kBase, longName, "d").empty(); }, false,
         true},
        {"ReadString with two trailing backslashes: one is ignored, the registry ignores the other",
         [](CRegistryStore& s) { return s.ReadString(HKEY_CURRENT_USER, std::string(kBase) + "\\\\", "text", "") == "value"; },
         true, false},
        {"ReadString of a 100-byte binary value: its bytes up to the first zero",
         [](CRegistryStore& s) { return s.ReadString(HKEY_CURRENT_USER, kBase, "big", "d") == "\x01\x02\x03"; }, true,
         false},
        {"ReadDword of a value longer than 4 bytes: replaced by the default",
         [](CRegistryStore& s) {
             return s.ReadDword(HKEY_CURRENT_USER, kBase, "big", 42) == 42 &&
                    s.ReadDword(HKEY_CURRENT_USER, kBase, "big", 0) == 42;
         },
         true, false},
        {"ReadDword with a null root", [](CRegistryStore& s) { return s.ReadDword(nullptr, kBase, "x", 5) != 0; }, false,
         true},
        {"WriteString with a null root", [](CRegistryStore& s) { return s.WriteString(nullptr, kBase, "x", "y"); }, false,
         true},
        {"WriteString of a name of 20000 characters",
         [longName](CRegistryStore& s) { return s.WriteString(HKEY_CURRENT_USER, kBase, longName, "y"); }, false, true},
        {"SetDefaultDword with a root that is no key",
         [badRoot](CRegistryStore& s) { return s.SetDefaultDword(badRoot, kBase, "x", 1); }, false, true},
        {"KeyExists with a null root", [](CRegistryStore& s) { return s.KeyExists(nullptr, kBase); }, false, false},
        {"QueryKeyInfo with a root that is no key",
         [badRoot](CRegistryStore& s) { return s.QueryKeyInfo(badRoot, kBase) != 0; }, false, false},
        {"GetSubKeyName index 0", [](CRegistryStore& s) {
             char name[256] = {};
             return s.GetSubKeyName(HKEY_CURRENT_USER, kBase, 0, name);
         }, false, true},
        {"GetSubKeyName index past the last", [](CRegistryStore& s) {
             char name[256] = {};
             return s.GetSubKeyName(HKEY_CURRENT_USER, kBase, 0xFFFFFFFF, name);
         }, false, true},
        {"GetSubKeyName into a null buffer", [](CRegistryStore& s) {
             return s.GetSubKeyName(HKEY_CURRENT_USER, kBase, 1, nullptr);
         }, false, false},
        {"EnumValue index 0", [](CRegistryStore& s) {
             char name[64];
             DWORD nameLength = sizeof(name), type = 0, dataLength = 0;
             return s.EnumValue(HKEY_CURRENT_USER, kBase, 0, name, &nameLength, &type, nullptr, &dataLength);
         }, false, true},
        {"EnumValue with a data buffer too small: false, the needed size given back", [](CRegistryStore& s) {
             char name[64];
             BYTE data[1];  // every value of the key has 4 bytes or more
             DWORD nameLength = sizeof(name), type = 0, dataLength = sizeof(data);
             const bool read = s.EnumValue(HKEY_CURRENT_USER, kBase, 1, name, &nameLength, &type, data, &dataLength);
             return read || dataLength < 4;
         }, false, false},
        {"EnumValue with a name buffer too small", [](CRegistryStore& s) {
             char name[2];
             DWORD nameLength = sizeof(name), type = 0;
             return s.EnumValue(HKEY_CURRENT_USER, kBase, 1, name, &nameLength, &type, nullptr, nullptr);
         }, false, false},
        {"EnumValue with null name and length pointers", [](CRegistryStore& s) {
             return s.EnumValue(HKEY_CURRENT_USER, kBase, 1, nullptr, nullptr, nullptr, nullptr, nullptr);
         }, false, false},
        {"EnumValue with only the name asked for", [](CRegistryStore& s) {
             char name[64];
             DWORD nameLength = sizeof(name);
             return s.EnumValue(HKEY_CURRENT_USER, kBase, 1, name, &nameLength, nullptr, nullptr, nullptr);
         }, true, false},
        {"ListSubKeys with a null root", [](CRegistryStore& s) {
             std::vector<std::string> names;
             return s.ListSubKeys(nullptr, kBase, names);
         }, false, false},
        {"DeleteValue of a name that does not exist",
         [](CRegistryStore& s) { return s.DeleteValue(HKEY_CURRENT_USER, kBase, "absent"); }, false, false},
        {"DeleteKey with an empty path: refused, the root keeps its keys",
         [](CRegistryStore& s) { return s.DeleteKey(HKEY_CURRENT_USER, ""); }, false, true},
        {"DeleteKey with a path of backslashes only",
         [](CRegistryStore& s) { return s.DeleteKey(HKEY_CURRENT_USER, "\\\\"); }, false, true},
        {"DeleteKey with a null root", [](CRegistryStore& s) { return s.DeleteKey(nullptr, kBase); }, false, false},
    };
    for (const StoreRow& row : rows) {
        SCOPED_TRACE(row.input);
        CRegistryStore store;
        EXPECT_EQ(row.call(store), row.expected);
        if (row.recordsError) {
            EXPECT_EQ(store.Status(), -1);
            EXPECT_FALSE(store.ErrorText().empty());
        }
        EXPECT_TRUE(CRegistryStore().KeyExists(HKEY_CURRENT_USER, kBase)) << "the test's key was lost";
        EXPECT_TRUE(CRegistryStore().KeyExists(HKEY_CURRENT_USER, std::string(kBase) + "\\Sub"));
    }
}

}  // namespace
