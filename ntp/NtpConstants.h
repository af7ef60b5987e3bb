#pragma once
// The NTP vocabulary every layer shares: the port, the sizes on the wire, the
// values of the leap indicator and the mode, and where NTP's seconds begin.
#include <cstdint>

constexpr uint16_t NtpPort = 123;

constexpr int NtpHeaderSize = 48;
constexpr int NtpAuthenticatorSize = 20; // key identifier and digest, always zero here
constexpr int NtpAuthRequestSize = NtpHeaderSize + NtpAuthenticatorSize; // 68
// What a server sends back to a request with the authenticator area.
constexpr int NtpAuthAnswerSize = 52;

constexpr uint8_t NtpLeapNoWarning = 0;
constexpr uint8_t NtpLeapNotSynchronised = 3; // "alarm condition"

constexpr uint8_t NtpClientVersion = 3;
constexpr uint8_t NtpVersion4 = 4; // what extension fields, and so NTS, need
constexpr uint8_t NtpModeClient = 3;
constexpr uint8_t NtpModeServer = 4;

// Stratum 0 is a kiss-o'-death answer, 16 an unsynchronised server.
constexpr uint8_t NtpStratumKiss = 0;
constexpr uint8_t NtpStratumUnsynchronised = 16;

// Seconds from 1900-01-01 (NTP's epoch) to 1970-01-01 (the C library's).
constexpr int64_t NtpToUnixSeconds = 2208988800;
// 2^32 - NtpToUnixSeconds: added modulo 2^32 it moves NTP seconds onto the
// Unix epoch, with era 1 following on after 2036-02-07 06:28:15 UTC.
constexpr uint32_t NtpToUnixEraShift = 2085978496u;
// Fraction units in a second.
constexpr double NtpFractionUnit = 4294967296.0;
