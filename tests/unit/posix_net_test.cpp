// The POSIX socket layer: error numbers, datagram reads that never cut,
// ICMP reports, draining, and handles kept after their close.
#include "platform/Net.h"
#include "platform/posix/AddressChoice.h"
#include "platform/posix/WsaErrno.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
ISocketLayer& layer = PosixSockets();

SockAddrIn Loopback(uint16_t port)
{
    SockAddrIn a;
    a.family = AF_INET;
    a.port = htons(port);
    a.address = htonl(INADDR_LOOPBACK);
    return a;
}

uint16_t PortOf(int fd)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// An ICMP "host unreachable" as a router would send it about a datagram from
// 127.0.0.1:`port` to 192.0.2.1:123. Needs a raw socket; false without one.
bool ForgeHostUnreachable(uint16_t port)
{
    const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (raw < 0)
        return false;
    uint8_t packet[8 + 20 + 8] = {3, 1}; // type 3 code 1, then the quoted IP and UDP headers
    uint8_t* ip = packet + 8;
    ip[0] = 0x45;
    ip[3] = 28 + 48;
    ip[8] = 64;
    ip[9] = IPPROTO_UDP;
    const uint32_t source = htonl(INADDR_LOOPBACK);
    const uint32_t destination = ::inet_addr("192.0.2.1");
    std::memcpy(ip + 12, &source, 4);
    std::memcpy(ip + 16, &destination, 4);
    const uint16_t ports[2] = {htons(port), htons(123)};
    std::memcpy(ip + 20, ports, 4);
    uint32_t sum = 0;
    for (size_t i = 0; i < sizeof packet; i += 2)
        sum += static_cast<uint32_t>(packet[i] << 8 | packet[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t checksum = htons(static_cast<uint16_t>(~sum));
    std::memcpy(packet + 2, &checksum, 2);
    const sockaddr_in to{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    const bool sent = ::sendto(raw, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
                      static_cast<ssize_t>(sizeof packet);
    ::close(raw);
    return sent;
}

// A socket of the layer bound to a free port, and a plain peer socket.
class PosixNetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s = layer.CreateUdpSocket();
        ASSERT_NE(s, InvalidSocket);
        ASSERT_EQ(layer.Bind(s, 0), 0);
        peer = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        ASSERT_EQ(::bind(peer, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    }
    void TearDown() override
    {
        layer.Close(s);
        ::close(peer);
    }
    void PeerSends(size_t length, uint8_t fill = 0xAB)
    {
        const std::vector<uint8_t> bytes(length, fill);
        const sockaddr_in to{AF_INET, htons(PortOf(s)), {htonl(INADDR_LOOPBACK)}, {}};
        ASSERT_EQ(::sendto(peer, bytes.data(), length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(length));
    }

    SocketHandle s = InvalidSocket;
    int peer = -1;
};

TEST(WsaErrorFromErrno, MapsByName)
{
    const std::pair<int, int> pairs[] = {
        {EACCES, 10013},     {EMSGSIZE, 10040},   {EADDRINUSE, 10048}, {ENETDOWN, 10050},
        {ENETUNREACH, 10051}, {ECONNRESET, 10054}, {ECONNREFUSED, 10061}, {EAGAIN, 10035},
        {EWOULDBLOCK, 10035}, {ENOTSOCK, 10038},   {EHOSTUNREACH, 10065}, {EADDRNOTAVAIL, 10049},
    };
    for (const auto& [posix, wsa] : pairs)
        EXPECT_EQ(WsaErrorFromErrno(posix), wsa) << posix;
    EXPECT_EQ(WsaErrorFromErrno(EIO), 10000 + EIO) << "no counterpart";
}

TEST(PosixSockets, InetAddrTakesDottedTextOnly)
{
    EXPECT_EQ(layer.InetAddr("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(layer.InetAddr("192.0.2.1"), htonl(0xC0000201u));
    for (const char* text : {"255.255.255.255", "abc", "", "192.0.2.1:", "1.2.3.4.5", "256.1.1.1"})
        EXPECT_EQ(layer.InetAddr(text), InaddrNone) << text;
    EXPECT_EQ(layer.InetAddr(std::string("1.2.3.4\0x", 9)), InaddrNone);
}

TEST(PosixSockets, ResolvesNumericTextAndRefusesMalformedNames)
{
    SockAddrIn resolved;
    ASSERT_TRUE(layer.Resolve("127.0.0.1", resolved));
    EXPECT_EQ(resolved.family, AddressFamilyIPv4);
    EXPECT_EQ(resolved.address, htonl(INADDR_LOOPBACK));
    // An empty label is refused by the resolver itself: no query leaves the machine.
    EXPECT_FALSE(layer.Resolve("no-such..host", resolved));
    EXPECT_EQ(layer.LastError(), 11001);
}

TEST_F(PosixNetTest, ExactDatagramIsReadWithItsSender)
{
    PeerSends(48);
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    uint8_t buffer[48];
    SockAddrIn from;
    EXPECT_EQ(layer.RecvFrom(s, buffer, 48, &from), 48);
    EXPECT_TRUE(from.SameEndpoint(Loopback(PortOf(peer))));
    EXPECT_EQ(buffer[47], 0xAB);
}

TEST_F(PosixNetTest, LongerDatagramFailsAsMessageTooLongAndIsConsumed)
{
    PeerSends(68);
    PeerSends(48, 0x11);
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    uint8_t buffer[48];
    SockAddrIn from;
    EXPECT_EQ(layer.RecvFrom(s, buffer, 48, &from), -1);
    EXPECT_EQ(layer.LastError(), WsaError::MessageSize);
    EXPECT_TRUE(from.SameEndpoint(Loopback(PortOf(peer)))) << "the sender is named even so";
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    EXPECT_EQ(layer.RecvFrom(s, buffer, 48, nullptr), 48) << "the long one is gone, the next one is read";
    EXPECT_EQ(buffer[0], 0x11);
}

TEST_F(PosixNetTest, ClosedPortIsReportedAsConnectionResetOnce)
{
    const uint16_t closed = PortOf(peer);
    ::close(peer);
    peer = ::socket(AF_INET, SOCK_DGRAM, 0);
    const uint8_t request[48] = {0x1B};
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(layer.SendTo(s, request, 48, Loopback(closed)), 48);
        ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
        uint8_t buffer[48];
        EXPECT_EQ(layer.RecvFrom(s, buffer, 48, nullptr), -1);
        EXPECT_EQ(layer.LastError(), WsaError::ConnectionReset);
        EXPECT_EQ(layer.WaitReadable(s, 0), 0) << "the report is drained, nothing stays readable";
    }
}

TEST_F(PosixNetTest, DiscardPendingDropsQueuedDatagramsAndReports)
{
    PeerSends(48);
    PeerSends(0);
    PeerSends(100);
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    layer.DiscardPending(s);
    EXPECT_EQ(layer.WaitReadable(s, 0), 0);
}

// Linux hands out a queued ICMP report before the datagrams queued with it.
TEST_F(PosixNetTest, DiscardPendingDrainsPastAnIcmpReport)
{
    PeerSends(48);
    if (!ForgeHostUnreachable(PortOf(s)))
        GTEST_SKIP() << "forging an ICMP report needs a raw socket (root)";
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    layer.DiscardPending(s);
    EXPECT_EQ(layer.WaitReadable(s, 0), 0) << "the old answer behind the report is still queued";
}

TEST_F(PosixNetTest, ReadErrorLeavesNothingReadable)
{
    if (!ForgeHostUnreachable(PortOf(s)))
        GTEST_SKIP() << "forging an ICMP report needs a raw socket (root)";
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    uint8_t buffer[48];
    EXPECT_EQ(layer.RecvFrom(s, buffer, 48, nullptr), -1);
    EXPECT_EQ(layer.LastError(), WsaError::HostUnreachable);
    EXPECT_EQ(layer.WaitReadable(s, 0), 0) << "the report stays queued: a wait would spin on it";
}

// The error queue holds the kernel's transmit stamps beside the ICMP reports:
// a stamp is never taken for an error, nor an error for a stamp, whichever
// is read first.
struct ErrorQueueCase {
    const char* name;
    enum { Nothing, ToPeer, ToClosedPort, ForgedReport } what;
    bool stampReadFirst;
    int error; // the read's, 0: nothing to read
};

class ErrorQueueTest : public PosixNetTest, public ::testing::WithParamInterface<ErrorQueueCase> {};

int64_t RealtimeNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Whether the layer's stamp fell between two readings of the real clock.
bool StampedWithin(const WallTime& at, int64_t before, int64_t after)
{
    const int64_t ns = at.seconds * 1000000000LL + at.nanoseconds;
    return ns >= before && ns <= after;
}

TEST_P(ErrorQueueTest, StampsAndReportsAreToldApart)
{
    const ErrorQueueCase& c = GetParam();
    const uint8_t request[48] = {0x1B};
    const uint16_t peerPort = PortOf(peer);
    if (c.what == ErrorQueueCase::ToClosedPort)
        ::close(std::exchange(peer, ::socket(AF_INET, SOCK_DGRAM, 0)));
    const int64_t before = RealtimeNanoseconds();
    const bool stamped = c.what == ErrorQueueCase::ToPeer || c.what == ErrorQueueCase::ToClosedPort; // what is sent
    if (stamped) {
        ASSERT_EQ(layer.SendTo(s, request, 48, Loopback(peerPort)), 48);
    }
    if (c.what == ErrorQueueCase::ForgedReport && !ForgeHostUnreachable(PortOf(s)))
        GTEST_SKIP() << "forging an ICMP report needs a raw socket (root)";
    const int64_t after = RealtimeNanoseconds();

    WallTime sent;
    if (c.stampReadFirst) {
        EXPECT_EQ(layer.SentTime(s, sent), stamped);
    }
    uint8_t buffer[48];
    if (c.error != 0) {
        ASSERT_EQ(layer.WaitReadable(s, 5000000), 1) << "the report ends the wait";
        EXPECT_EQ(layer.RecvFrom(s, buffer, 48, nullptr), -1);
        EXPECT_EQ(layer.LastError(), c.error);
    }
    EXPECT_EQ(layer.WaitReadable(s, 0), 0) << "neither a stamp nor a report read keeps the socket readable";
    EXPECT_EQ(layer.SentTime(s, sent), stamped);
    EXPECT_TRUE(!stamped || StampedWithin(sent, before, after));
}
INSTANTIATE_TEST_SUITE_P(Entries, ErrorQueueTest,
                         ::testing::Values(ErrorQueueCase{"Stamp", ErrorQueueCase::ToPeer, false, 0},
                                           ErrorQueueCase{"Report", ErrorQueueCase::ForgedReport, false, WsaError::HostUnreachable},
                                           ErrorQueueCase{"BothStampFirst", ErrorQueueCase::ToClosedPort, true, WsaError::ConnectionReset},
                                           ErrorQueueCase{"BothReportFirst", ErrorQueueCase::ToClosedPort, false, WsaError::ConnectionReset},
                                           ErrorQueueCase{"Neither", ErrorQueueCase::Nothing, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Through the batch and past it (a read larger than its slots).
TEST_F(PosixNetTest, ArrivalIsStampedByTheKernel)
{
    const int64_t before = RealtimeNanoseconds();
    PeerSends(200);
    PeerSends(48);
    const int64_t after = RealtimeNanoseconds();
    uint8_t buffer[200];
    WallTime at;
    for (int capacity : {200, 48}) {
        ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
        ASSERT_GT(layer.RecvFrom(s, buffer, capacity, nullptr), 0);
        EXPECT_TRUE(layer.ArrivalTime(s, at) && StampedWithin(at, before, after));
    }
}

TEST_F(PosixNetTest, WaitEndsAfterItsTimeOut)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(layer.WaitReadable(s, 200000), 0);
    const auto taken = std::chrono::steady_clock::now() - start;
    EXPECT_GE(taken, std::chrono::milliseconds(199));
    EXPECT_LT(taken, std::chrono::milliseconds(600));
}

TEST_F(PosixNetTest, PortInUseIsAddressInUse)
{
    const SocketHandle second = layer.CreateUdpSocket();
    EXPECT_EQ(layer.Bind(second, PortOf(s)), -1);
    EXPECT_EQ(layer.LastError(), WsaError::AddressInUse);
    layer.Close(second);
}

TEST(PosixSockets, HandleKeptAfterItsCloseNeverReachesAReusedDescriptor)
{
    const SocketHandle s = layer.CreateUdpSocket();
    ASSERT_NE(s, InvalidSocket);
    layer.Close(s);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0); // likely takes the freed number
    const uint8_t byte = 0;
    layer.Close(s);
    EXPECT_EQ(layer.SendTo(s, &byte, 1, Loopback(9)), -1);
    EXPECT_EQ(layer.LastError(), 10038);
    EXPECT_EQ(layer.WaitReadable(s, 0), -1);
    EXPECT_EQ(layer.Bind(s, 0), -1);
    EXPECT_EQ(::write(pipeEnds[1], "x", 1), 1) << "the pipe is untouched";
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

// --- IPv6 ---------------------------------------------------------------------

SockAddrIn Ipv6Loopback(uint16_t port)
{
    SockAddrIn a;
    a.family = AddressFamilyIPv6;
    a.port = htons(port);
    a.address6[15] = 1;
    return a;
}

// A plain IPv6 socket on ::1, or -1 when the machine has no IPv6 loopback.
int Ipv6Peer()
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

TEST_F(PosixNetTest, Ipv6ServerIsReachedAndNamedByTheSameSocket)
{
    const int server = Ipv6Peer();
    if (server < 0)
        GTEST_SKIP() << "no ::1 on this machine";
    const uint16_t serverPort = PortOf(server);
    const uint8_t request[48] = {0x1B};
    ASSERT_EQ(layer.SendTo(s, request, 48, Ipv6Loopback(serverPort)), 48);
    uint8_t buffer[64];
    sockaddr_in6 tool{};
    socklen_t length = sizeof tool;
    ASSERT_EQ(::recvfrom(server, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&tool), &length), 48);
    ASSERT_EQ(::sendto(server, buffer, 48, 0, reinterpret_cast<const sockaddr*>(&tool), length), 48);

    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    SockAddrIn from;
    EXPECT_EQ(layer.RecvFrom(s, buffer, 48, &from), 48);
    EXPECT_EQ(from.family, AddressFamilyIPv6);
    EXPECT_TRUE(from.SameEndpoint(Ipv6Loopback(serverPort)));
    EXPECT_FALSE(from.SameEndpoint(Loopback(serverPort)));
    ::close(server);

    // The port is closed now: ICMPv6 says so as ICMP does.
    ASSERT_EQ(layer.SendTo(s, request, 48, Ipv6Loopback(serverPort)), 48);
    ASSERT_EQ(layer.WaitReadable(s, 1000000), 1);
    EXPECT_EQ(layer.RecvFrom(s, buffer, 48, nullptr), -1);
    EXPECT_EQ(layer.LastError(), WsaError::ConnectionReset);
    EXPECT_EQ(layer.WaitReadable(s, 0), 0);
}

TEST(PosixSockets, Ipv6TextIsParsedWithoutAnyLookUp)
{
    SockAddrIn a;
    a.port = 77;
    ASSERT_TRUE(layer.ParseIPv6("::1", a));
    EXPECT_TRUE(a.SameEndpoint(Ipv6Loopback(ntohs(77))));
    ASSERT_TRUE(layer.ParseIPv6("fe80::1%lo", a));
    EXPECT_EQ(a.scope, 1u) << "the zone names the loopback interface";
    for (const char* text : {"1.2.3.4", "zz::1", "::1::2", "localhost", ""})
        EXPECT_FALSE(layer.ParseIPv6(text, a)) << text;

    SockAddrIn resolved;
    ASSERT_TRUE(layer.Resolve("::1", resolved));
    EXPECT_EQ(resolved.family, AddressFamilyIPv6);
}

// An answer from ::1 carries no zone: a zone typed on an address that names
// no link ([::1%1]) must not make the server's own answer a stranger's.
TEST(PosixSockets, ZoneCountsOnlyOnLinkLocalAddresses)
{
    const struct {
        const char* text;
        uint32_t scope, otherScope;
        bool same;
    } cases[] = {{"::1", 1, 0, true}, {"2001:db8::1", 3, 0, true}, {"fe80::1", 1, 1, true}, {"fe80::1", 1, 2, false}};
    for (const auto& c : cases) {
        SockAddrIn a, b;
        ASSERT_TRUE(layer.ParseIPv6(c.text, a) && layer.ParseIPv6(c.text, b));
        a.scope = c.scope;
        b.scope = c.otherScope;
        EXPECT_EQ(a.SameEndpoint(b), c.same) << c.text << "%" << c.scope << " " << c.otherScope;
        EXPECT_EQ(b.SameEndpoint(a), c.same) << c.text << "%" << c.scope << " " << c.otherScope;
    }
}

TEST(PosixSockets, NameStandsForItsFirstIPv4AddressElseItsFirstIPv6One)
{
    addrinfo v6a{}, v6b{}, v4{}, other{};
    v6a.ai_family = v6b.ai_family = AF_INET6;
    v4.ai_family = AF_INET;
    other.ai_family = AF_UNIX;
    v6a.ai_next = &v6b;
    v6b.ai_next = &v4;
    EXPECT_EQ(FirstIPv4ElseIPv6(&v6a), &v4);
    v6b.ai_next = nullptr;
    other.ai_next = &v6a;
    EXPECT_EQ(FirstIPv4ElseIPv6(&other), &v6a);
    other.ai_next = nullptr;
    EXPECT_EQ(FirstIPv4ElseIPv6(&other), nullptr);
}

} // namespace
