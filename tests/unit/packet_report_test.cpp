#include "ntp/NtpMsg.h"
#include "support/TextLines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Runs a test under a chosen local time zone and restores the previous one.
class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        m_hadZone = tz != nullptr;
        if (m_hadZone)
            m_savedZone = tz;
        UseZone("UTC0");
    }
    void TearDown() override
    {
        if (m_hadZone)
            setenv("TZ", m_savedZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void UseZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }

private:
    bool m_hadZone = false;
    std::string m_savedZone;
};

CNtpMsg MessageWithRefId(uint8_t stratum, std::vector<uint8_t> id)
{
    CNtpMsg msg;
    msg.m_stratum = stratum;
    std::copy(id.begin(), id.end(), msg.m_refId);
    return msg;
}

// The line of the packet box that carries `label`.
std::string BoxLine(const CNtpMsg& msg, const std::string& label)
{
    for (const std::string& line : Lines(msg.GetPacketContent()))
        if (line.rfind("| " + label, 0) == 0)
            return line;
    return "(no line " + label + ")";
}

// The value of a box line, trailing blanks and bar removed.
std::string BoxValue(const CNtpMsg& msg, const std::string& label)
{
    std::string line = BoxLine(msg, label);
    if (line.size() < 25)
        return line;
    line = line.substr(24, line.size() - 25);
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

CNtpMsg SampleMessage()
{
    CNtpMsg msg = MessageWithRefId(2, {0xC0, 0xA8, 0x01, 0x01});
    msg.m_version = 4;
    msg.m_mode = 4;
    msg.m_poll = 6;
    msg.m_precision = -20;
    msg.m_rootDelay = 0.0123;
    msg.m_rootDispersion = 1.5;
    msg.m_reference = {4005568800u, 0};     // 06.12.2026 18:00:00 UTC
    msg.m_originate = {0, 5};
    msg.m_receive = {4005570000u, 0x40000000};
    msg.m_transmit = {4005570000u, MsToNtpFraction(999)};
    return msg;
}

TEST(GetRefIdText, RendersByStratumAndContent)
{
    EXPECT_EQ(MessageWithRefId(1, {0x47, 0x50, 0x53, 0x00}).GetRefIdText(), "GPS ");
    EXPECT_EQ(MessageWithRefId(0, {'I', 'N', 'I', 'T'}).GetRefIdText(), "INIT");
    EXPECT_EQ(MessageWithRefId(1, {0, 0, 0, 0}).GetRefIdText(), "    ");
    EXPECT_EQ(MessageWithRefId(2, {0xC0, 0xA8, 0x01, 0x01}).GetRefIdText(), "192.168.1.1");
    EXPECT_EQ(MessageWithRefId(16, {0xC0, 0xA8, 0x01, 0x01}).GetRefIdText(), "192 168 1 1");
    EXPECT_EQ(MessageWithRefId(0, {0x41, 0x00, 0x42, 0x43}).GetRefIdText(), "A   ");
    EXPECT_EQ(MessageWithRefId(15, {0, 0, 0, 0}).GetRefIdText(), "0.0.0.0");
    EXPECT_EQ(MessageWithRefId(2, {0x47, 0x50, 0x53, 0x00}).GetRefIdText(), "71.80.83.0");
    EXPECT_EQ(MessageWithRefId(255, {'L', 'O', 'S', 'T'}).GetRefIdText(), "LOST");
    EXPECT_EQ(MessageWithRefId(1, {'L', 'O', 'C', 0x7F}).GetRefIdText(), "76 79 67 127");
    EXPECT_EQ(MessageWithRefId(1, {' ', '~', 0x1F, 'x'}).GetRefIdText(), "32 126 31 120");
}

TEST(PadRight, AppendsBlanksButNeverCuts)
{
    EXPECT_EQ(PadRight("ab", 5), "ab   ");
    EXPECT_EQ(PadRight("", 3), "   ");
    EXPECT_EQ(PadRight("abc", 3), "abc");
    EXPECT_EQ(PadRight("abcdef", 3), "abcdef");
    EXPECT_EQ(PadRight("abc", 0), "abc");
}

TEST_F(ZoneTest, FormatNtpTimestampShowsLocalTimeWithMilliseconds)
{
    EXPECT_EQ(FormatNtpTimestamp({0, 0}), "0");
    EXPECT_EQ(FormatNtpTimestamp({0, 0xFFFFFFFF}), "0");
    EXPECT_EQ(FormatNtpTimestamp({2208988800u, 0}), "01.01.1970 00:00:00.000");
    EXPECT_EQ(FormatNtpTimestamp({4005570000u, 0x40000000}), "06.12.2026 18:20:00.250");
    EXPECT_EQ(FormatNtpTimestamp({4005570000u, MsToNtpFraction(999)}), "06.12.2026 18:20:00.998");
    EXPECT_EQ(FormatNtpTimestamp({4005570000u, 0xFFFFFFFF}), "06.12.2026 18:20:00.999");
    EXPECT_EQ(FormatNtpTimestamp({4005570000u, MsToNtpFraction(7)}), "06.12.2026 18:20:00.006");
    // Seconds below the Unix epoch belong to era 1.
    EXPECT_EQ(FormatNtpTimestamp({1, 0}), "07.02.2036 06:28:17.000");
    EXPECT_EQ(FormatNtpTimestamp({2208988799u, 0}), "07.02.2106 06:28:15.000");
}

TEST_F(ZoneTest, FormatNtpTimestampAppliesTheZoneRulesOfThatInstant)
{
    UseZone("<+02>-2");
    EXPECT_EQ(FormatNtpTimestamp({2208988800u, 0}), "01.01.1970 02:00:00.000");
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(FormatNtpTimestamp({3991896000u, 0}), "01.07.2026 14:00:00.000");
    EXPECT_EQ(FormatNtpTimestamp({3977467200u, 0}), "15.01.2026 13:00:00.000");
}

TEST_F(ZoneTest, PacketContentIsTheWholeBox)
{
    const std::vector<std::string> expected = {
        "+--Packet Content--------------------------------+",
        "|                                                |",
        "| Leap Indicator:       0 (no warning)           |",
        "| Version:              4                        |",
        "| Mode:                 4 (server)               |",
        "| Stratum:              2                        |",
        "| Poll Interval:        6 (64.00 s)              |",
        "| Precision:            -20 (0.001 ms)           |",
        "| Root Delay:           0.01                     |",
        "| Root Dispersion:      1.50                     |",
        "| Reference Identifier: 192.168.1.1              |",
        "| Reference Timestamp:  06.12.2026 18:00:00.000  |",
        "| Originate Timestamp:  0                        |",
        "| Receive Timestamp:    06.12.2026 18:20:00.250  |",
        "| Transmit Timestamp:   06.12.2026 18:20:00.998  |",
        "|                                                |",
        "+------------------------------------------------+",
    };
    const std::string box = SampleMessage().GetPacketContent();
    EXPECT_EQ(Lines(box), expected);
    EXPECT_NE(box.substr(box.size() - 2), "\r\n");
    EXPECT_EQ(box.find('\n'), box.find("\r\n") + 1);
}

TEST(PacketContent, NamesEveryLeapAndMode)
{
    const char* const leapNames[] = {"no warning", "add 1 second", "remove 1 second",
                                     "alarm condition", "unknown"};
    const char* const modeNames[] = {"reserved", "symmetric active", "symmetric passive",
                                     "client", "server", "broadcast", "NTP control message",
                                     "private use", "unknown"};
    CNtpMsg msg;
    for (int leap = 0; leap < 5; ++leap) {
        msg.m_leap = static_cast<uint8_t>(leap);
        EXPECT_EQ(BoxValue(msg, "Leap Indicator:"), std::to_string(leap) + " (" + leapNames[leap] + ")");
    }
    for (int mode = 0; mode < 9; ++mode) {
        msg.m_mode = static_cast<uint8_t>(mode);
        EXPECT_EQ(BoxValue(msg, "Mode:"), std::to_string(mode) + " (" + modeNames[mode] + ")");
        EXPECT_EQ(BoxLine(msg, "Mode:").size(), 50u);
    }
    msg.m_leap = 200;
    EXPECT_EQ(BoxValue(msg, "Leap Indicator:"), "200 (unknown)");
    msg.m_mode = 6;
    EXPECT_EQ(BoxLine(msg, "Mode:"), "| Mode:                 6 (NTP control message)  |");
}

TEST(PacketContent, NumericFields)
{
    CNtpMsg msg;
    msg.m_version = 4;
    EXPECT_EQ(BoxLine(msg, "Version:"), "| Version:              4                        |");
    msg.m_version = 7;
    EXPECT_EQ(BoxValue(msg, "Version:"), "7");
    msg.m_stratum = 200;
    EXPECT_EQ(BoxValue(msg, "Stratum:"), "200");
    msg.m_rootDelay = 0.0123;
    msg.m_rootDispersion = 1.5;
    EXPECT_EQ(BoxValue(msg, "Root Delay:"), "0.01");
    EXPECT_EQ(BoxValue(msg, "Root Dispersion:"), "1.50");
    msg.m_rootDelay = 65535.0 + 65535.0 / 65536.0;
    EXPECT_EQ(BoxValue(msg, "Root Delay:"), "65536.00");
}

TEST(PacketContent, PowersOfTwoAreExact)
{
    CNtpMsg msg;
    const std::pair<uint8_t, const char*> polls[] = {
        {0, "0 (1.00 s)"}, {10, "10 (1024.00 s)"}, {17, "17 (131072.00 s)"}};
    for (const auto& [poll, text] : polls) {
        msg.m_poll = poll;
        EXPECT_EQ(BoxValue(msg, "Poll Interval:"), text);
    }
    char exact[400];
    std::snprintf(exact, sizeof exact, "250 (%.2f s)", std::ldexp(1.0, 250));
    msg.m_poll = 0xFA;
    EXPECT_EQ(BoxValue(msg, "Poll Interval:"), exact);

    const std::pair<int8_t, const char*> precisions[] = {{0, "0 (1000.000 ms)"},
                                                         {-29, "-29 (0.000 ms)"},
                                                         {-20, "-20 (0.001 ms)"},
                                                         {-6, "-6 (15.625 ms)"},
                                                         {-10, "-10 (0.977 ms)"},
                                                         {3, "3 (8000.000 ms)"},
                                                         {-128, "-128 (0.000 ms)"}};
    for (const auto& [precision, text] : precisions) {
        msg.m_precision = precision;
        EXPECT_EQ(BoxValue(msg, "Precision:"), text);
    }
}

TEST(PacketContent, LongValuesPushTheBarOutwards)
{
    CNtpMsg msg;
    msg.m_poll = 49; // "49 (562949953421312.00 s)" is exactly 25 characters
    EXPECT_EQ(BoxLine(msg, "Poll Interval:").size(), 50u);
    msg.m_poll = 50;
    EXPECT_EQ(BoxLine(msg, "Poll Interval:"), "| Poll Interval:        50 (1125899906842624.00 s)|");
    msg.m_poll = 250;
    const std::string line = BoxLine(msg, "Poll Interval:");
    EXPECT_GT(line.size(), 50u);
    EXPECT_EQ(line.back(), '|');
    // The other lines keep their width.
    EXPECT_EQ(BoxLine(msg, "Stratum:").size(), 50u);
}

TEST_F(ZoneTest, TimeZoneTextGivesNameAndOffset)
{
    const CNtpMsg msg;
    EXPECT_EQ(msg.GetTimeZoneText(), "UTC (UTC +0:00)");
    UseZone("<-0330>3:30");
    EXPECT_EQ(msg.GetTimeZoneText(), "-0330 (UTC -3:30)");
    UseZone("<+02>-2");
    EXPECT_EQ(msg.GetTimeZoneText(), "+02 (UTC +2:00)");
    UseZone("<+0545>-5:45");
    EXPECT_EQ(msg.GetTimeZoneText(), "+0545 (UTC +5:45)");
    // At any hour one of these two zones lies on another calendar day than UTC.
    UseZone("<+14>-14");
    EXPECT_EQ(msg.GetTimeZoneText(), "+14 (UTC +14:00)");
    UseZone("<-12>12");
    EXPECT_EQ(msg.GetTimeZoneText(), "-12 (UTC -12:00)");
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::string cet = msg.GetTimeZoneText();
    EXPECT_TRUE(cet == "CET (UTC +1:00)" || cet == "CEST (UTC +2:00)") << cet;
}

} // namespace
