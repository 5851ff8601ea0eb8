// The legacy protocol converter, for the framework's serial and legacy network stacks.
#pragma once

#include "converters/ProtocolConverter.h"

class CProtocolConverter final : public ProtocolConverter<CProtocolConverter> {
public:
    static constexpr const char* kClassName = "CProtocolConverter";
    static constexpr bool kWritesConnectionMilestones = true;

    // Frames beginning "TAPI" or "INFORMATION" are the stack's own and are dropped.
    static bool IsControlFrame(const BYTE* data, LONG size) {
        return ConverterFrame::StartsWith(data, size, "TAPI") || ConverterFrame::StartsWith(data, size, "INFORMATION");
    }
    void OnFrameQueued(const BYTE*, LONG) {}

    // Sets *same to 1 when the candidate designates the connection of the own configuration,
    // by the entries that identify a connection of the own network type; never writes 0.
    static void Decide(const CConfigString& own, const CConfigString& candidate, LONG* same);
};
