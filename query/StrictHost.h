#pragma once
// A host that a server named (in a key exchange's records, say), as opposed
// to one the operator typed: taken only when the whole text is one, never
// an address followed by trailing words as inet_addr would allow.
#include <string>

// An IPv4 or IPv6 address as inet_pton reads it, or a host name the resolver
// takes whole: labels of letters, digits and hyphens between single dots
// (a final dot allowed), each at most 63 characters, at most 253 in all.
bool IsStrictHost(const std::string& host);
