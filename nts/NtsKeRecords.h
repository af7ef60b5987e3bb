#pragma once
// The records of an NTS key exchange, the TLS stream on TCP port 4460: each
// is a critical bit, a 15-bit type, a 16-bit body length and the body.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t NtsKePort = 4460;
constexpr const char* NtsKeAlpn = "ntske/1";

namespace NtsKeType {
constexpr uint16_t EndOfMessage = 0;
constexpr uint16_t NextProtocol = 1;
constexpr uint16_t Error = 2;
constexpr uint16_t Warning = 3;
constexpr uint16_t AeadAlgorithm = 4;
constexpr uint16_t NewCookie = 5;
constexpr uint16_t NtpServer = 6;
constexpr uint16_t NtpPort = 7;
} // namespace NtsKeType

// Longer cookies are a fault of the server that gave them, and never sent.
constexpr size_t NtsMaxCookieBytes = 1024;

constexpr uint16_t NtsProtocolNtpV4 = 0;
constexpr uint16_t AeadAesSivCmac256 = 15;

struct NtsKeRecord {
    bool critical = false;
    uint16_t type = 0;
    std::vector<uint8_t> body;
    bool operator==(const NtsKeRecord&) const = default;
};

std::vector<uint8_t> EncodeNtsKeRecord(const NtsKeRecord& record);
// What a client sends: NTPv4 as the next protocol, the AEAD algorithms it
// offers, End of Message.
std::vector<uint8_t> NtsKeClientRequest(const std::vector<uint16_t>& aeadAlgorithms);

// The whole records at the start of a stream, up to and including the first
// End of Message.
struct NtsKeParse {
    std::vector<NtsKeRecord> records;
    size_t consumed = 0;       // bytes of the records read
    bool endOfMessage = false; // the last record read is an End of Message
};
NtsKeParse ParseNtsKeRecords(const uint8_t* bytes, size_t size);

// What a server's records say, and what is wrong with them.
struct NtsKeResponse {
    std::vector<uint16_t> nextProtocols;
    std::vector<uint16_t> aeadAlgorithms;
    std::vector<std::vector<uint8_t>> cookies;
    std::string ntpServer; // "" when the key-exchange host serves NTP too
    int ntpPort = -1;      // -1 when the NTP port is the standard one
    std::vector<uint16_t> errors;
    std::vector<uint16_t> warnings;
    std::vector<uint16_t> unknownCritical; // types of critical records a client cannot skip
    std::vector<std::string> faults;       // records against the protocol, in words
};
NtsKeResponse ReadNtsKeResponse(const std::vector<NtsKeRecord>& records);

// Names and texts for the report.
std::string NtsKeRecordName(uint16_t type);
std::string NtsProtocolName(uint16_t protocol);
std::string AeadAlgorithmName(uint16_t aead);
std::string NtsKeErrorName(uint16_t code);
// One record's content in words: "NTPv4 (0)", "104 bytes", "ntp.example.org", ...
std::string NtsKeRecordValue(const NtsKeRecord& record);
