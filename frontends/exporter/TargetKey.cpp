#include "frontends/exporter/TargetKey.h"

#include "query/StrictHost.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5 || text[0] == '0' || !std::all_of(text.begin(), text.end(), IsDigit))
        return false;
    const unsigned long value = std::stoul(text);
    if (value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// The canonical form of an address, or of a name; false for a name the
// C library would read as an address written some other way.
bool CanonicalHost(std::string host, bool ipv6, TargetKey& key)
{
    char text[INET6_ADDRSTRLEN] = {};
    in6_addr v6{};
    if (ipv6) {
        if (inet_pton(AF_INET6, host.c_str(), &v6) != 1)
            return false;
        key.host = inet_ntop(AF_INET6, &v6, text, sizeof text);
        key.ipv6 = true;
        return true;
    }
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        key.host = inet_ntop(AF_INET, &v4, text, sizeof text);
        return true;
    }
    if (host.empty() || host.back() == '.' || inet_aton(host.c_str(), &v4) != 0 || !IsStrictHost(host))
        return false;
    key.host = host;
    return true;
}

} // namespace

std::string TargetKey::Text() const
{
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ParseTargetKey(const std::string& text, uint16_t defaultPort, TargetKey& key)
{
    key = TargetKey{};
    key.port = defaultPort;
    std::string host = text;
    std::string port;
    bool ipv6 = false;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return false;
        key.portGiven = !rest.empty();
        port = key.portGiven ? rest.substr(1) : "";
        ipv6 = true;
    } else if (std::count(text.begin(), text.end(), ':') >= 2) {
        ipv6 = true;
    } else if (const size_t colon = text.find(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        key.portGiven = true;
    }
    if (key.portGiven && !ParsePort(port, key.port))
        return false;
    return key.port != 0 && CanonicalHost(host, ipv6, key);
}
