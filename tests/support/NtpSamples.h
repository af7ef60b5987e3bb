#pragma once
// Answers and times the tests share: a stratum-1 GPS server's answer with
// known fields, the first second of 2024, and timestamp arithmetic.
#include "ntp/NtpMsg.h"

#include <cstdint>
#include <vector>

// 2024-01-01 00:00:00 UTC: 1704067200 seconds after 1970, in NTP seconds.
constexpr int64_t NewYear2024Unix = 1704067200;
constexpr uint32_t NewYear2024 = 3913056000u;

// Seconds then fraction, big-endian, as the wire carries a timestamp.
inline void PutTimestamp(uint8_t* p, uint32_t seconds, uint32_t fraction)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
        p[4 + i] = static_cast<uint8_t>(fraction >> (24 - 8 * i));
    }
}

// A stratum-1 GPS server's answer, byte for byte, with no noise byte:
// version 4, mode 4, poll 6, precision -20, root dispersion 0.5 s, and its
// reference, originate, receive and transmit times in the first seconds of 2024.
inline std::vector<uint8_t> GpsAnswerBytes()
{
    std::vector<uint8_t> bytes = {0x24, 1, 6, 0xEC, 0, 0, 0, 0, 0, 0, 0x80, 0, 'G', 'P', 'S', 0};
    bytes.resize(NtpHeaderSize);
    PutTimestamp(&bytes[16], NewYear2024, 0);
    PutTimestamp(&bytes[24], NewYear2024 + 1, 0x80000000u);
    PutTimestamp(&bytes[32], NewYear2024 + 2, 0x40000000u);
    PutTimestamp(&bytes[40], NewYear2024 + 2, 0x40000001u);
    return bytes;
}

inline CNtpMsg GpsAnswer() { return CNtpMsg(GpsAnswerBytes().data()); }

// `t` moved by `ms` milliseconds, either way.
inline NtpTimestamp ShiftedMs(const NtpTimestamp& t, int ms)
{
    const uint32_t magnitude = static_cast<uint32_t>(ms < 0 ? -ms : ms);
    const NtpTimestamp by{magnitude / 1000, MsToNtpFraction(magnitude % 1000)};
    return ms < 0 ? NtpTimestampDiff(t, by) : NtpTimestampSum(t, by);
}
