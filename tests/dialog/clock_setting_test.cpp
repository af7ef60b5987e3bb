// Setting the clock from an answer's transmit time, through the fake clock:
// the record handed over, the answers that may not set it, and the log line
// whenever the clock was not set.
#include "query/ClockSetting.h"
#include "support/JitterRig.h"
#include "support/NtpSamples.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

namespace {
constexpr uint32_t FractionPerMs = 4294967u;

SystemTime Utc(int year, int month, int dayOfWeek, int day, int hour, int minute, int second, int ms)
{
    return SystemTime{static_cast<uint16_t>(year),   static_cast<uint16_t>(month),
                      static_cast<uint16_t>(dayOfWeek), static_cast<uint16_t>(day),
                      static_cast<uint16_t>(hour),   static_cast<uint16_t>(minute),
                      static_cast<uint16_t>(second), static_cast<uint16_t>(ms)};
}

class ClockSettingTest : public ::testing::Test, public DialogRig {
protected:
    // A sound answer to the request sent with the transmit time `request`.
    std::vector<SystemTime> SetFrom(uint32_t seconds, uint32_t fraction, NtpTimestamp request = {NewYear2024, 7})
    {
        NtpExchange answer;
        answer.outcome = ExchangeOutcome::Answered;
        answer.requestTransmit = answer.sentAt = request;
        answer.reply.m_stratum = 1;
        answer.reply.m_originate = request;
        answer.reply.m_receive = answer.reply.m_transmit = answer.arrivedAt = NtpTimestamp{seconds, fraction};
        dialog.SetClockFromReply(answer, true);
        return clock.Settings();
    }
};

TEST_F(ClockSettingTest, HalfASecondIntoNewYear2024)
{
    EXPECT_EQ(SetFrom(NewYear2024, 0x80000000u), std::vector<SystemTime>{Utc(2024, 1, 1, 1, 0, 0, 0, 500)});
}

TEST_F(ClockSettingTest, ZeroSecondsLeaveTheClockAlone)
{
    EXPECT_TRUE(SetFrom(0, 0x80000000u).empty());
}

TEST_F(ClockSettingTest, SecondsBelow1970AreTheNextEra)
{
    EXPECT_EQ(TransmitTimeToSystemTime({100, 0}), Utc(2036, 2, 4, 7, 6, 29, 56, 0));
    EXPECT_EQ(TransmitTimeToSystemTime({2208988800u, 0}), Utc(1970, 1, 4, 1, 0, 0, 0, 0));
    EXPECT_EQ(TransmitTimeToSystemTime({2208988799u, 0}), Utc(2106, 2, 0, 7, 6, 28, 15, 0));
    EXPECT_EQ(TransmitTimeToSystemTime({0xFFFFFFFFu, 0}), Utc(2036, 2, 4, 7, 6, 28, 15, 0));
}

TEST_F(ClockSettingTest, MillisecondsAreTruncatedAndHeldAt999)
{
    const std::pair<uint32_t, int> cases[] = {
        {0, 0},
        {FractionPerMs - 1, 0},
        {FractionPerMs, 1},
        {999 * FractionPerMs - 1, 998},
        {999 * FractionPerMs, 999},
        {1000 * FractionPerMs - 1, 999},
        {1000 * FractionPerMs, 999}, // 1000 by the plain division
        {0xFFFFFFFFu, 999},
    };
    for (const auto& [fraction, ms] : cases) {
        SCOPED_TRACE(fraction);
        EXPECT_EQ(TransmitTimeToSystemTime({NewYear2024, fraction}).wMilliseconds, ms);
    }
    // Every record handed over is one the real clock would accept.
    EXPECT_EQ(SetFrom(NewYear2024 + 59, 0xFFFFFFFFu), std::vector<SystemTime>{Utc(2024, 1, 1, 1, 0, 0, 59, 999)});
}

TEST_F(ClockSettingTest, RefusedSettingIsLoggedWithItsReason)
{
    clock.SetResult(false, "Automatic time synchronization is enabled");
    window.SetText(IDC_LOG, "before");
    EXPECT_EQ(SetFrom(NewYear2024, 0).size(), 1u);
    EXPECT_EQ(window.LogText(), "before\r\n--System time not set: Automatic time synchronization is enabled\r\n");
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// --- Answers the clock must not be set from, in a whole query ---------------

struct UnsoundAnswer {
    const char* name;
    void (*spoil)(CNtpMsg& answer);
    const char* reason;
};

const UnsoundAnswer UnsoundAnswers[] = {
    {"Leap3", [](CNtpMsg& a) { a.m_leap = 3; }, "server not synchronised (leap indicator 3)"},
    {"Stratum0", [](CNtpMsg& a) { a.m_stratum = 0; }, "unusable stratum 0"},
    {"Stratum16", [](CNtpMsg& a) { a.m_stratum = 16; }, "unusable stratum 16"},
    {"OtherOriginate", [](CNtpMsg& a) { a.m_originate.Fraction ^= 1; },
     "Originate Timestamp is not this request's Transmit Timestamp"},
    {"NoTransmitTime", [](CNtpMsg& a) { a.m_transmit.Seconds = 0; }, "no Transmit Timestamp in the answer"},
    {"HeldLongerThanTheRoundTrip", [](CNtpMsg& a) { a.m_transmit.Seconds += 10; },
     "inconsistent timestamps: the server held the request longer than the whole round trip took"},
};

class ClockTrustTest : public ::testing::TestWithParam<UnsoundAnswer>, public DialogRig {
protected:
    // Queries a server whose answers `spoil` (when given) changes, with
    // "Set System &Time" checked; returns the answer sent.
    CNtpMsg Query(void (*spoil)(CNtpMsg&))
    {
        CNtpMsg sent;
        CUdpResponder server([&](const CUdpResponder::Request& request) {
            sent = CUdpResponder::ServerReply(request);
            if (spoil)
                spoil(sent);
            return std::vector<CUdpResponder::Datagram>{CUdpResponder::Message(sent)};
        });
        window.SetChecked(IDC_SET_TIME, true);
        window.SetText(IDC_SERVER, server.ServerText());
        dialog.OnCommand(IDC_GO);
        return sent;
    }
};

TEST_P(ClockTrustTest, UnsoundAnswerIsReportedButDoesNotSetTheClock)
{
    const CNtpMsg sent = Query(GetParam().spoil);
    EXPECT_TRUE(clock.Settings().empty());
    const std::string log = window.LogText();
    // The line stands where the clock would have been set, before the report.
    const std::string line = std::string("\r\n--System time not set: ") + GetParam().reason + "\r\n\r\n+--Result";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find("--System time not set:"), log.rfind("--System time not set:")) << "one line";
    EXPECT_NE(log.find("Packet size: 48 bytes"), std::string::npos);
    EXPECT_NE(log.find(sent.GetPacketContent()), std::string::npos) << "the answer is reported as it came";
    EXPECT_NE(log.find(sent.GetTimeZoneText()), std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(Answers, ClockTrustTest, ::testing::ValuesIn(UnsoundAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClockTrustTest, SoundAnswerSetsTheClockAndLogsNothingMore)
{
    const CNtpMsg sent = Query(nullptr);
    EXPECT_EQ(clock.Settings(), std::vector<SystemTime>{TransmitTimeToSystemTime(sent.m_transmit)});
    EXPECT_EQ(window.LogText().find("--System"), std::string::npos);
}

class ClockTrustJitterTest : public ::testing::Test, public JitterRig {};

TEST_F(ClockTrustJitterTest, MonitorNeverSetsTheClockFromAnUnsoundPoll)
{
    CUdpResponder server([](const CUdpResponder::Request& request) {
        CNtpMsg answer = CUdpResponder::ServerReply(request);
        answer.m_stratum = 16;
        return std::vector<CUdpResponder::Datagram>{CUdpResponder::Message(answer)};
    });
    window.SetChecked(IDC_SET_TIME, true);
    StopAfterRefreshes(3);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_GE(server.Requests().size(), 2u);
    EXPECT_TRUE(clock.Settings().empty());
    EXPECT_TRUE(LoggedSomewhere("\r\n--System time not set: unusable stratum 16"));
    EXPECT_EQ(Stats().back().good, Stats().back().total) << "the polls still count as good";
}

TEST_F(ClockTrustJitterTest, MonitorAsksNoMoreAfterTheSettingWasRefused)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    clock.SetResult(false, "Request dismissed");
    window.SetChecked(IDC_SET_TIME, true);
    StopAfterRefreshes(4);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_GE(server.Requests().size(), 3u);
    EXPECT_EQ(clock.Settings().size(), 1u) << "asked once";
    EXPECT_TRUE(LoggedSomewhere("\r\n--System time not set: Request dismissed"));
    EXPECT_TRUE(LoggedSomewhere("--System time is not set again while the monitor runs."));
}

} // namespace
