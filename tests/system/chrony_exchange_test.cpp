// One exchange with a real chronyd on loopback (started by the test fixture,
// which writes its port to $HOROLAB_CHRONY_DIR/port).
#include "support/DialogRig.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// a - b in seconds, for two times less than 68 years apart.
double SecondsBetween(const NtpTimestamp& a, const NtpTimestamp& b)
{
    const int32_t seconds = static_cast<int32_t>(a.Seconds - b.Seconds);
    return seconds + (static_cast<double>(a.Fraction) - static_cast<double>(b.Fraction)) / 4294967296.0;
}

class ChronyExchangeTest : public ::testing::Test, public DialogRig {
protected:
    void SetUp() override
    {
        port = ChronyPort();
        ASSERT_FALSE(port.empty()) << "the chronyd fixture did not run (HOROLAB_CHRONY_DIR)";
        window.SetText(IDC_SERVER, "127.0.0.1:" + port);
    }
    std::string port;
};

TEST_F(ChronyExchangeTest, AnswerCarriesWhatChronydServes)
{
    ASSERT_TRUE(dialog.OpenSocket());
    ASSERT_TRUE(dialog.SetServer(""));
    EXPECT_EQ(dialog.m_port, std::stoi(port));
    EXPECT_EQ(ntohs(dialog.m_serverAddress.port), std::stoi(port));

    ASSERT_EQ(dialog.SendRequest(CNtpMsg()), 48);
    CNtpMsg reply;
    ASSERT_TRUE(dialog.ReceiveReply(reply, 2, true)) << window.LogText();
    const NtpTimestamp now = CurrentNtpTime();
    dialog.CloseSocket();

    EXPECT_EQ(dialog.m_receivedBytes, 48);
    EXPECT_EQ(reply.m_mode, 4);
    EXPECT_EQ(reply.m_version, 3) << "chronyd answers in the client's version";
    EXPECT_EQ(reply.m_stratum, 3) << "local stratum 3";
    EXPECT_EQ(reply.GetRefIdText(), "127.127.1.1");
    ASSERT_EQ(sockets.Sends().size(), 1u);
    EXPECT_EQ(reply.m_originate, CNtpMsg(sockets.Sends()[0].bytes.data()).m_transmit)
        << "the server returns our transmit time bit for bit";
    EXPECT_LT(std::abs(SecondsBetween(reply.m_transmit, now)), 1.0);
    EXPECT_EQ(window.LogText(), "");
}

TEST_F(ChronyExchangeTest, SetSystemTimeHandsTheServerTimeToTheClock)
{
    window.SetChecked(IDC_SET_TIME, true);
    ASSERT_TRUE(Connect(window.GetText(IDC_SERVER)));
    CNtpMsg reply;
    ASSERT_TRUE(Exchange(reply)) << window.LogText();
    dialog.CloseSocket();
    ASSERT_EQ(clock.Settings().size(), 1u);
    const SystemTime set = clock.Settings()[0];
    const UtcTime now = CurrentUtcTime();
    EXPECT_EQ(set.wYear, now.year);
    EXPECT_EQ(set.wMonth, now.month);
    EXPECT_LT(set.wMilliseconds, 1000);
}

TEST_F(ChronyExchangeTest, QueryReportsTheServer)
{
    dialog.OnOK();
    const std::string log = window.LogText();
    EXPECT_EQ(log.rfind("Querying host 127.0.0.1:" + port + " from random port\r\n", 0), 0u) << log;
    EXPECT_NE(log.find("| at Stratum   3 "), std::string::npos) << log;
    EXPECT_NE(log.find("Packet size: 48 bytes"), std::string::npos) << log;
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1) << "the query's own socket is closed after it";
}

} // namespace

HOROLAB_QT_TEST_MAIN()
