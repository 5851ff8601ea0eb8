// The TCP protocol converter: the legacy converter's behaviour with its own trace texts, its own
// control-frame rule, a node number learned from received frames and its own matching decision.
#pragma once

#include <atomic>

#include "converters/ProtocolConverter.h"

class CTCPProtocolConverter final : public ProtocolConverter<CTCPProtocolConverter> {
public:
    static constexpr const char* kClassName = "CTCPProtocolConverter";
    static constexpr bool kWritesConnectionMilestones = false;

    // Only "INFORMATION" frames are dropped; "TAPI" frames are queued like any other.
    static bool IsControlFrame(const BYTE* data, LONG size) {
        return ConverterFrame::StartsWith(data, size, "INFORMATION");
    }
    // The fifth byte of each queued frame of five bytes or more. Written under the converter lock.
    void OnFrameQueued(const BYTE* data, LONG size) {
        if (size >= 5) m_learnedNode = data[4];
    }
    BYTE LearnedNode() const { return m_learnedNode; }

    // Sets *same to 1 for a match and 0 for a decided mismatch.
    static void Decide(const CConfigString& own, const CConfigString& candidate, LONG* same);

private:
    std::atomic<BYTE> m_learnedNode{0};
};
