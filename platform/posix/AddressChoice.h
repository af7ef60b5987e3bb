#pragma once
#include <netdb.h>

// The address a server name stands for: its first IPv4 address, so that
// every name that worked before still reaches the same server, and only when
// it has none its first IPv6 address. Null when the list holds neither.
const addrinfo* FirstIPv4ElseIPv6(const addrinfo* list);
