#include "query/StrictHost.h"

#include <arpa/inet.h>

namespace {

constexpr size_t MaxNameLength = 253;
constexpr size_t MaxLabelLength = 63;

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsHostName(const std::string& host)
{
    if (host.empty() || host.size() > MaxNameLength)
        return false;
    size_t label = 0;
    for (size_t i = 0; i < host.size(); ++i) {
        if (host[i] == '.') {
            if (label == 0)
                return false;
            label = 0;
        } else if (!IsNameCharacter(host[i]) || ++label > MaxLabelLength) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsStrictHost(const std::string& host)
{
    unsigned char address[16];
    if (host.find('\0') != std::string::npos)
        return false;
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1 ||
           IsHostName(host);
}
