// What the converters write to the trace ring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "sim/SimObjects.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

template <class Converter>
std::vector<std::string> TraceOfCreateSendDestroy() {
    const std::string suffix = std::to_string(GetCurrentThreadId()) + Converter::kClassName;
    const std::string area = "ZanthropConverterTrace_A" + suffix, mutex = "ZanthropConverterTrace_M" + suffix,
                      event = "ZanthropConverterTrace_E" + suffix;
    const TraceNames names{area.c_str(), mutex.c_str(), event.c_str()};
    TraceReader reader;
    EXPECT_TRUE(reader.Create(names));
    reader.SetChannels("QOE");
    reader.SetOutput(true);
    trace_testing::Reattach(names);

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        SimFramework framework;
        ComPtr<IStackFactory> factory = SimStackFactory::Make();
        ComPtr<IZTK_DeviceConfig> config = SimDeviceConfig::Make("[NET]NET:ETHERNET;");
        ComPtr<IZTK_ProtocolConverter> converter;
        Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid());
        const std::basic_string<WCHAR> stackName = ToWide("STACK");
        converter->Create(nullptr, reinterpret_cast<USHORT*>(const_cast<WCHAR*>(stackName.c_str())), factory.Get(),
                          config.Get(), config.Get());
        BYTE frame[] = {1, 2, 3};
        converter->Send(0, 0, 0, sizeof(frame), frame, 0, nullptr);
        converter->Destroy();
    }
    CoUninitialize();
    std::vector<std::string> lines;
    for (std::string& line : reader.Take()) {
        if (line.find("::Receive()") == std::string::npos) lines.push_back(line);  // responses may come in between
    }
    const std::string gone = "ZanthropConverterTrace_none";
    trace_testing::Reattach({gone.c_str(), gone.c_str(), gone.c_str()});
    return lines;
}

TEST(ConverterTraceTest, LegacyConverterWritesEntryLinesAndConnectionMilestones) {
    EXPECT_EQ(TraceOfCreateSendDestroy<CProtocolConverter>(),
              (std::vector<std::string>{"CProtocolConverter::Create()\n", "ERROR: NEW LEGACY CONNECTION\n",
                                        "ERROR: NEW LEGACY CONNECTION - Initialising Stack\n",
                                        "ERROR: NEW LEGACY CONNECTION - Stack Initialised\n",
                                        "CProtocolConverter::Send()\n"}));
}

TEST(ConverterTraceTest, TcpConverterWritesEntryLinesOnly) {
    EXPECT_EQ(TraceOfCreateSendDestroy<CTCPProtocolConverter>(),
              (std::vector<std::string>{"CTCPProtocolConverter::Create()\n", "CTCPProtocolConverter::Send()\n"}));
}

}  // namespace
