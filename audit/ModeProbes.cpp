#include "audit/ModeProbes.h"

#include "ntp/PrintableText.h"

#include <algorithm>

namespace {
constexpr int Mode6HeaderSize = 12;
constexpr int Mode7HeaderSize = 8;
constexpr uint8_t ControlMode = 6;
constexpr uint8_t PrivateMode = 7;
constexpr uint8_t ReadvarOpcode = 2;
constexpr uint8_t ImplementationXntpd = 3;
constexpr uint8_t MonGetList1 = 42;
// monlist requests are padded to a whole NTP header, as ntpdc sent them.
constexpr size_t Mode7RequestSize = 48;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

std::string Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

// "name=value, name="va,lue", ..." split at the commas outside quotes.
std::vector<std::string_view> Assignments(std::string_view text)
{
    std::vector<std::string_view> parts;
    bool quoted = false;
    size_t start = 0;
    for (size_t n = 0; n <= text.size(); ++n) {
        if (n < text.size() && text[n] == '"')
            quoted = !quoted;
        if (n == text.size() || (text[n] == ',' && !quoted)) {
            parts.push_back(text.substr(start, n - start));
            start = n + 1;
        }
    }
    return parts;
}
} // namespace

std::vector<uint8_t> Mode6ReadvarRequest(uint16_t sequence)
{
    std::vector<uint8_t> request(Mode6HeaderSize, 0);
    request[0] = 2 << 3 | ControlMode; // version 2, as ntpq asks
    request[1] = ReadvarOpcode;
    request[2] = static_cast<uint8_t>(sequence >> 8);
    request[3] = static_cast<uint8_t>(sequence);
    return request; // association 0: the system variables; no data
}

std::vector<uint8_t> Mode7MonlistRequest()
{
    std::vector<uint8_t> request(Mode7RequestSize, 0);
    request[0] = 2 << 3 | PrivateMode;
    request[2] = ImplementationXntpd;
    request[3] = MonGetList1;
    return request;
}

ProbeAnswer TakeMode6Answer(const uint8_t* d, size_t size, uint16_t sequence, ModeProbe& probe)
{
    const bool response = size >= Mode6HeaderSize && (d[0] & 7) == ControlMode && (d[1] & 0x80) != 0 &&
                          (d[1] & 0x1F) == ReadvarOpcode && Word(d + 2) == sequence;
    if (!response)
        return ProbeAnswer::Foreign;
    ++probe.answers;
    probe.bytesIn += static_cast<int>(size);
    const size_t count = std::min<size_t>(Word(d + 10), size - Mode6HeaderSize);
    const size_t room = MaxMode6Payload - std::min(MaxMode6Payload, probe.payload.size());
    probe.payload.insert(probe.payload.end(), d + Mode6HeaderSize, d + Mode6HeaderSize + std::min(count, room));
    return (d[1] & 0x20) != 0 ? ProbeAnswer::More : ProbeAnswer::Last;
}

ProbeAnswer TakeMode7Answer(const uint8_t* d, size_t size, ModeProbe& probe)
{
    const bool response = size >= Mode7HeaderSize && (d[0] & 7) == PrivateMode && (d[0] & 0x80) != 0 &&
                          d[3] == MonGetList1;
    if (!response)
        return ProbeAnswer::Foreign;
    ++probe.answers;
    probe.bytesIn += static_cast<int>(size);
    return (d[0] & 0x40) != 0 ? ProbeAnswer::More : ProbeAnswer::Last;
}

std::vector<std::pair<std::string, std::string>> LeakedVariables(const std::vector<uint8_t>& payload)
{
    const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
    std::vector<std::pair<std::string, std::string>> leaked;
    for (const char* name : {"version", "system", "processor"}) {
        for (std::string_view assignment : Assignments(text)) {
            const size_t equals = assignment.find('=');
            if (equals == std::string_view::npos || Trimmed(assignment.substr(0, equals)) != name)
                continue;
            const std::string value = Trimmed(assignment.substr(equals + 1));
            leaked.emplace_back(name, PrintableText(std::string_view(value).substr(0, MaxLeakedValue)));
            break;
        }
    }
    return leaked;
}
