#include "nts/NtsPacket.h"

#include "ntp/NtpConstants.h"
#include "nts/NtpExtensionFields.h"

#include <cstring>

namespace {

bool IsNak(const std::vector<uint8_t>& answer)
{
    return answer[1] == NtpStratumKiss && std::memcmp(&answer[12], "NTSN", 4) == 0;
}

} // namespace

bool SealNtsRequest(std::vector<uint8_t>& datagram, const std::vector<uint8_t>& uniqueId,
                    const std::vector<uint8_t>& cookie, int placeholders, const NtsKeys& keys, ICrypto& crypto)
{
    AppendExtensionField(datagram, NtsFieldType::UniqueIdentifier, uniqueId, ExtensionFieldMinimum);
    AppendExtensionField(datagram, NtsFieldType::Cookie, cookie, ExtensionFieldMinimum);
    for (int i = 0; i < placeholders; ++i)
        AppendExtensionField(datagram, NtsFieldType::CookiePlaceholder, std::vector<uint8_t>(cookie.size(), 0),
                             ExtensionFieldMinimum);
    // Nothing to encrypt: the authenticator covers the header and the
    // fields before it. A 16-octet nonce needs no additional padding.
    NtsAuthenticatorBody body;
    body.nonce = crypto.RandomBytes(NtsNonceSize);
    if (!crypto.AeadSeal(keys.aead, keys.c2s, body.nonce, datagram, {}, body.ciphertext))
        return false;
    AppendExtensionField(datagram, NtsFieldType::Authenticator, EncodeAuthenticatorBody(body),
                         LastExtensionFieldMinimum);
    return true;
}

NtsAnswer CheckNtsAnswer(const std::vector<uint8_t>& answer, const std::vector<uint8_t>& uniqueId,
                         const NtsKeys& keys, ICrypto& crypto)
{
    NtsAnswer result;
    if (answer.size() < static_cast<size_t>(NtpHeaderSize))
        return result;
    const ExtensionFieldParse fields = ParseExtensionFields(answer.data(), answer.size(), NtpHeaderSize);
    const NtpExtensionField* id = FindExtensionField(fields, NtsFieldType::UniqueIdentifier);
    const NtpExtensionField* authenticator = FindExtensionField(fields, NtsFieldType::Authenticator);
    // Fields after the authenticator are not covered by it and are ignored,
    // so only what comes before it has to parse.
    if (!fields.wellFormed && !authenticator)
        return result;
    if (!id || (authenticator && id->offset > authenticator->offset)) {
        result.kind = NtsAnswerKind::NoUniqueIdentifier;
        return result;
    }
    // The identifier is padded to a word; ours is a whole number of words.
    if (id->body != uniqueId) {
        result.kind = NtsAnswerKind::OtherUniqueIdentifier;
        return result;
    }
    if (!authenticator) {
        result.kind = IsNak(answer) ? NtsAnswerKind::Nak : NtsAnswerKind::NoAuthenticator;
        return result;
    }
    NtsAuthenticatorBody body;
    std::vector<uint8_t> plaintext;
    const std::vector<uint8_t> associated(answer.begin(), answer.begin() + static_cast<long>(authenticator->offset));
    result.kind = NtsAnswerKind::AuthenticatorInvalid;
    if (!ParseAuthenticatorBody(authenticator->body, body) ||
        !crypto.AeadOpen(keys.aead, keys.s2c, body.nonce, associated, body.ciphertext, plaintext))
        return result;
    const ExtensionFieldParse encrypted = ParseExtensionFields(plaintext.data(), plaintext.size(), 0);
    result.kind = encrypted.wellFormed ? NtsAnswerKind::Authenticated : NtsAnswerKind::Malformed;
    for (const NtpExtensionField& field : encrypted.fields)
        if (field.type == NtsFieldType::Cookie)
            result.cookies.push_back(field.body);
    return result;
}

std::string NtsAnswerKindText(NtsAnswerKind kind)
{
    switch (kind) {
    case NtsAnswerKind::Authenticated: return "authenticated";
    case NtsAnswerKind::Nak: return "NTS NAK";
    case NtsAnswerKind::Malformed: return "extension fields malformed";
    case NtsAnswerKind::NoUniqueIdentifier: return "no Unique Identifier (not an NTS answer)";
    case NtsAnswerKind::OtherUniqueIdentifier: return "Unique Identifier of another request";
    case NtsAnswerKind::NoAuthenticator: return "no NTS authenticator";
    case NtsAnswerKind::AuthenticatorInvalid: return "NTS authenticator invalid";
    case NtsAnswerKind::NotEchoed: return "Originate Timestamp not the request's";
    }
    return "";
}
