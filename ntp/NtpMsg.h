#pragma once
#include "ntp/NtpConstants.h"
#include "ntp/NtpTimestamp.h"

#include <cstdint>
#include <string>

// One NTP message as decoded fields: the client request about to be sent or
// a server's answer. Members are declared in the reverse order of the wire.
class CNtpMsg {
public:
    // A client request stamped with the current UTC time: leap 0, version 3,
    // mode 3, everything else zero.
    CNtpMsg();
    // The same request stamped with `transmit`.
    explicit CNtpMsg(const NtpTimestamp& transmit);
    // Decodes the first 48 bytes at `bytes`.
    explicit CNtpMsg(const uint8_t* bytes);
    virtual ~CNtpMsg() = default;
    CNtpMsg(const CNtpMsg&) = default;
    CNtpMsg& operator=(const CNtpMsg&) = default;

    // Fills every member from the first 48 bytes; validates nothing.
    void Decode(const uint8_t* bytes);
    // Writes 48 bytes, or 68 with the (always empty) authenticator area; the
    // noise bytes are drawn for the calendar second `now` (the current one
    // when not given).
    void Encode(uint8_t* buffer, bool withAuthenticator) const;
    void Encode(uint8_t* buffer, bool withAuthenticator, int64_t now) const;

    std::string GetRefIdText() const;
    std::string GetPacketContent() const;
    // The local zone's name and offset at the calendar time `now` (seconds
    // since 1970), the current one when not given.
    std::string GetTimeZoneText() const;
    std::string GetTimeZoneText(int64_t now) const;

    NtpTimestamp m_transmit;
    NtpTimestamp m_receive;
    NtpTimestamp m_originate;
    NtpTimestamp m_reference;
    uint8_t m_refId[4] = {};
    double m_rootDispersion = 0.0;
    double m_rootDelay = 0.0;
    int8_t m_precision = 0;
    uint8_t m_poll = 0;
    uint8_t m_stratum = 0;
    uint8_t m_mode = 0;
    uint8_t m_version = 0;
    uint8_t m_leap = 0;
};

// The pseudo-random byte that Encode puts last into every timestamp, drawn
// from a generator seeded with `calendarSeconds` (the same second, the same byte).
uint8_t NtpNoiseByte(int64_t calendarSeconds);

// Local date and time with milliseconds, "0" when Seconds is 0.
std::string FormatNtpTimestamp(const NtpTimestamp& timestamp);
// The local date and time of a calendar time (seconds since 1970), day
// first as every date of the reports; "" when it cannot be converted.
std::string FormatLocalDate(int64_t calendarSeconds);
// The text with blanks appended up to `width`; never cut.
std::string PadRight(const std::string& text, size_t width);
