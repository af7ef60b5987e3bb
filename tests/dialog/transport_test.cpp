// The UDP transport around the exchange (whose table of answers and faults
// is exchange_engine_test): time-outs, ports closed, stale answers, the
// clock set on receipt, and the opening, closing and binding of the socket.
#include "query/ClockSetting.h"
#include "support/DialogRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
using Responder = CUdpResponder;
using Source = CUdpResponder::Source;

// A loopback port nobody listens on: bound once, then released.
uint16_t ClosedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

CNtpMsg ReplyWithStratum(int stratum)
{
    CNtpMsg m;
    m.m_mode = 4;
    m.m_stratum = static_cast<uint8_t>(stratum);
    return m;
}

class TransportTest : public ::testing::Test, public DialogRig {};

// --- Sizes -----------------------------------------------------------------

TEST_F(TransportTest, ExactAnswerIsDecodedAndRequestIs48Bytes)
{
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    ASSERT_TRUE(Exchange(reply));

    EXPECT_EQ(window.LogText(), "");
    EXPECT_EQ(dialog.m_receivedBytes, 48);
    EXPECT_EQ(reply.m_mode, 4);
    EXPECT_EQ(reply.m_stratum, 2);
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::vector<uint8_t> request = server.Requests()[0].bytes;
    ASSERT_EQ(request.size(), 48u);
    EXPECT_EQ(request[0], 0x1B);
    EXPECT_EQ(reply.m_originate, CNtpMsg(request.data()).m_transmit) << "the server echoes our transmit time";
    EXPECT_EQ(reply.m_transmit, server.Requests()[0].received);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0) << "an accepted answer leaves the socket to the query";
}

// --- Time-outs and errors ---------------------------------------------------

class SilenceTest : public TransportTest, public ::testing::WithParamInterface<int> {};

TEST_P(SilenceTest, TimesOutAfterTheGivenSecondsAndClosesTheRandomPortSocket)
{
    Responder server(Responder::Silence());
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    bool received = true;
    const double taken = ClockSecondsTaken([&] { received = Exchange(reply, GetParam()); });
    EXPECT_FALSE(received);
    EXPECT_GE(taken, GetParam() - 0.01);
    EXPECT_LT(taken, GetParam() + 0.5);
    EXPECT_EQ(window.LogText(), "--No answer from Server. timed out.");
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
    EXPECT_EQ(sockets.Count(SocketCall::Cleanup), sockets.Count(SocketCall::Startup));
    EXPECT_EQ(dialog.SendRequest(CNtpMsg()), -1) << "the socket is closed";
}
INSTANTIATE_TEST_SUITE_P(Seconds, SilenceTest, ::testing::Values(2, 1));

TEST_F(TransportTest, TimeOutWithoutLoggingStillClosesInRandomPortMode)
{
    Responder server(Responder::Silence());
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply, 1, false));
    EXPECT_EQ(window.LogText(), "");
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
}

// With logging off every failure is silent: the monitor shows its own count.
TEST_F(TransportTest, FailuresWithoutLoggingLeaveTheLogAlone)
{
    window.SetChecked(IDC_PORT123, true); // the mode only: the socket survives each failure
    Responder server(Responder::Script({{Responder::Bytes(47)}, {Responder::Bytes(48)}}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply, 1, false)); // wrong size
    sockets.FailNext(SocketCall::RecvFrom, 10054);
    EXPECT_FALSE(Exchange(reply, 1, false)); // read error
    sockets.FailNext(SocketCall::WaitReadable, 10022);
    EXPECT_FALSE(Exchange(reply, 1, false)); // wait error
    EXPECT_EQ(window.LogText(), "");
    EXPECT_EQ(sockets.Count(SocketCall::RecvFrom), 2);
}

// A stray datagram is always ready to be read, one a millisecond: the wait
// must still end.
class EndlessStraySockets : public FaultySockets {
public:
    explicit EndlessStraySockets(FakeClock& clock) : m_clock(clock) {}
    int WaitReadable(SocketHandle, int64_t) override { return 1; }
    int RecvFrom(SocketHandle, uint8_t* buffer, int capacity, SockAddrIn* from) override
    {
        m_clock.AdvanceMonotonic(1000);
        std::fill(buffer, buffer + capacity, uint8_t{0x24});
        from->family = AddressFamilyIPv4;
        from->address = htonl(0x7F000002u);
        from->port = htons(123);
        return capacity;
    }

private:
    FakeClock& m_clock;
};

TEST(TransportStrays, EndlessStraysEndInTheTimeOut)
{
    FakeWindow window;
    FakeClock clock;
    EndlessStraySockets sockets(clock);
    CTikkaraDlg dialog(window, sockets, clock);
    window.SetText(IDC_SERVER, "127.0.0.1:4711");
    window.SetChecked(IDC_PORT123, true);
    ASSERT_TRUE(dialog.OpenSocket() && dialog.SetServer(""));
    CNtpMsg reply;
    bool received = true;
    const int64_t start = clock.MonotonicMicroseconds();
    received = dialog.ReceiveReply(reply, 1, true);
    EXPECT_FALSE(received);
    EXPECT_LT(clock.MonotonicMicroseconds() - start, 1100000);
    EXPECT_EQ(window.LogText(), "--No answer from Server. timed out.");
    dialog.CloseSocket();
}

TEST_F(TransportTest, PortModeSocketSurvivesTimeOutAndWaitFailure)
{
    window.SetChecked(IDC_PORT123, true); // the mode only; no port is bound here
    Responder server(Responder::Script({{}, {}, {Responder::Bytes(48)}}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply, 1));
    sockets.FailNext(SocketCall::WaitReadable, 10022);
    EXPECT_FALSE(Exchange(reply, 1));
    EXPECT_EQ(window.LogText(), "--No answer from Server. timed out.\r\n--Socket Error.");
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0);
    EXPECT_TRUE(Exchange(reply, 1)) << "the same socket still works";
}

TEST_F(TransportTest, ClosedServerPortEndsTheWaitAtOnceAsConnectionReset)
{
    ASSERT_TRUE(Connect("127.0.0.1:" + std::to_string(ClosedLoopbackPort())));
    CNtpMsg reply;
    bool received = true;
    const double taken = SecondsTaken([&] { received = Exchange(reply); });
    EXPECT_FALSE(received);
    EXPECT_LT(taken, 0.5);
    EXPECT_EQ(window.LogText(), "*receive error no. 10054 (Connection reset by peer)");
    EXPECT_EQ(dialog.m_receivedBytes, -1);

    // The report was taken off the socket: a live server is heard next time.
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(dialog.SetServer(server.ServerText()));
    EXPECT_TRUE(Exchange(reply));
}

// --- Strangers and stale answers -------------------------------------------

TEST_F(TransportTest, LateAnswerQueuedOnTheSocketIsNotTakenForTheNextOne)
{
    window.SetChecked(IDC_PORT123, true); // the socket outlives the time-out
    Responder server(Responder::Script({{Responder::Message(ReplyWithStratum(7), 400)},
                                        {Responder::Message(ReplyWithStratum(2), 50)}}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the late one arrives
    ASSERT_TRUE(Exchange(reply, 1));
    EXPECT_EQ(reply.m_stratum, 2);
}

// --- Clock setting on receipt ----------------------------------------------

TEST_F(TransportTest, SetSystemTimeBoxSetsTheClockFromAcceptedAnswersOnly)
{
    // The second request gets a short answer, all others a proper one.
    int served = 0;
    Responder server([&served](const Responder::Request& request) {
        return served++ == 1 ? std::vector<Responder::Datagram>{Responder::Bytes(47)}
                             : std::vector<Responder::Datagram>{Responder::Message(Responder::ServerReply(request))};
    });
    ASSERT_TRUE(Connect(server.ServerText()));
    window.SetChecked(IDC_SET_TIME, true);
    CNtpMsg reply;
    ASSERT_TRUE(Exchange(reply));
    ASSERT_EQ(clock.Settings().size(), 1u);
    EXPECT_EQ(clock.Settings()[0], TransmitTimeToSystemTime(reply.m_transmit));
    EXPECT_FALSE(Exchange(reply));
    window.SetChecked(IDC_SET_TIME, false);
    EXPECT_TRUE(Exchange(reply));
    EXPECT_EQ(clock.Settings().size(), 1u);
}

// --- Opening, closing and binding -------------------------------------------

TEST_F(TransportTest, BindLocalPortWithZeroLowBitsBindsNothing)
{
    ASSERT_TRUE(dialog.OpenSocket());
    EXPECT_TRUE(dialog.BindLocalPort(0));
    EXPECT_TRUE(dialog.BindLocalPort(65536));
    EXPECT_TRUE(sockets.BoundPorts().empty());
}

TEST_F(TransportTest, BindLocalPortBindsTheLowSixteenBits)
{
    const uint16_t port = ClosedLoopbackPort();
    ASSERT_TRUE(dialog.OpenSocket());
    window.SetChecked(IDC_PORT123, true);
    EXPECT_TRUE(dialog.BindLocalPort(65536 + port));
    EXPECT_EQ(sockets.BoundPorts(), std::vector<uint16_t>{port});
    EXPECT_TRUE(window.IsChecked(IDC_PORT123));
}

TEST_F(TransportTest, BindFailureEmptiesTheLogAndUnchecksTheBox)
{
    ASSERT_TRUE(dialog.OpenSocket());
    const std::pair<int, std::string> cases[] = {
        {10048, "--Port 5000 is already in use."},
        {10013, "--Could not bind to port 5000. (10013)"},
    };
    for (const auto& [error, line] : cases) {
        window.SetText(IDC_LOG, "earlier text");
        window.SetChecked(IDC_PORT123, true);
        sockets.FailNext(SocketCall::Bind, error);
        EXPECT_FALSE(dialog.BindLocalPort(5000));
        EXPECT_EQ(window.LogText(), line);
        EXPECT_FALSE(window.IsChecked(IDC_PORT123));
    }
}

TEST_F(TransportTest, CheckingPort123WhenTheBindFailsShowsTheBoxAndCloses)
{
    window.SetText(IDC_LOG, "earlier text");
    window.SetChecked(IDC_PORT123, true);
    sockets.FailNext(SocketCall::Bind, 10048);
    dialog.OnSendFromPort123();

    EXPECT_EQ(window.LogText(), "--Port 123 is already in use.");
    ASSERT_EQ(window.MessageBoxes().size(), 1u);
    EXPECT_EQ(window.MessageBoxes()[0].text, "Cannot use port 123 (NTP).\nSee log for details.");
    EXPECT_EQ(window.MessageBoxes()[0].icon, MessageIcon::Error);
    EXPECT_FALSE(window.IsChecked(IDC_PORT123));
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
    EXPECT_EQ(sockets.Count(SocketCall::Cleanup), sockets.Count(SocketCall::Startup));
}

TEST_F(TransportTest, CheckingPort123WithoutASocketLeavesOnlyTheBindLine)
{
    window.SetChecked(IDC_PORT123, true);
    sockets.FailNext(SocketCall::CreateUdpSocket, 10024);
    dialog.OnSendFromPort123();
    EXPECT_EQ(window.LogText(), "--Could not bind to port 123. (10038)");
    EXPECT_EQ(window.MessageBoxes().size(), 1u);
    EXPECT_FALSE(window.IsChecked(IDC_PORT123));
}

TEST_F(TransportTest, UncheckingPort123ClosesTheSocket)
{
    ASSERT_TRUE(dialog.OpenSocket());
    window.SetChecked(IDC_PORT123, false);
    dialog.OnSendFromPort123();
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
    EXPECT_EQ(sockets.Count(SocketCall::Bind), 0);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

} // namespace
