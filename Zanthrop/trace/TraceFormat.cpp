#include <cstdio>
#include <string>

#include "trace/Trace.h"
#include "trace/TraceSink.h"

namespace {

constexpr size_t kFormatBufferSize = 32000;

// Guarded by the trace lock: the one format buffer and the line under construction, reused.
char formatBuffer[kFormatBufferSize];
std::string& LineBuffer() {
    static std::string* line = [] {
        auto* s = new std::string();  // kept for the process's life: traces may run during exit
        s->reserve(1024);
        return s;
    }();
    return *line;
}

class TraceLockGuard {
public:
    TraceLockGuard() { TraceLock(); }
    ~TraceLockGuard() { TraceUnlock(); }
    TraceLockGuard(const TraceLockGuard&) = delete;
    TraceLockGuard& operator=(const TraceLockGuard&) = delete;
};

const char* const kSeverityNames[2] = {"ZRB_SUCCESS ", "ZRB_ERROR   "};

const char* const kComponentNames[] = {
    "ZRB_C_CORE         ", "ZRB_C_SESSION      ", "ZRB_C_ROUTING      ", "ZRB_C_SECURITY     ",
    "ZRB_C_SCHEDULER    ", "ZRB_C_DBMS         ", "ZRB_C_CONFIGURATOR ", "ZRB_C_TRANSLATOR   ",
    "ZRB_C_MANAGER      ", "ZRB_C_DRIVER       ", "ZRB_C_DEVICE       ",
};

const char* const kCodeNames[] = {
    "ZRB_S_OK\n",            "ZRB_S_CANCEL\n",          "ZRB_S_FALSE\n",         "ZRB_S_STOPPED\n",
    "ZRB_E_BUFFER_OVERFLOW\n", "ZRB_E_DUPLICATE_NAME\n", "ZRB_E_ERROR\n",         "ZRB_E_INIT_FAIL\n",
    "ZRB_E_INVALID_ADDRESS\n", "ZRB_E_INVALID_COMMAND\n", "ZRB_E_INVALID_FILE\n",  "ZRB_E_INVALID_MODE\n",
    "ZRB_E_INVALID_NAME\n",  "ZRB_E_INVALID_PARM\n",    "ZRB_E_INVALID_PLC\n",   "ZRB_E_INVALID_PROJECT\n",
    "ZRB_E_INVALID_USER\n",  "ZRB_E_INVALID_KEY\n",     "ZRB_E_LOCKED\n",        "ZRB_E_NO_NAME\n",
    "ZRB_E_NO_PLC\n",        "ZRB_E_NO_PROJECT\n",      "ZRB_E_NO_PERMISSION\n", "ZRB_E_NO_SERVICE\n",
    "ZRB_E_OPEN_PLC\n",      "ZRB_E_OPEN_POINT\n",      "ZRB_E_OPEN_USER\n",     "ZRB_E_COMMS_FAILED\n",
    "ZRB_E_ABORTED\n",       "ZRB_E_BUSY\n",            "ZRB_E_LIMIT\n",         "ZRB_E_ROUTING\n",
    "ZRB_E_INVALID_POINT\n", "ZRB_E_INVALID_SETUP\n",   "ZRB_E_INVALID_CONFIG\n", "ZRB_E_INVALID_UNIT\n",
    "ZRB_E_INVALID_DATA\n",
};
static_assert(sizeof(kComponentNames) / sizeof(kComponentNames[0]) == 11, "components 0..10");
static_assert(sizeof(kCodeNames) / sizeof(kCodeNames[0]) == 37, "codes 0..36");

// Calls TraceWrite with a list of arguments started here.
void WriteChannel(const char* code, const char* format, ...) ZANTHROP_PRINTF(2, 3);
void WriteChannel(const char* code, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    TraceWrite(code, format, arguments);
    va_end(arguments);
}

}  // namespace

void TraceWrite(const char* code, const char* format, va_list arguments) {
    if (!TraceOutputOn()) return;
    TraceLockGuard guard;
    if (!TraceChannelEnabled(code)) return;
    std::vsnprintf(formatBuffer, kFormatBufferSize, format, arguments);
    std::string& line = LineBuffer();
    line.clear();
    TraceLinePrefix(line);
    if (code[0] == 'e') line += "ERROR: ";
    line += formatBuffer;
    TracePost(line);
}

// Names in parentheses: the definitions, not the guarding macros of the same names.
#define ZANTHROP_DEFINE_CHANNEL(name, code)          \
    void(name)(const char* format, ...) {            \
        if (!TraceOutputOn()) return;                \
        va_list arguments;                           \
        va_start(arguments, format);                 \
        TraceWrite(code, format, arguments);         \
        va_end(arguments);                           \
    }

ZANTHROP_DEFINE_CHANNEL(TraceAlways, "")
ZANTHROP_DEFINE_CHANNEL(TraceSO, "so")
ZANTHROP_DEFINE_CHANNEL(TraceMO, "mo")
ZANTHROP_DEFINE_CHANNEL(TraceAO, "ao")
ZANTHROP_DEFINE_CHANNEL(TraceXO, "xo")
ZANTHROP_DEFINE_CHANNEL(TraceRO, "ro")
ZANTHROP_DEFINE_CHANNEL(TraceWO, "wo")
ZANTHROP_DEFINE_CHANNEL(TraceLO, "lo")
ZANTHROP_DEFINE_CHANNEL(TraceTO, "to")
ZANTHROP_DEFINE_CHANNEL(TraceYO, "yo")
ZANTHROP_DEFINE_CHANNEL(TraceYD, "yd")
ZANTHROP_DEFINE_CHANNEL(TraceCO, "co")
ZANTHROP_DEFINE_CHANNEL(TraceZO, "zo")
ZANTHROP_DEFINE_CHANNEL(TraceUO, "uo")
ZANTHROP_DEFINE_CHANNEL(TraceGO, "go")
ZANTHROP_DEFINE_CHANNEL(TraceHO, "ho")
ZANTHROP_DEFINE_CHANNEL(TraceJO, "jo")
ZANTHROP_DEFINE_CHANNEL(TraceQO, "qo")
ZANTHROP_DEFINE_CHANNEL(TraceP, "p")
ZANTHROP_DEFINE_CHANNEL(TraceK, "k")
ZANTHROP_DEFINE_CHANNEL(TraceE, "e")
ZANTHROP_DEFINE_CHANNEL(TraceDollar, "$")

void(TraceF)(const char* format, ...) {
    if (!TraceOutputOn()) return;
    WriteChannel("f", "\n");
    va_list arguments;
    va_start(arguments, format);
    TraceWrite("f", format, arguments);
    va_end(arguments);
}

void(TraceResult)(LONG status, ...) {
    if (!TraceOutputOn()) return;
    const unsigned value = static_cast<unsigned>(status) & 0xFFFFu;
    const unsigned component = (value >> 8) & 0x7Fu;
    const unsigned code = value & 0xFFu;
    std::string text = "   Result: ";
    text += kSeverityNames[(value >> 15) & 1u];
    if (component <= 10) text += kComponentNames[component];
    if (code <= 36) text += kCodeNames[code];
    WriteChannel("f", "%s", text.c_str());  // the texts hold no conversions; passed as data all the same
    WriteChannel("f", "\n");
}

void(TraceFrame)(const char* code, const BYTE* data, LONG length, LONG isRequest) {
    if (!TraceOutputOn()) return;
    TraceLockGuard guard;
    if (!TraceChannelEnabled(code)) return;
    std::string& line = LineBuffer();
    line.clear();
    TraceLinePrefix(line);
    line += (isRequest & 0xFF) != 0 ? "REQUEST\n" : "RESPONSE\n";
    TracePost(line);
    if (data == nullptr) return;
    for (LONGLONG offset = 0; offset < length; offset += 16) {  // 64-bit: no overflow near LONG's end
        const LONG count = length - offset < 16 ? static_cast<LONG>(length - offset) : 16;
        char piece[16];
        line.clear();
        TraceLinePrefix(line);  // built afresh per line: the clock may move within a dump
        std::snprintf(piece, sizeof(piece), "%04X: ", static_cast<unsigned>(offset));
        line += piece;
        for (LONG i = 0; i < 16; ++i) {
            if (i < count) {
                std::snprintf(piece, sizeof(piece), "%02x ", static_cast<unsigned>(data[offset + i]));
                line += piece;
            } else {
                line += "   ";
            }
        }
        line += "  : ";
        for (LONG i = 0; i < count; ++i) {
            const BYTE byte = data[offset + i];
            line.push_back(byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.');
        }
        line += "\n";
        TracePost(line);
    }
}

void DumpRD(const BYTE* data, LONG length, LONG isRequest) { TraceFrame("rd", data, length, isRequest); }
void DumpXD(const BYTE* data, LONG length, LONG isRequest) { TraceFrame("xd", data, length, isRequest); }
void DumpZD(const BYTE* data, LONG length, LONG isRequest) { TraceFrame("zd", data, length, isRequest); }
void DumpCD(const BYTE* data, LONG length, LONG isRequest) { TraceFrame("cd", data, length, isRequest); }
void DumpQD(const BYTE* data, LONG length, LONG isRequest) { TraceFrame("qd", data, length, isRequest); }
