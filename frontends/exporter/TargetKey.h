#pragma once
// One spelling per target: whatever way a scrape writes a server, the
// allow-list, the cache, the kiss-code memory and the labels all see the
// same key, so that no spelling buys a target another request.
#include <cstdint>
#include <string>

struct TargetKey {
    std::string host; // lower case without a trailing dot; an IP address as the C library writes it
    uint16_t port = 0;
    bool portGiven = false;
    bool ipv6 = false;
    // "host:port", "[address]:port": also a server text the engine resolves.
    std::string Text() const;
};

// A host name, a dotted IPv4 address or an IPv6 address ("[...]" when a port
// follows), optionally ":" and a decimal port 1-65535 without sign, blanks or
// leading zeros; `defaultPort` when none is given. false for anything else,
// including the other spellings of an address the resolver would take
// ("127.1", "0x7f.0.0.1").
bool ParseTargetKey(const std::string& text, uint16_t defaultPort, TargetKey& key);
