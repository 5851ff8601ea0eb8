// One converter's part of the demo: created by ProgID, connected to a simulated loopback stack,
// driven with requests while its responses are drained on its event, asked a few matching
// questions, then taken apart again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MatchingQuestion {
    const char* candidate;
    bool expectSame;
};

struct ConverterPlan {
    const char* label;      // in the table
    const char* progId;
    const char* stackName;  // the simulated stack serves TCP when its name says so
    const char* configuration;
    std::vector<MatchingQuestion> questions;
};

struct ConverterResult {
    std::string label;
    HRESULT failure = S_OK;  // the first call that failed, if any
    std::string failedCall;
    long requestsSent = 0;
    long framesReceived = 0;
    long unexpectedFrames = 0;  // duplicates and frames that answer no request
    long controlFramesDropped = 0;
    double seconds = 0;
    double p50Milliseconds = 0;
    double p99Milliseconds = 0;
    long traceLines = 0;
    int questionsAsked = 0;
    int questionsAnsweredAsExpected = 0;
    bool Lost() const { return failure != S_OK || framesReceived != requestsSent || unexpectedFrames != 0; }
};

// Runs one converter's session in the calling thread's apartment; progress goes to stdout.
ConverterResult RunConverterSession(const ConverterPlan& plan, long requests, int index);
