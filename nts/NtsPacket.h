#pragma once
// NTS on the NTP packets: what a client appends to its request, and what it
// makes of the server's answer.
#include "platform/Crypto.h"

#include <cstdint>
#include <string>
#include <vector>

// The keys of one key exchange: client to server and server to client.
struct NtsKeys {
    uint16_t aead = 0;
    std::vector<uint8_t> c2s;
    std::vector<uint8_t> s2c;
};

constexpr size_t NtsUniqueIdentifierSize = 32;
constexpr size_t NtsNonceSize = 16;

// Appends to an encoded request the Unique Identifier, the cookie,
// `placeholders` Cookie Placeholders of the cookie's size (one new cookie
// each), and the NTS Authenticator over all of it. False when it cannot be sealed.
bool SealNtsRequest(std::vector<uint8_t>& datagram, const std::vector<uint8_t>& uniqueId,
                    const std::vector<uint8_t>& cookie, int placeholders, const NtsKeys& keys, ICrypto& crypto);

enum class NtsAnswerKind {
    Authenticated,        // the Unique Identifier matches and the authenticator verifies
    Nak,                  // an NTS NAK to this request: kiss code NTSN, no authenticator
    Malformed,            // extension fields that do not parse
    NoUniqueIdentifier,   // not an NTS answer at all
    OtherUniqueIdentifier,// the answer to another request
    NoAuthenticator,      // neither authenticated nor a NAK
    AuthenticatorInvalid, // sealed with other keys, or altered on the way
    NotEchoed,            // its Originate Timestamp is not the request's transmit time
};

struct NtsAnswer {
    NtsAnswerKind kind = NtsAnswerKind::Malformed;
    std::vector<std::vector<uint8_t>> cookies; // the new ones, from the encrypted fields
};

NtsAnswer CheckNtsAnswer(const std::vector<uint8_t>& answer, const std::vector<uint8_t>& uniqueId,
                         const NtsKeys& keys, ICrypto& crypto);
std::string NtsAnswerKindText(NtsAnswerKind kind);
