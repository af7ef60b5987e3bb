// OnOK from the operator's side: what the log pane holds after a query, for
// answers, failures and the options, against loopback responders.
#include "support/DialogRig.h"
#include "support/NtpSamples.h"
#include "support/TextLines.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string Blanks(size_t n) { return std::string(n, ' '); }

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

class QueryProcedureTest : public ::testing::Test {
protected:
    DialogRig rig;
    FakeWindow& window = rig.window;
    CTikkaraDlg& dlg = rig.dialog;

    void SetUp() override { dlg.OnInitDialog(); }

    void Query(const std::string& serverText)
    {
        if (m_descriptorsBefore < 0)
            m_descriptorsBefore = OpenDescriptors();
        window.SetText(IDC_SERVER, serverText);
        window.ClearRecords();
        dlg.OnCommand(IDC_GO);
    }

    void ExpectIdle()
    {
        const int controls[] = {IDC_SERVER, IDC_GO,   IDC_SET_TIME, IDC_PORT123,
                                IDC_AUTH,   IDC_SNTP, IDCANCEL,     IDC_CLEAR_LOG};
        for (int id : controls)
            EXPECT_TRUE(window.IsControlEnabled(id)) << "control " << id;
        EXPECT_TRUE(window.IsMenuBarItemEnabled(0));
    }

    void ExpectScrolledToEnd()
    {
        EXPECT_EQ(window.SelectionStart(), static_cast<int>(window.LogText().size()));
    }

    // Sockets the queries left open: the process's descriptors beyond those
    // it had when the first query began.
    int OpenSockets() { return OpenDescriptors() - m_descriptorsBefore; }

private:
    static int OpenDescriptors()
    {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            ++count;
        return count;
    }
    int m_descriptorsBefore = -1;
};

TEST_F(QueryProcedureTest, CompleteReportReadsLineByLine)
{
    ScopedTimeZone utc("UTC0");
    CUdpResponder server(CUdpResponder::Always({CUdpResponder::Message(GpsAnswer())}));
    Query(server.ServerText());

    const std::string port = std::to_string(server.Port());
    const std::vector<std::string> expected = {
        "Querying host 127.0.0.1:" + port + " from random port",
        "",
        "+--Result--------------------------------+",
        "|" + Blanks(40) + "|",
        "| 127.0.0.1 is online" + Blanks(19) + " |",
        "| at Stratum   1" + Blanks(25) + "|",
        "| Reference is GPS " + Blanks(22) + "|",
        "|" + Blanks(40) + "|",
        "| Quick Description:                     |",
        "| NTP Server is running and synced." + Blanks(5) + " |",
        "|" + Blanks(40) + "|",
        "+----------------------------------------+",
        "",
        "Packet size: 48 bytes",
        "",
        "+--Packet Content--------------------------------+",
        "|" + Blanks(48) + "|",
        "| Leap Indicator:       0 (no warning)" + Blanks(11) + "|",
        "| Version:              4 " + Blanks(23) + "|",
        "| Mode:                 4 (server)" + Blanks(15) + "|",
        "| Stratum:              1" + Blanks(24) + "|",
        "| Poll Interval:        6 (64.00 s)" + Blanks(14) + "|",
        "| Precision:            -20 (0.001 ms)" + Blanks(11) + "|",
        "| Root Delay:           0.00" + Blanks(21) + "|",
        "| Root Dispersion:      0.50" + Blanks(21) + "|",
        "| Reference Identifier: GPS " + Blanks(21) + "|",
        "| Reference Timestamp:  01.01.2024 00:00:00.000  |",
        "| Originate Timestamp:  01.01.2024 00:00:01.500  |",
        "| Receive Timestamp:    01.01.2024 00:00:02.250  |",
        "| Transmit Timestamp:   01.01.2024 00:00:02.250  |",
        "|" + Blanks(48) + "|",
        "+------------------------------------------------+",
        "",
        "Timestamps shown in local time zone:",
        "UTC (UTC +0:00)",
    };
    const std::vector<std::string> actual = Lines(window.LogText());
    ASSERT_EQ(actual.size(), expected.size()) << window.LogText();
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;

    EXPECT_EQ(window.SelectionStart(), 0);
    EXPECT_EQ(window.SelectionEnd(), 0);
    EXPECT_GE(window.ScrollCaretCount(), 1);
    ExpectIdle();
    EXPECT_EQ(OpenSockets(), 0);
    EXPECT_EQ(window.Control(IDC_SERVER).list, std::vector<std::string>{server.ServerText()});
}

TEST_F(QueryProcedureTest, FirstLineNamesThePortOnlyWhenItIsNotTheNtpPort)
{
    // Nothing listens on 127.0.0.1:123 here: each query ends at once with the
    // port-unreachable read error, after its first line.
    Query("127.0.0.1");
    EXPECT_EQ(Lines(window.LogText())[0], "Querying host 127.0.0.1 from random port");
    Query("127.0.0.1:123");
    EXPECT_EQ(Lines(window.LogText())[0], "Querying host 127.0.0.1 from random port");
    Query("127.0.0.1:124");
    EXPECT_EQ(Lines(window.LogText())[0], "Querying host 127.0.0.1:124 from random port");
    EXPECT_EQ(window.LogText(),
              "Querying host 127.0.0.1:124 from random port\r\n\r\n"
              "*receive error no. 10054 (Connection reset by peer)");
    ExpectIdle();
    ExpectScrolledToEnd();
    EXPECT_EQ(OpenSockets(), 0);
}

TEST_F(QueryProcedureTest, TwoQueriesKeepOnlyTheSecondReport)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    Query(server.ServerText());
    Query(server.ServerText());
    const std::string log = window.LogText();
    EXPECT_EQ(log.find("Querying host"), 0u);
    EXPECT_EQ(log.find("Querying host", 1), std::string::npos);
    EXPECT_EQ(log.find("+--Result"), log.rfind("+--Result"));
    EXPECT_EQ(window.Control(IDC_SERVER).list.size(), 1u);
}

TEST_F(QueryProcedureTest, StopRequestOnlyClearsTheFlag)
{
    window.SetText(IDC_LOG, "statistics");
    dlg.m_monitorRunning = 1;
    Query("127.0.0.1:1");
    EXPECT_EQ(dlg.m_monitorRunning, 0);
    EXPECT_FALSE(window.IsControlEnabled(IDC_GO));
    EXPECT_EQ(window.LogText(), "statistics");
    EXPECT_EQ(rig.sockets.Count(SocketCall::CreateUdpSocket), 0);
    EXPECT_TRUE(rig.sockets.Sends().empty());
}

TEST_F(QueryProcedureTest, BadServerTextShowsAMessageAndSendsNothing)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "No host given."}, {"127.0.0.1:0", "Invalid Port."}, {"127.0.0.1:abc", "Invalid Port."}};
    for (const auto& [text, message] : cases) {
        Query(text);
        ASSERT_EQ(window.MessageBoxes().size(), 1u) << text;
        EXPECT_EQ(window.MessageBoxes()[0].text, message);
        EXPECT_EQ(window.MessageBoxes()[0].icon, MessageIcon::None);
        EXPECT_EQ(window.LogText(), "") << text;
        ExpectIdle();
    }
    EXPECT_TRUE(rig.sockets.Sends().empty());
    EXPECT_TRUE(window.Control(IDC_SERVER).list.empty());
    EXPECT_EQ(OpenSockets(), 0);
}

TEST_F(QueryProcedureTest, UnknownHostIsLoggedAndTheSocketClosed)
{
    rig.sockets.SetResolver([](const std::string&, uint32_t&) { return false; });
    Query("no-such-host");
    EXPECT_EQ(window.LogText(), "--Could not find host no-such-host.");
    EXPECT_TRUE(window.MessageBoxes().empty());
    ExpectIdle();
    ExpectScrolledToEnd();
    EXPECT_EQ(OpenSockets(), 0);
}

// Each start of the socket library is released once, on every way out.
TEST_F(QueryProcedureTest, EveryWayOutClosesAndReleasesOnce)
{
    CUdpResponder silent(CUdpResponder::Silence());
    rig.sockets.SetResolver([](const std::string&, uint32_t&) { return false; });
    Query("no-such-host");
    Query(silent.ServerText()); // times out
    rig.sockets.FailNext(SocketCall::WaitReadable, 10022);
    Query(silent.ServerText());
    EXPECT_EQ(window.LogText(), "Querying host " + silent.ServerText() + " from random port\r\n\r\n--Socket Error.");
    EXPECT_EQ(rig.sockets.Count(SocketCall::Startup), 3);
    EXPECT_EQ(rig.sockets.Count(SocketCall::Cleanup), 3);
    EXPECT_EQ(rig.sockets.Count(SocketCall::Close), 3);
    EXPECT_EQ(dlg.m_socket, InvalidSocket);
}

// The controls stay disabled for the whole wait and come back before the
// report is written.
TEST_F(QueryProcedureTest, ControlsAreDisabledWhileTheQueryWaits)
{
    const int controls[] = {IDC_SERVER, IDC_GO, IDC_SET_TIME, IDC_PORT123, IDC_AUTH, IDC_SNTP, IDCANCEL, IDC_CLEAR_LOG};
    std::vector<std::string> disabledWhileWaiting;
    bool enabledAtReport = false;
    CUdpResponder server([&](const CUdpResponder::Request& request) {
        for (int id : controls)
            if (!window.IsControlEnabled(id))
                disabledWhileWaiting.push_back(std::to_string(id));
        if (!window.IsMenuBarItemEnabled(0))
            disabledWhileWaiting.push_back("menu");
        return std::vector<CUdpResponder::Datagram>{CUdpResponder::Message(CUdpResponder::ServerReply(request))};
    });
    window.onSetText = [&](int id, const std::string& text) {
        if (id == IDC_LOG && text.find("+--Result") != std::string::npos)
            enabledAtReport = window.IsControlEnabled(IDC_GO) && window.IsMenuBarItemEnabled(0);
    };
    Query(server.ServerText());
    EXPECT_EQ(disabledWhileWaiting.size(), 9u);
    EXPECT_TRUE(enabledAtReport);
    ExpectIdle();
}

TEST_F(QueryProcedureTest, SocketFailuresAreLoggedAndNoSocketIsLeft)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    rig.sockets.FailNext(SocketCall::CreateUdpSocket, 10024);
    Query("127.0.0.1:1");
    EXPECT_EQ(window.LogText(), "--Error at socket creation: 10024");
    ExpectIdle();

    rig.sockets.FailNext(SocketCall::Startup, 10091);
    Query("127.0.0.1:1");
    EXPECT_EQ(window.LogText(), "--Error at socket-initialisation.");
    ExpectIdle();

    rig.sockets.FailNext(SocketCall::SendTo, 10051);
    Query(server.ServerText());
    EXPECT_EQ(window.LogText(), "Querying host 127.0.0.1:" + std::to_string(server.Port()) +
                                    " from random port\r\n\r\nSocket Error while sending.");
    ExpectIdle();
    ExpectScrolledToEnd();
    EXPECT_EQ(OpenSockets(), 0);
}

TEST_F(QueryProcedureTest, AnswerFailuresEndTheQueryWithoutAReport)
{
    CUdpResponder server(CUdpResponder::Script({{CUdpResponder::Bytes(47)},
                                                {CUdpResponder::Bytes(68)},
                                                {}}));
    const std::string first = "Querying host 127.0.0.1:" + std::to_string(server.Port()) +
                              " from random port\r\n\r\n";
    Query(server.ServerText());
    EXPECT_EQ(window.LogText(), first + "--Received 47 bytes, need exactly 48.");
    Query(server.ServerText());
    EXPECT_EQ(window.LogText(), first + "*receive error no. 10040 (Message too long)");
    Query(server.ServerText());
    EXPECT_EQ(window.LogText(), first + "--No answer from Server. timed out.");
    ExpectIdle();
    ExpectScrolledToEnd();
    EXPECT_EQ(OpenSockets(), 0);
}

// A name of both families on a machine that reaches only one of them: the
// first address cannot be sent to, the next one in the resolver's order
// answers, and the report reads as for an answer from the first.
TEST_F(QueryProcedureTest, NameWhoseFirstAddressIsUnreachableIsAskedAtItsNext)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    SockAddrIn unreachable;
    ASSERT_TRUE(rig.sockets.ParseIPv6("2001:db8::1", unreachable));
    rig.sockets.SetResolver([&](const std::string&, SockAddrIn& a) { return a = unreachable, true; });
    rig.sockets.SetAllResolver([&](const std::string&, std::vector<SockAddrIn>& all) {
        all = {unreachable, server.Endpoint()};
        return true;
    });
    rig.sockets.FailNext(SocketCall::SendTo, WsaError::NetUnreachable);
    const std::string text = "dual.example:" + std::to_string(server.Port());
    Query(text);
    EXPECT_EQ(window.LogText().rfind("Querying host " + text + " from random port\r\n\r\n+--Result", 0), 0u)
        << window.LogText();
    EXPECT_EQ(rig.sockets.Sends().size(), 2u);
    EXPECT_TRUE(dlg.LastExchange().server.SameEndpoint(server.Endpoint()));
    EXPECT_EQ(dlg.LastExchange().error, 0);
}

TEST_F(QueryProcedureTest, SntpOptionZeroesTheTransmitTimestamp)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    window.SetChecked(IDC_SNTP, true);
    Query(server.ServerText());
    ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(1)));
    const std::vector<uint8_t> request = server.Requests()[0].bytes;
    ASSERT_EQ(request.size(), 48u);
    EXPECT_EQ(request[0], 0x1B);
    for (int i = 40; i <= 46; ++i)
        EXPECT_EQ(request[i], 0) << "byte " << i;

    window.SetChecked(IDC_SNTP, false);
    Query(server.ServerText());
    ASSERT_TRUE(server.WaitForRequests(2, std::chrono::seconds(1)));
    EXPECT_NE(server.Requests()[1].bytes[40], 0); // the current time
}

TEST_F(QueryProcedureTest, SetSystemTimeHandsTheTransmitTimeToTheClock)
{
    CUdpResponder server([](const CUdpResponder::Request& request) {
        CUdpResponder::Datagram answer = CUdpResponder::Message(GpsAnswer());
        CUdpResponder::EchoOriginate(answer.bytes, request);
        return std::vector<CUdpResponder::Datagram>{answer};
    });
    window.SetChecked(IDC_SET_TIME, true);
    Query(server.ServerText());
    const std::vector<SystemTime> settings = rig.clock.Settings();
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0], (SystemTime{2024, 1, 1, 1, 0, 0, 2, 250}));
    EXPECT_NE(window.LogText().find("+--Result"), std::string::npos);

    window.SetChecked(IDC_SET_TIME, false);
    Query(server.ServerText());
    EXPECT_EQ(rig.clock.Settings().size(), 1u);
}

TEST_F(QueryProcedureTest, RefusedClockSettingIsLoggedBeforeTheReport)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    window.SetChecked(IDC_SET_TIME, true);
    rig.clock.SetResult(false, "Operation not permitted");
    Query(server.ServerText());
    EXPECT_EQ(rig.clock.Settings().size(), 1u);
    EXPECT_NE(window.LogText().find(" from random port\r\n\r\n--System time not set: Operation not permitted\r\n\r\n+--Result"),
              std::string::npos);
    EXPECT_NE(window.LogText().find("Packet size: 48 bytes"), std::string::npos);
    EXPECT_EQ(window.SelectionStart(), 0);
}

} // namespace
