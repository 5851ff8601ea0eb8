// Trace formatting and frame dumps from any bytes, against any header the shared area may hold:
// the input sets output on or off, the channel set (terminated or not), the pending count and
// both slot indexes, then makes one trace call (a frame dump of up to 64 KiB with any length up
// to its buffer's, a status line, or a line of text on any channel). A viewer thread drains the
// ring all the while, as zanthrop-trace does, and checks every line it takes.
#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "trace/Trace.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

constexpr size_t kMaxFrame = 64 * 1024;

void Require(bool condition) {
    if (!condition) std::abort();
}

// The viewer: its own trace objects (named for this process), attached once for the process.
struct Viewer {
    Viewer() {
        const std::string suffix = std::to_string(getpid());
        area = "ZanthropFuzz_Area_" + suffix;
        mutex = "ZanthropFuzz_Mutex_" + suffix;
        event = "ZanthropFuzz_Event_" + suffix;
        const TraceNames names{area.c_str(), mutex.c_str(), event.c_str()};
        Require(reader.Create(names));
        reader.SetChannels("QOEF");
        reader.SetOutput(true);
        trace_testing::Reattach(names);
        drain = std::thread([this] {
            for (;;) {
                reader.WaitForSignal(1);
                for (const std::string& line : reader.Take()) Require(line.size() <= static_cast<size_t>(kTraceMaxLine));
            }
        });
        drain.detach();  // runs for the process's life
    }

    std::string area, mutex, event;
    TraceReader reader;
    std::thread drain;
};

Viewer& TheViewer() {
    static Viewer* viewer = new Viewer();
    return *viewer;
}

void SetHeader(FuzzedDataProvider& input) {
    const char outputOn = input.ConsumeBool() ? static_cast<char>(input.ConsumeIntegral<unsigned char>()) : 1;
    const std::vector<char> channels = input.ConsumeBytes<char>(kTraceChannelSetSize);
    // Mostly values near the ring's size; now and then any value at all. (A pending count above
    // the limit makes the writer wait until the viewer has taken lines, at most a second.)
    const bool wild = input.ConsumeIntegralInRange<int>(0, 15) == 0;
    const LONG pending = wild ? input.ConsumeIntegral<LONG>() : input.ConsumeIntegralInRange<LONG>(-2000, 2000);
    const LONG writeSlot = wild ? input.ConsumeIntegral<LONG>() : input.ConsumeIntegralInRange<LONG>(-2, 1001);
    const LONG readSlot = wild ? input.ConsumeIntegral<LONG>() : input.ConsumeIntegralInRange<LONG>(-2, 1001);
    TheViewer().reader.Locked([&](TraceOutputArea& area) {
        area.outputOn = outputOn;
        std::memset(area.channelSet, 0, sizeof(area.channelSet));
        if (!channels.empty()) std::memcpy(area.channelSet, channels.data(), channels.size());
        area.pendingCount = pending;
        area.writeSlot = writeSlot;
        area.readSlot = readSlot;
    });
}

// TraceWrite with a list of arguments, for channel codes that no wrapper has.
void WriteOn(const char* code, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    TraceWrite(code, format, arguments);
    va_end(arguments);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TheViewer();
    FuzzedDataProvider input(data, size);
    SetHeader(input);
    const std::string code = input.ConsumeRandomLengthString(3);
    switch (input.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: {  // a frame dump: any bytes, any length up to the buffer's (negative too), or no buffer
            const std::vector<BYTE> frame = input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange<size_t>(0, kMaxFrame));
            const LONG length = input.ConsumeBool() ? static_cast<LONG>(frame.size())
                                                    : input.ConsumeIntegralInRange<LONG>(INT_MIN, static_cast<LONG>(frame.size()));
            const LONG isRequest = input.ConsumeIntegral<LONG>();
            const BYTE* buffer = input.ConsumeBool() ? frame.data() : nullptr;
            TraceFrame(code.c_str(), buffer, buffer != nullptr ? length : input.ConsumeIntegral<LONG>(), isRequest);
            break;
        }
        case 1:
            TraceResult(input.ConsumeIntegral<LONG>(), 1, 2, 3);
            break;
        case 2: {
            const std::string text = input.ConsumeRandomLengthString(40000);
            TraceQO("%s", text.c_str());
            TraceE("%s\n", text.c_str());
            TraceF("%s", text.c_str());
            break;
        }
        case 3: {  // the core with any channel code
            const std::string text = input.ConsumeRemainingBytesAsString();
            WriteOn(code.c_str(), "%s", text.c_str());
            break;
        }
        default: {  // the prefix helpers alone
            std::string line;
            trace_detail::AppendClockField(line, input.ConsumeIntegral<LONGLONG>(), input.ConsumeIntegral<LONGLONG>());
            Require(line.size() <= 16);
            const std::string name = trace_detail::ProcessNameFromPath(input.ConsumeRemainingBytesAsString());
            Require(name.find('/') == std::string::npos && name.find('\\') == std::string::npos);
            break;
        }
    }
    return 0;
}
