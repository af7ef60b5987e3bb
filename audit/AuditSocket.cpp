#include "audit/AuditSocket.h"

namespace {
// A datagram larger than this is read as this much (the rest is dropped by
// the socket): the amplification it shows is then a lower bound.
constexpr int ReadCapacity = 9216;
} // namespace

CAuditSocket::CAuditSocket(CExchangeEngine& engine, const SockAddrIn& server) : m_engine(engine), m_server(server)
{
    m_socket = m_engine.OpenSocket(m_opening);
}

CAuditSocket::~CAuditSocket() { m_engine.CloseSocket(m_socket); }

bool CAuditSocket::Send(const std::vector<uint8_t>& datagram)
{
    if (!IsOpen())
        return false;
    ++m_sent;
    return m_engine.Sockets().SendTo(m_socket, datagram.data(), static_cast<int>(datagram.size()), m_server) >= 0;
}

void CAuditSocket::Collect(int64_t deadline, const std::function<bool(const std::vector<uint8_t>&)>& take)
{
    ISocketLayer& sockets = m_engine.Sockets();
    IClock& clock = m_engine.Clock();
    std::vector<uint8_t> buffer(ReadCapacity);
    while (IsOpen() && m_reads < MaxAuditReads) {
        const int64_t left = deadline - clock.MonotonicMicroseconds();
        if (left <= 0 || sockets.WaitReadable(m_socket, left) < 0)
            return;
        SockAddrIn from;
        const int got = sockets.RecvFrom(m_socket, buffer.data(), ReadCapacity, &from);
        const bool oversized = got < 0 && sockets.LastError() == WsaError::MessageSize;
        ++m_reads;
        if (got < 0 && !oversized)
            continue; // nothing after all, or an ICMP report: the deadline decides
        if (!from.SameEndpoint(m_server) || from.family != m_server.family)
            continue;
        const size_t size = oversized ? ReadCapacity : static_cast<size_t>(got);
        if (take(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(size))))
            return;
    }
}
