#pragma once
#include "platform/Clock.h"

#include <cstdint>
#include <string>
#include <vector>

// Socket errors are numbered as Windows Sockets numbers them (10000 + the BSD
// errno), so every logged number matches what operators know from the field.
namespace WsaError {
constexpr int Access = 10013;          // EACCES
constexpr int Fault = 10014;           // EFAULT
constexpr int Invalid = 10022;         // EINVAL
constexpr int TooManySockets = 10024;  // EMFILE
constexpr int WouldBlock = 10035;      // EWOULDBLOCK
constexpr int MessageSize = 10040;     // EMSGSIZE, datagram longer than asked for
constexpr int AddressFamily = 10047;   // EAFNOSUPPORT
constexpr int AddressInUse = 10048;    // EADDRINUSE
constexpr int AddressNotAvail = 10049; // EADDRNOTAVAIL
constexpr int NetDown = 10050;         // ENETDOWN
constexpr int NetUnreachable = 10051;  // ENETUNREACH
constexpr int ConnectionReset = 10054; // ECONNRESET, and ICMP port unreachable on a datagram read
constexpr int NoBufferSpace = 10055;   // ENOBUFS
constexpr int ConnectionRefused = 10061; // ECONNREFUSED
constexpr int HostUnreachable = 10065; // EHOSTUNREACH
} // namespace WsaError

using SocketHandle = int;
constexpr SocketHandle InvalidSocket = -1;
constexpr uint32_t InaddrNone = 0xFFFFFFFFu;
// Address families as Windows Sockets numbers them.
constexpr uint16_t AddressFamilyIPv4 = 2;
constexpr uint16_t AddressFamilyIPv6 = 23;

// A socket address: family 2 with an IPv4 `address`, or family 23 with an
// IPv6 `address6` and its zone (`scope`); port and addresses in network byte
// order. The 8 filler bytes of the 16-byte IPv4 form are never read.
struct SockAddrIn {
    uint16_t family = 0;
    uint16_t port = 0;    // network byte order
    uint32_t address = 0; // network byte order
    uint8_t zero[8] = {};
    uint8_t address6[16] = {};
    uint32_t scope = 0;
    // The zone counts only where it names a link (fe80::/10): on any other
    // address the kernel ignores it, and answers come back without it.
    bool SameEndpoint(const SockAddrIn& o) const
    {
        for (int i = 0; i < 16; ++i)
            if (address6[i] != o.address6[i])
                return false;
        const bool linkLocal = address6[0] == 0xFE && (address6[1] & 0xC0) == 0x80;
        return port == o.port && address == o.address && (scope == o.scope || !linkLocal);
    }
};

// The socket services the transport needs, in place of Windows Sockets 2.
// Every failing call leaves its error code for LastError() on the calling thread.
class ISocketLayer {
public:
    virtual ~ISocketLayer() = default;
    // Library start and release (WSAStartup/WSACleanup); POSIX needs neither.
    virtual bool Startup() = 0;
    virtual void Cleanup() = 0;
    // A UDP socket that reaches IPv4 and IPv6 servers alike, or InvalidSocket.
    virtual SocketHandle CreateUdpSocket() = 0;
    // Binds to `port` (host order) of every local address of both families; 0 or -1.
    virtual int Bind(SocketHandle s, uint16_t port) = 0;
    virtual int SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to) = 0;
    // 1 when readable, 0 when nothing came within the time (or a signal cut
    // the wait short: the caller's deadline decides), -1 on error.
    virtual int WaitReadable(SocketHandle s, int64_t timeoutMicroseconds) = 0;
    // Reads one datagram of at most `capacity` bytes; a longer one is consumed
    // and fails with WsaError::MessageSize. -1 on failure.
    virtual int RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from) = 0;
    // The kernel's time (CLOCK_REALTIME) of the datagram SendTo sent last
    // leaving, and of the one RecvFrom read last arriving; false when the
    // kernel stamped none (or the send's stamp is not there yet).
    virtual bool SentTime(SocketHandle s, WallTime& at) = 0;
    virtual bool ArrivalTime(SocketHandle s, WallTime& at) = 0;
    // Drops every datagram and every ICMP report already queued on the socket.
    virtual void DiscardPending(SocketHandle s) = 0;
    virtual void Close(SocketHandle s) = 0;
    virtual int LastError() = 0;
    // Dotted IPv4 text to an address in network order, InaddrNone when rejected.
    virtual uint32_t InetAddr(const std::string& text) = 0;
    // Numeric IPv6 text (a zone allowed) to family, address6 and scope of
    // `address`; nothing else changes. Never asks a name server.
    virtual bool ParseIPv6(const std::string& text, SockAddrIn& address) = 0;
    // The first IPv4 address of a host name, else its first IPv6 address,
    // into family and address fields of `address`; the port is left alone.
    virtual bool Resolve(const std::string& host, SockAddrIn& address) = 0;
    // Every address of a host name, IPv4 and IPv6, each once and in the
    // resolver's order, appended to `addresses` with port 0; false when none.
    virtual bool ResolveAll(const std::string& host, std::vector<SockAddrIn>& addresses) = 0;
};

// The address as an operator writes it: dotted IPv4, or IPv6 text with its
// zone ("fe80::1%eth0"); the port is left out.
std::string AddressText(const SockAddrIn& address);

// The real layer over POSIX sockets.
ISocketLayer& PosixSockets();
