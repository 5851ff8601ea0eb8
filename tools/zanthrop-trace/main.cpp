// zanthrop-trace: the trace viewer. Creates the shared trace ring, switches output on for the
// chosen channels and prints every line that processes with the module loaded store there.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#define ZANTHROP_ISATTY _isatty
#define ZANTHROP_FILENO _fileno
#else
#include <unistd.h>
#define ZANTHROP_ISATTY isatty
#define ZANTHROP_FILENO fileno
#endif

#include "interfaces/ZanthropIds.h"
#include "trace/TraceReader.h"

namespace {

const char kUsage[] =
    "usage: zanthrop-trace [options]\n"
    "  --channels SET    channel letters to enable (default: A-Z, @ and $)\n"
    "  --output FILE     also write every shown line to FILE\n"
    "  --filter TEXT     show only lines that contain TEXT\n"
    "  --count N         stop after N lines\n"
    "  --seconds S       stop after S seconds\n"
    "  --names A,M,E     use other names for the area, mutex and event\n"
    "  --stop-event NAME stop when the named event (made by whoever starts the viewer) is set\n";

std::atomic<bool> stopRequested{false};
std::atomic<bool> outputSwitchedOff{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
    stopRequested = true;
    // A closed console, log-off or shutdown ends the process when this returns: first let the
    // main loop switch output off (the system allows a few seconds).
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        for (int i = 0; i < 400 && !outputSwitchedOff; ++i) Sleep(10);
    }
    return TRUE;
}
#else
void OnSignal(int) { stopRequested = true; }
#endif

// Whole text is a number of the kind asked for, above zero.
bool ParsePositive(const std::string& text, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == 0 && value > 0;
}
bool ParsePositive(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == 0 && value > 0;
}

struct Options {
    std::string channels = "ABCDEFGHIJKLMNOPQRSTUVWXYZ@$";
    std::string output;
    std::string filter;
    long long count = -1;
    double seconds = -1;
    std::string area = kTraceOutputName, mutex = kTraceMutexName, event = kTraceEventName;
    std::string stopEvent;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") return false;
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (option == "--channels") {
            options.channels = value;
        } else if (option == "--output") {
            options.output = value;
        } else if (option == "--filter") {
            options.filter = value;
        } else if (option == "--count") {
            if (!ParsePositive(value, options.count)) return false;
        } else if (option == "--seconds") {
            if (!ParsePositive(value, options.seconds)) return false;
        } else if (option == "--stop-event") {
            options.stopEvent = value;
        } else if (option == "--names") {
            const size_t first = value.find(','), second = value.find(',', first + 1);
            if (first == std::string::npos || second == std::string::npos) return false;
            options.area = value.substr(0, first);
            options.mutex = value.substr(first + 1, second - first - 1);
            options.event = value.substr(second + 1);
        } else {
            return false;
        }
    }
    return options.channels.size() < kTraceChannelSetSize;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);  // a reader of our output that went away ends us below, in order
#endif

    FILE* file = nullptr;
    if (!options.output.empty() && (file = std::fopen(options.output.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "zanthrop-trace: cannot write %s\n", options.output.c_str());
        return 1;
    }
    TraceReader reader;
    if (!reader.Create({options.area.c_str(), options.mutex.c_str(), options.event.c_str()})) {
        std::fprintf(stderr, "zanthrop-trace: cannot create the trace area (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    if (reader.AreaExisted()) {
        std::fputs("zanthrop-trace: the trace area exists already (another viewer, or processes still attached to an "
                   "earlier one): lines go to whichever viewer takes them first\n",
                   stderr);
    }
    // A program that runs the viewer for a while asks it to stop through this event.
    HANDLE stopEvent = nullptr;
    if (!options.stopEvent.empty() && (stopEvent = OpenEventA(SYNCHRONIZE, FALSE, options.stopEvent.c_str())) == nullptr) {
        std::fprintf(stderr, "zanthrop-trace: no event named %s\n", options.stopEvent.c_str());
        return 1;
    }
    reader.SetChannels(options.channels);
    reader.SetOutput(true);
    std::fprintf(stderr, "zanthrop-trace: listening on channels %s\n", options.channels.c_str());

    const bool highlight = ZANTHROP_ISATTY(ZANTHROP_FILENO(stdout)) != 0;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    long long taken = 0;
    long long shown = 0;
    bool done = false;
    while (!done && !stopRequested) {
        reader.WaitForSignal(100);
        for (const std::string& line : reader.Take()) {
            ++taken;
            if (!options.filter.empty() && line.find(options.filter) == std::string::npos) continue;
            ++shown;
            const bool error = highlight && line.find("ERROR: ") != std::string::npos;
            std::fputs(error ? "\033[1;31m" : "", stdout);
            std::fputs(line.c_str(), stdout);
            std::fputs(error ? "\033[0m" : "", stdout);
            if (file != nullptr) std::fputs(line.c_str(), file);
            if (options.count >= 0 && shown >= options.count) {
                done = true;
                break;
            }
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) done = true;  // nobody reads our output any more
        if (file != nullptr) std::fflush(file);
        if (options.seconds >= 0 && elapsed() >= options.seconds) done = true;
        if (stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) done = true;
    }
    if (stopEvent != nullptr) CloseHandle(stopEvent);
    reader.SetOutput(false);  // before letting go, so no writer waits for us
    outputSwitchedOff = true;
    const double seconds = elapsed();
    std::fprintf(stderr, "zanthrop-trace: %lld lines taken in %.1f s (%.0f lines per second), %lld shown\n", taken,
                 seconds, seconds > 0 ? taken / seconds : 0.0, shown);
    if (file != nullptr) std::fclose(file);
    return 0;
}
