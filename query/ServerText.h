#pragma once
#include "ntp/NtpConstants.h"

#include <cstdint>
#include <string>

enum class ServerTextStatus { Ok, NoHost, InvalidPort };

// The server box text split into host and port, before any look-up.
struct ServerText {
    ServerTextStatus status = ServerTextStatus::Ok;
    std::string host;                // the whole text unless it splits in exactly two
    int32_t port = NtpPort;   // meaningless when status is NoHost
    bool ipv6Literal = false;        // host is an IPv6 address, never a name
};

// "host" or "host:port". Only a text of exactly two colon-separated tokens
// names a port; a port below 1 is invalid, any larger number is accepted.
// "[address]" and "[address]:port" name an IPv6 address (host without the
// brackets); so does a text with two or more colons and no brackets, on the
// default port, which is `defaultPort` (NTP's unless given).
ServerText ParseServerText(const std::string& text, int32_t defaultPort = NtpPort);

// The host as it stands before ":port" in the texts the operator reads: an
// IPv6 address in brackets, so that its colons are not taken for the port's.
std::string BracketedHost(const std::string& host);

// Like atoi (leading white space, an optional sign, digits up to the first
// other character, 0 when there are none), but a number beyond the 32-bit
// range gives INT32_MAX or INT32_MIN instead of an undefined value.
int32_t ParsePortNumber(const std::string& text);
