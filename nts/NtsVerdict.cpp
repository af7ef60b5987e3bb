#include "nts/NtsVerdict.h"

#include "ntp/Format.h"
#include "ntp/PrintableText.h"
#include "query/KissCode.h"
#include "query/ServerText.h"
#include "query/StrictHost.h"

#include <algorithm>

namespace {

// Hosts and names may come from the server: shown printable only.
std::string Endpoint(const std::string& host, int port)
{
    return Format("%s:%i", PrintableText(BracketedHost(host)).c_str(), port);
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

std::string Names(const TlsCertificateFacts& c)
{
    std::vector<std::string> names = c.dnsNames;
    names.insert(names.end(), c.ipAddresses.begin(), c.ipAddresses.end());
    return PrintableText(names.empty() ? "subject " + c.subject : Joined(names));
}

// The certificate's first fault, or "" when it is sound for the server text.
NtsVerdict CertificateVerdict(const NtsKeyExchange& ke)
{
    const TlsCertificateFacts& c = ke.tls.certificate;
    if (!ke.tls.hasCertificate)
        return {"certificate-missing", "the server sent no certificate"};
    if (c.expired)
        return {"certificate-expired", "the server's certificate expired on " + FormatLocalDate(c.notAfter) + ": renew it"};
    if (c.notYetValid)
        return {"certificate-not-yet-valid", "the server's certificate is not valid before " +
                                                 FormatLocalDate(c.notBefore) +
                                                 ": check the server's and this computer's clocks"};
    if (!c.nameMatches)
        return {"certificate-other-name", "the server's certificate is for another name (" + Names(c) +
                                              "), not for " + PrintableText(ke.host)};
    if (c.untrusted) {
        std::string text = "the server's certificate is not trusted: its issuer " + PrintableText(c.issuer) +
                           " is not among the trusted authorities";
        if (!ke.tls.caProblem.empty())
            text += " (CA file " + ke.tls.caProblem + ")";
        return {"certificate-untrusted", text};
    }
    if (c.wrongPurpose)
        return {"certificate-wrong-purpose",
                "the server's certificate is not for a TLS server: its Extended Key Usage allows only " +
                    PrintableText(Joined(c.purposes))};
    if (!c.verified)
        return {"certificate-invalid", "the server's certificate failed verification: " + c.verification};
    return {};
}

NtsVerdict ConnectionVerdict(const NtsKeyExchange& ke)
{
    const std::string where = Endpoint(ke.host, ke.port);
    switch (ke.connect.outcome) {
    case TcpConnectOutcome::Refused:
        return {"ke-refused", "the key-exchange port " + where +
                                  " refused the connection: no NTS-KE service listens there"};
    case TcpConnectOutcome::TimedOut:
        return {"ke-silent", "the key-exchange port " + where +
                                 " is silent: no answer to the connection attempt (filtered by a firewall?)"};
    default:
        return {"ke-connect-failed", Format("the connection to %s failed: %i %s", where.c_str(), ke.connect.error,
                                            ke.connect.errorText.c_str())};
    }
}

NtsVerdict RecordsVerdict(const NtsKeyExchange& ke)
{
    const NtsKeResponse& r = ke.response;
    if (!ke.requestSent)
        return {"ke-write-failed", "the key-exchange request could not be sent"};
    if (!r.errors.empty())
        return {"ke-error", "the server answered the key exchange with an Error record, code " +
                                NtsKeErrorName(r.errors.front())};
    if (ke.timedOut)
        return {"ke-timeout", Format("the key exchange took longer than %i s: the server was still sending its "
                                     "records (%zu bytes, no End of Message)",
                                     NtsKeyExchangeSeconds, ke.recordBytes)};
    if (!ke.endOfMessage)
        return {"ke-incomplete", "the key exchange ended before its End of Message: " +
                                     (ke.readFailure.empty() ? std::string("the server closed the connection")
                                                             : ke.readFailure)};
    if (!r.unknownCritical.empty())
        return {"ke-unknown-critical", Format("the server sent a critical record this client does not know (type %u)",
                                              r.unknownCritical.front())};
    if (!r.faults.empty())
        return {"ke-malformed", "the server's key-exchange records are malformed: " + r.faults.front()};
    if (r.nextProtocols != std::vector<uint16_t>{NtsProtocolNtpV4})
        return {"ke-no-ntpv4", "the server did not agree to NTPv4 as the next protocol"};
    if (r.aeadAlgorithms.empty())
        return {"ke-no-aead", "the server accepted none of the AEAD algorithms offered (" +
                                  AeadAlgorithmName(AeadAesSivCmac256) + ")"};
    if (!ke.aeadSupported)
        return {"ke-aead-unsupported", "the server chose " + AeadAlgorithmName(r.aeadAlgorithms.front()) +
                                           ", which this build cannot do"};
    if (r.cookies.empty())
        return {"ke-no-cookies", "the key exchange gave no cookies"};
    const auto longest = std::max_element(r.cookies.begin(), r.cookies.end(),
                                          [](const auto& a, const auto& b) { return a.size() < b.size(); });
    if (longest->size() > NtsMaxCookieBytes)
        return {"ke-cookie-too-long", Format("the key exchange gave a cookie of %zu bytes, over the %zu a client "
                                             "sends: a fault of the server; nothing was sent with it",
                                             longest->size(), NtsMaxCookieBytes)};
    if (r.ntpPort == 0)
        return {"ke-ntp-port-zero", "the key exchange named NTP port 0, where no server can listen: a fault of "
                                    "the server's records"};
    if (!r.ntpServer.empty() && !IsStrictHost(r.ntpServer))
        return {"ke-bad-ntp-server", "the key exchange named an NTP server \"" + PrintableText(r.ntpServer) +
                                         "\" that is neither an address nor a host name: a fault of the server's "
                                         "records"};
    if (!ke.keysExported)
        return {"ke-no-keys", "the keys could not be exported from the TLS session"};
    return {};
}

} // namespace

NtsVerdict JudgeNtsKeyExchange(const NtsKeyExchange& ke)
{
    if (!ke.resolved) {
        if (ke.resolveFailure == ExchangeOutcome::NoHost)
            return {"no-host", "no host given"};
        if (ke.resolveFailure == ExchangeOutcome::InvalidPort)
            return {"invalid-port", "invalid port"};
        return {"host-not-found", "host " + PrintableText(ke.host) + " not found"};
    }
    if (!ke.connected)
        return ConnectionVerdict(ke);
    if (!ke.tls.established) {
        if (ke.timedOut)
            return {"ke-timeout", Format("the key exchange took longer than %i s: the server stalled in the TLS "
                                         "handshake",
                                         NtsKeyExchangeSeconds)};
        if (!ke.tls.alert.empty())
            return {"tls-alert", "the TLS handshake failed: the server sent the alert \"" + ke.tls.alert + "\""};
        return {"tls-failed", "the TLS handshake failed: " + ke.tls.failure};
    }
    NtsVerdict certificate = CertificateVerdict(ke);
    if (!certificate.code.empty())
        return certificate;
    if (ke.tls.alpn != NtsKeAlpn)
        return {"no-alpn", std::string("the server did not agree to ALPN ") + NtsKeAlpn +
                               ": it is not an NTS key-exchange server"};
    return RecordsVerdict(ke);
}

namespace {

// What became of one authenticated exchange; "" when it was authenticated.
NtsVerdict ExchangeVerdict(const NtsCheck& check, const NtsTimeExchange& t, bool second)
{
    const NtpExchange& e = t.exchange;
    const std::string where = Endpoint(check.ntp.host, check.ntp.port);
    const char* which = second ? "the second exchange, with a cookie from the first answer" : "the NTS NTP exchange";
    if (t.cookieTooLong)
        return {"cookie-too-long", Format("the first answer returned a cookie over %zu bytes: a fault of the "
                                          "server; nothing was sent with it",
                                          NtsMaxCookieBytes)};
    if (t.Nak())
        return {second ? "nak-returned-cookie" : "nak",
                second ? "NTS NAK (kiss code NTSN) to the cookie the server had just returned: its keys changed "
                         "between the two exchanges"
                       : "NTS NAK (kiss code NTSN): the NTP server cannot use the key exchange's cookies: its keys "
                         "changed, or it does not share them with the key-exchange server"};
    if (t.Authenticated()) {
        const std::string kiss = KissCode(e);
        if (!kiss.empty())
            return {"kiss", Format("the server answered with kiss code %s (%s)", PrintableText(kiss).c_str(),
                                   KissCodeMeaning(kiss).c_str())};
        return {};
    }
    if (!e.rejected.empty()) {
        if (t.rejectedKind == NtsAnswerKind::AuthenticatorInvalid)
            return {"authenticator-invalid", "the answer's NTS authenticator is invalid: the NTP server's keys "
                                             "are not those of the key exchange, or the packet was altered"};
        return {"not-nts", "the answer from " + where + " is not a valid NTS answer: " +
                               NtsAnswerKindText(t.rejectedKind)};
    }
    if (!second && check.plainRun) {
        if (check.plain.Answered())
            return {"nts-dropped", "NTS NTP answer missing while plain NTP answers (large UDP packets dropped or "
                                   "port filtered)"};
        if (e.outcome == ExchangeOutcome::ClosedPort)
            return {"ntp-port-closed", "the NTP port " + where + " is closed (port unreachable)"};
        return {"ntp-silent", "no NTP answer from " + where +
                                  ", NTS or plain (NTP port filtered or the NTP service down)"};
    }
    return {second ? "second-failed" : "ntp-failed",
            std::string(which) + " failed: " + ExchangeFailureText(e)};
}

} // namespace

NtsVerdict JudgeNtsCheck(const NtsCheck& check)
{
    NtsVerdict verdict = JudgeNtsKeyExchange(check.keyExchange);
    if (!verdict.code.empty())
        return verdict;
    if (!check.ntpResolved)
        return {"ntp-host-not-found", "the NTP server " + PrintableText(check.ntp.host) +
                                          (check.ntp.namedByServer ? " named by the key exchange" : "") +
                                          " was not found"};
    verdict = ExchangeVerdict(check, check.first, false);
    if (!verdict.code.empty())
        return verdict;
    if (check.first.answer.cookies.empty())
        return {"no-new-cookies", "the authenticated answer brought no new cookies"};
    verdict = ExchangeVerdict(check, check.second, true);
    if (!verdict.code.empty())
        return verdict;
    return {"works", "NTS works: certificate verified, NTPv4 with " +
                         AeadAlgorithmName(check.keyExchange.keys.aead) +
                         ", both answers authenticated, new cookies returned"};
}

std::string NtsClockRefusal(const NtsCheck& check)
{
    const NtsKeyExchange& ke = check.keyExchange;
    if (!ke.resolved || !ke.connected || !ke.tls.established || !CertificateVerdict(ke).code.empty())
        return "the server's certificate was not verified";
    if (!NtsClockAnswer(check))
        return "no authenticated NTS answer";
    return "";
}

const NtpExchange* NtsClockAnswer(const NtsCheck& check)
{
    if (check.second.Authenticated())
        return &check.second.exchange;
    if (check.first.Authenticated())
        return &check.first.exchange;
    return nullptr;
}
