// Both protocol converters against the simulated framework: call sequences, failures at every
// step, reference balance, the received-frame rules, the event, matching and concurrency.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "com/WideText.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "sim/SimObjects.h"

namespace {

using Calls = std::vector<std::string>;

const Calls kCreateCalls = {"IStackFactory::CreateStack", "IProtocolStack::GetStackId", "IProtocolStack::Advise",
                            "IProtocolStack::Advise",     "IStackFactory::OpenStack",   "IPortBroker::RegisterStack",
                            "IPort::AttachStack"};
const Calls kDestroyCalls = {"IPort::ClosePort",         "IPort::DetachStack",       "IPortBroker::UnregisterStack",
                             "IProtocolStack::GetStackId", "IStackFactory::CloseStack", "IProtocolStack::Unadvise",
                             "IProtocolStack::Unadvise",   "IStackFactory::DeleteStack"};
const Calls kSendCalls = {"IPortMessage::Initialise",  "IPortMessage::SetData",         "IPortMessage::SetOptions",
                          "IPortMessage::SetTimeout",  "IPortMessage::SetRequireResponse", "IPortMessage::SetRequireReset",
                          "IPortMessage::SetKind",     "IPort::Submit"};

template <class Converter>
class ConverterTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_framework = std::make_unique<SimFramework>();
        ASSERT_TRUE(m_framework->Registered());
        SimStack::controlFrameEvery = 0;
        World().ClearFailures();
        World().ClearCalls();
        m_liveBefore = World().LiveObjects();
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make("[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:5;[ADDRESS]IPADDR:10.0.0.1;");
        m_sink = SimDeviceConfig::Make("");
        m_eventName = "ZanthropConverterTest_" + std::to_string(GetCurrentThreadId()) + "_" +
                      testing::UnitTest::GetInstance()->current_test_info()->name();
        m_event = CreateEventA(nullptr, FALSE, FALSE, m_eventName.c_str());
        ASSERT_EQ(Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, m_converter.PutVoid()), S_OK);
        ASSERT_EQ(m_converter.As(&m_callback), S_OK);
    }
    void TearDown() override {
        m_callback.Reset();
        m_converter.Reset();
        m_factory.Reset();
        m_config.Reset();
        m_sink.Reset();
        m_framework.reset();
        World().ClearFailures();
        EXPECT_EQ(World().LiveObjects(), m_liveBefore) << "a framework object was leaked or released too often";
        CloseHandle(m_event);
        SimStack::controlFrameEvery = 4;
        CoUninitialize();
    }

    static SimWorld& World() { return SimWorld::Instance(); }

    HRESULT CreateConverter(const char* stackName = "LEGACY") {
        const std::basic_string<WCHAR> event = ToWide(m_eventName), name = ToWide(stackName);
        return m_converter->Create(reinterpret_cast<USHORT*>(const_cast<WCHAR*>(event.c_str())),
                                   reinterpret_cast<USHORT*>(const_cast<WCHAR*>(name.c_str())), m_factory.Get(),
                                   m_config.Get(), m_sink.Get());
    }
    SimStack* Stack() { return static_cast<SimStackFactory*>(m_factory.Get())->LastStack(); }

    HRESULT SendText(const char* text) {
        return m_converter->Send(1, 0, 500, static_cast<LONG>(std::strlen(text)),
                                 reinterpret_cast<BYTE*>(const_cast<char*>(text)), 2,
                                 reinterpret_cast<BYTE*>(const_cast<char*>("op")));
    }

    // Every frame queued now, through GetReceiveData and Next.
    std::vector<std::string> Drain() {
        std::vector<std::string> frames;
        LONG count = -1;
        ComPtr<IEnumMessages> messages;
        EXPECT_EQ(m_converter->GetReceiveData(0, &count, messages.Put()), S_OK);
        LONG size = 0;
        BYTE* data = nullptr;
        while (messages->Next(&size, &data) == S_OK) {
            frames.emplace_back(reinterpret_cast<char*>(data), static_cast<size_t>(size));
            CoTaskMemFree(data);
        }
        EXPECT_LE(static_cast<size_t>(count), frames.size());  // a snapshot: later frames come out too
        return frames;
    }

    int Signals() {
        int signals = 0;
        while (WaitForSingleObject(m_event, 0) == WAIT_OBJECT_0) ++signals;
        return signals;
    }

    std::unique_ptr<SimFramework> m_framework;
    LONG m_liveBefore = 0;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
    ComPtr<IZTK_DeviceConfig> m_sink;
    ComPtr<IZTK_ProtocolConverter> m_converter;
    ComPtr<IStackCallback> m_callback;
    std::string m_eventName;
    HANDLE m_event = nullptr;
};

using Converters = testing::Types<CProtocolConverter, CTCPProtocolConverter>;
TYPED_TEST_SUITE(ConverterTest, Converters);

TYPED_TEST(ConverterTest, CreateAndDestroyMakeTheFrameworkCallsInOrder) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    EXPECT_EQ(this->World().Calls(), kCreateCalls);
    EXPECT_TRUE(this->Stack()->IsOpen());
    EXPECT_EQ(SimBroker::RegisteredPorts(), 1u);
    this->World().ClearCalls();
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
    EXPECT_EQ(this->World().Calls(), kDestroyCalls);
    EXPECT_EQ(SimBroker::RegisteredPorts(), 0u);
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);  // a second Destroy stops at its guard
}

TYPED_TEST(ConverterTest, AFailureAtAnyStepOfCreateIsReturnedAndDestroyCleansUp) {
    for (size_t step = 0; step < kCreateCalls.size(); ++step) {
        SCOPED_TRACE(kCreateCalls[step]);
        const HRESULT injected = static_cast<HRESULT>(0x80041000u + step);
        // Advise fails on its first call only for the callback, so inject per occurrence.
        this->World().ClearCalls();
        this->World().InjectFailure(kCreateCalls[step], injected);
        EXPECT_EQ(this->CreateConverter(), injected);
        this->World().ClearFailures();
        const bool hadStack = step > 0;
        EXPECT_EQ(this->m_converter->Destroy(), S_OK);
        if (hadStack) {
            EXPECT_EQ(this->Stack(), nullptr) << "the stack was not deleted";
        }
        EXPECT_EQ(SimBroker::RegisteredPorts(), 0u);
    }
}

TYPED_TEST(ConverterTest, FailingDestroyStepsAreReturnedAndTheConverterCountsAsDestroyed) {
    for (const char* step : {"IPort::ClosePort", "IPort::DetachStack", "IPortBroker::UnregisterStack",
                             "IProtocolStack::GetStackId", "IStackFactory::CloseStack"}) {
        SCOPED_TRACE(step);
        ASSERT_EQ(this->CreateConverter(), S_OK);
        this->World().InjectFailure(step, E_ACCESSDENIED);
        EXPECT_EQ(this->m_converter->Destroy(), E_ACCESSDENIED);
        this->World().ClearFailures();
        this->World().ClearCalls();
        EXPECT_EQ(this->m_converter->Destroy(), S_OK);  // destroyed: the guard holds
        EXPECT_TRUE(this->World().Calls().empty());
        // Clean the simulated side up for the next round.
        ZTK_ID id{};
        SimStack* stack = this->Stack();
        stack->GetStackId(&id);
        stack->Close();
        stack->Unadvise(&IID_IStackCallback);
        stack->Unadvise(&IID_IStackSink);
        this->m_factory->DeleteStack(id);
        SimBroker::ForgetPorts();
    }
}

TYPED_TEST(ConverterTest, DeleteStackDecidesTheResultOfDestroy) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    SimStack* stack = this->Stack();
    this->World().InjectFailure("IStackFactory::DeleteStack", E_ACCESSDENIED);
    EXPECT_EQ(this->m_converter->Destroy(), E_ACCESSDENIED);
    this->World().ClearFailures();
    EXPECT_FALSE(stack->HasSink(IID_IStackCallback));  // everything before it was done
    ZTK_ID id{};
    stack->GetStackId(&id);
    EXPECT_EQ(this->m_factory->DeleteStack(id), S_OK);
}

TYPED_TEST(ConverterTest, WithoutANamedEventEverythingElseWorks) {
    const std::basic_string<WCHAR> name = ToWide("LEGACY");
    ASSERT_EQ(this->m_converter->Create(nullptr, reinterpret_cast<USHORT*>(const_cast<WCHAR*>(name.c_str())),
                                        this->m_factory.Get(), this->m_config.Get(), this->m_sink.Get()),
              S_OK);
    this->Stack()->Deliver(reinterpret_cast<const BYTE*>("data"), 4);
    EXPECT_EQ(this->Signals(), 0);
    EXPECT_EQ(this->Drain(), std::vector<std::string>{"data"});
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

TYPED_TEST(ConverterTest, CreateWithoutFactoryOrConfigurationDoesNothing) {
    EXPECT_EQ(this->m_converter->Create(nullptr, nullptr, nullptr, this->m_config.Get(), nullptr), S_OK);
    EXPECT_EQ(this->m_converter->Create(nullptr, nullptr, this->m_factory.Get(), nullptr, nullptr), E_POINTER);
    EXPECT_TRUE(this->World().Calls().empty());
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

TYPED_TEST(ConverterTest, SendFillsOneMessageAndSubmitsIt) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    this->World().ClearCalls();
    EXPECT_EQ(this->SendText("ping"), S_OK);
    Calls calls = this->World().Calls();  // the response may add the converter's own GetData after these
    calls.resize(std::min(calls.size(), kSendCalls.size()));
    EXPECT_EQ(calls, kSendCalls);
    for (size_t step = 0; step < kSendCalls.size(); ++step) {
        SCOPED_TRACE(kSendCalls[step]);
        this->World().InjectFailure(kSendCalls[step], E_ACCESSDENIED);
        EXPECT_EQ(this->SendText("ping"), E_ACCESSDENIED);
        this->World().ClearFailures();
    }
    SimPortMessage::replaceOnInitialise = true;  // the converter works on the replacement
    EXPECT_EQ(this->SendText("pong"), S_OK);
    SimPortMessage::replaceOnInitialise = false;
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

TYPED_TEST(ConverterTest, SendWithoutAConnectionCallsNothing) {
    EXPECT_EQ(this->SendText("ping"), E_UNEXPECTED);
    EXPECT_TRUE(this->World().Calls().empty());
}

TYPED_TEST(ConverterTest, RequestsComeBackAsResponsesThroughTheQueue) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(this->SendText(("req" + std::to_string(i)).c_str()), S_OK);
    std::vector<std::string> frames;
    for (int round = 0; round < 500 && frames.size() < 20; ++round) {
        WaitForSingleObject(this->m_event, 20);
        for (std::string& frame : this->Drain()) frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(frames[static_cast<size_t>(i)], "RSP:req" + std::to_string(i));
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

struct FrameCase {
    const char* frame;
    bool queuedByLegacy;
    bool queuedByTcp;
};

TYPED_TEST(ConverterTest, ControlFramesAreDroppedAndEveryQueuedFrameSignalsOnce) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    const FrameCase cases[] = {
        {"TAPI", false, true},          {"TAPI line up", false, true}, {"TAP", true, true},
        {"INFORMATION", false, false},  {"INFORMATION x", false, false}, {"INFO", true, true},
        {"xTAPI", true, true},          {"tapi", true, true},            {"data", true, true},
    };
    const bool tcp = std::is_same<TypeParam, CTCPProtocolConverter>::value;
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.frame);
        EXPECT_EQ(this->Stack()->Deliver(reinterpret_cast<const BYTE*>(c.frame), static_cast<LONG>(std::strlen(c.frame))), S_OK);
        const bool queued = tcp ? c.queuedByTcp : c.queuedByLegacy;
        EXPECT_EQ(this->Signals(), queued ? 1 : 0);
        EXPECT_EQ(this->Drain(), queued ? std::vector<std::string>{c.frame} : std::vector<std::string>{});
    }
    EXPECT_EQ(this->m_callback->Receive(nullptr), S_OK);
    EXPECT_EQ(this->m_callback->Notify(42), E_NOTIMPL);
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

TYPED_TEST(ConverterTest, AFailingGetDataIsReturnedAndNothingIsQueued) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    this->World().InjectFailure("IPortMessage::GetData", E_ACCESSDENIED);
    EXPECT_EQ(this->Stack()->Deliver(reinterpret_cast<const BYTE*>("data"), 4), E_ACCESSDENIED);
    this->World().ClearFailures();
    EXPECT_EQ(this->Signals(), 0);
    EXPECT_TRUE(this->Drain().empty());
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

TYPED_TEST(ConverterTest, FramesQueuedBeforeDestroyStayReadable) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    ComPtr<IEnumMessages> messages;
    LONG count = 0;
    ASSERT_EQ(this->m_converter->GetReceiveData(7, &count, messages.Put()), S_OK);
    EXPECT_EQ(count, 0);
    this->Stack()->Deliver(reinterpret_cast<const BYTE*>("one"), 3);
    this->Stack()->Deliver(reinterpret_cast<const BYTE*>("two"), 3);
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
    this->m_converter.Reset();
    this->m_callback.Reset();
    LONG size = 0;
    BYTE* data = nullptr;
    ASSERT_EQ(messages->Next(&size, &data), S_OK);  // the earlier enumerator sees later frames
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), static_cast<size_t>(size)), "one");
    CoTaskMemFree(data);
}

TYPED_TEST(ConverterTest, AnswersItsInterfacesButNotTheBase) {
    void* base = reinterpret_cast<void*>(1);
    EXPECT_EQ(this->m_converter->QueryInterface(IID_IZanthropBase, &base), E_NOINTERFACE);
    EXPECT_EQ(base, nullptr);
    ComPtr<IMarshal> marshal;
    EXPECT_EQ(this->m_converter.As(&marshal), S_OK);
    EXPECT_TRUE(marshal);
}

TYPED_TEST(ConverterTest, FourStackThreadsLoseNothingAndKeepTheirOrder) {
    ASSERT_EQ(this->CreateConverter(), S_OK);
    constexpr int kThreads = 4;
    constexpr int kFrames = 10000;
    std::vector<std::thread> stackThreads;
    for (int t = 0; t < kThreads; ++t) {
        stackThreads.emplace_back([this, t] {
            for (int i = 0; i < kFrames; ++i) {
                const int frame[2] = {t, i};
                this->Stack()->Deliver(reinterpret_cast<const BYTE*>(frame), sizeof(frame));
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int received = 0;
    bool ordered = true;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (received < kThreads * kFrames && std::chrono::steady_clock::now() < giveUp) {
        WaitForSingleObject(this->m_event, 10);
        LONG count = 0;
        ComPtr<IEnumMessages> messages;
        this->m_converter->GetReceiveData(0, &count, messages.Put());
        LONG size = 0;
        BYTE* data = nullptr;
        while (messages->Next(&size, &data) == S_OK) {
            int frame[2];
            std::memcpy(frame, data, sizeof(frame));
            CoTaskMemFree(data);
            ordered = ordered && frame[1] == next[static_cast<size_t>(frame[0])];
            next[static_cast<size_t>(frame[0])] = frame[1] + 1;
            ++received;
        }
    }
    for (auto& thread : stackThreads) thread.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(received, kThreads * kFrames);
    EXPECT_EQ(this->m_converter->Destroy(), S_OK);
}

using TcpConverterTest = ConverterTest<CTCPProtocolConverter>;

TEST_F(TcpConverterTest, LearnsTheNodeFromTheFifthByteOfQueuedFrames) {
    ASSERT_EQ(CreateConverter("TCP"), S_OK);
    auto* converter = static_cast<CTCPProtocolConverter*>(m_converter.Get());
    EXPECT_EQ(converter->LearnedNode(), 0);
    const BYTE frame[] = {1, 2, 3, 4, 0x2A, 6};
    Stack()->Deliver(frame, sizeof(frame));
    EXPECT_EQ(converter->LearnedNode(), 0x2A);
    Stack()->Deliver(frame, 4);  // too short to teach anything, but queued
    EXPECT_EQ(converter->LearnedNode(), 0x2A);
    const char information[] = "INFORMATION";
    Stack()->Deliver(reinterpret_cast<const BYTE*>(information), 11);  // dropped: teaches nothing
    EXPECT_EQ(converter->LearnedNode(), 0x2A);
    EXPECT_EQ(Drain().size(), 2u);
    EXPECT_EQ(m_converter->Destroy(), S_OK);
}

}  // namespace
