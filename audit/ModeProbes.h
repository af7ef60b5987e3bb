#pragma once
// The two control queries scanners use to find time servers that can be
// abused: mode 6 READVAR (RFC 9327), which tells the server's variables, and
// mode 7 MON_GETLIST_1 ("monlist"), the classic amplifier. The requests, and
// the reading of what comes back: every datagram is checked to be an answer
// to the request before it counts.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ModeProbe {
    bool sent = false;
    int bytesOut = 0;
    int bytesIn = 0; // of the datagrams that answer the request
    int answers = 0;
    bool complete = false;        // the last fragment came
    std::vector<uint8_t> payload; // mode 6: the variables' text, at most MaxMode6Payload bytes
    double Amplification() const { return bytesOut > 0 ? static_cast<double>(bytesIn) / bytesOut : 0; }
};

constexpr size_t MaxMode6Payload = 8192;

std::vector<uint8_t> Mode6ReadvarRequest(uint16_t sequence);
std::vector<uint8_t> Mode7MonlistRequest();

enum class ProbeAnswer {
    Foreign, // not an answer to the request
    More,    // an answer, and more fragments follow
    Last,    // the answer's last fragment
};
// Takes a datagram into `probe` when it answers the request.
ProbeAnswer TakeMode6Answer(const uint8_t* datagram, size_t size, uint16_t sequence, ModeProbe& probe);
ProbeAnswer TakeMode7Answer(const uint8_t* datagram, size_t size, ModeProbe& probe);

// The variables of a READVAR answer that tell an attacker what runs there
// ("version", "system", "processor"), in that order, each value printable
// and at most MaxLeakedValue characters of the server's text.
std::vector<std::pair<std::string, std::string>> LeakedVariables(const std::vector<uint8_t>& payload);
constexpr size_t MaxLeakedValue = 80;
