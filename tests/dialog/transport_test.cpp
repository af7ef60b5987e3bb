// The UDP exchange of one request and one answer against loopback
// responders: sizes, time-outs, read errors, strangers' datagrams, stale
// answers, and the opening, closing and binding of the socket.
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

class WrongSizeTest : public TransportTest, public ::testing::WithParamInterface<int> {};

TEST_P(WrongSizeTest, ShortAnswerIsRejectedWithItsSize)
{
    Responder server(Responder::Always({Responder::Bytes(GetParam())}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply));
    EXPECT_EQ(window.LogText(), "--Received " + std::to_string(GetParam()) + " bytes, need exactly 48.");
    EXPECT_EQ(dialog.m_receivedBytes, GetParam());
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0);
}
INSTANTIATE_TEST_SUITE_P(Sizes, WrongSizeTest, ::testing::Values(47, 0, 1));

class TooLongTest : public TransportTest, public ::testing::WithParamInterface<int> {};

TEST_P(TooLongTest, LongerAnswerIsAReadErrorNotCut)
{
    Responder server(Responder::Always({Responder::Bytes(GetParam())}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply));
    EXPECT_EQ(window.LogText(), "*receive error no. 10040 (Message too long)");
    EXPECT_EQ(dialog.m_receivedBytes, -1);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 0) << "a read error leaves the socket open";
}
INSTANTIATE_TEST_SUITE_P(Sizes, TooLongTest, ::testing::Values(68, 49, 52));

TEST_F(TransportTest, AuthSends68BytesAndExpects52)
{
    window.SetChecked(IDC_AUTH, true);
    Responder server(Responder::Script({{Responder::Bytes(52)}, {Responder::Bytes(48)}, {Responder::Bytes(53)}}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    EXPECT_TRUE(Exchange(reply));
    EXPECT_EQ(dialog.m_receivedBytes, 52);
    EXPECT_EQ(reply.m_mode, 4);
    ASSERT_EQ(server.Requests().size(), 1u);
    const auto request = server.Requests()[0].bytes;
    ASSERT_EQ(request.size(), 68u);
    EXPECT_EQ(std::vector<uint8_t>(request.begin() + 48, request.end()), std::vector<uint8_t>(20, 0));

    EXPECT_FALSE(Exchange(reply));
    EXPECT_EQ(window.LogText(), "--Received 48 bytes, need exactly 52.");
    window.SetText(IDC_LOG, "");
    EXPECT_FALSE(Exchange(reply));
    EXPECT_EQ(window.LogText(), "*receive error no. 10040 (Message too long)");
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

// A stray datagram is always ready to be read: the wait must still end.
class EndlessStraySockets : public FaultySockets {
public:
    int WaitReadable(SocketHandle, int64_t) override { return 1; }
    int RecvFrom(SocketHandle, uint8_t* buffer, int capacity, SockAddrIn* from) override
    {
        std::fill(buffer, buffer + capacity, uint8_t{0x24});
        from->family = AddressFamilyIPv4;
        from->address = htonl(0x7F000002u);
        from->port = htons(123);
        return capacity;
    }
};

TEST(TransportStrays, EndlessStraysEndInTheTimeOut)
{
    FakeWindow window;
    FakeClock clock;
    EndlessStraySockets sockets;
    CTikkaraDlg dialog(window, sockets, clock);
    window.SetText(IDC_SERVER, "127.0.0.1:4711");
    window.SetChecked(IDC_PORT123, true);
    ASSERT_TRUE(dialog.OpenSocket() && dialog.SetServer(""));
    CNtpMsg reply;
    bool received = true;
    const double taken = SecondsTaken([&] { received = dialog.ReceiveReply(reply, 1, true); });
    EXPECT_FALSE(received);
    EXPECT_LT(taken, 1.5);
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

TEST_F(TransportTest, WaitFailureLogsSocketErrorAndClosesRandomPortSocket)
{
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(Connect(server.ServerText()));
    sockets.FailNext(SocketCall::WaitReadable, 10050);
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply));
    EXPECT_EQ(window.LogText(), "--Socket Error.");
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
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

struct ReadErrorCase {
    int code;
    const char* line;
};

class ReadErrorTest : public TransportTest, public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(ReadErrorTest, EachCodeHasItsText)
{
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(Connect(server.ServerText()));
    sockets.FailNext(SocketCall::RecvFrom, GetParam().code);
    CNtpMsg reply;
    EXPECT_FALSE(Exchange(reply));
    EXPECT_EQ(window.LogText(), GetParam().line);
}
INSTANTIATE_TEST_SUITE_P(
    Table, ReadErrorTest,
    ::testing::Values(ReadErrorCase{10013, "*receive error no. 10013 (Permission denied)"},
                      ReadErrorCase{10040, "*receive error no. 10040 (Message too long)"},
                      ReadErrorCase{10048, "*receive error no. 10048 (Address already in use)"},
                      ReadErrorCase{10050, "*receive error no. 10050 (Network is down)"},
                      ReadErrorCase{10051, "*receive error no. 10051 (Network is unreachable)"},
                      ReadErrorCase{10054, "*receive error no. 10054 (Connection reset by peer)"},
                      ReadErrorCase{10061, "*receive error no. 10061 (Connection refused)"},
                      ReadErrorCase{10060, "*receive error no. 10060 "}));

TEST_F(TransportTest, SendFailureReturnsMinusOne)
{
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(Connect(server.ServerText()));
    sockets.FailNext(SocketCall::SendTo, 10051);
    EXPECT_EQ(dialog.SendRequest(CNtpMsg()), -1);
    EXPECT_EQ(dialog.SendRequest(CNtpMsg()), 48);
}

// --- Strangers and stale answers -------------------------------------------

class StrangerTest : public TransportTest, public ::testing::WithParamInterface<Source> {};

TEST_P(StrangerTest, DatagramFromElsewhereIsDroppedAndTheServerAnswerTaken)
{
    Responder server(Responder::Always({Responder::Message(ReplyWithStratum(9), 0, GetParam()),
                                        Responder::Bytes(68, 0, GetParam()),
                                        Responder::Message(ReplyWithStratum(2), 100)}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    ASSERT_TRUE(Exchange(reply));
    EXPECT_EQ(reply.m_stratum, 2);
    EXPECT_EQ(window.LogText(), "");
}

TEST_P(StrangerTest, StrangersDoNotStretchTheTimeOut)
{
    Responder server(Responder::Always({Responder::Message(ReplyWithStratum(9), 100, GetParam())}));
    ASSERT_TRUE(Connect(server.ServerText()));
    CNtpMsg reply;
    bool received = true;
    const double taken = ClockSecondsTaken([&] { received = Exchange(reply, 2); });
    EXPECT_FALSE(received);
    EXPECT_GE(taken, 1.99);
    EXPECT_LT(taken, 2.5);
    EXPECT_EQ(window.LogText(), "--No answer from Server. timed out.");
}
INSTANTIATE_TEST_SUITE_P(Sources, StrangerTest, ::testing::Values(Source::OtherPort, Source::OtherAddress));

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

TEST_F(TransportTest, OpenSocketReportsEachFailure)
{
    sockets.FailNext(SocketCall::Startup, 10091);
    EXPECT_FALSE(dialog.OpenSocket());
    EXPECT_EQ(window.LogText(), "--Error at socket-initialisation.");
    EXPECT_EQ(sockets.Count(SocketCall::Cleanup), 0);

    window.SetText(IDC_LOG, "");
    sockets.FailNext(SocketCall::CreateUdpSocket, 10024);
    EXPECT_FALSE(dialog.OpenSocket());
    EXPECT_EQ(window.LogText(), "--Error at socket creation: 10024");
    EXPECT_EQ(sockets.Count(SocketCall::Cleanup), 1) << "the start-up is released";
}

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
