#pragma once
// One poll of a monitor run as a value, for the front ends that follow a run
// poll by poll (the terminal's lines, the window's chart).
#include "jitter/JitterStats.h"
#include "query/Exchange.h"

#include <functional>
#include <string>

struct JitterPoll {
    NtpExchange exchange;  // the poll's exchange; SendFailed when the send failed
    bool good = false;     // a deviation was measured (and recorded)
    int32_t deviation = 0; // in milliseconds, when good
    std::string kissCode;  // the validated kiss code the server answered with, if any
    uint32_t startTick = 0;      // the tick count when the poll started
    int32_t intervalSeconds = 1; // between poll starts, as in force after this poll
    CJitterStats stats;    // the statistics with this poll counted
};

using JitterPollObserver = std::function<void(const JitterPoll&)>;
