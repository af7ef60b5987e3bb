// The POSIX socket layer: error numbers, datagram reads that never cut,
// ICMP reports, draining, and handles kept after their close.
#include "platform/Net.h"
#include "platform/posix/WsaErrno.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
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

} // namespace
