#include "platform/Net.h"
#include "platform/posix/WsaErrno.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int HostNotFound = 11001; // WSAHOST_NOT_FOUND
constexpr int NotSocket = 10038;    // WSAENOTSOCK
// A flood must not keep a drain loop going for ever.
constexpr int MaxDrained = 4096;

thread_local int t_lastError = 0;

int Fail(int wsaError)
{
    t_lastError = wsaError;
    return -1;
}

// Linux reports an ICMP port unreachable on a datagram socket as
// ECONNREFUSED; Windows Sockets reports the same event as WSAECONNRESET.
int FailDatagram(int error)
{
    return Fail(error == ECONNREFUSED ? WsaError::ConnectionReset : WsaErrorFromErrno(error));
}

sockaddr_in ToSockaddr(const SockAddrIn& a)
{
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.address;
    return s;
}

SockAddrIn FromSockaddr(const sockaddr_in& s)
{
    SockAddrIn a;
    a.family = AF_INET;
    a.port = s.sin_port;
    a.address = s.sin_addr.s_addr;
    return a;
}

// The queued ICMP reports that IP_RECVERR collects; left there they would
// keep the socket readable.
void DrainErrorQueue(int fd)
{
    char control[512];
    for (int n = 0; n < MaxDrained; ++n) {
        msghdr msg{};
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
    }
}

class CPosixSockets : public ISocketLayer {
public:
    bool Startup() override { return true; }
    // No reference count to drop: a release can never close a socket.
    void Cleanup() override {}
    SocketHandle CreateUdpSocket() override;
    int Bind(SocketHandle s, uint16_t port) override;
    int SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to) override;
    int WaitReadable(SocketHandle s, int64_t timeoutMicroseconds) override;
    int RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from) override;
    void DiscardPending(SocketHandle s) override;
    void Close(SocketHandle s) override;
    int LastError() override { return t_lastError; }
    uint32_t InetAddr(const std::string& text) override;
    bool ResolveIPv4(const std::string& host, uint32_t& address) override;

private:
    // Only descriptors this layer opened and has not closed count as sockets.
    // A handle kept after its close must never reach a descriptor number the
    // process has since reused for something else.
    bool IsOpen(SocketHandle s);

    std::mutex m_mutex;
    std::set<SocketHandle> m_open;
};

bool CPosixSockets::IsOpen(SocketHandle s)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_open.count(s) != 0)
        return true;
    Fail(NotSocket);
    return false;
}

SocketHandle CPosixSockets::CreateUdpSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        Fail(WsaErrorFromErrno(errno));
        return InvalidSocket;
    }
    // Without it Linux never tells an unconnected socket that the server's
    // port is closed, and the wait would run to its time-out.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.insert(fd);
    return fd;
}

int CPosixSockets::Bind(SocketHandle s, uint16_t port)
{
    if (!IsOpen(s))
        return -1;
    SockAddrIn any;
    any.port = htons(port);
    const sockaddr_in address = ToSockaddr(any);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Fail(WsaErrorFromErrno(errno));
    return 0;
}

int CPosixSockets::SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to)
{
    if (!IsOpen(s))
        return -1;
    if (length < 0)
        return Fail(WsaError::Invalid);
    const sockaddr_in address = ToSockaddr(to);
    const ssize_t sent = ::sendto(s, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (sent < 0)
        return FailDatagram(errno);
    return static_cast<int>(sent);
}

int CPosixSockets::WaitReadable(SocketHandle s, int64_t timeoutMicroseconds)
{
    if (!IsOpen(s))
        return -1;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::microseconds(timeoutMicroseconds < 0 ? 0 : timeoutMicroseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        const int64_t ns = left.count() > 0 ? left.count() : 0;
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd entry{s, POLLIN, 0};
        const int ready = ::ppoll(&entry, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fail(WsaErrorFromErrno(errno));
        if (ready == 0)
            return 0;
        if (entry.revents & POLLNVAL)
            return Fail(NotSocket);
        // A pending error counts as readable, as with select(): the read reports it.
        return 1;
    }
}

int CPosixSockets::RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from)
{
    if (!IsOpen(s))
        return -1;
    if (capacity < 0)
        return Fail(WsaError::Invalid);
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    // MSG_TRUNC returns the datagram's real length, so a longer one is seen
    // instead of being cut to the buffer. MSG_DONTWAIT: a readiness that
    // vanished must not block the caller for ever.
    const ssize_t length = ::recvfrom(s, buffer, static_cast<size_t>(capacity), MSG_TRUNC | MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (length < 0) {
        const int error = errno;
        if (error == ECONNREFUSED)
            DrainErrorQueue(s);
        return FailDatagram(error);
    }
    // A consumed datagram names its sender, also when it was too long.
    if (from != nullptr)
        *from = FromSockaddr(peer);
    if (length > capacity)
        return Fail(WsaError::MessageSize);
    return static_cast<int>(length);
}

void CPosixSockets::DiscardPending(SocketHandle s)
{
    if (!IsOpen(s))
        return;
    for (int n = 0; n < MaxDrained; ++n) {
        const ssize_t length = ::recv(s, nullptr, 0, MSG_TRUNC | MSG_DONTWAIT);
        if (length < 0 && errno != ECONNREFUSED) // a pending ICMP report is dropped too
            break;
    }
    DrainErrorQueue(s);
}

void CPosixSockets::Close(SocketHandle s)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open.erase(s) == 0) {
            Fail(NotSocket);
            return;
        }
    }
    ::close(s);
}

uint32_t CPosixSockets::InetAddr(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
        return InaddrNone;
    return ::inet_addr(text.c_str());
}

bool CPosixSockets::ResolveIPv4(const std::string& host, uint32_t& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (host.find('\0') != std::string::npos || ::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
        Fail(HostNotFound);
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return true;
}
} // namespace

ISocketLayer& PosixSockets()
{
    static CPosixSockets layer;
    return layer;
}
