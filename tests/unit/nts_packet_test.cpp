// NTS on the NTP packets, with the real AEAD: the request's fields and
// authenticator, and one table of answers, genuine, altered and foreign,
// with what the check makes of each.
#include "nts/NtpExtensionFields.h"
#include "nts/NtsKeRecords.h"
#include "nts/NtsPacket.h"
#include "support/NtpSamples.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct Keys {
    NtsKeys keys{AeadAesSivCmac256, SystemCrypto().RandomBytes(32), SystemCrypto().RandomBytes(32)};
    Bytes uniqueId = SystemCrypto().RandomBytes(NtsUniqueIdentifierSize);
};

// An answer as a server builds one: the header, the request's identifier,
// and the new cookies sealed with `key` over all that precedes them.
Bytes ServerAnswer(const Keys& k, const Bytes& key, const Bytes& uniqueId, const Bytes& plaintext)
{
    Bytes answer = GpsAnswerBytes();
    AppendExtensionField(answer, NtsFieldType::UniqueIdentifier, uniqueId);
    NtsAuthenticatorBody body;
    body.nonce = Bytes(16, 0x4E);
    EXPECT_TRUE(SystemCrypto().AeadSeal(k.keys.aead, key, body.nonce, answer, plaintext, body.ciphertext));
    AppendExtensionField(answer, NtsFieldType::Authenticator, EncodeAuthenticatorBody(body));
    return answer;
}

Bytes TwoCookies()
{
    Bytes fields;
    AppendExtensionField(fields, NtsFieldType::Cookie, Bytes(100, 0xC1));
    AppendExtensionField(fields, NtsFieldType::Cookie, Bytes(100, 0xC2));
    return fields;
}

TEST(NtsPacket, TheAeadTakesA256BitKeyAndAddsA16ByteTag)
{
    ICrypto& crypto = SystemCrypto();
    EXPECT_EQ(crypto.AeadKeyLength(AeadAesSivCmac256), 32u);
    EXPECT_EQ(crypto.AeadKeyLength(16), 0u) << "AEAD_AES_SIV_CMAC_384 is not offered";
    const Bytes key = crypto.RandomBytes(32), nonce(16, 1), ad = {1, 2, 3}, plain = {9, 8, 7, 6, 5};
    Bytes sealed, opened;
    ASSERT_TRUE(crypto.AeadSeal(15, key, nonce, ad, plain, sealed));
    EXPECT_EQ(sealed.size(), plain.size() + 16);
    EXPECT_TRUE(crypto.AeadOpen(15, key, nonce, ad, sealed, opened));
    EXPECT_EQ(opened, plain);
    // Any change to the sealed bytes, the associated data or the nonce is caught.
    Bytes tagChanged = sealed;
    tagChanged[0] ^= 1;
    EXPECT_FALSE(crypto.AeadOpen(15, key, nonce, ad, tagChanged, opened));
    EXPECT_FALSE(crypto.AeadOpen(15, key, nonce, {1, 2, 4}, sealed, opened));
    EXPECT_FALSE(crypto.AeadOpen(15, key, Bytes(16, 2), ad, sealed, opened));
    EXPECT_FALSE(crypto.AeadSeal(15, Bytes(31), nonce, ad, plain, sealed));
    EXPECT_FALSE(crypto.AeadOpen(15, key, {}, ad, sealed, opened)) << "the library would abort on it";
    EXPECT_FALSE(crypto.AeadSeal(16, Bytes(48), nonce, ad, plain, sealed));
}

TEST(NtsPacket, RequestCarriesIdentifierCookiePlaceholderAndAnAuthenticatorOverThem)
{
    const Keys k;
    const Bytes cookie(100, 0xC0);
    Bytes request(NtpHeaderSize, 0x23);
    ASSERT_TRUE(SealNtsRequest(request, k.uniqueId, cookie, 1, k.keys, SystemCrypto()));
    EXPECT_EQ(request.size(), 48u + 36 + 104 + 104 + 40);
    const ExtensionFieldParse fields = ParseExtensionFields(request.data(), request.size(), NtpHeaderSize);
    ASSERT_TRUE(fields.wellFormed);
    ASSERT_EQ(fields.fields.size(), 4u);
    EXPECT_EQ(fields.fields[0].type, NtsFieldType::UniqueIdentifier);
    EXPECT_EQ(fields.fields[0].body, k.uniqueId);
    EXPECT_EQ(fields.fields[1].type, NtsFieldType::Cookie);
    EXPECT_EQ(fields.fields[1].body, cookie);
    EXPECT_EQ(fields.fields[2].type, NtsFieldType::CookiePlaceholder);
    EXPECT_EQ(fields.fields[2].body, Bytes(100, 0)) << "as long as the cookie, zero-filled";
    ASSERT_EQ(fields.fields[3].type, NtsFieldType::Authenticator);
    NtsAuthenticatorBody body;
    ASSERT_TRUE(ParseAuthenticatorBody(fields.fields[3].body, body));
    EXPECT_EQ(body.nonce.size(), NtsNonceSize);
    Bytes plaintext;
    const Bytes associated(request.begin(), request.begin() + static_cast<long>(fields.fields[3].offset));
    EXPECT_TRUE(SystemCrypto().AeadOpen(15, k.keys.c2s, body.nonce, associated, body.ciphertext, plaintext));
    EXPECT_TRUE(plaintext.empty());
    EXPECT_FALSE(SystemCrypto().AeadOpen(15, k.keys.s2c, body.nonce, associated, body.ciphertext, plaintext));
    // A tiny cookie still gives fields of the least length allowed.
    Bytes small(NtpHeaderSize);
    ASSERT_TRUE(SealNtsRequest(small, k.uniqueId, {1, 2, 3, 4}, 0, k.keys, SystemCrypto()));
    EXPECT_EQ(small.size(), 48u + 36 + 16 + 40);
}

TEST(NtsPacket, AnswersAreTakenOnlyWhenGenuine)
{
    const Keys k;
    struct Row {
        const char* name;
        std::function<Bytes()> answer;
        NtsAnswerKind kind;
        size_t cookies;
    };
    const Row rows[] = {
        {"genuine", [&] { return ServerAnswer(k, k.keys.s2c, k.uniqueId, TwoCookies()); },
         NtsAnswerKind::Authenticated, 2},
        {"genuine with a field after the authenticator",
         [&] {
             Bytes a = ServerAnswer(k, k.keys.s2c, k.uniqueId, TwoCookies());
             a.insert(a.end(), {0xFF, 0xFF, 0, 1}); // not covered, so not looked at
             return a;
         },
         NtsAnswerKind::Authenticated, 2},
        {"header altered on the way",
         [&] {
             Bytes a = ServerAnswer(k, k.keys.s2c, k.uniqueId, TwoCookies());
             a[40] ^= 0x80;
             return a;
         },
         NtsAnswerKind::AuthenticatorInvalid, 0},
        {"an empty nonce",
         [&] {
             Bytes a = GpsAnswerBytes();
             AppendExtensionField(a, NtsFieldType::UniqueIdentifier, k.uniqueId);
             AppendExtensionField(a, NtsFieldType::Authenticator, EncodeAuthenticatorBody({{}, Bytes(16, 0x33)}));
             return a;
         },
         NtsAnswerKind::AuthenticatorInvalid, 0},
        {"sealed with the client's key", [&] { return ServerAnswer(k, k.keys.c2s, k.uniqueId, TwoCookies()); },
         NtsAnswerKind::AuthenticatorInvalid, 0},
        {"for another request", [&] { return ServerAnswer(k, k.keys.s2c, Bytes(32, 7), TwoCookies()); },
         NtsAnswerKind::OtherUniqueIdentifier, 0},
        {"plain NTP", [&] { return GpsAnswerBytes(); }, NtsAnswerKind::NoUniqueIdentifier, 0},
        {"an NTS NAK",
         [&] {
             Bytes a = GpsAnswerBytes();
             a[1] = 0;
             std::copy_n("NTSN", 4, a.begin() + 12);
             AppendExtensionField(a, NtsFieldType::UniqueIdentifier, k.uniqueId);
             return a;
         },
         NtsAnswerKind::Nak, 0},
        {"the identifier alone, not a kiss",
         [&] {
             Bytes a = GpsAnswerBytes();
             AppendExtensionField(a, NtsFieldType::UniqueIdentifier, k.uniqueId);
             return a;
         },
         NtsAnswerKind::NoAuthenticator, 0},
        {"fields that do not parse",
         [&] {
             Bytes a = GpsAnswerBytes();
             a.insert(a.end(), {0x01, 0x04, 0, 5, 0});
             return a;
         },
         NtsAnswerKind::Malformed, 0},
        {"encrypted fields that do not parse",
         [&] { return ServerAnswer(k, k.keys.s2c, k.uniqueId, {0x02, 0x04, 0, 9}); }, NtsAnswerKind::Malformed,
         0},
        {"shorter than a header", [&] { return Bytes(47); }, NtsAnswerKind::Malformed, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const NtsAnswer answer = CheckNtsAnswer(row.answer(), k.uniqueId, k.keys, SystemCrypto());
        EXPECT_EQ(NtsAnswerKindText(answer.kind), NtsAnswerKindText(row.kind));
        EXPECT_EQ(answer.cookies.size(), row.cookies);
    }
    const NtsAnswer genuine =
        CheckNtsAnswer(ServerAnswer(k, k.keys.s2c, k.uniqueId, TwoCookies()), k.uniqueId, k.keys, SystemCrypto());
    ASSERT_EQ(genuine.cookies.size(), 2u);
    EXPECT_EQ(genuine.cookies[1], Bytes(100, 0xC2));
}

} // namespace
