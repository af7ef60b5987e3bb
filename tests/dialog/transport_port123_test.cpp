// Sending from the NTP port itself. Binding port 123 needs root: without it
// these tests skip.
#include "support/DialogRig.h"
#include "support/Port123.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
using Responder = CUdpResponder;

class Port123Test : public ::testing::Test, public DialogRig {
protected:
    void SetUp() override
    {
        const std::string outOfReach = WhyPort123IsOutOfReach();
        if (!outOfReach.empty())
            GTEST_SKIP() << outOfReach;
    }

    void TearDown() override
    {
        window.SetChecked(IDC_PORT123, false);
        dialog.OnSendFromPort123(); // the port is free for the next test
    }

    // Checks the box as the operator would.
    void SwitchOn()
    {
        window.SetChecked(IDC_PORT123, true);
        dialog.OnSendFromPort123();
        EXPECT_TRUE(window.IsChecked(IDC_PORT123));
        EXPECT_EQ(window.LogText(), "");
        EXPECT_TRUE(window.MessageBoxes().empty());
    }
};

TEST_F(Port123Test, CheckedBoxBindsOneSocketThatServesEveryQuery)
{
    SwitchOn();
    Responder server(Responder::NtpServer());
    dialog.OnInitDialog();
    for (int query = 1; query <= 2; ++query) {
        SCOPED_TRACE(query);
        window.SetText(IDC_SERVER, server.ServerText());
        dialog.OnCommand(IDOK);
        EXPECT_EQ(window.LogText().rfind("Querying host " + server.ServerText() + " from port 123\r\n\r\n+--Result", 0),
                  0u)
            << window.LogText();
    }
    ASSERT_EQ(server.Requests().size(), 2u);
    for (const auto& request : server.Requests())
        EXPECT_EQ(ntohs(request.from.port), 123);
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), 1) << "only the check box opened one";
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0);
    EXPECT_EQ(sockets.Count(SocketCall::Startup), 1);

    window.SetChecked(IDC_PORT123, false);
    dialog.OnSendFromPort123();
    const int again = HoldPort123();
    EXPECT_GE(again, 0) << "unchecking releases the port";
    if (again >= 0)
        ::close(again);
}

TEST_F(Port123Test, PortHeldElsewhereIsReportedAndTheBoxUnchecked)
{
    const int holder = HoldPort123();
    ASSERT_GE(holder, 0);
    window.SetText(IDC_LOG, "earlier report");
    window.SetChecked(IDC_PORT123, true);
    dialog.OnSendFromPort123();
    ::close(holder);

    EXPECT_EQ(window.LogText(), "--Port 123 is already in use.");
    ASSERT_EQ(window.MessageBoxes().size(), 1u);
    EXPECT_EQ(window.MessageBoxes()[0].text, "Cannot use port 123 (NTP).\nSee log for details.");
    EXPECT_EQ(window.MessageBoxes()[0].icon, MessageIcon::Error);
    EXPECT_FALSE(window.IsChecked(IDC_PORT123));
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
}

TEST_F(Port123Test, FailedLookUpKeepsThePortSocket)
{
    SwitchOn();
    // An empty label is refused by the resolver itself: no query leaves the machine.
    EXPECT_FALSE(dialog.SetServer("no-such..host"));
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(dialog.SetServer(server.ServerText()));
    CNtpMsg reply;
    ASSERT_TRUE(Exchange(reply)) << window.LogText();
    EXPECT_EQ(ntohs(server.Requests().at(0).from.port), 123);
    const int other = HoldPort123();
    EXPECT_EQ(other, -1) << "the port is still ours";
    if (other >= 0)
        ::close(other);
}

TEST_F(Port123Test, AnswerThatCameTooLateIsNotTakenForTheNextQuery)
{
    SwitchOn();
    CNtpMsg late;
    late.m_stratum = 7;
    CNtpMsg timely;
    timely.m_stratum = 2;
    Responder server(Responder::Script({{Responder::Message(late, 400)}, {Responder::Message(timely, 50)}}));
    ASSERT_TRUE(dialog.SetServer(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the late one arrives
    ASSERT_TRUE(Exchange(reply, 1)) << window.LogText();
    EXPECT_EQ(reply.m_stratum, 2);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0);
}

} // namespace
