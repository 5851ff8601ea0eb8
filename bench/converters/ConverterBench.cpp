// The converters against baselines measured in the same run:
//  - received frames (Receive -> queue -> Next), with 1 and 4 delivering threads and on one thread,
//    against the same buffers through a std::mutex + std::deque;
//  - CompareConfiguration against fetching the two texts alone (the framework's part of the call);
//  - Send against the same message calls made directly on the simulated framework;
//  - request/response round trips through a converter against the simulated framework driven
//    directly with the same frames;
//  - heap bytes per queued frame against the same frames in a std::deque.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "com/WideText.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "sim/SimObjects.h"
#include "trace/TraceSink.h"

namespace {

constexpr LONG kFrameSize = 64;

// A message that hands out a fresh 64-byte task-allocator frame on each GetData, as a stack's
// received message does, without the simulation's bookkeeping.
class BenchMessage final : public IPortMessage {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetData(LONG, BYTE*) override { return S_OK; }
    STDMETHODIMP GetData(LONG* size, BYTE** data) override {
        *data = static_cast<BYTE*>(CoTaskMemAlloc(kFrameSize));
        std::memset(*data, 0x5A, kFrameSize);
        *size = kFrameSize;
        return S_OK;
    }
    STDMETHODIMP Reserved5() override { return S_OK; }
    STDMETHODIMP Initialise(IPortMessage**) override { return S_OK; }
    STDMETHODIMP Reserved7() override { return S_OK; }
    STDMETHODIMP Reserved8() override { return S_OK; }
    STDMETHODIMP SetTimeout(LONG) override { return S_OK; }
    STDMETHODIMP Reserved10() override { return S_OK; }
    STDMETHODIMP SetRequireResponse(LONG) override { return S_OK; }
    STDMETHODIMP Reserved12() override { return S_OK; }
    STDMETHODIMP SetOptions(LONG, BYTE*) override { return S_OK; }
    STDMETHODIMP Reserved14() override { return S_OK; }
    STDMETHODIMP SetRequireReset(LONG) override { return S_OK; }
    STDMETHODIMP Reserved16() override { return S_OK; }
    STDMETHODIMP SetKind(LONG) override { return S_OK; }
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// CPU time of the whole process (every thread) so far.
double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs our side and the baseline batch by batch in turn (in alternating order), so that both see
// the same load on a shared machine. Each side returns its batch's wall-clock seconds; the
// benchmark's own time is ours. The counters hold both rates and their ratio ours / baseline in
// the repetition, and the CPU time all threads of the process spent per item on each side and
// its ratio ours / baseline: other programs on the machine disturb that less than the wall clock.
template <class Ours, class Baseline>
void Paired(benchmark::State& state, double itemsPerBatch, Ours ours, Baseline baseline) {
    double oursSeconds = 0, baselineSeconds = 0, oursCpu = 0, baselineCpu = 0;
    auto run = [](auto& side, double& seconds, double& cpu) {
        const double cpuBefore = ProcessCpuSeconds();
        const double elapsed = side();
        cpu += ProcessCpuSeconds() - cpuBefore;
        seconds += elapsed;
        return elapsed;
    };
    bool oursFirst = true;
    for (auto _ : state) {
        double elapsed = 0;
        if (oursFirst) {
            elapsed = run(ours, oursSeconds, oursCpu);
            run(baseline, baselineSeconds, baselineCpu);
        } else {
            run(baseline, baselineSeconds, baselineCpu);
            elapsed = run(ours, oursSeconds, oursCpu);
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(elapsed);
    }
    const double items = itemsPerBatch * static_cast<double>(state.iterations());
    state.counters["ours_per_second"] = items / oursSeconds;
    state.counters["baseline_per_second"] = items / baselineSeconds;
    state.counters["ratio"] = baselineSeconds / oursSeconds;
    state.counters["ours_cpu_ns"] = oursCpu * 1e9 / items;
    state.counters["baseline_cpu_ns"] = baselineCpu * 1e9 / items;
    state.counters["cpu_ratio"] = oursCpu / baselineCpu;
    state.SetItemsProcessed(static_cast<int64_t>(items));
}

constexpr long kFramesPerThread = 20000;

// The converter path: N delivering threads call Receive; this thread drains with GetReceiveData/Next.
double ConverterBatch(IStackCallback* callback, IZTK_ProtocolConverter* converter, int threads) {
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> stack;
    for (int t = 0; t < threads; ++t) {
        stack.emplace_back([callback] {
            BenchMessage message;
            for (long i = 0; i < kFramesPerThread; ++i) callback->Receive(&message);
        });
    }
    long taken = 0;
    ComPtr<IEnumMessages> messages;
    LONG count = 0;
    converter->GetReceiveData(0, &count, messages.Put());
    while (taken < kFramesPerThread * threads) {
        LONG size = 0;
        BYTE* data = nullptr;
        if (messages->Next(&size, &data) == S_OK) {
            CoTaskMemFree(data);
            ++taken;
        } else {
            std::this_thread::yield();
        }
    }
    for (auto& thread : stack) thread.join();
    return SecondsSince(start);
}

// The baseline: the same buffers pushed and popped through a std::mutex + std::deque.
double MutexDequeBatch(int threads) {
    const Clock::time_point start = Clock::now();
    std::mutex lock;
    std::deque<std::pair<BYTE*, LONG>> queue;
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([&] {
            BenchMessage message;
            for (long i = 0; i < kFramesPerThread; ++i) {
                LONG size = 0;
                BYTE* data = nullptr;
                message.GetData(&size, &data);
                std::lock_guard<std::mutex> guard(lock);
                queue.emplace_back(data, size);
            }
        });
    }
    long taken = 0;
    while (taken < kFramesPerThread * threads) {
        std::pair<BYTE*, LONG> frame{nullptr, 0};
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!queue.empty()) {
                frame = queue.front();
                queue.pop_front();
            }
        }
        if (frame.first != nullptr) {
            CoTaskMemFree(frame.first);
            ++taken;
        } else {
            std::this_thread::yield();
        }
    }
    for (auto& thread : producers) thread.join();
    return SecondsSince(start);
}

void BM_ReceiveToNextVsMutexDeque(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    ComPtr<IStackCallback> callback;
    ComPtr<IZTK_ProtocolConverter> converter;
    CProtocolConverter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
    converter.As(&callback);
    Paired(
        state, static_cast<double>(kFramesPerThread * threads),
        [&] { return ConverterBatch(callback.Get(), converter.Get(), threads); },
        [&] { return MutexDequeBatch(threads); });
}
BENCHMARK(BM_ReceiveToNextVsMutexDeque)->Arg(1)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same work on one thread, each frame received and taken at once: the path's own cost without
// contention or scheduling, which the load of other programs hardly moves (and which callgrind
// can count: valgrind --tool=callgrind converter_bench --benchmark_filter=SameThread).
double ConverterSameThreadBatch(IStackCallback* callback, IEnumMessages* messages) {
    const Clock::time_point start = Clock::now();
    BenchMessage message;
    for (long i = 0; i < kFramesPerThread; ++i) {
        callback->Receive(&message);
        LONG size = 0;
        BYTE* data = nullptr;
        messages->Next(&size, &data);
        CoTaskMemFree(data);
    }
    return SecondsSince(start);
}

double MutexDequeSameThreadBatch() {
    const Clock::time_point start = Clock::now();
    std::mutex lock;
    std::deque<std::pair<BYTE*, LONG>> queue;
    BenchMessage message;
    for (long i = 0; i < kFramesPerThread; ++i) {
        LONG size = 0;
        BYTE* data = nullptr;
        message.GetData(&size, &data);
        {
            std::lock_guard<std::mutex> guard(lock);
            queue.emplace_back(data, size);
        }
        std::pair<BYTE*, LONG> frame{nullptr, 0};
        {
            std::lock_guard<std::mutex> guard(lock);
            frame = queue.front();
            queue.pop_front();
        }
        CoTaskMemFree(frame.first);
    }
    return SecondsSince(start);
}

void BM_ReceiveThenNextSameThread(benchmark::State& state) {
    ComPtr<IStackCallback> callback;
    ComPtr<IZTK_ProtocolConverter> converter;
    CProtocolConverter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
    converter.As(&callback);
    ComPtr<IEnumMessages> messages;
    LONG count = 0;
    converter->GetReceiveData(0, &count, messages.Put());
    Paired(
        state, static_cast<double>(kFramesPerThread),
        [&] { return ConverterSameThreadBatch(callback.Get(), messages.Get()); },
        [&] { return MutexDequeSameThreadBatch(); });
}
BENCHMARK(BM_ReceiveThenNextSameThread)->UseManualTime()->Unit(benchmark::kMillisecond);

// A converter created on the simulated framework (loopback stack, broker, port), recording off.
template <class Converter>
class ConnectedConverter {
public:
    ConnectedConverter(const char* stackName, const char* configuration, const char* eventName = nullptr) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_framework = std::make_unique<SimFramework>();
        SimWorld::Instance().SetRecording(false);
        SimStack::controlFrameEvery = 0;
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make(configuration);
        Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
        converter.As(&callback);
        std::basic_string<WCHAR> event = eventName != nullptr ? ToWide(eventName) : std::basic_string<WCHAR>();
        std::basic_string<WCHAR> name = ToWide(stackName);
        created = converter->Create(eventName != nullptr ? reinterpret_cast<USHORT*>(event.data()) : nullptr,
                                    reinterpret_cast<USHORT*>(name.data()), m_factory.Get(), m_config.Get(),
                                    m_config.Get());
    }
    ~ConnectedConverter() {
        converter->Destroy();
        callback.Reset();
        converter.Reset();
        m_config.Reset();
        m_factory.Reset();
        m_framework.reset();
        SimStack::controlFrameEvery = 4;
        SimWorld::Instance().SetRecording(true);
        CoUninitialize();
    }
    SimStack* Stack() { return static_cast<SimStackFactory*>(m_factory.Get())->LastStack(); }

    ComPtr<IZTK_ProtocolConverter> converter;
    ComPtr<IStackCallback> callback;
    HRESULT created = E_FAIL;

private:
    std::unique_ptr<SimFramework> m_framework;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
};

constexpr const char* kLegacyOwn = "[NET]NET:TAVRIN,2;[DRVR]PORT:COM1;NODE:5;[ADDRESS]DNA:1;DA1:20;";
// Both candidates designate the own connection: the legacy one by network type and port, the TCP
// one by all four entries.
constexpr const char* kLegacyCandidate = "[NET]NET:TAVRIN;[DRVR]PORT:COM1;NODE:7;[ADDRESS]DNA:1;DA1:21;";
constexpr const char* kTcpOwn = "[NET]NET:ETNTCPKORA;[DRVR]PORT:502;NODE:1;[ADDRESS]IPADDR:192.0.2.10;";
constexpr const char* kTcpCandidate = kTcpOwn;

template <class Converter>
void CompareConfigurationBench(benchmark::State& state, const char* own, const char* candidate) {
    ConnectedConverter<Converter> connected("STACK", own);
    if (connected.created != S_OK) state.SkipWithError("Create failed");
    const std::basic_string<WCHAR> text = ToWide(candidate);
    LONG same = 0;
    for (auto _ : state) {
        same = 0;
        connected.callback->CompareConfiguration(text.c_str(), &same);
        benchmark::DoNotOptimize(same);
    }
    if (same != 1) state.SkipWithError("the candidate should designate the connection");
    state.SetItemsProcessed(state.iterations());
}

void BM_CompareConfigurationLegacy(benchmark::State& state) {
    CompareConfigurationBench<CProtocolConverter>(state, kLegacyOwn, kLegacyCandidate);
}
BENCHMARK(BM_CompareConfigurationLegacy);

void BM_CompareConfigurationTcp(benchmark::State& state) {
    CompareConfigurationBench<CTCPProtocolConverter>(state, kTcpOwn, kTcpCandidate);
}
BENCHMARK(BM_CompareConfigurationTcp);

// The baseline: what every CompareConfiguration must do before it can decide anything, done
// directly: the candidate to 8-bit text, the own configuration lent by the stack, fetched and
// converted. The difference to the converter is the parsing and the decision.
template <class Converter>
void ConfigurationFetchBench(benchmark::State& state, const char* own, const char* candidate) {
    ConnectedConverter<Converter> connected("STACK", own);
    if (connected.created != S_OK) state.SkipWithError("Create failed");
    const std::basic_string<WCHAR> text = ToWide(candidate);
    IProtocolStack* stack = connected.Stack();
    WCHAR emptyType[1] = {0};
    for (auto _ : state) {
        std::string candidateText = ToAnsi(text.c_str());
        IZTK_DeviceConfig* config = nullptr;
        stack->QueryObject(&IID_IZTK_DeviceConfig, reinterpret_cast<void**>(&config));
        LPWSTR ownText = nullptr;
        config->GetConfiguration(emptyType, &ownText);
        std::string ownAnsi = ToAnsi(ownText);
        CoTaskMemFree(ownText);
        benchmark::DoNotOptimize(candidateText);
        benchmark::DoNotOptimize(ownAnsi);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ConfigurationFetchLegacy(benchmark::State& state) {
    ConfigurationFetchBench<CProtocolConverter>(state, kLegacyOwn, kLegacyCandidate);
}
BENCHMARK(BM_ConfigurationFetchLegacy);

void BM_ConfigurationFetchTcp(benchmark::State& state) {
    ConfigurationFetchBench<CTCPProtocolConverter>(state, kTcpOwn, kTcpCandidate);
}
BENCHMARK(BM_ConfigurationFetchTcp);

// --- Send ---

// A port that takes every message and keeps nothing (the null sink of ports), so that Send is
// measured without a stack thread answering; and the broker that hands it out.
class NullPort final : public ComObject<NullPort, Counting::Atomic, IPort> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP AttachStack(IUnknown*) override { return S_OK; }
    STDMETHODIMP DetachStack(IUnknown*) override { return S_OK; }
    STDMETHODIMP ClosePort(ZTK_ID) override { return S_OK; }
    STDMETHODIMP Submit(ZTK_ID, IPortMessage* pMessage) override {
        if (pMessage == nullptr) return E_UNEXPECTED;
        ++submitted;
        return S_OK;
    }
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }

    long submitted = 0;
};

NullPort* TheNullPort() {
    static NullPort* port = [] {
        NullPort* made = nullptr;
        NullPort::MakeObject(&made);  // kept for the process's life
        return made;
    }();
    return port;
}

class NullPortBroker final : public ComObject<NullPortBroker, Counting::Atomic, IPortBroker> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP RegisterStack(IUnknown*, IZTK_ProtocolConverter*, IPort** ppPort, ZTK_ID* pPortId,
                               LONG* plReserved) override {
        *ppPort = TheNullPort();  // no reference: the broker's, as the framework does it
        *pPortId = ZTK_ID{{7}};
        *plReserved = 0;
        return S_OK;
    }
    STDMETHODIMP UnregisterStack(IUnknown*) override { return S_OK; }
    STDMETHODIMP AcquireComponent(CLSID, LONG, LPCWSTR, DWORD*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP ReleaseComponent(CLSID, LPCWSTR, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved10() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
};

template <class T>
class BenchClassFactory final : public ComObject<BenchClassFactory<T>, Counting::Atomic, IClassFactory> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return T::CreateObject(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

// Registers a class object for this thread's apartment while it lives.
template <class T>
class ClassRegistration {
public:
    explicit ClassRegistration(REFCLSID clsid) {
        BenchClassFactory<T>* factory = nullptr;
        if (SUCCEEDED(BenchClassFactory<T>::MakeObject(&factory))) {
            CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &m_cookie);
            factory->Release();
        }
    }
    ~ClassRegistration() {
        if (m_cookie != 0) CoRevokeClassObject(m_cookie);
    }
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;

private:
    DWORD m_cookie = 0;
};

// The simulated framework's messages and stacks with the null port: what Send and its baseline share.
class NullPortFramework {
public:
    NullPortFramework() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        SimWorld::Instance().SetRecording(false);
        m_broker = std::make_unique<ClassRegistration<NullPortBroker>>(CLSID_PortBroker);
        m_message = std::make_unique<ClassRegistration<SimPortMessage>>(CLSID_PortMessage);
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make(kLegacyOwn);
    }
    ~NullPortFramework() {
        m_config.Reset();
        m_factory.Reset();
        m_message.reset();
        m_broker.reset();
        SimWorld::Instance().SetRecording(true);
        CoUninitialize();
    }
    IStackFactory* Factory() { return m_factory.Get(); }
    IZTK_DeviceConfig* Config() { return m_config.Get(); }

private:
    std::unique_ptr<ClassRegistration<NullPortBroker>> m_broker;
    std::unique_ptr<ClassRegistration<SimPortMessage>> m_message;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
};

BYTE sendFrame[kFrameSize] = {'R', 'E', 'Q'};
BYTE sendOptions[4] = {1, 2, 3, 4};

void BM_SendThroughConverter(benchmark::State& state) {
    NullPortFramework framework;
    ComPtr<IZTK_ProtocolConverter> converter;
    CProtocolConverter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
    std::basic_string<WCHAR> name = ToWide("LEGACY");
    if (converter->Create(nullptr, reinterpret_cast<USHORT*>(name.data()), framework.Factory(), framework.Config(),
                          framework.Config()) != S_OK) {
        state.SkipWithError("Create failed");
    }
    const long before = TheNullPort()->submitted;
    for (auto _ : state) {
        const HRESULT hr = converter->Send(1, 0, 500, kFrameSize, sendFrame, sizeof(sendOptions), sendOptions);
        benchmark::DoNotOptimize(hr);
    }
    if (TheNullPort()->submitted - before != static_cast<long>(state.iterations())) {
        state.SkipWithError("not every Send reached the port");
    }
    state.SetItemsProcessed(state.iterations());
    converter->Destroy();
}
BENCHMARK(BM_SendThroughConverter);

// The baseline: the calls Send makes, made by the client itself on the same port.
void BM_SendDirect(benchmark::State& state) {
    NullPortFramework framework;
    IPort* port = nullptr;
    ZTK_ID portId{};
    {
        ComPtr<IPortBroker> broker;
        CoCreateInstance(CLSID_PortBroker, nullptr, kBrokerClassContext, IID_IPortBroker, broker.PutVoid());
        LONG unused = 0;
        broker->RegisterStack(nullptr, nullptr, &port, &portId, &unused);
    }
    const long before = TheNullPort()->submitted;
    for (auto _ : state) {
        ComPtr<IPortMessage> message;
        CoCreateInstance(CLSID_PortMessage, nullptr, kMessageClassContext, IID_IPortMessage, message.PutVoid());
        IPortMessage* current = message.Detach();
        current->Initialise(&current);
        message.Attach(current);
        message->SetData(kFrameSize, sendFrame);
        message->SetOptions(sizeof(sendOptions), sendOptions);
        message->SetTimeout(500);
        message->SetRequireResponse(1);
        message->SetRequireReset(0);
        message->SetKind(kMessageKind);
        const HRESULT hr = port->Submit(portId, message.Get());
        benchmark::DoNotOptimize(hr);
    }
    if (TheNullPort()->submitted - before != static_cast<long>(state.iterations())) {
        state.SkipWithError("not every message reached the port");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendDirect);

// --- round trips ---

constexpr int kRoundTripsPerBatch = 200;

// One request at a time: Send, wait for the client's event, drain with GetReceiveData/Next.
double ConverterRoundTrips(IZTK_ProtocolConverter* converter, HANDLE event) {
    const Clock::time_point start = Clock::now();
    ComPtr<IEnumMessages> messages;
    LONG count = 0;
    for (int i = 0; i < kRoundTripsPerBatch; ++i) {
        converter->Send(1, 0, 500, kFrameSize, sendFrame, sizeof(sendOptions), sendOptions);
        for (bool answered = false; !answered;) {
            WaitForSingleObject(event, INFINITE);
            converter->GetReceiveData(0, &count, messages.Put());
            LONG size = 0;
            BYTE* data = nullptr;
            while (messages->Next(&size, &data) == S_OK) {
                CoTaskMemFree(data);
                answered = true;
            }
        }
    }
    return SecondsSince(start);
}

// The baseline's receiving side: the client's own callback with a std::mutex + std::deque.
class DirectCallback final : public ComObject<DirectCallback, Counting::Atomic, IStackCallback> {
public:
    static constexpr bool kCountsTowardsModule = false;
    STDMETHODIMP ConnectPort(IUnknown*) override { return S_OK; }
    STDMETHODIMP DisconnectPort() override { return S_OK; }
    STDMETHODIMP Notify(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP CompareConfiguration(LPCWSTR, LONG*) override { return S_OK; }
    STDMETHODIMP Receive(IPortMessage* pMessage) override {
        LONG size = 0;
        BYTE* data = nullptr;
        if (pMessage == nullptr || FAILED(pMessage->GetData(&size, &data))) return S_OK;
        {
            std::lock_guard<std::mutex> guard(lock);
            frames.emplace_back(data, size);
        }
        SetEvent(event);
        return S_OK;
    }

    HANDLE event = nullptr;
    std::mutex lock;  // guards frames
    std::deque<std::pair<BYTE*, LONG>> frames;
};

// The baseline: the simulated framework driven by the client itself, with the connection a
// converter's Create makes and the calls its Send makes.
class DirectConnection {
public:
    DirectConnection() {
        m_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make(kLegacyOwn);
        DirectCallback* raw = nullptr;
        DirectCallback::MakeObject(&raw);
        m_callback.Attach(raw);
        m_callback->event = m_event;
        std::basic_string<WCHAR> name = ToWide("LEGACY");
        m_factory->CreateStack(name.data(), m_config.Get(), &m_stack);
        m_stack->GetStackId(&m_stackId);
        m_stack->Advise(&IID_IStackCallback, static_cast<IStackCallback*>(m_callback.Get()));
        m_factory->OpenStack(m_stackId);
        CoCreateInstance(CLSID_PortBroker, nullptr, kBrokerClassContext, IID_IPortBroker, m_broker.PutVoid());
        LONG unused = 0;
        m_broker->RegisterStack(m_stack, nullptr, &m_port, &m_portId, &unused);
        m_port->AttachStack(m_stack);
    }
    ~DirectConnection() {
        m_port->ClosePort(m_portId);
        m_port->DetachStack(m_stack);
        m_broker->UnregisterStack(m_stack);
        m_factory->CloseStack(m_stackId);
        m_stack->Unadvise(&IID_IStackCallback);
        m_factory->DeleteStack(m_stackId);
        CloseHandle(m_event);
    }

    double RoundTrips() {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < kRoundTripsPerBatch; ++i) {
            ComPtr<IPortMessage> message;
            CoCreateInstance(CLSID_PortMessage, nullptr, kMessageClassContext, IID_IPortMessage, message.PutVoid());
            IPortMessage* current = message.Detach();
            current->Initialise(&current);
            message.Attach(current);
            message->SetData(kFrameSize, sendFrame);
            message->SetOptions(sizeof(sendOptions), sendOptions);
            message->SetTimeout(500);
            message->SetRequireResponse(1);
            message->SetRequireReset(0);
            message->SetKind(kMessageKind);
            m_port->Submit(m_portId, message.Get());
            for (bool answered = false; !answered;) {
                WaitForSingleObject(m_event, INFINITE);
                std::lock_guard<std::mutex> guard(m_callback->lock);
                for (auto& frame : m_callback->frames) CoTaskMemFree(frame.first);
                answered = !m_callback->frames.empty();
                m_callback->frames.clear();
            }
        }
        return SecondsSince(start);
    }

private:
    HANDLE m_event = nullptr;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
    ComPtr<DirectCallback> m_callback;
    IProtocolStack* m_stack = nullptr;
    ZTK_ID m_stackId{};
    ComPtr<IPortBroker> m_broker;
    IPort* m_port = nullptr;
    ZTK_ID m_portId{};
};

void BM_RoundTripVsDirect(benchmark::State& state) {
    const std::string eventName = "ZanthropBench_RoundTrip_" + std::to_string(::getpid());
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
    {
        ConnectedConverter<CProtocolConverter> connected("LEGACY", kLegacyOwn, eventName.c_str());
        if (connected.created != S_OK) state.SkipWithError("Create failed");
        DirectConnection direct;
        Paired(
            state, kRoundTripsPerBatch, [&] { return ConverterRoundTrips(connected.converter.Get(), event); },
            [&] { return direct.RoundTrips(); });
    }
    CloseHandle(event);
}
BENCHMARK(BM_RoundTripVsDirect)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- memory ---

constexpr int kMemoryFrames = 100000;

// Heap bytes per queued 64-byte frame beyond its 64 bytes: the task allocator's block overhead,
// the queue's record and its container, measured with glibc's allocation statistics.
void BM_QueuedFrameBytes(benchmark::State& state) {
    double perFrame = 0;
    for (auto _ : state) {
        CEnumMessages* queue = nullptr;
        CEnumMessages::MakeObject(&queue);
        const size_t before = mallinfo2().uordblks;
        for (int i = 0; i < kMemoryFrames; ++i) queue->push(kFrameSize, static_cast<BYTE*>(CoTaskMemAlloc(kFrameSize)));
        const size_t after = mallinfo2().uordblks;
        if (after <= before) state.SkipWithError("no allocator statistics (a sanitizer's allocator?)");
        perFrame = static_cast<double>(after - before) / kMemoryFrames - kFrameSize;
        queue->Release();
    }
    state.counters["bytes_per_frame"] = perFrame;
}
BENCHMARK(BM_QueuedFrameBytes)->Iterations(1);

// The baseline: the same task-allocator frames held in a std::deque of (buffer, size) pairs.
void BM_QueuedFrameBytesDeque(benchmark::State& state) {
    double perFrame = 0;
    for (auto _ : state) {
        auto* queue = new std::deque<std::pair<BYTE*, LONG>>();
        const size_t before = mallinfo2().uordblks;
        for (int i = 0; i < kMemoryFrames; ++i) {
            queue->emplace_back(static_cast<BYTE*>(CoTaskMemAlloc(kFrameSize)), kFrameSize);
        }
        const size_t after = mallinfo2().uordblks;
        if (after <= before) state.SkipWithError("no allocator statistics (a sanitizer's allocator?)");
        perFrame = static_cast<double>(after - before) / kMemoryFrames - kFrameSize;
        for (auto& frame : *queue) CoTaskMemFree(frame.first);
        delete queue;
    }
    state.counters["bytes_per_frame"] = perFrame;
}
BENCHMARK(BM_QueuedFrameBytesDeque)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    // The converters trace on every call. Whatever trace viewer runs on the machine, these figures
    // are those of the usual case, no viewer: the process detaches from the production area.
    trace_testing::Reattach({"ZanthropBench_NoArea", "ZanthropBench_NoMutex", "ZanthropBench_NoEvent"});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
