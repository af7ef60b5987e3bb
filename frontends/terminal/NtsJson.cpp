#include "frontends/terminal/NtsJson.h"

#include "frontends/terminal/ExchangeJson.h"
#include "ntp/PrintableText.h"
#include "query/KissCode.h"

namespace {

using nlohmann::json;

json OrNull(const std::string& text) { return text.empty() ? json() : json(text); }

// Text a server chose, as the report shows it.
std::vector<std::string> Printable(const std::vector<std::string>& texts)
{
    std::vector<std::string> out;
    for (const std::string& text : texts)
        out.push_back(PrintableText(text));
    return out;
}

const char* ConnectText(TcpConnectOutcome outcome)
{
    switch (outcome) {
    case TcpConnectOutcome::Connected: return "connected";
    case TcpConnectOutcome::Refused: return "refused";
    case TcpConnectOutcome::TimedOut: return "timed_out";
    case TcpConnectOutcome::Failed: break;
    }
    return "failed";
}

json CertificateJson(const TlsCertificateFacts& c, int64_t now)
{
    return {{"subject", PrintableText(c.subject)},
            {"issuer", PrintableText(c.issuer)},
            {"dns_names", Printable(c.dnsNames)},
            {"ip_addresses", Printable(c.ipAddresses)},
            {"key_usage", Printable(c.purposes)},
            {"wrong_purpose", c.wrongPurpose},
            {"name_matches", c.nameMatches},  {"not_before_unix", c.notBefore},
            {"not_after_unix", c.notAfter},   {"seconds_left", c.notAfter - now},
            {"verified", c.verified},         {"untrusted", c.untrusted},
            {"expired", c.expired},           {"not_yet_valid", c.notYetValid},
            {"verification", c.verification}};
}

json RecordsJson(const std::vector<NtsKeRecord>& records)
{
    json list = json::array();
    for (const NtsKeRecord& r : records)
        list.push_back({{"type", r.type},
                        {"name", NtsKeRecordName(r.type)},
                        {"critical", r.critical},
                        {"body_bytes", r.body.size()},
                        {"value", r.type == NtsKeType::NewCookie ? json() : json(PrintableText(NtsKeRecordValue(r)))}});
    return list;
}

json KeyExchangeJson(const NtsKeyExchange& ke, int64_t now)
{
    const TlsSessionFacts& tls = ke.tls;
    std::vector<size_t> cookieSizes;
    for (const auto& cookie : ke.response.cookies)
        cookieSizes.push_back(cookie.size());
    return {
        {"host", ke.host},
        {"port", ke.port},
        {"resolved", ke.resolved},
        {"tcp", {{"outcome", ConnectText(ke.connect.outcome)},
                 {"error", ke.connected ? json() : json(ke.connect.error)},
                 {"ms", ke.connectMicros / 1000.0}}},
        {"tls", {{"established", tls.established},
                 {"failure", OrNull(tls.failure)},
                 {"alert", OrNull(tls.alert)},
                 {"version", OrNull(tls.version)},
                 {"cipher_suite", OrNull(tls.cipherSuite)},
                 {"alpn", OrNull(tls.alpn)},
                 {"ca_problem", OrNull(tls.caProblem)},
                 {"ms", ke.handshakeMicros / 1000.0}}},
        {"certificate", tls.hasCertificate ? CertificateJson(tls.certificate, now) : json()},
        {"records", RecordsJson(ke.records)},
        {"end_of_message", ke.endOfMessage},
        {"timed_out", ke.timedOut},
        {"trusted", NtsKeyExchangeTrusted(ke)},
        {"cookie_bytes", cookieSizes},
        {"ntp_server", OrNull(PrintableText(ke.response.ntpServer))},
        {"ntp_port", ke.response.ntpPort >= 0 ? json(ke.response.ntpPort) : json()},
        {"aead", ke.response.aeadAlgorithms.empty() ? json() : json(ke.response.aeadAlgorithms.front())},
        {"keys_exported", ke.keysExported},
        {"ms", ke.totalMicros / 1000.0},
    };
}

json ExchangeJson(const NtsTimeExchange& t)
{
    if (!t.run)
        return json();
    const NtpExchange& e = t.exchange;
    json out = {{"authenticated", t.Authenticated()},
                {"nak", t.Nak()},
                {"kiss_code", OrNull(PrintableText(KissCode(e)))},
                {"new_cookies", t.answer.cookies.size()},
                {"put_aside", e.rejected.empty() ? json() : json(NtsAnswerKindText(t.rejectedKind))}};
    if (e.Answered())
        out["answer"] = AnswerJson(e);
    else
        out["error"] = ExchangeFailureText(e);
    return out;
}

} // namespace

json NtsCheckJson(const NtsCheck& check, const NtsVerdict& verdict, int64_t now)
{
    json plain;
    if (check.plainRun)
        plain = {{"answered", check.plain.Answered()}, {"error", OrNull(ExchangeFailureText(check.plain))}};
    return {
        {"key_exchange", KeyExchangeJson(check.keyExchange, now)},
        {"ntp_host", OrNull(PrintableText(check.ntp.host))},
        {"ntp_port", check.ntp.host.empty() ? json() : json(check.ntp.port)},
        {"ntp_host_named_by_server", check.ntp.namedByServer},
        {"exchanges", {ExchangeJson(check.first), ExchangeJson(check.second)}},
        {"plain_ntp", plain},
        {"verdict", {{"code", verdict.code}, {"text", verdict.text}, {"works", verdict.Works()}}},
    };
}
