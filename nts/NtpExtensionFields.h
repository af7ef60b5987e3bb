#pragma once
// NTP extension fields after the 48-byte header: a 16-bit type, a 16-bit
// length of the whole field (a multiple of four) and the body with its zero
// padding; and the NTS Authenticator's body, which carries the nonce and the
// ciphertext of the encrypted fields.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace NtsFieldType {
constexpr uint16_t UniqueIdentifier = 0x0104;
constexpr uint16_t Cookie = 0x0204;
constexpr uint16_t CookiePlaceholder = 0x0304;
constexpr uint16_t Authenticator = 0x0404;
} // namespace NtsFieldType

// Shortest field before another one, and shortest last field of a packet
// without a legacy MAC.
constexpr size_t ExtensionFieldMinimum = 16;
constexpr size_t LastExtensionFieldMinimum = 28;

struct NtpExtensionField {
    uint16_t type = 0;
    std::vector<uint8_t> body; // with its padding
    size_t offset = 0;         // where the field begins in the bytes parsed
};

// Appends a field: the body zero-padded to a multiple of four octets, and
// further to `minimumLength` octets for the whole field.
void AppendExtensionField(std::vector<uint8_t>& packet, uint16_t type, const std::vector<uint8_t>& body,
                          size_t minimumLength = 0);

struct ExtensionFieldParse {
    std::vector<NtpExtensionField> fields;
    bool wellFormed = true; // every byte from the start belongs to a field
};
// The fields from `offset` to the end of the bytes. A length below four, not
// a multiple of four, or beyond the end stops the parse as not well formed.
ExtensionFieldParse ParseExtensionFields(const uint8_t* bytes, size_t size, size_t offset);

// The first field of a type, or null.
const NtpExtensionField* FindExtensionField(const ExtensionFieldParse& parse, uint16_t type);

struct NtsAuthenticatorBody {
    std::vector<uint8_t> nonce;
    std::vector<uint8_t> ciphertext;
};
// Nonce and ciphertext lengths, each part padded to a word, then
// `additionalPadding` zero octets.
std::vector<uint8_t> EncodeAuthenticatorBody(const NtsAuthenticatorBody& body, size_t additionalPadding = 0);
// false when the lengths do not fit the body.
bool ParseAuthenticatorBody(const std::vector<uint8_t>& body, NtsAuthenticatorBody& out);
