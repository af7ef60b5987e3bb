#include "audit/NtsAudit.h"

#include "audit/Beside.h"
#include "ntp/Format.h"
#include "ntp/PrintableText.h"
#include "nts/NtsReport.h"

#include <cstring>

namespace {
constexpr int ProbeConnectMs = 3000;
constexpr int ProbeTlsMs = 4000;
constexpr size_t MaxProbeBytes = 16384;
// A record type no server can know: the top of the range RFC 8915 leaves
// unassigned, critical.
constexpr uint16_t UnknownRecordType = 0x7FFF;
constexpr int64_t SecondsPerDay = 86400;

std::vector<uint8_t> RequestWithUnknownCritical()
{
    std::vector<uint8_t> request;
    const auto add = [&](const NtsKeRecord& r) {
        const std::vector<uint8_t> bytes = EncodeNtsKeRecord(r);
        request.insert(request.end(), bytes.begin(), bytes.end());
    };
    add({true, NtsKeType::NextProtocol, {0, NtsProtocolNtpV4}});
    add({false, NtsKeType::AeadAlgorithm, {0, AeadAesSivCmac256}});
    add({true, UnknownRecordType, {}});
    add({true, NtsKeType::EndOfMessage, {}});
    return request;
}

KeProbe RunKeProbe(ITlsConnector& tls, const SockAddrIn& address, const TlsOptions& options,
                   const std::vector<uint8_t>& request)
{
    KeProbe probe;
    probe.run = true;
    TcpConnectFacts connect;
    std::unique_ptr<ITlsChannel> channel = tls.Connect(address, ProbeConnectMs, connect);
    probe.connected = channel != nullptr;
    if (!channel || !channel->Handshake(options, probe.tls) || !channel->Write(request))
        return probe;
    probe.records = ReadNtsKeRecordStream(*channel, MaxProbeBytes).records;
    probe.response = ReadNtsKeResponse(probe.records);
    return probe;
}

uint16_t NetworkOrder(uint16_t port)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// RFC 8915 has a key-exchange server refuse both: TLS before 1.3, and a
// client that does not speak its protocol.
bool HandshakeAccepted(const KeProbe& p) { return p.connected && p.tls.established; }
// Without ntske/1 a server may finish the handshake and then serve nothing:
// only records sent to such a client break the rule.
bool ServedWithoutAlpn(const KeProbe& p) { return HandshakeAccepted(p) && !p.records.empty(); }

bool Absent(const NtsVerdict& v) { return v.code == "ke-refused" || v.code == "ke-silent"; }

std::string ProbeLine(const char* what, const KeProbe& p)
{
    if (!p.connected)
        return std::string(what) + ": no connection";
    if (!p.tls.established)
        return std::string(what) + ": handshake refused (" + PrintableText(p.tls.alert.empty() ? p.tls.failure : p.tls.alert) + ")";
    if (!p.response.errors.empty())
        return std::string(what) + ": Error record, code " + NtsKeErrorName(p.response.errors.front());
    if (p.records.empty())
        return std::string(what) + ": handshake completed, nothing served";
    return Format("%s: accepted (%zu records, %zu cookies)", what, p.records.size(), p.response.cookies.size());
}
} // namespace

int NtsAuditFacts::Datagrams() const
{
    return (check.first.run ? 1 : 0) + (check.second.run ? 1 : 0) + (check.plainRun ? 1 : 0);
}

int NtsAuditFacts::Connections() const
{
    return (check.keyExchange.resolved ? 1 : 0) + (onlyTls12.run ? 1 : 0) + (noAlpn.run ? 1 : 0) +
           (unknownCritical.run ? 1 : 0);
}

NtsAuditFacts ProbeNts(CExchangeEngine& engine, ITlsConnector& tls, ICrypto& crypto, const SockAddrIn& address,
                       const std::string& host, const AuditOptions& options)
{
    NtsAuditFacts facts;
    NtpExchange where;
    where.host = host;
    where.port = options.ntsPort;
    where.server = address;
    where.server.port = NetworkOrder(static_cast<uint16_t>(options.ntsPort));
    CNtsChecker checker(engine, tls, crypto);
    facts.check.keyExchange = checker.KeyExchange(where, options.caFiles);
    facts.now = engine.Clock().Now().seconds;
    if (!facts.check.keyExchange.connected) {
        facts.verdict = JudgeNtsCheck(facts.check);
        return facts;
    }
    // This address serves the time too when the key exchange names no other.
    if (facts.check.keyExchange.response.ntpServer.empty())
        facts.check.keyExchange.response.ntpServer = AddressText(address);
    // The probe's connection while the time exchanges run: the check keeps its 16 s.
    const TlsOptions normal{host, NtsKeAlpn, options.caFiles, ProbeTlsMs};
    TlsOptions tls12 = normal;
    tls12.onlyTls12 = true;
    TlsOptions noAlpn = normal;
    noAlpn.alpn = "";
    const std::vector<uint8_t> request = NtsKeClientRequest({AeadAesSivCmac256});
    RunTogether({[&] { checker.TimeExchanges(facts.check); },
                 [&] { facts.onlyTls12 = RunKeProbe(tls, where.server, tls12, request); },
                 [&] { facts.noAlpn = RunKeProbe(tls, where.server, noAlpn, request); },
                 [&] { facts.unknownCritical = RunKeProbe(tls, where.server, normal, RequestWithUnknownCritical()); }});
    facts.verdict = JudgeNtsCheck(facts.check);
    return facts;
}

AuditCheck JudgeNts(const NtsAuditFacts& f)
{
    AuditCheck check;
    check.id = AuditCheckId::Nts;
    check.evidence.push_back("verdict: " + PrintableText(f.verdict.text));
    if (Absent(f.verdict)) {
        check.summary = "no NTS key exchange";
        check.cap = AuditGrade::A;
        return check;
    }
    const NtsKeyExchange& ke = f.check.keyExchange;
    const bool certificate = ke.tls.hasCertificate;
    const int64_t notAfter = ke.tls.certificate.notAfter;
    const int64_t daysLeft = (notAfter - f.now) / SecondsPerDay;
    if (certificate)
        check.evidence.push_back(Format("certificate valid until %s: %s", FormatLocalDate(notAfter).c_str(),
                                        DaysLeft(notAfter, f.now).c_str()));
    for (const auto& [what, probe] : {std::pair{"TLS 1.2 only", &f.onlyTls12}, std::pair{"no ntske/1 ALPN", &f.noAlpn},
                                      std::pair{"unknown critical record", &f.unknownCritical}})
        if (probe->run)
            check.evidence.push_back(ProbeLine(what, *probe));
    if (!f.verdict.Works()) {
        check.result = AuditResult::Fail;
        check.cap = AuditGrade::C;
        check.summary = "NTS fails: " + PrintableText(f.verdict.code);
        return check;
    }
    check.result = AuditResult::Pass;
    check.summary = "NTS works";
    std::vector<std::string> faults;
    if (daysLeft < CertificateWarnDays)
        faults.push_back(Format("certificate expires in %lld days", static_cast<long long>(daysLeft)));
    if (HandshakeAccepted(f.onlyTls12))
        faults.push_back("a TLS 1.2 handshake is accepted");
    if (ServedWithoutAlpn(f.noAlpn))
        faults.push_back("a client without ntske/1 is served");
    if (f.unknownCritical.connected && f.unknownCritical.response.errors.empty())
        faults.push_back("no Error record for an unknown critical record");
    if (!faults.empty()) {
        check.result = AuditResult::Warn;
        check.cap = AuditGrade::B;
        check.summary += ", but " + faults.front();
    }
    return check;
}
