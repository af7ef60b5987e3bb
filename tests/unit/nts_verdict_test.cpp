// The verdict of an NTS check: one table of checks, each a sound one with
// one fault put in, and the verdict and clock rule each must give; and the
// key-exchange box as the operator reads it.
#include "nts/NtsReport.h"
#include "nts/NtsVerdict.h"
#include "support/NtpSamples.h"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace {

NtsTimeExchange Authenticated()
{
    NtsTimeExchange t;
    t.run = true;
    t.exchange.outcome = ExchangeOutcome::Answered;
    t.exchange.reply = GpsAnswer();
    t.exchange.requestTransmit = t.exchange.reply.m_originate;
    t.answer.kind = NtsAnswerKind::Authenticated;
    t.answer.cookies = {std::vector<uint8_t>(100, 1), std::vector<uint8_t>(100, 2)};
    return t;
}

// What a server whose NTS works gives.
NtsCheck SoundCheck()
{
    NtsCheck c;
    NtsKeyExchange& ke = c.keyExchange;
    ke.host = "time.example";
    ke.port = NtsKePort;
    ke.resolved = ke.connected = true;
    ke.connect.outcome = TcpConnectOutcome::Connected;
    ke.tls.established = true;
    ke.tls.version = "TLS1.3";
    ke.tls.cipherSuite = "TLS_AES_256_GCM_SHA384";
    ke.tls.alpn = NtsKeAlpn;
    ke.tls.hasCertificate = true;
    TlsCertificateFacts& cert = ke.tls.certificate;
    cert.subject = "CN=time.example";
    cert.issuer = "CN=Example CA";
    cert.dnsNames = {"time.example"};
    cert.nameMatches = cert.verified = true;
    cert.notBefore = NewYear2024Unix;
    cert.notAfter = NewYear2024Unix + 90 * 86400;
    ke.requestSent = ke.endOfMessage = true;
    ke.records = {{true, NtsKeType::NextProtocol, {0, 0}},
                  {true, NtsKeType::AeadAlgorithm, {0, 15}},
                  {false, NtsKeType::NewCookie, std::vector<uint8_t>(100)},
                  {false, NtsKeType::NewCookie, std::vector<uint8_t>(100)},
                  {true, NtsKeType::EndOfMessage, {}}};
    ke.response = ReadNtsKeResponse(ke.records);
    ke.aeadSupported = ke.keysExported = true;
    ke.keys = {15, std::vector<uint8_t>(32), std::vector<uint8_t>(32)};
    c.ntp.host = ke.host;
    c.ntpResolved = true;
    c.first = c.second = Authenticated();
    return c;
}

struct VerdictRow {
    const char* code;
    std::function<void(NtsCheck&)> fault;
    const char* words;   // part of the verdict's sentence
    bool clockMaySet;
};

const VerdictRow Rows[] = {
    {"works", [](NtsCheck&) {}, "NTS works", true},
    {"host-not-found", [](NtsCheck& c) { c.keyExchange.resolved = false;
         c.keyExchange.resolveFailure = ExchangeOutcome::HostNotFound; }, "host time.example not found", false},
    {"ke-refused", [](NtsCheck& c) { c.keyExchange.connected = false;
         c.keyExchange.connect.outcome = TcpConnectOutcome::Refused; }, "time.example:4460 refused", false},
    {"ke-silent", [](NtsCheck& c) { c.keyExchange.connected = false;
         c.keyExchange.connect.outcome = TcpConnectOutcome::TimedOut; }, "is silent", false},
    {"tls-alert", [](NtsCheck& c) { c.keyExchange.tls.established = false;
         c.keyExchange.tls.alert = "Handshake failed"; }, "the server sent the alert \"Handshake failed\"", false},
    {"tls-failed", [](NtsCheck& c) { c.keyExchange.tls.established = false;
         c.keyExchange.tls.failure = "The TLS connection was non-properly terminated."; },
     "handshake failed: The TLS connection", false},
    {"certificate-expired", [](NtsCheck& c) { c.keyExchange.tls.certificate.expired = true;
         c.keyExchange.tls.certificate.verified = false; }, "expired on", false},
    {"certificate-not-yet-valid", [](NtsCheck& c) { c.keyExchange.tls.certificate.notYetValid = true;
         c.keyExchange.tls.certificate.verified = false; }, "check the server's and this computer's clocks", false},
    {"certificate-other-name", [](NtsCheck& c) { c.keyExchange.tls.certificate.nameMatches = false;
         c.keyExchange.tls.certificate.dnsNames = {"a.example", "b.example"}; },
     "another name (a.example, b.example), not for time.example", false},
    {"certificate-untrusted", [](NtsCheck& c) { c.keyExchange.tls.certificate.untrusted = true;
         c.keyExchange.tls.certificate.verified = false; }, "issuer CN=Example CA is not among", false},
    {"no-alpn", [](NtsCheck& c) { c.keyExchange.tls.alpn = ""; }, "did not agree to ALPN ntske/1", true},
    {"ke-error", [](NtsCheck& c) { c.keyExchange.response.errors = {1}; }, "Error record, code 1 (Bad Request)",
     true},
    {"ke-incomplete", [](NtsCheck& c) { c.keyExchange.endOfMessage = false; }, "before its End of Message", true},
    {"ke-unknown-critical", [](NtsCheck& c) { c.keyExchange.response.unknownCritical = {99}; }, "(type 99)", true},
    {"ke-no-ntpv4", [](NtsCheck& c) { c.keyExchange.response.nextProtocols = {}; }, "NTPv4", true},
    {"ke-no-aead", [](NtsCheck& c) { c.keyExchange.response.aeadAlgorithms = {}; }, "none of the AEAD", true},
    {"ke-aead-unsupported", [](NtsCheck& c) { c.keyExchange.response.aeadAlgorithms = {30};
         c.keyExchange.aeadSupported = false; }, "AEAD_AES_128_GCM_SIV (30), which this build cannot do", true},
    {"ke-no-cookies", [](NtsCheck& c) { c.keyExchange.response.cookies.clear(); }, "no cookies", true},
    {"ntp-host-not-found", [](NtsCheck& c) { c.ntpResolved = false; }, "NTP server time.example", true},
    {"nak", [](NtsCheck& c) { c.first.answer.kind = NtsAnswerKind::Nak; c.second = {}; },
     "NTS NAK (kiss code NTSN)", false},
    {"authenticator-invalid", [](NtsCheck& c) { c.first.exchange.outcome = ExchangeOutcome::TimedOut;
         c.first.exchange.rejected = {1}; c.first.rejectedKind = NtsAnswerKind::AuthenticatorInvalid; },
     "authenticator is invalid", true},
    {"not-nts", [](NtsCheck& c) { c.first.exchange.outcome = ExchangeOutcome::TimedOut;
         c.first.exchange.rejected = {1}; c.first.rejectedKind = NtsAnswerKind::NoUniqueIdentifier; },
     "not a valid NTS answer: no Unique Identifier", true},
    {"ntp-port-closed", [](NtsCheck& c) { c.first.exchange.outcome = ExchangeOutcome::ClosedPort;
         c.plainRun = true; c.plain.outcome = ExchangeOutcome::ClosedPort; }, "is closed (port unreachable)", true},
    {"no-new-cookies", [](NtsCheck& c) { c.first.answer.cookies.clear(); }, "no new cookies", true},
    {"nak-returned-cookie", [](NtsCheck& c) { c.second.answer.kind = NtsAnswerKind::Nak; },
     "cookie the server had just returned", true},
    {"second-failed", [](NtsCheck& c) { c.second.exchange.outcome = ExchangeOutcome::TimedOut; },
     "second exchange, with a cookie from the first answer failed: --No answer", true},
    {"kiss", [](NtsCheck& c) { c.first.exchange.reply.m_stratum = 0;
         std::copy_n("RATE", 4, c.first.exchange.reply.m_refId); }, "kiss code RATE (rate exceeded", true},
    {"ke-timeout", [](NtsCheck& c) { c.keyExchange.tls.established = false; c.keyExchange.timedOut = true; },
     "longer than 10 s: the server stalled in the TLS handshake", false},
    {"certificate-wrong-purpose", [](NtsCheck& c) { c.keyExchange.tls.certificate.wrongPurpose = true;
         c.keyExchange.tls.certificate.verified = false; c.keyExchange.tls.certificate.purposes = {"TLS client"}; },
     "Extended Key Usage allows only TLS client", false},
    {"ntp-host-not-found", [](NtsCheck& c) { c.ntpResolved = false; c.ntp = {"ntp.example", 123, true}; },
     "NTP server ntp.example named by the key exchange was not found", true},
    {"cookie-too-long", [](NtsCheck& c) { c.second = {}; c.second.cookieTooLong = true; },
     "cookie over 1024 bytes: a fault of the server; nothing was sent", true},
    {"kiss", [](NtsCheck& c) { c.first.exchange.reply.m_stratum = 0;
         std::copy_n("\x1b[2J", 4, c.first.exchange.reply.m_refId); }, "kiss code \\x1b[2J (", true},
};

TEST(NtsVerdict, EachFaultGivesItsVerdictAndClockRule)
{
    for (const VerdictRow& row : Rows) {
        SCOPED_TRACE(row.code);
        NtsCheck check = SoundCheck();
        row.fault(check);
        const NtsVerdict verdict = JudgeNtsCheck(check);
        EXPECT_EQ(verdict.code, row.code) << verdict.text;
        EXPECT_NE(verdict.text.find(row.words), std::string::npos) << verdict.text;
        EXPECT_EQ(verdict.Works(), std::string(row.code) == "works");
        // The clock follows the certificate and the authentication, not the verdict.
        EXPECT_EQ(NtsClockRefusal(check).empty(), row.clockMaySet) << NtsClockRefusal(check);
    }
    NtsCheck firstOnly = SoundCheck();
    firstOnly.second.answer.kind = NtsAnswerKind::Nak;
    EXPECT_EQ(NtsClockAnswer(firstOnly), &firstOnly.first.exchange) << "the last authenticated answer";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(0, line.size() - (!line.empty() && line.back() == '\r')));
    return lines;
}

TEST(NtsReport, TheKeyExchangeBoxHoldsEveryFactAtItsWidth)
{
    NtsCheck check = SoundCheck();
    check.keyExchange.totalMicros = 12345;
    const std::string box = FormatNtsKeyExchangeBox(check.keyExchange, NewYear2024Unix + 10 * 86400 + 5);
    const std::vector<std::string> lines = Lines(box);
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines.front().rfind("+--NTS Key Exchange--", 0), 0u);
    for (const std::string& line : lines)
        EXPECT_EQ(line.size(), 63u) << line;
    for (const char* fact : {"| Server:             time.example port 4460 ",
                             "| TLS:                TLS1.3, TLS_AES_256_GCM_SHA384, 0.0 ms ",
                             "| ALPN:               ntske/1 agreed ", "| Name match:         yes, time.example ",
                             "(79 days left)", "| Verification:       trusted ",
                             "|  *AEAD Algorithm    AEAD_AES_SIV_CMAC_256 (15) ",
                             "|   New Cookie        2 cookies of 100 bytes ", "|  *End of Message ",
                             "| Exchange took:      12.3 ms "})
        EXPECT_NE(box.find(fact), std::string::npos) << fact << "\n" << box;

    // Counted in whole days, down to the day that has begun.
    EXPECT_NE(FormatNtsKeyExchangeBox(check.keyExchange, NewYear2024Unix + 89 * 86400).find("(1 day left)"),
              std::string::npos);
    EXPECT_NE(FormatNtsKeyExchangeBox(check.keyExchange, NewYear2024Unix + 90 * 86400 + 1).find("(expired 1 day ago)"),
              std::string::npos);

    // A refused port: the box stops where the exchange did.
    check.keyExchange.connected = false;
    check.keyExchange.connect = {TcpConnectOutcome::Refused, 10061, "Connection refused"};
    const std::string refused = FormatNtsKeyExchangeBox(check.keyExchange, NewYear2024Unix);
    EXPECT_NE(refused.find("| TCP connection:     refused (10061 Connection refused) "), std::string::npos);
    EXPECT_EQ(refused.find("TLS"), std::string::npos);

    // The report ends with the verdict; without an answer, no zone line.
    const std::vector<std::string> blocks = NtsReportBlocks(check, JudgeNtsCheck(check), NewYear2024Unix);
    EXPECT_EQ(blocks.back().rfind("\r\nVerdict: the key-exchange port time.example:4460 refused", 0), 0u);
}

} // namespace
