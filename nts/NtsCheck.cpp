#include "nts/NtsCheck.h"

#include "nts/NtsVerdict.h"
#include "query/ServerText.h"
#include "query/StrictHost.h"

#include <algorithm>

namespace {

constexpr int ConnectTimeoutMs = 3000;
constexpr int NtpTimeoutSeconds = 2;
// Key-exchange answers are a few kilobytes at most; a server that sends
// more than this without an End of Message is not going to end it.
constexpr size_t MaxRecordBytes = 65536;
// An NTS answer carries the header, the identifier, the authenticator and
// the new cookies, which servers keep well under a kilobyte each.
constexpr int MaxAnswerBytes = 4096;
// One placeholder asks for one cookie beyond the one the request spends.
constexpr int Placeholders = 1;
const char* const ExporterLabel = "EXPORTER-network-time-security";

std::vector<uint8_t> ExporterContext(uint16_t aead, uint8_t direction)
{
    return {0, NtsProtocolNtpV4, static_cast<uint8_t>(aead >> 8), static_cast<uint8_t>(aead), direction};
}

} // namespace

bool NtsKeyExchangeTrusted(const NtsKeyExchange& ke) { return JudgeNtsKeyExchange(ke).code.empty(); }

NtsNtpServer NtsNtpServerOf(const NtsKeyExchange& ke)
{
    const NtsKeResponse& r = ke.response;
    return {r.ntpServer.empty() ? ke.host : r.ntpServer, r.ntpPort >= 0 ? r.ntpPort : NtpPort, !r.ntpServer.empty()};
}

NtsKeyExchange CNtsChecker::KeyExchange(const NtpExchange& where, const std::vector<std::string>& caFiles)
{
    NtsKeyExchange ke;
    ke.caFiles = caFiles;
    IClock& clock = m_engine.Clock();
    const int64_t start = clock.MonotonicMicroseconds();
    ke.resolved = where.outcome == ExchangeOutcome::NotRun && where.server.family != 0;
    ke.host = where.host;
    ke.port = where.port;
    ke.address = where.server;
    ke.resolveFailure = where.outcome;
    if (!ke.resolved)
        return ke;

    std::unique_ptr<ITlsChannel> channel = m_tls.Connect(ke.address, ConnectTimeoutMs, ke.connect);
    ke.connectMicros = clock.MonotonicMicroseconds() - start;
    ke.connected = channel != nullptr;
    if (channel)
        Handshake(*channel, start, ke);
    ke.totalMicros = clock.MonotonicMicroseconds() - start;
    return ke;
}

// The handshake and the records in the time the connection left.
void CNtsChecker::Handshake(ITlsChannel& channel, int64_t start, NtsKeyExchange& ke)
{
    IClock& clock = m_engine.Clock();
    const int64_t handshakeStart = clock.MonotonicMicroseconds();
    const int64_t leftMs = NtsKeyExchangeSeconds * int64_t{1000} - (handshakeStart - start) / 1000;
    const TlsOptions options{ke.host, NtsKeAlpn, ke.caFiles, static_cast<int>(std::max<int64_t>(leftMs, 1))};
    const bool established = channel.Handshake(options, ke.tls);
    ke.handshakeMicros = clock.MonotonicMicroseconds() - handshakeStart;
    if (established) {
        ke.requestSent = channel.Write(NtsKeClientRequest({AeadAesSivCmac256}));
        if (ke.requestSent) {
            NtsKeRecordStream read = ReadNtsKeRecordStream(channel, MaxRecordBytes);
            ke.records = std::move(read.records);
            ke.endOfMessage = read.endOfMessage;
            ke.readFailure = read.readFailure;
            ke.recordBytes = read.bytes;
        }
        ke.response = ReadNtsKeResponse(ke.records);
        ExportKeys(channel, ke);
    }
    ke.timedOut = channel.TimedOut();
}

NtsKeRecordStream ReadNtsKeRecordStream(ITlsChannel& channel, size_t maxBytes)
{
    NtsKeRecordStream read;
    std::vector<uint8_t> stream;
    size_t parsed = 0;
    uint8_t buffer[4096];
    while (stream.size() < maxBytes) {
        const int got = channel.Read(buffer, sizeof buffer);
        if (got <= 0) {
            read.readFailure = got < 0 ? channel.ReadFailure() : "";
            break;
        }
        stream.insert(stream.end(), buffer, buffer + got);
        const NtsKeParse parse = ParseNtsKeRecords(stream.data() + parsed, stream.size() - parsed);
        read.records.insert(read.records.end(), parse.records.begin(), parse.records.end());
        parsed += parse.consumed;
        if ((read.endOfMessage = parse.endOfMessage))
            break;
    }
    read.bytes = stream.size();
    return read;
}

void CNtsChecker::ExportKeys(ITlsChannel& channel, NtsKeyExchange& ke)
{
    const NtsKeResponse& r = ke.response;
    if (r.nextProtocols != std::vector<uint16_t>{NtsProtocolNtpV4} || r.aeadAlgorithms.size() != 1 ||
        !r.errors.empty() || !r.unknownCritical.empty())
        return;
    const uint16_t aead = r.aeadAlgorithms[0];
    const size_t length = m_crypto.AeadKeyLength(aead);
    ke.aeadSupported = length > 0;
    if (length == 0)
        return;
    ke.keys.aead = aead;
    ke.keys.c2s = channel.ExportKey(ExporterLabel, ExporterContext(aead, 0), length);
    ke.keys.s2c = channel.ExportKey(ExporterLabel, ExporterContext(aead, 1), length);
    ke.keysExported = ke.keys.c2s.size() == length && ke.keys.s2c.size() == length;
}

NtpExchange CNtsChecker::Exchange(const SockAddrIn& server, const ExchangeOptions& options)
{
    if (m_socket == InvalidSocket)
        return m_engine.Query(server, options);
    NtpExchange exchange;
    CNtpMsg request = m_engine.NewRequest(options.zeroTransmit);
    request.m_version = options.version;
    if (m_engine.Send(m_socket, server, request, options, exchange) >= 0)
        m_engine.Receive(m_socket, options, exchange);
    return exchange;
}

NtsTimeExchange CNtsChecker::TimeExchange(const SockAddrIn& server, const std::vector<uint8_t>& cookie,
                                          const NtsKeys& keys)
{
    NtsTimeExchange result;
    if ((result.cookieTooLong = cookie.size() > NtsMaxCookieBytes))
        return result;
    result.run = true;
    const std::vector<uint8_t> uniqueId = m_crypto.RandomBytes(NtsUniqueIdentifierSize);
    bool sealed = true;
    ExchangeOptions options;
    options.version = NtpVersion4;
    options.timeoutSeconds = NtpTimeoutSeconds;
    options.maxAnswerBytes = MaxAnswerBytes;
    options.seal = [&](std::vector<uint8_t>& datagram) {
        sealed = SealNtsRequest(datagram, uniqueId, cookie, Placeholders, keys, m_crypto);
        if (!sealed) // never a cookie without its authenticator
            datagram.resize(NtpHeaderSize);
    };
    // Only the answer to this request, and only a genuine one, ends the
    // wait; a NAK to it counts too, as the server's word on the cookie.
    // Either must echo the request's transmit time, as every answer does.
    options.accept = [&](const NtpExchange& sent, const std::vector<uint8_t>& answer) {
        const NtsAnswer checked = EchoesTheRequest(sent, answer) ? CheckNtsAnswer(answer, uniqueId, keys, m_crypto)
                                                                 : NtsAnswer{NtsAnswerKind::NotEchoed, {}};
        const bool taken = checked.kind == NtsAnswerKind::Authenticated || checked.kind == NtsAnswerKind::Nak;
        if (taken)
            result.answer = checked;
        else
            result.rejectedKind = checked.kind;
        return taken;
    };
    result.exchange = Exchange(server, options);
    if (!sealed)
        result.exchange.outcome = ExchangeOutcome::SendFailed;
    return result;
}

bool CNtsChecker::ResolveNtpServer(const NtsNtpServer& ntp, SockAddrIn& address)
{
    if (ntp.namedByServer && !IsStrictHost(ntp.host))
        return false;
    NtpExchange where;
    if (!m_engine.Resolve(BracketedHost(ntp.host) + ":" + std::to_string(ntp.port), where))
        return false;
    address = where.server;
    return true;
}

void CNtsChecker::TimeExchanges(NtsCheck& check)
{
    const NtsKeyExchange& ke = check.keyExchange;
    if (!NtsKeyExchangeTrusted(ke))
        return;
    check.ntp = NtsNtpServerOf(ke);
    SockAddrIn server;
    check.ntpResolved = ResolveNtpServer(check.ntp, server);
    if (!check.ntpResolved)
        return;
    auto named = [&](NtpExchange& e) {
        e.host = check.ntp.host;
        e.port = check.ntp.port;
    };
    check.first = TimeExchange(server, ke.response.cookies.front(), ke.keys);
    named(check.first.exchange);
    if (check.first.Authenticated() && !check.first.answer.cookies.empty()) {
        check.second = TimeExchange(server, check.first.answer.cookies.front(), ke.keys);
        named(check.second.exchange);
    }
    // Silence to the NTS request: does the same port answer plain NTP?
    const NtpExchange& first = check.first.exchange;
    if (check.first.run && first.rejected.empty() &&
        (first.outcome == ExchangeOutcome::TimedOut || first.outcome == ExchangeOutcome::ClosedPort)) {
        check.plainRun = true;
        ExchangeOptions plain;
        plain.timeoutSeconds = NtpTimeoutSeconds;
        check.plain = Exchange(server, plain);
        named(check.plain);
    }
}

NtsCheck CNtsChecker::Check(const std::string& serverText, const std::vector<std::string>& caFiles)
{
    NtsCheck check;
    NtpExchange where;
    m_engine.Resolve(serverText, where, NtsKePort);
    check.keyExchange = KeyExchange(where, caFiles);
    TimeExchanges(check);
    return check;
}
