// The trace entry points: printf-style lines on a channel, frame dumps and status-code lines.
// A channel is a code of up to two characters; it produces output when the viewer's channel set
// holds every letter of the upper-cased code. With output off every entry point costs one test.
#pragma once

#include <windows.h>

#include <cstdarg>

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
