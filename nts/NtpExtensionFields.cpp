#include "nts/NtpExtensionFields.h"

#include <algorithm>

namespace {

constexpr size_t HeaderSize = 4;

size_t Padded(size_t length) { return (length + 3) & ~size_t{3}; }

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void Append16(std::vector<uint8_t>& out, size_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void AppendPadded(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.resize(out.size() + Padded(bytes.size()) - bytes.size(), 0);
}

} // namespace

void AppendExtensionField(std::vector<uint8_t>& packet, uint16_t type, const std::vector<uint8_t>& body,
                          size_t minimumLength)
{
    const size_t length = std::max(HeaderSize + Padded(body.size()), Padded(minimumLength));
    Append16(packet, type);
    Append16(packet, length);
    packet.insert(packet.end(), body.begin(), body.end());
    packet.resize(packet.size() + length - HeaderSize - body.size(), 0);
}

ExtensionFieldParse ParseExtensionFields(const uint8_t* bytes, size_t size, size_t offset)
{
    ExtensionFieldParse parse;
    size_t at = offset;
    while (at < size) {
        const size_t left = size - at;
        const size_t length = left >= HeaderSize ? Read16(bytes + at + 2) : 0;
        if (left < HeaderSize || length < HeaderSize || length % 4 != 0 || length > left) {
            parse.wellFormed = false;
            break;
        }
        NtpExtensionField field;
        field.type = Read16(bytes + at);
        field.body.assign(bytes + at + HeaderSize, bytes + at + length);
        field.offset = at;
        parse.fields.push_back(std::move(field));
        at += length;
    }
    return parse;
}

const NtpExtensionField* FindExtensionField(const ExtensionFieldParse& parse, uint16_t type)
{
    for (const NtpExtensionField& field : parse.fields)
        if (field.type == type)
            return &field;
    return nullptr;
}

std::vector<uint8_t> EncodeAuthenticatorBody(const NtsAuthenticatorBody& body, size_t additionalPadding)
{
    std::vector<uint8_t> out;
    Append16(out, body.nonce.size());
    Append16(out, body.ciphertext.size());
    AppendPadded(out, body.nonce);
    AppendPadded(out, body.ciphertext);
    out.resize(out.size() + additionalPadding, 0);
    return out;
}

bool ParseAuthenticatorBody(const std::vector<uint8_t>& body, NtsAuthenticatorBody& out)
{
    if (body.size() < HeaderSize)
        return false;
    const size_t nonceLength = Read16(body.data());
    const size_t cipherLength = Read16(body.data() + 2);
    const size_t cipherAt = HeaderSize + Padded(nonceLength);
    if (cipherAt + Padded(cipherLength) > body.size())
        return false;
    out.nonce.assign(body.begin() + HeaderSize, body.begin() + HeaderSize + nonceLength);
    out.ciphertext.assign(body.begin() + cipherAt, body.begin() + cipherAt + cipherLength);
    return true;
}
