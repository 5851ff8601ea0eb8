// The trace entry points: printf-style lines on a channel, frame dumps and status-code lines.
// A channel is a code of up to two characters; it produces output when the viewer's channel set
// holds every letter of the upper-cased code. With output off every entry point costs one test.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "trace/TraceSink.h"

#ifdef _WIN32
#define ZANTHROP_PRINTF(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define ZANTHROP_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif

// The core: formats into the process's one format buffer and posts prefix + ("ERROR: " on
// channels starting with 'e') + message. No line end is added.
void TraceWrite(const char* code, const char* format, va_list arguments);

#define ZANTHROP_TRACE_CHANNELS(X) \
    X(TraceAlways)                 \
    X(TraceSO)                     \
    X(TraceMO)                     \
    X(TraceAO)                     \
    X(TraceXO)                     \
    X(TraceRO)                     \
    X(TraceWO)                     \
    X(TraceLO)                     \
    X(TraceTO)                     \
    X(TraceYO)                     \
    X(TraceYD)                     \
    X(TraceCO)                     \
    X(TraceZO)                     \
    X(TraceUO)                     \
    X(TraceGO)                     \
    X(TraceHO)                     \
    X(TraceJO)                     \
    X(TraceQO)                     \
    X(TraceP)                      \
    X(TraceK)                      \
    X(TraceE)                      \
    X(TraceDollar)

#define ZANTHROP_DECLARE_CHANNEL(name) void name(const char* format, ...) ZANTHROP_PRINTF(1, 2);
ZANTHROP_TRACE_CHANNELS(ZANTHROP_DECLARE_CHANNEL)
#undef ZANTHROP_DECLARE_CHANNEL

// An empty line on channel "f", then the message on "f".
void TraceF(const char* format, ...) ZANTHROP_PRINTF(1, 2);

// A line naming the severity, component and code of the low 16 bits of status on channel "f",
// then an empty line. Further arguments are accepted and ignored.
void TraceResult(LONG status, ...);

// A hexadecimal dump of a frame: a "REQUEST"/"RESPONSE" line (low 8 bits of isRequest), then one
// line per 16 bytes. A length of 0 or less gives the header alone.
void TraceFrame(const char* code, const BYTE* data, LONG length, LONG isRequest);

void DumpRD(const BYTE* data, LONG length, LONG isRequest);
void DumpXD(const BYTE* data, LONG length, LONG isRequest);
void DumpZD(const BYTE* data, LONG length, LONG isRequest);
void DumpCD(const BYTE* data, LONG length, LONG isRequest);
void DumpQD(const BYTE* data, LONG length, LONG isRequest);

// Every entry point is also a macro of the same name that makes the output-on test inline, so
// that a call costs that one test while output is off. (The functions themselves test again.)
#define ZANTHROP_TRACE_GUARDED(call) (TraceOutputOn() ? (void)(call) : (void)0)
#define TraceAlways(...) ZANTHROP_TRACE_GUARDED(TraceAlways(__VA_ARGS__))
#define TraceSO(...) ZANTHROP_TRACE_GUARDED(TraceSO(__VA_ARGS__))
#define TraceMO(...) ZANTHROP_TRACE_GUARDED(TraceMO(__VA_ARGS__))
#define TraceAO(...) ZANTHROP_TRACE_GUARDED(TraceAO(__VA_ARGS__))
#define TraceXO(...) ZANTHROP_TRACE_GUARDED(TraceXO(__VA_ARGS__))
#define TraceRO(...) ZANTHROP_TRACE_GUARDED(TraceRO(__VA_ARGS__))
#define TraceWO(...) ZANTHROP_TRACE_GUARDED(TraceWO(__VA_ARGS__))
#define TraceLO(...) ZANTHROP_TRACE_GUARDED(TraceLO(__VA_ARGS__))
#define TraceTO(...) ZANTHROP_TRACE_GUARDED(TraceTO(__VA_ARGS__))
#define TraceYO(...) ZANTHROP_TRACE_GUARDED(TraceYO(__VA_ARGS__))
#define TraceYD(...) ZANTHROP_TRACE_GUARDED(TraceYD(__VA_ARGS__))
#define TraceCO(...) ZANTHROP_TRACE_GUARDED(TraceCO(__VA_ARGS__))
#define TraceZO(...) ZANTHROP_TRACE_GUARDED(TraceZO(__VA_ARGS__))
#define TraceUO(...) ZANTHROP_TRACE_GUARDED(TraceUO(__VA_ARGS__))
#define TraceGO(...) ZANTHROP_TRACE_GUARDED(TraceGO(__VA_ARGS__))
#define TraceHO(...) ZANTHROP_TRACE_GUARDED(TraceHO(__VA_ARGS__))
#define TraceJO(...) ZANTHROP_TRACE_GUARDED(TraceJO(__VA_ARGS__))
#define TraceQO(...) ZANTHROP_TRACE_GUARDED(TraceQO(__VA_ARGS__))
#define TraceP(...) ZANTHROP_TRACE_GUARDED(TraceP(__VA_ARGS__))
#define TraceK(...) ZANTHROP_TRACE_GUARDED(TraceK(__VA_ARGS__))
#define TraceE(...) ZANTHROP_TRACE_GUARDED(TraceE(__VA_ARGS__))
#define TraceDollar(...) ZANTHROP_TRACE_GUARDED(TraceDollar(__VA_ARGS__))
#define TraceF(...) ZANTHROP_TRACE_GUARDED(TraceF(__VA_ARGS__))
#define TraceResult(...) ZANTHROP_TRACE_GUARDED(TraceResult(__VA_ARGS__))
#define TraceFrame(...) ZANTHROP_TRACE_GUARDED(TraceFrame(__VA_ARGS__))
