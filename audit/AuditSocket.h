#pragma once
// A socket of the audit's own for datagrams that are not one request and
// its answer: control queries whose answer comes in fragments, and a burst
// whose answers arrive in any order. Only the server's datagrams are read,
// each sent datagram is counted, and every wait ends at its deadline.
#include "query/Exchange.h"

#include <cstdint>
#include <functional>
#include <vector>

class CAuditSocket {
public:
    CAuditSocket(CExchangeEngine& engine, const SockAddrIn& server);
    ~CAuditSocket();
    CAuditSocket(const CAuditSocket&) = delete;
    CAuditSocket& operator=(const CAuditSocket&) = delete;

    bool IsOpen() const { return m_socket != InvalidSocket; }
    bool Send(const std::vector<uint8_t>& datagram);
    // Hands every datagram from the server to `take` until it returns true,
    // the monotonic clock reaches `deadline` (microseconds) or MaxReads came.
    void Collect(int64_t deadline, const std::function<bool(const std::vector<uint8_t>&)>& take);
    int Sent() const { return m_sent; }

private:
    CExchangeEngine& m_engine;
    SockAddrIn m_server;
    NtpExchange m_opening; // what opening the socket said
    SocketHandle m_socket = InvalidSocket;
    int m_sent = 0;
    int m_reads = 0;
};

// However chatty the server, no more of its datagrams are read per socket.
constexpr int MaxAuditReads = 64;
