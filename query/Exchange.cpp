#include "query/Exchange.h"

#include "query/ServerText.h"

#include <algorithm>
#include <bit>
#include <random>

namespace {
constexpr int OriginateOffset = 24;
constexpr int ReceiveOffset = 32;
constexpr int TransmitFractionOffset = 44;

// htons without a platform header.
uint16_t ToNetworkOrder(uint16_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<uint16_t>((value >> 8) | (value << 8));
    return value;
}

// A datagram read from a sender that is not the server: a stray packet or a
// spoofed answer. A failure without a sender (an ICMP report) is the server's.
bool IsFromElsewhere(const SockAddrIn& from, const SockAddrIn& server)
{
    return from.family != 0 && !from.SameEndpoint(server);
}

NtpTimestamp PreciseTime(const WallTime& now) { return NtpPreciseTime(now.seconds, now.nanoseconds); }

// The operating system's random numbers: what an attacker who knows the time
// of day cannot guess.
uint32_t SecretRandom()
{
    static thread_local std::random_device device;
    return device();
}

void WriteWord(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Exactly as given: the server finds the answer it names by every bit.
void WriteTimestamp(uint8_t* p, const NtpTimestamp& t)
{
    WriteWord(p, t.Seconds);
    WriteWord(p + 4, t.Fraction);
}

bool IsSet(const NtpTimestamp& t) { return t.Seconds != 0 || t.Fraction != 0; }

// A send that another address of the same host may get through: no route to
// the address's network, or no such network here (an IPv6-only or IPv4-only
// machine).
bool IsUnreachable(int error)
{
    return error == WsaError::NetUnreachable || error == WsaError::HostUnreachable ||
           error == WsaError::AddressNotAvail || error == WsaError::AddressFamily;
}
} // namespace

bool NtpExchange::ReadADatagram() const
{
    return outcome == ExchangeOutcome::Answered || outcome == ExchangeOutcome::WrongSize ||
           outcome == ExchangeOutcome::ClosedPort || outcome == ExchangeOutcome::ReceiveFailed;
}

namespace {
bool EchoesTheRequest(const NtpExchange& sent, const NtpTimestamp& originate)
{
    return originate == sent.requestTransmit || (IsSet(sent.requestReceive) && originate == sent.requestReceive);
}
} // namespace

bool EchoesTheRequest(const NtpExchange& sent, const std::vector<uint8_t>& answer)
{
    return answer.size() >= NtpHeaderSize && EchoesTheRequest(sent, CNtpMsg(answer.data()).m_originate);
}

bool AnswersTheRequest(const NtpExchange& e) { return e.Answered() && EchoesTheRequest(e, e.reply.m_originate); }

ExchangeTimes MeasuredTimes(const NtpExchange& e)
{
    if (e.mode == ExchangeMode::Interleaved) {
        ExchangeTimes times = e.previous;
        times.t3 = e.reply.m_transmit;
        return times;
    }
    return ExchangeTimes{e.sentAt, e.reply.m_receive, e.reply.m_transmit, e.arrivedAt, e.sentSource, e.arrivalSource};
}

double ClockOffsetSeconds(const NtpExchange& e)
{
    const ExchangeTimes t = MeasuredTimes(e);
    return (NtpSecondsBetween(t.t2, t.t1) + NtpSecondsBetween(t.t3, t.t4)) / 2;
}

double RoundTripSeconds(const NtpExchange& e)
{
    const ExchangeTimes t = MeasuredTimes(e);
    return NtpSecondsBetween(t.t4, t.t1) - NtpSecondsBetween(t.t3, t.t2);
}

double RootDistanceSeconds(const NtpExchange& e)
{
    return std::max(RoundTripSeconds(e), 0.0) / 2 + e.reply.m_rootDelay / 2 + e.reply.m_rootDispersion;
}

bool CExchangeEngine::TakeServerText(const ServerText& parsed, NtpExchange& exchange)
{
    exchange.host = parsed.host;
    if (parsed.status == ServerTextStatus::NoHost) {
        exchange.outcome = ExchangeOutcome::NoHost;
        return false;
    }
    exchange.port = parsed.port;
    if (parsed.status == ServerTextStatus::InvalidPort) {
        exchange.outcome = ExchangeOutcome::InvalidPort;
        return false;
    }
    return true;
}

bool CExchangeEngine::Resolve(const std::string& serverText, NtpExchange& exchange, int32_t defaultPort)
{
    const ServerText parsed = ParseServerText(serverText, defaultPort);
    if (!TakeServerText(parsed, exchange))
        return false;
    SockAddrIn server;
    if (!FindAddress(parsed.host, parsed.ipv6Literal, server)) {
        exchange.outcome = ExchangeOutcome::HostNotFound;
        return false;
    }
    server.port = ToNetworkOrder(static_cast<uint16_t>(parsed.port & 0xFFFF)); // only the low 16 bits count
    exchange.server = server;
    return true;
}

bool CExchangeEngine::ResolveEvery(const std::string& serverText, NtpExchange& exchange,
                                   std::vector<SockAddrIn>& addresses)
{
    addresses.clear();
    const ServerText parsed = ParseServerText(serverText);
    if (!TakeServerText(parsed, exchange))
        return false;
    // An address typed as such is its own only address.
    SockAddrIn typed;
    if (parsed.ipv6Literal || m_sockets.InetAddr(parsed.host) != InaddrNone) {
        if (FindAddress(parsed.host, parsed.ipv6Literal, typed))
            addresses.push_back(typed);
    } else {
        m_sockets.ResolveAll(parsed.host, addresses);
    }
    if (addresses.empty()) {
        exchange.outcome = ExchangeOutcome::HostNotFound;
        return false;
    }
    for (SockAddrIn& address : addresses)
        address.port = ToNetworkOrder(static_cast<uint16_t>(parsed.port & 0xFFFF));
    exchange.server = addresses.front();
    return true;
}

// A typing error in an IPv6 address must not become a name server query.
bool CExchangeEngine::FindAddress(const std::string& host, bool ipv6Literal, SockAddrIn& server)
{
    if (ipv6Literal)
        return m_sockets.ParseIPv6(host, server);
    server.address = m_sockets.InetAddr(host);
    if (server.address != InaddrNone) {
        server.family = AddressFamilyIPv4;
        return true;
    }
    return m_sockets.Resolve(host, server);
}

SocketHandle CExchangeEngine::OpenSocket(NtpExchange& exchange)
{
    if (!m_sockets.Startup()) {
        exchange.outcome = ExchangeOutcome::LibraryFailed;
        return InvalidSocket;
    }
    const SocketHandle socket = m_sockets.CreateUdpSocket();
    if (socket == InvalidSocket) {
        exchange.outcome = ExchangeOutcome::SocketFailed;
        exchange.error = m_sockets.LastError();
        m_sockets.Cleanup();
    }
    return socket;
}

// Each successful OpenSocket is released once, however many ways out call this.
void CExchangeEngine::CloseSocket(SocketHandle& socket)
{
    if (socket == InvalidSocket)
        return;
    m_sockets.Close(socket);
    socket = InvalidSocket;
    m_sockets.Cleanup();
}

int CExchangeEngine::Bind(SocketHandle socket, uint16_t port)
{
    return m_sockets.Bind(socket, port) == 0 ? 0 : m_sockets.LastError();
}

CNtpMsg CExchangeEngine::NewRequest(bool zeroTransmit)
{
    if (zeroTransmit)
        return CNtpMsg(NtpTimestamp{});
    const WallTime now = m_clock.Now();
    return CNtpMsg(NtpMillisecondTime(now.seconds, now.nanoseconds));
}

int CExchangeEngine::Send(SocketHandle socket, const SockAddrIn& server, const CNtpMsg& request,
                          const ExchangeOptions& options, NtpExchange& exchange)
{
    NtpExchange next;
    next.host = exchange.host;
    next.port = exchange.port;
    next.server = server;
    exchange = std::move(next);

    std::vector<uint8_t> datagram(options.authenticator ? NtpAuthRequestSize : NtpHeaderSize);
    request.Encode(datagram.data(), options.authenticator, m_clock.Now().seconds);
    if (request.m_transmit.Seconds != 0) {
        const NtpTimestamp transmit = WithRandomSubMillisecond(request.m_transmit, SecretRandom());
        WriteWord(&datagram[TransmitFractionOffset], transmit.Fraction);
    }
    if (IsSet(request.m_originate)) {
        // Interleaved form: a receive field no one can guess, never the
        // transmit field, for the server to echo.
        WriteTimestamp(&datagram[OriginateOffset], request.m_originate);
        WriteTimestamp(&datagram[ReceiveOffset], NtpTimestamp{SecretRandom() | 1u, SecretRandom()});
        exchange.requestReceive = CNtpMsg(datagram.data()).m_receive;
    }
    if (options.seal)
        options.seal(datagram);
    exchange.requestTransmit = CNtpMsg(datagram.data()).m_transmit;
    exchange.request = datagram;

    // An answer that arrived after an earlier wait gave up must not pass for
    // the answer to this request.
    if (!options.sharedSocket)
        m_sockets.DiscardPending(socket);
    exchange.sentAt = PreciseTime(m_clock.Now());
    int sent = m_sockets.SendTo(socket, datagram.data(), static_cast<int>(datagram.size()), server);
    if (sent < 0) {
        exchange.error = m_sockets.LastError();
        if (IsUnreachable(exchange.error))
            sent = SendElsewhere(socket, datagram, exchange);
    }
    if (sent < 0) {
        exchange.outcome = ExchangeOutcome::SendFailed;
        return sent;
    }
    exchange.error = 0;
    // Later sends on a shared socket stamp over this one's: take it now.
    if (options.sharedSocket)
        TakeKernelTime(&ISocketLayer::SentTime, socket, exchange.sentAt, exchange.sentSource);
    return sent;
}

int CExchangeEngine::SendElsewhere(SocketHandle socket, const std::vector<uint8_t>& datagram, NtpExchange& exchange)
{
    // An address typed as such is its own only address.
    const bool typed = exchange.host.find(':') != std::string::npos || m_sockets.InetAddr(exchange.host) != InaddrNone;
    std::vector<SockAddrIn> addresses;
    if (exchange.host.empty() || typed || !m_sockets.ResolveAll(exchange.host, addresses))
        return -1;
    for (SockAddrIn address : addresses) {
        address.port = exchange.server.port;
        if (address.family == exchange.server.family && address.SameEndpoint(exchange.server))
            continue;
        const int sent = m_sockets.SendTo(socket, datagram.data(), static_cast<int>(datagram.size()), address);
        if (sent >= 0) {
            exchange.server = address;
            return sent;
        }
    }
    return -1;
}

bool CExchangeEngine::Receive(SocketHandle socket, const ExchangeOptions& options, NtpExchange& exchange)
{
    exchange.expectedBytes = options.authenticator ? NtpAuthAnswerSize : NtpHeaderSize;
    const int capacity = options.maxAnswerBytes > 0 ? options.maxAnswerBytes : exchange.expectedBytes;
    const int64_t deadline = m_clock.MonotonicMicroseconds() + int64_t{std::max(options.timeoutSeconds, 0)} * 1000000;
    std::vector<uint8_t> buffer(static_cast<size_t>(capacity));
    for (;;) {
        const int64_t left = deadline - m_clock.MonotonicMicroseconds();
        const int ready = m_sockets.WaitReadable(socket, std::max<int64_t>(left, 0));
        if (ready < 0) {
            exchange.outcome = ExchangeOutcome::WaitFailed;
            exchange.error = m_sockets.LastError();
            return false;
        }
        if (ready > 0) {
            SockAddrIn from;
            const int got = m_sockets.RecvFrom(socket, buffer.data(), capacity, &from);
            const int error = got < 0 ? m_sockets.LastError() : 0;
            // Readiness that vanished before the read means nothing arrived after all.
            const bool vanished = got < 0 && error == WsaError::WouldBlock;
            if (!vanished && !IsFromElsewhere(from, exchange.server)) {
                Finish(buffer, got, error, options, exchange);
                if (exchange.outcome != ExchangeOutcome::NotRun) {
                    TakeKernelTimes(socket, options, exchange);
                    return exchange.Answered();
                }
            }
        }
        // A stream of strays must not stretch the wait past its end; a wait
        // cut short (a signal) goes on for the time that is left.
        if (m_clock.MonotonicMicroseconds() >= deadline) {
            exchange.outcome = ExchangeOutcome::TimedOut;
            return false;
        }
    }
}

// Settles the exchange with the server's datagram, or leaves it NotRun when
// the datagram is put aside and the wait goes on.
void CExchangeEngine::Finish(const std::vector<uint8_t>& buffer, int got, int error,
                             const ExchangeOptions& options, NtpExchange& exchange)
{
    const NtpTimestamp arrival = PreciseTime(m_clock.Now());
    if (got < 0) {
        exchange.receivedBytes = -1;
        exchange.error = error;
        exchange.outcome = error == WsaError::ConnectionReset ? ExchangeOutcome::ClosedPort
                                                              : ExchangeOutcome::ReceiveFailed;
        return;
    }
    const bool sizeFits = options.maxAnswerBytes > 0 ? got >= NtpHeaderSize : got == exchange.expectedBytes;
    const std::vector<uint8_t> answer(buffer.begin(), buffer.begin() + got);
    if (sizeFits && options.accept && !options.accept(exchange, answer)) {
        exchange.rejected = answer;
        return;
    }
    exchange.receivedBytes = got;
    exchange.answer = answer;
    exchange.arrivedAt = arrival;
    if (!sizeFits) {
        exchange.outcome = ExchangeOutcome::WrongSize;
        return;
    }
    exchange.reply = CNtpMsg(answer.data());
    exchange.outcome = ExchangeOutcome::Answered;
}

void CExchangeEngine::TakeKernelTimes(SocketHandle socket, const ExchangeOptions& options, NtpExchange& exchange)
{
    if (!exchange.ReadADatagram() || exchange.receivedBytes < 0)
        return;
    // On a shared socket the send's stamp was taken as it left (Send).
    if (!options.sharedSocket)
        TakeKernelTime(&ISocketLayer::SentTime, socket, exchange.sentAt, exchange.sentSource);
    TakeKernelTime(&ISocketLayer::ArrivalTime, socket, exchange.arrivedAt, exchange.arrivalSource);
}

void CExchangeEngine::TakeKernelTime(bool (ISocketLayer::*stamp)(SocketHandle, WallTime&), SocketHandle socket,
                                     NtpTimestamp& time, TimeSource& source)
{
    WallTime at;
    if ((m_sockets.*stamp)(socket, at)) {
        time = PreciseTime(m_clock.FromSystemRealtime(at));
        source = TimeSource::Kernel;
    }
}

NtpExchange CExchangeEngine::Query(const std::string& serverText, const ExchangeOptions& options)
{
    NtpExchange exchange;
    if (!Resolve(serverText, exchange))
        return exchange;
    return Run(std::move(exchange), options);
}

NtpExchange CExchangeEngine::Query(const SockAddrIn& server, const ExchangeOptions& options)
{
    NtpExchange exchange;
    exchange.server = server;
    return Run(std::move(exchange), options);
}

NtpExchange CExchangeEngine::Run(NtpExchange exchange, const ExchangeOptions& options)
{
    SocketHandle socket = OpenSocket(exchange);
    if (socket == InvalidSocket)
        return exchange;
    CNtpMsg request = NewRequest(options.zeroTransmit);
    request.m_version = options.version;
    if (Send(socket, exchange.server, request, options, exchange) >= 0)
        Receive(socket, options, exchange);
    CloseSocket(socket);
    return exchange;
}
