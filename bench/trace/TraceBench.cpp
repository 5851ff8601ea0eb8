// What a trace call costs: with output off against an empty call, and an enabled line stored in
// the ring (with a reader draining it) against formatting alone and against a synchronous spdlog
// logger writing to a null sink. Every benchmark measures one fixed line ("...Send() %d\n").
#include <benchmark/benchmark.h>

#include <spdlog/logger.h>
#include <spdlog/sinks/null_sink.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "trace/Trace.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

const TraceNames kBenchNames{"ZanthropBench_Area", "ZanthropBench_Mutex", "ZanthropBench_Event"};
const TraceNames kNoViewer{"ZanthropBench_NoArea", "ZanthropBench_NoMutex", "ZanthropBench_NoEvent"};

__attribute__((noinline)) void EmptyCall(int value) { benchmark::DoNotOptimize(value); }

void BM_EmptyCall(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) EmptyCall(++i);
}
BENCHMARK(BM_EmptyCall);

void BM_TraceOutputOff(benchmark::State& state) {
    trace_testing::Reattach(kNoViewer);
    int i = 0;
    for (auto _ : state) TraceQO("CProtocolConverter::Send() %d\n", ++i);
}
BENCHMARK(BM_TraceOutputOff);

// A viewer exists and the area is attached, but it has output off: still the one test.
void BM_TraceViewerOutputOff(benchmark::State& state) {
    TraceReader reader;
    reader.Create(kBenchNames);
    reader.SetChannels("QO");
    reader.SetOutput(false);
    trace_testing::Reattach(kBenchNames);
    int i = 0;
    for (auto _ : state) TraceQO("CProtocolConverter::Send() %d\n", ++i);
    trace_testing::Reattach(kNoViewer);
}
BENCHMARK(BM_TraceViewerOutputOff);

// A viewer in this process: the ring exists and a thread keeps taking lines.
class DrainingViewer {
public:
    DrainingViewer() {
        m_reader.Create(kBenchNames);
        m_reader.SetChannels("QO");
        m_reader.SetOutput(true);
        trace_testing::Reattach(kBenchNames);
        m_drainer = std::thread([this] {
            while (!m_stop) {
                m_reader.WaitForSignal(1);
                m_taken += static_cast<long long>(m_reader.Take().size());
            }
        });
    }
    ~DrainingViewer() {
        m_stop = true;
        m_drainer.join();
        trace_testing::Reattach(kNoViewer);
    }

private:
    TraceReader m_reader;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_taken{0};
    std::thread m_drainer;
};

void BM_TraceQOIntoRing(benchmark::State& state) {
    DrainingViewer viewer;
    int i = 0;
    for (auto _ : state) TraceQO("CProtocolConverter::Send() %d\n", ++i);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceQOIntoRing)->UseRealTime();

void BM_SnprintfSameLine(benchmark::State& state) {
    char buffer[512];
    int i = 0;
    for (auto _ : state) {
        std::snprintf(buffer, sizeof(buffer), "CProtocolConverter::Send() %d\n", ++i);
        benchmark::DoNotOptimize(buffer);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnprintfSameLine);

// A thread-safe sink, as the trace is: its mutex is taken for every line.
void BM_SpdlogNullSink(benchmark::State& state) {
    spdlog::logger logger("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    int i = 0;
    for (auto _ : state) logger.info("CProtocolConverter::Send() {}", ++i);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpdlogNullSink);

}  // namespace

BENCHMARK_MAIN();
