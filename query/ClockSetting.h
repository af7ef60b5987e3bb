#pragma once
#include "ntp/NtpMsg.h"
#include "ntp/NtpTimestamp.h"
#include "platform/Clock.h"

#include <string>

// The UTC calendar record for an NTP transmit time: Seconds taken as era 0
// from 1970 on and as era 1 below 2208988800, milliseconds truncated and held
// at 999 so the record is always one the clock accepts.
SystemTime TransmitTimeToSystemTime(const NtpTimestamp& transmit);

// Why an answer must not set the clock, or empty when it may: it has to be
// the answer to the request sent with `requestTransmit` (its Originate
// Timestamp carries that back), from a synchronised server of stratum 1 to
// 15, and carry a transmit time.
std::string UnsoundAnswerReason(const CNtpMsg& reply, const NtpTimestamp& requestTransmit);
