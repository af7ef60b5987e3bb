#include "nts/NtsReport.h"

#include "ntp/Format.h"
#include "ntp/PrintableText.h"
#include "query/ResultSummary.h"
#include "query/ServerText.h"

namespace {

// 63 columns: the widest box of the report, and still inside the log pane.
constexpr size_t LabelWidth = 20;
constexpr size_t ValueWidth = 40;
const char* const Top = "+--NTS Key Exchange-------------------------------------------+\r\n";
const char* const Blank = "|                                                             |\r\n";
const char* const Bottom = "+-------------------------------------------------------------+\r\n";
constexpr int64_t SecondsPerDay = 86400;

// Values may be bytes a server chose: shown so that they cannot upset the terminal.
std::string Line(const std::string& label, const std::string& value)
{
    return "| " + PadRight(label, LabelWidth) + PadRight(PrintableText(value), ValueWidth) + "|\r\n";
}

std::string Milliseconds(int64_t micros) { return Format("%.1f ms", micros / 1000.0); }

std::string List(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

std::string ConnectionText(const NtsKeyExchange& ke)
{
    switch (ke.connect.outcome) {
    case TcpConnectOutcome::Connected: return "connected in " + Milliseconds(ke.connectMicros);
    case TcpConnectOutcome::Refused: return Format("refused (%i %s)", ke.connect.error, ke.connect.errorText.c_str());
    case TcpConnectOutcome::TimedOut: return "no answer within " + Milliseconds(ke.connectMicros);
    default: return Format("failed (%i %s)", ke.connect.error, ke.connect.errorText.c_str());
    }
}

std::string CertificateLines(const NtsKeyExchange& ke, int64_t now)
{
    const TlsCertificateFacts& c = ke.tls.certificate;
    if (!ke.tls.hasCertificate)
        return Line("Certificate:", "none");
    std::string text = Line("Subject:", c.subject) + Line("Issuer:", c.issuer) + Line("DNS names:", List(c.dnsNames)) +
                       Line("IP addresses:", List(c.ipAddresses)) +
                       (c.purposes.empty() ? "" : Line("Key usage:", List(c.purposes))) +
                       Line("Name match:", (c.nameMatches ? "yes, " : "no, not ") + ke.host) +
                       Line("Valid from:", FormatLocalDate(c.notBefore)) +
                       Line("Valid until:", FormatLocalDate(c.notAfter) + " (" + DaysLeft(c.notAfter, now) + ")");
    std::string verification = c.verified ? "trusted" : c.verification;
    if (!ke.caFiles.empty())
        verification += c.verified ? ", with --nts-ca" : "";
    text += Line("Verification:", verification);
    if (!ke.tls.caProblem.empty())
        text += Line("CA file unusable:", ke.tls.caProblem);
    return text;
}

// One line per record; a run of cookies as one line with their count and sizes.
std::string RecordLines(const std::vector<NtsKeRecord>& records)
{
    std::string text = Line("Records received:", records.empty() ? "none" : "(* critical)");
    for (size_t i = 0; i < records.size(); ++i) {
        const NtsKeRecord& r = records[i];
        const std::string label = std::string(r.critical ? " *" : "  ") + NtsKeRecordName(r.type);
        if (r.type != NtsKeType::NewCookie) {
            text += Line(label, NtsKeRecordValue(r));
            continue;
        }
        size_t end = i;
        std::vector<std::string> sizes;
        bool sameSize = true;
        while (end < records.size() && records[end].type == NtsKeType::NewCookie && records[end].critical == r.critical) {
            sameSize = sameSize && records[end].body.size() == r.body.size();
            sizes.push_back(Format("%zu", records[end].body.size()));
            ++end;
        }
        const size_t count = end - i;
        text += Line(label, sameSize ? Format("%zu cookie%s of %zu bytes", count, count == 1 ? "" : "s", r.body.size())
                                     : Format("%zu cookies of ", count) + List(sizes) + " bytes");
        i = end - 1;
    }
    return text;
}

std::string ExchangeTitle(const NtsCheck& check, const NtsTimeExchange& t, int number)
{
    const std::string host = PrintableText(BracketedHost(check.ntp.host));
    return Format("%sNTS exchange %i with %s:%i%s, cookie from the %s\r\n", number == 1 ? "" : "\r\n", number,
                  host.c_str(), check.ntp.port, check.ntp.namedByServer ? " (named by the server)" : "",
                  number == 1 ? "key exchange" : "first answer") +
           (t.exchange.rejected.empty() ? ""
                                        : "--Answer put aside: " + NtsAnswerKindText(t.rejectedKind) + "\r\n");
}

void AppendExchange(std::vector<std::string>& blocks, const NtsCheck& check, const NtsTimeExchange& t, int number,
                    bool& packetShown)
{
    if (!t.run)
        return;
    blocks.push_back(ExchangeTitle(check, t, number));
    const NtpExchange& e = t.exchange;
    if (!e.Answered()) {
        blocks.push_back(ExchangeFailureText(e));
        return;
    }
    packetShown = true;
    blocks.push_back(FormatResultBox(PrintableText(check.ntp.host), e.reply));
    blocks.push_back(Format("Packet size: %i bytes\r\n", e.receivedBytes));
    blocks.push_back(e.reply.GetPacketContent());
    const size_t cookies = t.answer.cookies.size();
    blocks.push_back(t.Nak() ? std::string("\r\nNTS: not authenticated, NTS NAK (kiss code NTSN)")
                             : Format("\r\nNTS: authenticated, %zu new cookie%s", cookies, cookies == 1 ? "" : "s"));
}

} // namespace

std::string DaysLeft(int64_t notAfter, int64_t now)
{
    const int64_t left = notAfter - now;
    const long long days = static_cast<long long>((left >= 0 ? left : left - SecondsPerDay + 1) / SecondsPerDay);
    const long long count = days >= 0 ? days : -days;
    const char* unit = count == 1 ? "day" : "days";
    return days >= 0 ? Format("%lld %s left", count, unit) : Format("expired %lld %s ago", count, unit);
}

std::string FormatNtsKeyExchangeBox(const NtsKeyExchange& ke, int64_t now)
{
    std::string box = std::string(Top) + Blank;
    const std::string host = BracketedHost(ke.host);
    box += Line("Server:", Format("%s port %i", host.c_str(), ke.port));
    if (!ke.resolved)
        return box + Line("Address:", "not found") + Blank + Bottom;
    box += Line("TCP connection:", ConnectionText(ke));
    if (ke.connected) {
        const TlsSessionFacts& tls = ke.tls;
        if (!tls.established) {
            box += Line("TLS handshake:", "failed after " + Milliseconds(ke.handshakeMicros) + ": " + tls.failure);
            if (!tls.alert.empty())
                box += Line("TLS alert:", tls.alert);
        } else {
            box += Line("TLS:", tls.version + ", " + tls.cipherSuite + ", " + Milliseconds(ke.handshakeMicros));
            box += Line("ALPN:", tls.alpn == NtsKeAlpn ? tls.alpn + " agreed"
                                                       : std::string("not agreed (") +
                                                             (tls.alpn.empty() ? "none" : tls.alpn) + ")");
            box += CertificateLines(ke, now);
            box += RecordLines(ke.records);
            if (!ke.endOfMessage)
                box += Line("Records ended:", ke.readFailure.empty() ? "connection closed before End of Message"
                                                                     : ke.readFailure);
            box += Line("Keys:", ke.keysExported ? Format("C2S and S2C exported, %zu bytes each", ke.keys.c2s.size())
                                                 : std::string("none"));
        }
    }
    box += Line("Exchange took:", Milliseconds(ke.totalMicros));
    return box + Blank + Bottom;
}

std::string FormatNtsVerdict(const NtsVerdict& verdict) { return "\r\nVerdict: " + verdict.text; }

std::vector<std::string> NtsReportBlocks(const NtsCheck& check, const NtsVerdict& verdict, int64_t now)
{
    std::vector<std::string> blocks{FormatNtsKeyExchangeBox(check.keyExchange, now)};
    if (check.keyExchange.connected && !NtsKeyExchangeTrusted(check.keyExchange))
        blocks.push_back("No NTS request sent: the key exchange is not to be trusted (verdict below)");
    bool packetShown = false;
    AppendExchange(blocks, check, check.first, 1, packetShown);
    AppendExchange(blocks, check, check.second, 2, packetShown);
    if (check.plainRun) {
        const NtpExchange& p = check.plain;
        blocks.push_back(Format("Plain NTP query (NTPv3, 48 bytes) to the same port: %s\r\n",
                                p.Answered() ? Format("answered, %i bytes", p.receivedBytes).c_str()
                                             : ExchangeFailureText(p).c_str()));
    }
    if (packetShown) {
        blocks.push_back("\r\nTimestamps shown in local time zone:");
        blocks.push_back(CNtpMsg(NtpTimestamp{}).GetTimeZoneText(now));
    }
    blocks.push_back(FormatNtsVerdict(verdict));
    return blocks;
}
