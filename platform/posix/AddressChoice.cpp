#include "platform/posix/AddressChoice.h"

#include <sys/socket.h>

const addrinfo* FirstIPv4ElseIPv6(const addrinfo* list)
{
    const addrinfo* firstIPv6 = nullptr;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET)
            return entry;
        if (entry->ai_family == AF_INET6 && firstIPv6 == nullptr)
            firstIPv6 = entry;
    }
    return firstIPv6;
}
