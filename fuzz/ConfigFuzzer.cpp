// Configuration texts from any bytes: CConfigString lookups, FirstListElement, CStringTokenizer,
// both matching decisions, and CompareConfiguration on a legacy and a TCP converter created on
// the simulated framework, with the input as their own configuration and as the candidate buffer
// (UTF-16 units of any value, lone surrogates included).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "config/CConfigString.h"
#include "config/CStringTokenizer.h"
#include "converters/CProtocolConverter.h"
#include "converters/CTCPProtocolConverter.h"
#include "sim/SimObjects.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// Two created converters whose stack lends the configuration the input sets; made once and kept
// for the process (the fuzzer never returns to tear them down).
struct ComInitialised {
    ComInitialised() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
};

struct Connection {
    Connection() {
        Require(framework.Registered());
        SimWorld::Instance().SetRecording(false);
        SimStack::controlFrameEvery = 0;
        config = SimDeviceConfig::Make("");
        factory = SimStackFactory::Make();
        Make<CProtocolConverter>(legacy, legacyCallback, "LEGACY");
        Make<CTCPProtocolConverter>(tcp, tcpCallback, "TCP");
    }
    template <class Converter>
    void Make(ComPtr<IZTK_ProtocolConverter>& converter, ComPtr<IStackCallback>& callback, const char* stackName) {
        Require(Converter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid()) == S_OK);
        Require(converter.As(&callback) == S_OK);
        std::basic_string<WCHAR> name = ToWide(stackName);
        Require(converter->Create(nullptr, reinterpret_cast<USHORT*>(&name[0]), factory.Get(), config.Get(), config.Get()) ==
                S_OK);
    }

    ComInitialised com;  // first: the framework registers its classes with COM
    SimFramework framework;
    ComPtr<IZTK_DeviceConfig> config;
    ComPtr<IStackFactory> factory;
    ComPtr<IZTK_ProtocolConverter> legacy, tcp;
    ComPtr<IStackCallback> legacyCallback, tcpCallback;
};

Connection& TheConnection() {
    static Connection* connection = new Connection();
    return *connection;
}

// Bytes as a zero-terminated UTF-16 buffer, two bytes a unit (a zero unit inside ends the text).
std::vector<WCHAR> AsWide(const std::string& bytes) {
    std::vector<WCHAR> text(bytes.size() / 2 + 1, 0);
    std::memcpy(text.data(), bytes.data(), bytes.size() / 2 * sizeof(WCHAR));
    return text;
}

void CheckTokens(const std::string& text, const std::string& delimiters) {
    CStringTokenizer tokenizer(text, delimiters);
    size_t covered = 0;
    for (std::string token = tokenizer.NextToken(); !token.empty(); token = tokenizer.NextToken()) {
        for (char c : token) Require(delimiters.find(c) == std::string::npos);
        covered += token.size();
        Require(covered <= text.size());
    }
    Require(tokenizer.NextToken().empty());  // exhausted for good
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(16);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string delimiters = input.ConsumeRandomLengthString(4);
    const std::string own = input.ConsumeRandomLengthString(4096);
    const std::string candidate = input.ConsumeRemainingBytesAsString();

    const std::string value = CConfigString(own).GetValue(section, key);
    Require(value.size() <= own.size());
    const std::string first = FirstListElement(value);
    Require(first.size() <= value.size() && first.find(',') == std::string::npos);
    CheckTokens(candidate, delimiters);

    for (LONG initial : {LONG{7}, LONG{0}}) {
        LONG same = initial;
        CProtocolConverter::Decide(CConfigString(own), CConfigString(candidate), &same);
        Require(same == initial || same == 1);
        same = initial;
        CTCPProtocolConverter::Decide(CConfigString(own), CConfigString(candidate), &same);
        Require(same == 0 || same == 1);
    }

    Connection& connection = TheConnection();
    std::vector<WCHAR> ownWide = AsWide(own);
    WCHAR type[1] = {0};
    Require(connection.config->SetConfiguration(type, ownWide.data()) == S_OK);
    const std::vector<WCHAR> candidateWide = AsWide(candidate);
    for (IStackCallback* callback : {connection.legacyCallback.Get(), connection.tcpCallback.Get()}) {
        LONG same = 7;
        Require(callback->CompareConfiguration(candidateWide.data(), &same) == S_OK);
        Require(same == 7 || same == 0 || same == 1);
    }
    return 0;
}
