// One authenticated NTP exchange with a stored cookie, against a loopback
// responder that plays the NTS server: one table of answers (NAK or sealed,
// with or without the request's origin) and of cookies, with what the
// exchange takes and what it sends.
#include "nts/NtpExtensionFields.h"
#include "nts/NtsCheck.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

enum class Reply { Nak, Sealed };

struct TimeRow {
    const char* name;
    Reply reply;
    bool echoOrigin;
    size_t cookieBytes;
    bool sent;
    NtsAnswerKind taken; // Malformed: nothing taken
    NtsAnswerKind putAside;
};

const TimeRow Rows[] = {
    {"NAK to the request", Reply::Nak, true, 100, true, NtsAnswerKind::Nak, NtsAnswerKind::Malformed},
    {"NAK with another origin", Reply::Nak, false, 100, true, NtsAnswerKind::Malformed, NtsAnswerKind::NotEchoed},
    {"sealed answer to the request", Reply::Sealed, true, 100, true, NtsAnswerKind::Authenticated,
     NtsAnswerKind::Malformed},
    {"sealed answer with another origin", Reply::Sealed, false, 100, true, NtsAnswerKind::Malformed,
     NtsAnswerKind::NotEchoed},
    {"longest cookie", Reply::Sealed, true, NtsMaxCookieBytes, true, NtsAnswerKind::Authenticated,
     NtsAnswerKind::Malformed},
    {"cookie over the limit", Reply::Sealed, true, NtsMaxCookieBytes + 1, false, NtsAnswerKind::Malformed,
     NtsAnswerKind::Malformed},
};

// The server's side: the header, the request's Unique Identifier field as
// it came, and for a sealed answer two new cookies under the S2C key.
Bytes Answer(const TimeRow& row, const NtsKeys& keys, const CUdpResponder::Request& request)
{
    Bytes answer = CUdpResponder::Message(row.reply == Reply::Nak ? CUdpResponder::KissReply(request, "NTSN")
                                                                  : CUdpResponder::ServerReply(request))
                       .bytes;
    if (!row.echoOrigin)
        answer[31] ^= 1;
    const size_t idField = 4 + NtsUniqueIdentifierSize;
    answer.insert(answer.end(), request.bytes.begin() + NtpHeaderSize,
                  request.bytes.begin() + NtpHeaderSize + idField);
    if (row.reply == Reply::Nak)
        return answer;
    Bytes cookies;
    AppendExtensionField(cookies, NtsFieldType::Cookie, Bytes(100, 0xC1));
    AppendExtensionField(cookies, NtsFieldType::Cookie, Bytes(100, 0xC2));
    NtsAuthenticatorBody body;
    body.nonce = Bytes(16, 0x4E);
    SystemCrypto().AeadSeal(keys.aead, keys.s2c, body.nonce, answer, cookies, body.ciphertext);
    AppendExtensionField(answer, NtsFieldType::Authenticator, EncodeAuthenticatorBody(body));
    return answer;
}

TEST(NtsTimeExchange, TakesOnlyTheAnswerToThisRequestAndSendsNoOverlongCookie)
{
    const NtsKeys keys{AeadAesSivCmac256, SystemCrypto().RandomBytes(32), SystemCrypto().RandomBytes(32)};
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CNtsChecker checker(engine, SystemTls(), SystemCrypto());
    for (const TimeRow& row : Rows) {
        SCOPED_TRACE(row.name);
        CUdpResponder server([&](const CUdpResponder::Request& r) -> std::vector<CUdpResponder::Datagram> {
            return {{Answer(row, keys, r)}};
        });
        ASSERT_TRUE(server.IsListening());
        const NtsTimeExchange t = checker.TimeExchange(server.Endpoint(), Bytes(row.cookieBytes, 0xC0), keys);
        EXPECT_EQ(t.run, row.sent);
        EXPECT_EQ(t.cookieTooLong, !row.sent);
        EXPECT_EQ(server.Requests().size(), row.sent ? 1u : 0u);
        const bool taken = row.taken != NtsAnswerKind::Malformed;
        EXPECT_EQ(t.exchange.Answered(), taken) << ExchangeFailureText(t.exchange);
        if (taken) {
            EXPECT_EQ(t.answer.kind, row.taken);
            EXPECT_EQ(t.answer.cookies.size(), row.taken == NtsAnswerKind::Authenticated ? 2u : 0u);
        }
        if (row.putAside != NtsAnswerKind::Malformed) {
            EXPECT_EQ(t.exchange.outcome, ExchangeOutcome::TimedOut);
            EXPECT_EQ(t.rejectedKind, row.putAside);
        }
    }
}

} // namespace
