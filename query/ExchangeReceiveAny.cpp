#include "query/Exchange.h"

#include <algorithm>

NtpExchange* CExchangeEngine::ReceiveAny(SocketHandle socket, const ExchangeOptions& options, int64_t waitMicroseconds,
                                         const std::function<NtpExchange*(const SockAddrIn& from)>& inFlight)
{
    // A failed wait reads nothing: the exchanges' deadlines end them.
    if (m_sockets.WaitReadable(socket, std::max<int64_t>(waitMicroseconds, 0)) <= 0)
        return nullptr;
    const int expected = options.authenticator ? NtpAuthAnswerSize : NtpHeaderSize;
    const int capacity = options.maxAnswerBytes > 0 ? options.maxAnswerBytes : expected;
    std::vector<uint8_t> buffer(static_cast<size_t>(capacity));
    SockAddrIn from;
    const int got = m_sockets.RecvFrom(socket, buffer.data(), capacity, &from);
    const int error = got < 0 ? m_sockets.LastError() : 0;
    if (got < 0 && error == WsaError::WouldBlock)
        return nullptr; // readiness that vanished before the read
    NtpExchange* exchange = inFlight(from);
    if (exchange == nullptr)
        return nullptr;
    exchange->expectedBytes = expected;
    Finish(buffer, got, error, options, *exchange);
    if (exchange->outcome == ExchangeOutcome::NotRun)
        return nullptr;
    TakeKernelTimes(socket, options, *exchange);
    return exchange;
}
