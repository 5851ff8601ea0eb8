#include "DemoSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "interfaces/ZanthropInterfaces.h"
#include "sim/SimObjects.h"

namespace {

using Clock = std::chrono::steady_clock;

// Requests in flight at most: a client waits for answers rather than flood the stack.
constexpr long kWindow = 64;
// No answer for this long: whatever is missing is lost.
constexpr auto kStallLimit = std::chrono::seconds(10);

bool IsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

std::basic_string<WCHAR> Wide(const std::string& text) { return ToWide(text); }
USHORT* AsUshort(std::basic_string<WCHAR>& text) { return reinterpret_cast<USHORT*>(&text[0]); }

class Session {
public:
    Session(const ConverterPlan& plan, long requests, int index) : m_plan(plan), m_requests(requests), m_index(index) {
        m_result.label = plan.label;
    }

    ConverterResult Run() {
        if (Step("CLSIDFromProgID", CLSIDFromProgID(Wide(m_plan.progId).c_str(), &m_clsid)) &&
            Step("CoCreateInstance", CoCreateInstance(m_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZTK_ProtocolConverter,
                                                      m_converter.PutVoid())) &&
            Step("QueryInterface(IStackCallback)", m_converter.As(&m_callback)) && Connect()) {
            Traffic();
            AskQuestions();
            Step("Destroy", m_converter->Destroy());
        }
        m_callback.Reset();
        m_converter.Reset();
        if (m_event != nullptr) CloseHandle(m_event);
        return m_result;
    }

private:
    bool Step(const char* call, HRESULT hr) {
        if (SUCCEEDED(hr)) return true;
        if (m_result.failure == S_OK) {
            m_result.failure = hr;
            m_result.failedCall = call;
        }
        std::printf("  %s: %s failed: 0x%08X\n", m_plan.label, call, static_cast<unsigned>(hr));
        return false;
    }

    bool Connect() {
        m_eventName = "ZanthropDemo_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(m_index);
        m_event = CreateEventA(nullptr, FALSE, FALSE, m_eventName.c_str());
        if (!Step("CreateEvent", m_event != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError()))) return false;
        m_factory = SimStackFactory::Make();
        m_config = SimDeviceConfig::Make(m_plan.configuration);
        m_sink = SimDeviceConfig::Make("");
        std::basic_string<WCHAR> event = Wide(m_eventName), name = Wide(m_plan.stackName);
        return Step("Create", m_converter->Create(AsUshort(event), AsUshort(name), m_factory.Get(), m_config.Get(), m_sink.Get()));
    }

    void Traffic() {
        const long controlBefore = SimStack::controlFramesDelivered.load();
        std::vector<Clock::time_point> sentAt(static_cast<size_t>(m_requests));
        std::vector<bool> answered(static_cast<size_t>(m_requests), false);
        std::vector<double> latencies;
        latencies.reserve(static_cast<size_t>(m_requests));
        const auto start = Clock::now();
        auto lastAnswer = start;
        long nextProgress = 0;
        while (m_result.framesReceived < m_requests && Clock::now() - lastAnswer < kStallLimit) {
            while (m_result.requestsSent < m_requests && m_result.requestsSent - m_result.framesReceived < kWindow) {
                const long id = m_result.requestsSent;
                char request[32] = {};
                const int length = std::snprintf(request, sizeof(request), "REQ:%08ld", id);
                sentAt[static_cast<size_t>(id)] = Clock::now();
                BYTE options[2] = {'o', 'p'};
                if (!Step("Send", m_converter->Send(1, 0, 500, length, reinterpret_cast<BYTE*>(request), 2, options))) return;
                ++m_result.requestsSent;
            }
            WaitForSingleObject(m_event, 50);
            if (Drain(sentAt, answered, latencies)) lastAnswer = Clock::now();
            if (m_result.framesReceived >= nextProgress) {
                ShowProgress();
                nextProgress = m_result.framesReceived + std::max(1L, m_requests / (m_terminal ? 50 : 4));
            }
        }
        m_result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%s  %-7s sent %6ld  received %6ld  in %.2f s\n", m_terminal ? "\r" : "", m_plan.label,
                    m_result.requestsSent, m_result.framesReceived, m_result.seconds);
        m_result.controlFramesDropped = SimStack::controlFramesDelivered.load() - controlBefore;
        if (!latencies.empty()) {
            std::sort(latencies.begin(), latencies.end());
            auto at = [&latencies](double fraction) {
                return latencies[std::min(latencies.size() - 1, static_cast<size_t>(fraction * latencies.size()))];
            };
            m_result.p50Milliseconds = at(0.50);
            m_result.p99Milliseconds = at(0.99);
        }
    }

    // On a terminal one line that counts up; otherwise a line at every quarter.
    void ShowProgress() {
        std::printf(m_terminal ? "\r  %-7s sent %6ld  received %6ld" : "  %-7s sent %6ld  received %6ld\n", m_plan.label,
                    m_result.requestsSent, m_result.framesReceived);
        std::fflush(stdout);
    }

    // Takes every queued frame; true when something came.
    bool Drain(const std::vector<Clock::time_point>& sentAt, std::vector<bool>& answered, std::vector<double>& latencies) {
        ComPtr<IEnumMessages> messages;
        LONG count = 0;
        if (!Step("GetReceiveData", m_converter->GetReceiveData(0, &count, messages.Put()))) return false;
        bool any = false;
        LONG size = 0;
        BYTE* data = nullptr;
        while (messages->Next(&size, &data) == S_OK) {
            any = true;
            const auto now = Clock::now();
            const std::string frame(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
            CoTaskMemFree(data);
            long id = -1;
            if (frame.size() == 16 && frame.compare(0, 8, "RSP:REQ:") == 0) id = std::strtol(frame.c_str() + 8, nullptr, 10);
            if (id < 0 || id >= m_result.requestsSent || answered[static_cast<size_t>(id)]) {
                ++m_result.unexpectedFrames;
                continue;
            }
            answered[static_cast<size_t>(id)] = true;
            ++m_result.framesReceived;
            latencies.push_back(std::chrono::duration<double, std::milli>(now - sentAt[static_cast<size_t>(id)]).count());
        }
        return any;
    }

    void AskQuestions() {
        for (const MatchingQuestion& question : m_plan.questions) {
            LONG same = 0;
            std::basic_string<WCHAR> candidate = Wide(question.candidate);
            if (!Step("CompareConfiguration", m_callback->CompareConfiguration(candidate.c_str(), &same))) continue;
            ++m_result.questionsAsked;
            const bool asExpected = (same != 0) == question.expectSame;
            if (asExpected) ++m_result.questionsAnsweredAsExpected;
            std::printf("  %-7s %-66s %s%s\n", m_plan.label, question.candidate, same != 0 ? "same connection" : "another connection",
                        asExpected ? "" : "  (UNEXPECTED)");
        }
    }

    const ConverterPlan& m_plan;
    const long m_requests;
    const int m_index;
    const bool m_terminal = IsTerminal();
    ConverterResult m_result;
    CLSID m_clsid{};
    ComPtr<IZTK_ProtocolConverter> m_converter;
    ComPtr<IStackCallback> m_callback;
    ComPtr<IStackFactory> m_factory;
    ComPtr<IZTK_DeviceConfig> m_config;
    ComPtr<IZTK_DeviceConfig> m_sink;
    std::string m_eventName;
    HANDLE m_event = nullptr;
};

}  // namespace

ConverterResult RunConverterSession(const ConverterPlan& plan, long requests, int index) {
    return Session(plan, requests, index).Run();
}
