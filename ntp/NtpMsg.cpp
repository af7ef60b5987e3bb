#include "ntp/NtpMsg.h"

#include <cstring>
#include <ctime>

namespace {

uint32_t ReadWord(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void WriteWord(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

// Unsigned 16.16 fixed point; never negative.
double ReadFixed16(const uint8_t* p)
{
    return p[0] * 256.0 + p[1] + p[2] / 256.0 + p[3] / 65536.0;
}

// Truncates toward zero. The field is unsigned on the wire, so values outside
// it saturate instead of wrapping: every decoded value re-encodes unchanged.
uint32_t ToFixed16(double seconds)
{
    const double scaled = seconds * 65536.0;
    if (!(scaled > 0.0)) // negative, zero or NaN
        return 0;
    if (scaled >= 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(scaled);
}

NtpTimestamp ReadTimestamp(const uint8_t* p)
{
    NtpTimestamp timestamp;
    timestamp.Seconds = ReadWord(p);
    timestamp.Fraction = ReadWord(p + 4);
    return timestamp;
}

// The lowest fraction byte carries noise rather than a real sub-nanosecond value.
void WriteTimestamp(uint8_t* p, const NtpTimestamp& timestamp, int64_t now)
{
    WriteWord(p, timestamp.Seconds);
    WriteWord(p + 4, timestamp.Fraction);
    p[7] = NtpNoiseByte(now);
}

} // namespace

uint8_t NtpNoiseByte(int64_t calendarSeconds)
{
    // One step of a linear congruential generator from the seed: no state is
    // shared, so threads may encode at the same time.
    const uint32_t seed = static_cast<uint32_t>(calendarSeconds);
    const uint32_t r = ((seed * 214013u + 2531011u) >> 16) & 0x7FFFu;
    return static_cast<uint8_t>(r * 255u);
}

CNtpMsg::CNtpMsg() : CNtpMsg(CurrentNtpTime()) {}

CNtpMsg::CNtpMsg(const NtpTimestamp& transmit)
    : m_transmit(transmit), m_mode(NtpModeClient), m_version(NtpClientVersion)
{
}

CNtpMsg::CNtpMsg(const uint8_t* bytes)
{
    Decode(bytes);
}

void CNtpMsg::Decode(const uint8_t* bytes)
{
    m_leap = static_cast<uint8_t>(bytes[0] >> 6);
    m_version = static_cast<uint8_t>((bytes[0] >> 3) & 7);
    m_mode = static_cast<uint8_t>(bytes[0] & 7);
    m_stratum = bytes[1];
    m_poll = bytes[2];
    m_precision = static_cast<int8_t>(bytes[3]);
    m_rootDelay = ReadFixed16(bytes + 4);
    m_rootDispersion = ReadFixed16(bytes + 8);
    std::memcpy(m_refId, bytes + 12, sizeof m_refId);
    m_reference = ReadTimestamp(bytes + 16);
    m_originate = ReadTimestamp(bytes + 24);
    m_receive = ReadTimestamp(bytes + 32);
    m_transmit = ReadTimestamp(bytes + 40);
}

void CNtpMsg::Encode(uint8_t* buffer, bool withAuthenticator) const
{
    Encode(buffer, withAuthenticator, static_cast<int64_t>(std::time(nullptr)));
}

void CNtpMsg::Encode(uint8_t* buffer, bool withAuthenticator, int64_t now) const
{
    // The authenticator area, when present, stays zero: no key, no digest.
    std::memset(buffer, 0, withAuthenticator ? NtpAuthRequestSize : NtpHeaderSize);
    buffer[0] = static_cast<uint8_t>((m_leap << 6) | (m_version << 3) | m_mode);
    buffer[1] = m_stratum;
    buffer[2] = m_poll;
    buffer[3] = static_cast<uint8_t>(m_precision);
    WriteWord(buffer + 4, ToFixed16(m_rootDelay));
    WriteWord(buffer + 8, ToFixed16(m_rootDispersion));
    std::memcpy(buffer + 12, m_refId, sizeof m_refId);
    WriteTimestamp(buffer + 16, m_reference, now);
    WriteTimestamp(buffer + 24, m_originate, now);
    WriteTimestamp(buffer + 32, m_receive, now);
    WriteTimestamp(buffer + 40, m_transmit, now);
}
