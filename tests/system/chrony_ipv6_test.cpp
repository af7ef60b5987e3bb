// Queries to a real chronyd on ::1 (started by the test fixture, which
// writes its port to $HOROLAB_CHRONY_DIR/ipv6/port).
#include "support/DialogRig.h"
#include "support/Port123.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port on ::1 nobody listens on: bound once, then released.
uint16_t ClosedIpv6Port()
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin6_port);
}

class ChronyIpv6Test : public ::testing::Test, public DialogRig {
protected:
    void SetUp() override
    {
        port = ChronyPort("/ipv6");
        ASSERT_FALSE(port.empty()) << "the chronyd fixture on ::1 did not run (HOROLAB_CHRONY_DIR)";
        dialog.OnInitDialog();
    }
    std::string Query(const std::string& serverText)
    {
        window.SetText(IDC_SERVER, serverText);
        dialog.OnCommand(IDOK);
        return window.LogText();
    }
    std::string port;
};

TEST_F(ChronyIpv6Test, QueryReportsTheServer)
{
    const std::string log = Query("[::1]:" + port);
    EXPECT_EQ(log.rfind("Querying host [::1]:" + port + " from random port\r\n\r\n+--Result", 0), 0u) << log;
    EXPECT_NE(log.find("| ::1 is online"), std::string::npos) << log;
    EXPECT_NE(log.find("| at Stratum   3 "), std::string::npos) << log;
    EXPECT_NE(log.find("Packet size: 48 bytes"), std::string::npos) << log;
    EXPECT_EQ(dialog.m_host, "::1");
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
}

TEST_F(ChronyIpv6Test, ClosedPortIsAConnectionReset)
{
    const std::string closed = std::to_string(ClosedIpv6Port());
    EXPECT_EQ(Query("[::1]:" + closed), "Querying host [::1]:" + closed +
                                            " from random port\r\n\r\n*receive error no. 10054 (Connection reset by peer)");
}

// One socket on port 123 serves both families.
TEST_F(ChronyIpv6Test, Port123ModeServesBothFamilies)
{
    const std::string outOfReach = WhyPort123IsOutOfReach();
    if (!outOfReach.empty())
        GTEST_SKIP() << outOfReach;
    const std::string ipv4Port = ChronyPort();
    ASSERT_FALSE(ipv4Port.empty());
    window.SetChecked(IDC_PORT123, true);
    dialog.OnCommand(IDC_PORT123);
    ASSERT_TRUE(window.IsChecked(IDC_PORT123)) << window.LogText();

    std::string log = Query("[::1]:" + port);
    EXPECT_EQ(log.rfind("Querying host [::1]:" + port + " from port 123\r\n\r\n+--Result", 0), 0u) << log;
    log = Query("127.0.0.1:" + ipv4Port);
    EXPECT_EQ(log.rfind("Querying host 127.0.0.1:" + ipv4Port + " from port 123\r\n\r\n+--Result", 0), 0u) << log;
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), 1);

    window.SetChecked(IDC_PORT123, false);
    dialog.OnCommand(IDC_PORT123);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
}

} // namespace

HOROLAB_QT_TEST_MAIN()
