// The jitter monitor sending from port 123: the check box's socket serves
// the run and outlives it, and a recovery binds the port again. Binding port
// 123 needs root: without it these tests skip.
#include "support/JitterRig.h"
#include "support/Port123.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
using Responder = CUdpResponder;

class JitterPort123Test : public ::testing::Test, public JitterRig {
protected:
    void SetUp() override
    {
        const std::string outOfReach = WhyPort123IsOutOfReach();
        if (!outOfReach.empty())
            GTEST_SKIP() << outOfReach;
        window.SetChecked(IDC_PORT123, true);
        dialog.OnSendFromPort123();
        ASSERT_TRUE(window.IsChecked(IDC_PORT123));
    }
    void TearDown() override
    {
        window.SetChecked(IDC_PORT123, false);
        dialog.OnSendFromPort123();
    }
    int Binds123()
    {
        const auto ports = sockets.BoundPorts();
        return static_cast<int>(std::count(ports.begin(), ports.end(), uint16_t{123}));
    }
};

TEST_F(JitterPort123Test, RunUsesTheBoundSocketAndLeavesItOpen)
{
    Responder server(Responder::NtpServer());
    StopAfterRefreshes(3);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Stats().back().good, 2);
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), 1) << "only the check box opened one";
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0) << "the end keeps it open";
    for (const auto& request : server.Requests())
        EXPECT_EQ(ntohs(request.from.port), 123);
    EXPECT_TRUE(IsIdle());
}

TEST_F(JitterPort123Test, RecoveryBindsPort123Again)
{
    Responder server(Responder::NtpServer());
    onRefresh = [&](int refresh, uint32_t) {
        if (refresh == 1)
            sockets.FailNext(SocketCall::SendTo, 10051);
        if (refresh == 3)
            dialog.OnCommand(IDC_GO);
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Binds123(), 2);
    EXPECT_TRUE(window.IsChecked(IDC_PORT123));
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_EQ(ntohs(server.Requests().back().from.port), 123) << "the new socket sends from port 123";
}

TEST_F(JitterPort123Test, FailedRebindUnchecksTheBoxAndTheRunGoesOn)
{
    Responder server(Responder::NtpServer());
    onRefresh = [&](int refresh, uint32_t) {
        if (refresh == 1) {
            sockets.FailNext(SocketCall::SendTo, 10051);
            sockets.FailNext(SocketCall::Bind, 10048);
        }
        if (refresh == 4)
            dialog.OnCommand(IDC_GO);
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_TRUE(LoggedSomewhere("--Port 123 is already in use."));
    EXPECT_FALSE(window.IsChecked(IDC_PORT123));
    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 4u);
    EXPECT_EQ(stats[3].good, 2) << "polls go on from a random port";
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_NE(ntohs(server.Requests().back().from.port), 123);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 2) << "the unchecked mode's end closes the run's socket";
}

} // namespace
