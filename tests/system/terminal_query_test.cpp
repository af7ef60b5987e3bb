// The terminal query runs the built program against loopback servers: its
// report is the window's log pane for the same answer, its exit status says
// how the query went, and its JSON holds the answer's own numbers.
#include "support/ChildProcess.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/UdpResponder.h"

#include "frontends/qt/QtDialogWindow.h"
#include "frontends/terminal/TerminalText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cmath>
#include <ctime>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

std::string Dir() { return ::testing::TempDir(); }

ProgramRun Horolab(std::vector<std::string> args)
{
    args.insert(args.begin(), HOROLAB_PROGRAM);
    return RunProgram(args, Dir());
}

// The real window's log pane after Enter with `server` in the server box.
std::string WindowReport(const std::string& server)
{
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    window.SetText(IDC_SERVER, server);
    dialog.OnOK();
    const std::string log = window.GetText(IDC_LOG);
    window.close();
    return log;
}

double Seconds(const nlohmann::json& t)
{
    return t["seconds"].get<double>() + t["fraction"].get<double>() / 4294967296.0;
}

} // namespace

TEST(TerminalQuery, PrintsTheWindowsReportForTheSameAnswer)
{
    CNtpMsg answer;
    answer.m_mode = 4;
    answer.m_stratum = 2;
    answer.m_refId[0] = 192, answer.m_refId[1] = 0, answer.m_refId[2] = 2, answer.m_refId[3] = 7;
    answer.m_rootDelay = 0.25;
    answer.m_reference = {3900000000u, 0x40000000u};
    answer.m_receive = answer.m_transmit = {3900000010u, 0x80000000u};
    CUdpResponder server(CUdpResponder::Always({CUdpResponder::Message(answer)}));

    const std::string window = WindowReport(server.ServerText());
    ASSERT_NE(window.find("Timestamps shown in local time zone:"), std::string::npos) << window;
    const ProgramRun run = Horolab({"--query", server.ServerText()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, ToLfLines(window) + "\n");
    EXPECT_EQ(run.err, "");
}

TEST(TerminalQuery, ExitStatusSaysHowItWent)
{
    CUdpResponder silent(CUdpResponder::Silence());
    const ProgramRun failed = Horolab({"--query", silent.ServerText()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.out.find("Querying host " + silent.ServerText()), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find('\r'), std::string::npos);

    const ProgramRun noHost = Horolab({"--query", ""});
    EXPECT_EQ(noHost.status, 1);
    EXPECT_EQ(noHost.err, "No host given.\n") << "the message box's text";

    for (std::vector<std::string> bad : {std::vector<std::string>{"--query"}, {"--bogus"},
                                         {"--json", "x"}, {"--monitor", "x", "--polls", "0"}, {"a", "b"},
                                         {"--survey"}, {"--survey", "x", "--samples", "0"},
                                         {"--query", "x", "--samples", "2"}, {"--survey", "x", "--query", "y"}}) {
        const ProgramRun run = Horolab(bad);
        EXPECT_EQ(run.status, 2) << bad[0];
        EXPECT_EQ(run.out, "") << bad[0];
        EXPECT_NE(run.err.find("Usage: horolab"), std::string::npos) << bad[0];
    }
    EXPECT_EQ(Horolab({"--help"}).status, 0);
    EXPECT_EQ(Horolab({"--version"}).out, "horolab 1.9.2\n");
}

TEST(TerminalQuery, JsonOffsetAndDelayFollowFromItsTimestamps)
{
    const std::string port = ChronyPort();
    if (port.empty())
        GTEST_SKIP() << "the chronyd fixture is not running";
    const ProgramRun run = Horolab({"-q", "127.0.0.1:" + port, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json answer = nlohmann::json::parse(run.out);

    EXPECT_EQ(answer["mode"], 4);
    EXPECT_EQ(answer["stratum"], 3);
    EXPECT_EQ(answer["packet_size_bytes"], 48);
    EXPECT_EQ(answer["reference_id"], "127.127.1.1");
    EXPECT_EQ(answer["quick_description"], "no description available");
    // The server echoes our transmit time: T1 is the request's own.
    EXPECT_EQ(answer["originate_timestamp"], answer["request_transmit_timestamp_t1"]);

    // Offset and delay come from the precise send time, which the wire's
    // millisecond T1 (its lower bits random) stands within a millisecond of.
    const double t1 = Seconds(answer["sent_timestamp_t1"]);
    EXPECT_NEAR(t1, Seconds(answer["request_transmit_timestamp_t1"]), 2e-3);
    const double t2 = Seconds(answer["receive_timestamp"]);
    const double t3 = Seconds(answer["transmit_timestamp"]);
    const double t4 = Seconds(answer["arrival_timestamp_t4"]);
    EXPECT_NEAR(answer["offset_ms"].get<double>(), ((t2 - t1) + (t3 - t4)) / 2 * 1000, 1e-3);
    EXPECT_NEAR(answer["delay_ms"].get<double>(), ((t4 - t1) - (t3 - t2)) * 1000, 1e-3);
    EXPECT_GT(answer["delay_ms"].get<double>(), 0.0);
    EXPECT_LT(answer["delay_ms"].get<double>(), 100.0) << "loopback";

    // The ISO text names the same instant, in UTC, to the millisecond.
    const nlohmann::json& transmit = answer["transmit_timestamp"];
    std::tm utc{};
    int ms = -1;
    ASSERT_EQ(std::sscanf(transmit["iso8601_utc"].get<std::string>().c_str(), "%d-%d-%dT%d:%d:%d.%dZ",
                          &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min,
                          &utc.tm_sec, &ms), 7);
    utc.tm_year -= 1900, utc.tm_mon -= 1;
    EXPECT_EQ(timegm(&utc) + 2208988800LL, transmit["seconds"].get<int64_t>());
    EXPECT_EQ(ms, static_cast<int>(std::floor(transmit["fraction"].get<double>() / 4294967296.0 * 1000)));
}

TEST(TerminalQuery, JsonOfAFailureIsTheErrorText)
{
    CUdpResponder closed(CUdpResponder::Silence());
    const std::string server = closed.ServerText();
    closed.Stop();
    const ProgramRun run = Horolab({"-q", server, "--json"});
    EXPECT_EQ(run.status, 1);
    const nlohmann::json failure = nlohmann::json::parse(run.out);
    EXPECT_EQ(failure["error"], "*receive error no. 10054 (Connection reset by peer)");
}

HOROLAB_QT_TEST_MAIN()
