#include "query/ServerText.h"

#include "query/StringTokenizer.h"

#include <algorithm>
#include <cstdint>

namespace {
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
} // namespace

std::string BracketedHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

int32_t ParsePortNumber(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Accumulated in 64 bits and held at the first value past the range.
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value >= limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

namespace {
// "[address]" or "[address]:port"; anything else after the bracket is no port.
ServerText ParseBracketed(const std::string& text, int32_t defaultPort)
{
    ServerText result;
    result.port = defaultPort;
    result.ipv6Literal = true;
    const size_t close = text.find(']');
    result.host = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    const std::string rest = close == std::string::npos ? "" : text.substr(close + 1);
    if (!rest.empty())
        result.port = rest[0] == ':' ? ParsePortNumber(rest.substr(1)) : 0;
    if (result.host.empty())
        result.status = ServerTextStatus::NoHost;
    else if (result.port < 1)
        result.status = ServerTextStatus::InvalidPort;
    return result;
}
} // namespace

ServerText ParseServerText(const std::string& text, int32_t defaultPort)
{
    ServerText result;
    result.host = text;
    result.port = defaultPort;
    if (text.empty()) {
        result.status = ServerTextStatus::NoHost;
        return result;
    }
    if (text[0] == '[')
        return ParseBracketed(text, defaultPort);
    if (std::count(text.begin(), text.end(), ':') >= 2) {
        result.ipv6Literal = true;
        return result;
    }
    CStringTokenizer tokens(text, ':');
    if (tokens.CountTokens() == 2) {
        result.host = tokens.NextToken();
        result.port = ParsePortNumber(tokens.NextToken());
    }
    if (result.port < 1)
        result.status = ServerTextStatus::InvalidPort;
    return result;
}
