// zanthrop-demo: runs a session as the framework would. It registers the module, starts the
// trace viewer, creates a legacy and a TCP converter by ProgID through the component runtime,
// connects each to a simulated loopback stack, sends requests while draining the responses on
// the converter's event, asks a few connection-matching questions, takes everything apart and
// unregisters the module. It ends with a table; the exit status is 1 if any frame was lost.
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "DemoSession.h"
#include "interfaces/ZanthropIds.h"
#include "sim/SimObjects.h"
#include "support/ChildProcess.h"

namespace {

const char kUsage[] =
    "usage: zanthrop-demo [--requests N] [--channels SET] [--module PATH] [--trace FILE]\n"
    "  --requests N   requests per converter (default 10000)\n"
    "  --channels SET the viewer's channels (default QOE)\n"
    "  --module PATH  the module to register (default: the one built beside this program)\n"
    "  --trace FILE   where the viewer's lines go (default: zanthrop-demo-trace.txt beside the module)\n";

#ifdef _WIN32
const char kModuleFile[] = "Zanthrop.dll";
#else
const char kModuleFile[] = "Zanthrop.so";
#endif

struct Options {
    long requests = 10000;
    std::string channels = "QOE";
    std::string module;
    std::string trace;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (option == "--requests") {
            char* end = nullptr;
            options.requests = std::strtol(value.c_str(), &end, 10);
            if (*end != 0 || options.requests <= 0) return false;
        } else if (option == "--channels") {
            options.channels = value;
        } else if (option == "--module") {
            options.module = value;
        } else if (option == "--trace") {
            options.trace = value;
        } else {
            return false;
        }
    }
    return true;
}

std::string Directory(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

// regsvr32 on Windows, zanthrop-regsvr on Linux; its exit code.
int RunRegistrationTool(bool unregister, const std::string& module) {
    std::vector<std::string> arguments;
    if (unregister) arguments.push_back("/u");
    arguments.push_back("/s");
    arguments.push_back(module);
    return ChildProcess(RegistrationTool(), arguments).Wait();
}

long CountLines(const std::string& path) {
    std::ifstream file(path);
    long lines = 0;
    std::string line;
    while (std::getline(file, line)) ++lines;
    return lines;
}

// The viewer's line count once it has stopped growing for a while.
long SettledLineCount(const std::string& path) {
    long count = CountLines(path);
    for (int quiet = 0; quiet < 3;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const long now = CountLines(path);
        quiet = now == count ? quiet + 1 : 0;
        count = now;
    }
    return count;
}

bool WaitForTraceArea() {
    for (int i = 0; i < 200; ++i) {
        if (HANDLE area = OpenFileMappingA(FILE_MAP_READ, FALSE, kTraceOutputName)) {
            CloseHandle(area);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string Thousands(double value) {
    std::string digits = std::to_string(static_cast<long long>(value + 0.5));
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

void PrintTable(const std::vector<ConverterResult>& results) {
    std::printf("\n| converter | requests sent | frames received | control frames dropped | frames per second | "
                "latency p50 | latency p99 | trace lines | matching answers |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const ConverterResult& r : results) {
        const double perSecond = r.seconds > 0 ? r.framesReceived / r.seconds : 0;
        std::printf("| %s | %s | %s | %s | %s | %.3f ms | %.3f ms | %s | %d of %d as expected |\n", r.label.c_str(),
                    Thousands(r.requestsSent).c_str(), Thousands(r.framesReceived).c_str(),
                    Thousands(r.controlFramesDropped).c_str(), Thousands(perSecond).c_str(), r.p50Milliseconds,
                    r.p99Milliseconds, Thousands(r.traceLines).c_str(), r.questionsAnsweredAsExpected, r.questionsAsked);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options.module.empty()) options.module = Directory(SiblingProgram("zanthrop-demo")) + kModuleFile;
    if (options.trace.empty()) options.trace = Directory(options.module) + "zanthrop-demo-trace.txt";

    std::printf("Zanthrop demo: %ld requests per converter\n", options.requests);
    std::printf("* registering %s\n", options.module.c_str());
    if (RunRegistrationTool(false, options.module) != 0) {
        std::printf("  registration failed\n");
        return 2;
    }

    std::printf("* starting zanthrop-trace on channels %s (lines to %s)\n", options.channels.c_str(), options.trace.c_str());
    const std::string stopName = "ZanthropDemoStop_" + std::to_string(GetCurrentProcessId());
    HANDLE stopViewer = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
    ChildProcess viewer(SiblingProgram("zanthrop-trace"), {"--channels", options.channels, "--stop-event", stopName}, options.trace);
    if (!viewer.Started() || !WaitForTraceArea()) std::printf("  the viewer did not start: no trace lines\n");

    // The module is loaded by the first activation below, after the viewer made the trace area.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::vector<ConverterResult> results;
    {
        SimFramework framework;
        SimWorld::Instance().SetRecording(false);
        SimStack::controlFrameEvery = 10;
        const std::vector<ConverterPlan> plans = {
            {"legacy", "Velsa.ProtocolConverter", "LEGACY", "[NET]NET:ETHERNET;[DRVR]PORT:P1;",
             {{"[DRVR]PORT:P1;", true}, {"[DRVR]PORT:P2;", false}, {"[NET]NET:TAVRIN;[DRVR]PORT:P1;", true}}},
            {"TCP", "Zanthrop.TCPProtocolConverter", "TCP", "[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:1;[ADDRESS]IPADDR:10.0.0.1;",
             {{"[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:1;[ADDRESS]IPADDR:10.0.0.1;", true},
              {"[NET]NET:ETNTCPKORA;[DRVR]PORT:P1;NODE:1;[ADDRESS]IPADDR:10.0.0.2;", false},
              {"[NET]NET:ETNTCPKORA;[DRVR]PORT:P2;NODE:1;[ADDRESS]IPADDR:10.0.0.1;", false}}},
        };
        long linesBefore = SettledLineCount(options.trace);
        for (size_t i = 0; i < plans.size(); ++i) {
            std::printf("* %s converter (%s)\n", plans[i].label, plans[i].progId);
            results.push_back(RunConverterSession(plans[i], options.requests, static_cast<int>(i)));
            const long lines = SettledLineCount(options.trace);
            results.back().traceLines = lines - linesBefore;
            linesBefore = lines;
        }
    }
    CoUninitialize();

    SetEvent(stopViewer);
    viewer.Wait();
    CloseHandle(stopViewer);
    std::printf("* unregistering\n");
    const int unregistered = RunRegistrationTool(true, options.module);

    PrintTable(results);
    bool lost = false;
    for (const ConverterResult& r : results) {
        if (r.Lost()) {
            lost = true;
            std::printf("\n%s: %ld of %ld requests unanswered, %ld unexpected frames%s%s\n", r.label.c_str(),
                        r.requestsSent - r.framesReceived, r.requestsSent, r.unexpectedFrames,
                        r.failure != S_OK ? ", failed at " : "", r.failedCall.c_str());
        }
    }
    if (unregistered != 0) std::printf("\nunregistration failed (%d)\n", unregistered);
    std::printf("\n%s\n", lost ? "FRAMES WERE LOST" : "No frame lost.");
    return lost ? 1 : (unregistered != 0 ? 2 : 0);
}
