// The exchange engine through the dialog's transport: one table of what the
// server sends back (or which socket call fails), the request's variant, the
// value the engine returns and the line the operator reads; then what a
// value carries besides.
#include "support/DialogRig.h"
#include "support/NtpSamples.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

namespace {
using Responder = CUdpResponder;
using Source = CUdpResponder::Source;
using O = ExchangeOutcome;

struct EngineCase {
    const char* name;
    std::vector<Responder::Datagram> answer; // sent back for every request
    SocketCall failing = SocketCall::Startup; // Startup: nothing fails
    int error = 0;                            // the injected error, or the one expected
    bool authenticator = false;
    O outcome;
    const char* line; // the operator's line for the outcome
    int closes = 0;   // random-port sockets given up by the failure
    int requestBytes = 48;
};

CNtpMsg Stratum(int stratum)
{
    CNtpMsg m;
    m.m_mode = NtpModeServer;
    m.m_stratum = static_cast<uint8_t>(stratum);
    return m;
}

const EngineCase Cases[] = {
    {"exact", {Responder::Bytes(48)}, SocketCall::Startup, 0, false, O::Answered, ""},
    {"short", {Responder::Bytes(47)}, SocketCall::Startup, 0, false, O::WrongSize, "--Received 47 bytes, need exactly 48."},
    {"empty", {Responder::Bytes(0)}, SocketCall::Startup, 0, false, O::WrongSize, "--Received 0 bytes, need exactly 48."},
    {"one byte", {Responder::Bytes(1)}, SocketCall::Startup, 0, false, O::WrongSize, "--Received 1 bytes, need exactly 48."},
    {"long", {Responder::Bytes(49)}, SocketCall::Startup, 10040, false, O::ReceiveFailed, "*receive error no. 10040 (Message too long)"},
    {"auth-sized", {Responder::Bytes(68)}, SocketCall::Startup, 10040, false, O::ReceiveFailed, "*receive error no. 10040 (Message too long)"},
    {"auth exact", {Responder::Bytes(52)}, SocketCall::Startup, 0, true, O::Answered, "", 0, 68},
    {"auth plain", {Responder::Bytes(48)}, SocketCall::Startup, 0, true, O::WrongSize, "--Received 48 bytes, need exactly 52.", 0, 68},
    {"auth long", {Responder::Bytes(53)}, SocketCall::Startup, 10040, true, O::ReceiveFailed, "*receive error no. 10040 (Message too long)", 0, 68},
    {"strangers first", {Responder::Message(Stratum(9), 0, Source::OtherPort), Responder::Bytes(68, 0, Source::OtherAddress), Responder::Message(Stratum(2), 50)},
     SocketCall::Startup, 0, false, O::Answered, ""},
    {"silence", {}, SocketCall::Startup, 0, false, O::TimedOut, "--No answer from Server. timed out.", 1},
    {"only strangers", {Responder::Message(Stratum(9), 0, Source::OtherAddress)}, SocketCall::Startup, 0, false, O::TimedOut, "--No answer from Server. timed out.", 1},
    {"wait fails", {Responder::Bytes(48)}, SocketCall::WaitReadable, 10050, false, O::WaitFailed, "--Socket Error.", 1},
    {"send fails", {Responder::Bytes(48)}, SocketCall::SendTo, 10051, false, O::SendFailed, "Socket Error while sending."},
    {"port closed", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10054, false, O::ClosedPort, "*receive error no. 10054 (Connection reset by peer)"},
    {"denied", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10013, false, O::ReceiveFailed, "*receive error no. 10013 (Permission denied)"},
    {"in use", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10048, false, O::ReceiveFailed, "*receive error no. 10048 (Address already in use)"},
    {"net down", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10050, false, O::ReceiveFailed, "*receive error no. 10050 (Network is down)"},
    {"unreachable", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10051, false, O::ReceiveFailed, "*receive error no. 10051 (Network is unreachable)"},
    {"refused", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10061, false, O::ReceiveFailed, "*receive error no. 10061 (Connection refused)"},
    {"too long read", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10040, false, O::ReceiveFailed, "*receive error no. 10040 (Message too long)"},
    {"unlisted code", {Responder::Bytes(48)}, SocketCall::RecvFrom, 10060, false, O::ReceiveFailed, "*receive error no. 10060 "},
};

class EngineTableTest : public ::testing::TestWithParam<EngineCase>, public DialogRig {};

TEST_P(EngineTableTest, OutcomeAndTheOperatorsLine)
{
    const EngineCase& c = GetParam();
    Responder server(Responder::Always(c.answer));
    window.SetChecked(IDC_AUTH, c.authenticator);
    ASSERT_TRUE(Connect(server.ServerText()));
    if (c.failing != SocketCall::Startup)
        sockets.FailNext(c.failing, c.error);

    CNtpMsg reply;
    const bool sent = dialog.SendRequest(dialog.Engine().NewRequest(false)) >= 0;
    const bool answered = sent && dialog.ReceiveReply(reply, 2, true);

    const NtpExchange& exchange = dialog.LastExchange();
    EXPECT_EQ(answered, c.outcome == O::Answered);
    EXPECT_EQ(exchange.outcome, c.outcome);
    EXPECT_EQ(exchange.error, c.error);
    EXPECT_EQ(ExchangeFailureText(exchange), c.line);
    // The transport logs what it detects; a failed send is the query's to log.
    EXPECT_EQ(window.LogText(), c.outcome == O::SendFailed ? "" : c.line);
    EXPECT_EQ(exchange.request.size(), static_cast<size_t>(c.requestBytes));
    EXPECT_EQ(sockets.Count(SocketCall::Close), c.closes);
    if (exchange.ReadADatagram()) {
        EXPECT_EQ(dialog.m_receivedBytes, exchange.receivedBytes);
    }
    if (answered) {
        EXPECT_EQ(reply.m_stratum, exchange.reply.m_stratum);
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, EngineTableTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

class EngineTest : public ::testing::Test, public DialogRig {};

// Precise T1 and T4 around the wire's T1, offset and delay from them, and a
// transmit time whose bits below the millisecond no clock reading predicts.
TEST_F(EngineTest, AnAnswerCarriesPreciseTimesAndTheRequestCannotBeGuessed)
{
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(Connect(server.ServerText()));
    const CNtpMsg request = dialog.Engine().NewRequest(false);
    NtpExchange first;
    std::vector<uint32_t> fractions;
    for (int n = 0; n < 2; ++n) {
        CNtpMsg reply;
        ASSERT_TRUE(dialog.SendRequest(request) == 48 && dialog.ReceiveReply(reply, 2, true));
        const NtpExchange& e = dialog.LastExchange();
        EXPECT_EQ(MulHigh32(1000, e.requestTransmit.Fraction), MulHigh32(1000, request.m_transmit.Fraction));
        fractions.push_back(e.requestTransmit.Fraction);
        if (n == 0)
            first = e;
    }
    EXPECT_NE(fractions[0], fractions[1]) << "the same millisecond, different bits below it";

    EXPECT_EQ(first.reply.m_originate, first.requestTransmit) << "the server echoes the wire's T1";
    EXPECT_NEAR(NtpSecondsBetween(first.sentAt, first.requestTransmit), 0.0, 0.01);
    const double roundTrip = RoundTripSeconds(first);
    EXPECT_GE(roundTrip, 0.0);
    EXPECT_LT(roundTrip, 0.1) << "loopback";
    // The responder stamps with this machine's clock: the offset is the path's asymmetry.
    EXPECT_LT(std::abs(ClockOffsetSeconds(first)), 0.05);
    EXPECT_EQ(MeasurementText(first).rfind("Offset ", 0), 0u) << MeasurementText(first);
}

// T1 and T4 as the kernel stamped them, each read in user space instead where
// the layer hands out no stamp, on the clock's time base either way; the
// status line says which were not the kernel's.
struct SourcesCase {
    const char* name;
    bool stampSent, stampArrival;
    const char* note;
};

class TimestampSourceTest : public ::testing::TestWithParam<SourcesCase>, public DialogRig {};

TEST_P(TimestampSourceTest, KernelTimesWhereStampedOnTheClocksTimeBase)
{
    const SourcesCase& c = GetParam();
    clock.SetWallTime(WallTime{1704067200, 0}); // 2024: far from the real clock
    Responder server(Responder::NtpServer());
    ASSERT_TRUE(Connect(server.ServerText()));
    if (!c.stampSent)
        sockets.FailNext(SocketCall::SentTime, 0, -1);
    if (!c.stampArrival)
        sockets.FailNext(SocketCall::ArrivalTime, 0, -1);
    CNtpMsg reply;
    ASSERT_TRUE(Exchange(reply));
    const NtpExchange& e = dialog.LastExchange();
    EXPECT_EQ(e.sentSource, c.stampSent ? TimeSource::Kernel : TimeSource::User);
    EXPECT_EQ(e.arrivalSource, c.stampArrival ? TimeSource::Kernel : TimeSource::User);
    EXPECT_NEAR(NtpSecondsBetween(e.sentAt, e.requestTransmit), 0.0, 0.01);
    const double wait = NtpSecondsBetween(e.arrivedAt, e.sentAt);
    EXPECT_GT(wait, 0.0);
    EXPECT_LT(wait, 0.5);
    EXPECT_TRUE(MeasurementText(e).ends_with(c.note)) << MeasurementText(e);
}
INSTANTIATE_TEST_SUITE_P(Sources, TimestampSourceTest,
                         ::testing::Values(SourcesCase{"Kernel", true, true, " ms"},
                                           SourcesCase{"UserT1", false, true, " ms (user-space T1)"},
                                           SourcesCase{"UserT4", true, false, " ms (user-space T4)"},
                                           SourcesCase{"User", false, false, " ms (user-space timestamps)"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A socket that cannot be had is an outcome with the window's text, and
// its start-up is released.
TEST_F(EngineTest, SocketFailuresAreOutcomes)
{
    NtpExchange e;
    sockets.FailNext(SocketCall::Startup, 10091);
    EXPECT_EQ(dialog.Engine().OpenSocket(e), InvalidSocket);
    EXPECT_EQ(ExchangeFailureText(e), "--Error at socket-initialisation.");
    sockets.FailNext(SocketCall::CreateUdpSocket, 10024);
    EXPECT_EQ(dialog.Engine().OpenSocket(e), InvalidSocket);
    EXPECT_EQ(ExchangeFailureText(e), "--Error at socket creation: 10024");
    EXPECT_EQ(sockets.Count(SocketCall::Cleanup), 1) << "the start-up is released";
}

// One socket carries exchanges with several servers at once: each answer
// settles the exchange of its sender, a later send leaves the answers queued
// before it, and a stranger's datagram or an answer to another request
// settles nothing.
TEST_F(EngineTest, OneSocketCarriesManyExchanges)
{
    Responder server(Responder::NtpServer(), "127.0.0.2");
    Responder stale(Responder::Always({Responder::Message(GpsAnswer())}), "127.0.0.3");
    Responder elsewhere(Responder::Always({Responder::Message(GpsAnswer(), 0, Source::OtherAddress)}), "127.0.0.4");
    CExchangeEngine& engine = dialog.Engine();
    NtpExchange failure;
    SocketHandle socket = engine.OpenSocket(failure);
    ASSERT_NE(socket, InvalidSocket);
    ExchangeOptions options;
    options.sharedSocket = true;
    options.accept = EchoesTheRequest;

    NtpExchange exchanges[3];
    Responder* servers[] = {&server, &stale, &elsewhere};
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(engine.Send(socket, servers[n]->Endpoint(), engine.NewRequest(false), options, exchanges[n]), 48);
        // The first answer is queued before the next send; all are sent before the reads.
        ASSERT_TRUE(n > 0 ? servers[n]->WaitForRequests(1, std::chrono::seconds(2))
                          : sockets.WaitReadable(socket, 2000000) == 1);
    }
    std::vector<NtpExchange*> settled;
    const auto inFlight = [&](const SockAddrIn& from) -> NtpExchange* {
        for (int n = 0; n < 3; ++n)
            if (from.family != 0 && from.SameEndpoint(servers[n]->Endpoint()))
                return &exchanges[n];
        return nullptr;
    };
    for (int reads = 0; reads < 10; ++reads)
        if (NtpExchange* e = engine.ReceiveAny(socket, options, 100000, inFlight))
            settled.push_back(e);
    engine.CloseSocket(socket);

    EXPECT_EQ(settled, std::vector<NtpExchange*>{&exchanges[0]});
    EXPECT_TRUE(AnswersTheRequest(exchanges[0]));
    EXPECT_EQ(exchanges[0].sentSource, TimeSource::Kernel) << "its own send's stamp, not a later one's";
    EXPECT_EQ(exchanges[0].arrivalSource, TimeSource::Kernel);
    EXPECT_EQ(exchanges[1].outcome, O::NotRun) << "an answer to another request waits on";
    EXPECT_EQ(exchanges[1].rejected.size(), 48u);
    EXPECT_EQ(exchanges[2].outcome, O::NotRun) << "a stranger's datagram is dropped";
}

} // namespace
