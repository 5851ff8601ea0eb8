// Received frames through a converter (Receive -> queue -> Next) against the same buffers through
// a std::mutex + std::deque; CompareConfiguration calls per second; memory per queued frame.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "sim/SimObjects.h"

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

// The converter path: N delivering threads call Receive; this thread drains with GetReceiveData/Next.
void BM_ConverterReceiveToNext(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    ComPtr<IStackCallback> callback;
    ComPtr<IZTK_ProtocolConverter> converter;
    CProtocolConverter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
    converter.As(&callback);
    const long perThread = 20000;
    for (auto _ : state) {
        std::vector<std::thread> stack;
        for (int t = 0; t < threads; ++t) {
            stack.emplace_back([&] {
                BenchMessage message;
                for (long i = 0; i < perThread; ++i) callback->Receive(&message);
            });
        }
        long taken = 0;
        ComPtr<IEnumMessages> messages;
        LONG count = 0;
        converter->GetReceiveData(0, &count, messages.Put());
        while (taken < perThread * threads) {
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
    }
    state.SetItemsProcessed(state.iterations() * perThread * threads);
}
BENCHMARK(BM_ConverterReceiveToNext)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

// The baseline: the same buffers pushed and popped through a std::mutex + std::deque.
void BM_MutexDequeBaseline(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    std::mutex lock;
    std::deque<std::pair<BYTE*, LONG>> queue;
    const long perThread = 20000;
    for (auto _ : state) {
        std::vector<std::thread> producers;
        for (int t = 0; t < threads; ++t) {
            producers.emplace_back([&] {
                BenchMessage message;
                for (long i = 0; i < perThread; ++i) {
                    LONG size = 0;
                    BYTE* data = nullptr;
                    message.GetData(&size, &data);
                    std::lock_guard<std::mutex> guard(lock);
                    queue.emplace_back(data, size);
                }
            });
        }
        long taken = 0;
        while (taken < perThread * threads) {
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
    }
    state.SetItemsProcessed(state.iterations() * perThread * threads);
}
BENCHMARK(BM_MutexDequeBaseline)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

template <class Converter>
void CompareConfigurationBench(benchmark::State& state, const char* own, const char* candidate) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SimFramework framework;
    SimWorld::Instance().SetRecording(false);
    ComPtr<IStackFactory> factory = SimStackFactory::Make();
    ComPtr<IZTK_DeviceConfig> config = SimDeviceConfig::Make(own);
    ComPtr<IZTK_ProtocolConverter> converter;
    Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
    ComPtr<IStackCallback> callback;
    converter.As(&callback);
    const std::basic_string<WCHAR> name = ToWide("STACK"), text = ToWide(candidate);
    converter->Create(nullptr, reinterpret_cast<USHORT*>(const_cast<WCHAR*>(name.c_str())), factory.Get(), config.Get(),
                      config.Get());
    for (auto _ : state) {
        LONG same = 0;
        callback->CompareConfiguration(text.c_str(), &same);
        benchmark::DoNotOptimize(same);
    }
    state.SetItemsProcessed(state.iterations());
    converter->Destroy();
    SimWorld::Instance().SetRecording(true);
}

void BM_CompareConfigurationLegacy(benchmark::State& state) {
    CompareConfigurationBench<CProtocolConverter>(state, "[NET]NET:TAVRIN,2;[DRVR]PORT:COM1;NODE:5;[ADDRESS]DNA:1;DA1:20;",
                                                  "[NET]NET:TAVRIN;[DRVR]PORT:COM1;NODE:7;[ADDRESS]DNA:1;DA1:21;");
}
BENCHMARK(BM_CompareConfigurationLegacy);

void BM_CompareConfigurationTcp(benchmark::State& state) {
    CompareConfigurationBench<CTCPProtocolConverter>(
        state, "[NET]NET:ETNTCPKORA;[DRVR]PORT:502;NODE:1;[ADDRESS]IPADDR:192.0.2.10;",
        "[NET]NET:ETNTCPKORA;[DRVR]PORT:502;NODE:1;[ADDRESS]IPADDR:192.0.2.10;");
}
BENCHMARK(BM_CompareConfigurationTcp);

// Heap bytes per queued 64-byte frame beyond its 64 bytes: the queue's record and the
// allocators' overhead, measured with glibc's allocation statistics.
void BM_MemoryPerQueuedFrame(benchmark::State& state) {
    constexpr int kFrames = 100000;
    double perFrame = 0;
    for (auto _ : state) {
        CEnumMessages* queue = nullptr;
        CEnumMessages::MakeObject(&queue);
        const size_t before = mallinfo2().uordblks;
        for (int i = 0; i < kFrames; ++i) queue->push(kFrameSize, static_cast<BYTE*>(CoTaskMemAlloc(kFrameSize)));
        const size_t after = mallinfo2().uordblks;
        perFrame = static_cast<double>(after - before) / kFrames - kFrameSize;
        queue->Release();
    }
    state.counters["bytes_per_frame_beyond_payload"] = perFrame;
}
BENCHMARK(BM_MemoryPerQueuedFrame)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
