// Arbitrary bytes as the text of the server box: split by the tokenizer with
// both kinds of delimiter, and parsed into host and port without a look-up.
#include "FuzzCheck.h"

#include "query/ServerText.h"
#include "query/StringTokenizer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> AllTokens(const std::string& text, char delimiter, int32_t& counted)
{
    CStringTokenizer tokens(text, delimiter);
    counted = tokens.CountTokens();
    FUZZ_CHECK(counted >= 0 && static_cast<size_t>(counted) <= text.size());
    std::vector<std::string> result;
    for (int32_t i = 0; i < counted; ++i)
        result.push_back(tokens.NextToken());
    // Once the counted tokens are taken, nothing is left.
    FUZZ_CHECK(tokens.NextToken().empty());
    FUZZ_CHECK(tokens.NextToken().empty());
    return result;
}

// A colon separates at every occurrence: the tokens joined by colons give the
// text back, apart from a colon at the very end, which starts no token.
void CheckColon(const std::string& text)
{
    int32_t counted = 0;
    const std::vector<std::string> tokens = AllTokens(text, ':', counted);
    FUZZ_CHECK(text.empty() == (counted == 0));
    if (text.empty())
        return;
    std::string joined;
    for (size_t i = 0; i < tokens.size(); ++i) {
        FUZZ_CHECK(tokens[i].find(':') == std::string::npos);
        joined += (i == 0 ? "" : ":") + tokens[i];
    }
    FUZZ_CHECK(joined == text || joined + ":" == text);
}

// A blank also matches a tab, and a run of them is one separator: the tokens
// are the text without its blanks and tabs, none of them empty, except the
// single empty token of a text made of blanks only.
void CheckBlank(const std::string& text)
{
    int32_t counted = 0;
    const std::vector<std::string> tokens = AllTokens(text, ' ', counted);
    FUZZ_CHECK(text.empty() == (counted == 0));
    std::string squeezed;
    for (char c : text)
        if (c != ' ' && c != '\t')
            squeezed += c;
    if (!text.empty() && squeezed.empty()) {
        FUZZ_CHECK(tokens.size() == 1 && tokens[0].empty());
        return;
    }
    std::string joined;
    for (const std::string& token : tokens) {
        FUZZ_CHECK(!token.empty());
        FUZZ_CHECK(token.find_first_of(" \t") == std::string::npos);
        joined += token;
    }
    FUZZ_CHECK(joined == squeezed);
}

// atoi's reading of a number, held at the ends of the 32-bit range.
int32_t ReferencePort(const std::string& text)
{
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// "[address]" and "[address]:port": the host between the brackets (up to the
// end when there is no closing one), the port after a colon, any other rest
// an invalid port.
void CheckBracketed(const std::string& text, const ServerText& parsed)
{
    const size_t close = text.find(']');
    const std::string host = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    const std::string rest = close == std::string::npos ? "" : text.substr(close + 1);
    const int32_t port = rest.empty() ? NtpPort : rest[0] == ':' ? ReferencePort(rest.substr(1)) : 0;
    FUZZ_CHECK(parsed.ipv6Literal);
    FUZZ_CHECK(parsed.host == host);
    if (host.empty()) {
        FUZZ_CHECK(parsed.status == ServerTextStatus::NoHost);
        return;
    }
    FUZZ_CHECK(parsed.port == port);
    FUZZ_CHECK((parsed.status == ServerTextStatus::InvalidPort) == (port < 1));
}

void CheckServerText(const std::string& text)
{
    const ServerText parsed = ParseServerText(text);
    if (text.empty()) {
        FUZZ_CHECK(parsed.status == ServerTextStatus::NoHost);
        return;
    }
    if (text[0] == '[') {
        CheckBracketed(text, parsed);
        return;
    }
    CStringTokenizer tokens(text, ':');
    const bool ipv6 = std::count(text.begin(), text.end(), ':') >= 2;
    FUZZ_CHECK(parsed.ipv6Literal == ipv6);
    if (ipv6) {
        // An IPv6 address without brackets, on the default port.
        FUZZ_CHECK(parsed.host == text);
        FUZZ_CHECK(parsed.port == NtpPort);
    } else if (tokens.CountTokens() == 2) {
        const std::string host = tokens.NextToken();
        const std::string port = tokens.NextToken();
        FUZZ_CHECK(parsed.host == host);
        FUZZ_CHECK(parsed.port == ReferencePort(port));
        FUZZ_CHECK(ParsePortNumber(port) == parsed.port);
    } else {
        FUZZ_CHECK(parsed.host == text);
        FUZZ_CHECK(parsed.port == NtpPort);
    }
    FUZZ_CHECK((parsed.status == ServerTextStatus::InvalidPort) == (parsed.port < 1));
    FUZZ_CHECK(parsed.status != ServerTextStatus::NoHost);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    // The tokenizer takes its text as a C string does: up to the first zero.
    const std::string text = raw.c_str();
    CheckColon(text);
    CheckBlank(text);
    CheckServerText(raw);
    FUZZ_CHECK(ParsePortNumber(raw) == ReferencePort(raw));
    return 0;
}
