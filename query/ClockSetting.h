#pragma once
#include "ntp/NtpTimestamp.h"
#include "platform/Clock.h"

// The UTC calendar record for an NTP transmit time: Seconds taken as era 0
// from 1970 on and as era 1 below 2208988800, milliseconds truncated and held
// at 999 so the record is always one the clock accepts.
SystemTime TransmitTimeToSystemTime(const NtpTimestamp& transmit);
