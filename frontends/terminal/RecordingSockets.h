#pragma once
// The real sockets, keeping the last datagram sent, the last one received and
// its arrival time, for the terminal's JSON report.
#include "ntp/NtpTimestamp.h"
#include "platform/Net.h"

#include <vector>

class CRecordingSockets : public ISocketLayer {
public:
    explicit CRecordingSockets(ISocketLayer& real) : m_real(real) {}

    std::vector<uint8_t> m_sent;
    std::vector<uint8_t> m_received;
    NtpTimestamp m_arrival; // UTC, NTP format, taken as the datagram was read

    bool Startup() override { return m_real.Startup(); }
    void Cleanup() override { m_real.Cleanup(); }
    SocketHandle CreateUdpSocket() override { return m_real.CreateUdpSocket(); }
    int Bind(SocketHandle s, uint16_t port) override { return m_real.Bind(s, port); }
    int SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to) override;
    int WaitReadable(SocketHandle s, int64_t us) override { return m_real.WaitReadable(s, us); }
    int RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from) override;
    void DiscardPending(SocketHandle s) override { m_real.DiscardPending(s); }
    void Close(SocketHandle s) override { m_real.Close(s); }
    int LastError() override { return m_real.LastError(); }
    uint32_t InetAddr(const std::string& text) override { return m_real.InetAddr(text); }
    bool ParseIPv6(const std::string& text, SockAddrIn& a) override { return m_real.ParseIPv6(text, a); }
    bool Resolve(const std::string& host, SockAddrIn& a) override { return m_real.Resolve(host, a); }

private:
    ISocketLayer& m_real;
};
