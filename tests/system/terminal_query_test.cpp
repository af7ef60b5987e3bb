// The terminal query runs the built program against loopback servers: its
// report is the window's log pane for the same answer, its exit status says
// how the query went, and its JSON holds the answer's own numbers.
#include "support/ChildProcess.h"
#include "support/NtpSamples.h"
#include "support/Port123.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/UdpResponder.h"

#include "frontends/qt/QtDialogWindow.h"
#include "frontends/terminal/ExchangeJson.h"
#include "frontends/terminal/TerminalText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cmath>
#include <regex>
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
    // No offset under the report: the answer is not one to this request.
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

    // The arguments, and what the first line says ("" where any reason will do).
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"--query"}, "option '--query' needs an argument"}, {{"--bogus=2"}, "unknown option '--bogus'"},
        {{"-xq", "foo"}, "unknown option '-x'"}, {{"--json=1"}, "option '--json' takes no value"},
        {{"--json", "x"}, ""}, {{"--monitor", "x", "--polls", "0"}, ""}, {{"a", "b"}, ""}, {{"--nts"}, ""},
        {{"--nts", "x", "-q", "y"}, ""}, {{"--nts-ca", "f", "-q", "x"}, ""}, {{"--polls", "3", "--nts", "x"}, ""},
        {{"--survey"}, ""}, {{"--survey", "x", "--samples", "0"}, ""}, {{"--query", "x", "--samples", "2"}, ""},
        {{"--survey", "x", "--query", "y"}, ""}, {{"--exporter", "9123"}, ""}, {{"--target", "x"}, ""},
        {{"--query", "x", "--any-target"}, ""}};
    for (const auto& [args, says] : bad) {
        const ProgramRun run = Horolab(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.out, "") << args[0];
        EXPECT_EQ(run.err.rfind("horolab: " + says, 0), 0u) << run.err;
        EXPECT_NE(run.err.find("Usage: horolab"), std::string::npos) << args[0];
    }
    const ProgramRun badAddress = Horolab({"--exporter", "nowhere:9123", "--any-target"});
    EXPECT_EQ(badAddress.status, 2);
    EXPECT_NE(badAddress.err.find("--exporter needs [ADDRESS:]PORT"), std::string::npos) << badAddress.err;
    EXPECT_EQ(Horolab({"--help"}).status, 0);
    EXPECT_EQ(Horolab({"--version"}).out, "horolab 1.9.2\n");
}

TEST(TerminalQuery, JsonOffsetAndDelayFollowFromItsTimestamps)
{
    const std::string port = ChronyPort();
    if (port.empty())
        GTEST_SKIP() << "the chronyd fixture is not running";
    // As text, the status line's offset and round trip end the report.
    const ProgramRun text = Horolab({"-q", "127.0.0.1:" + port});
    EXPECT_TRUE(std::regex_search(text.out, std::regex(R"(\(UTC [+-]\d+:\d\d\)\n\nOffset [+-]\d+\.\d{3} ms, )"
                                                       R"(round trip \d+\.\d{3} ms\n$)")))
        << text.out;

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

    // Offset and delay come from the precise send time. It is taken as the
    // request leaves, after the wire's millisecond T1 (its lower bits
    // random) was read: never a millisecond before it, and after it by what
    // the send took, which a loaded sanitizer build stretches past 1 ms.
    const double t1 = Seconds(answer["sent_timestamp_t1"]);
    const double lead = t1 - Seconds(answer["request_transmit_timestamp_t1"]);
    EXPECT_GT(lead, -1e-3);
    EXPECT_LT(lead, 50e-3);
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

// The JSON's dates are the report's: both eras, milliseconds truncated, and
// a timestamp that is not set is no date at all.
TEST(TerminalQuery, JsonDatesFollowTheReportsConversions)
{
    const std::pair<NtpTimestamp, nlohmann::json> cases[] = {
        {{0, 0x80000000u}, nullptr},
        {{NewYear2024, 0x80000000u}, "2024-01-01T00:00:00.500Z"},
        {{NewYear2024, MsToNtpFraction(999)}, "2024-01-01T00:00:00.998Z"},
        {{2208988800u, 1}, "1970-01-01T00:00:00.000Z"},
        {{0xFFFFFFFFu, 0xFFFFFFFFu}, "2036-02-07T06:28:15.999Z"},
        {{100, 0}, "2036-02-07T06:29:56.000Z"},
    };
    for (const auto& [timestamp, iso] : cases) {
        const nlohmann::json json = TimestampJson(timestamp);
        EXPECT_EQ(json["iso8601_utc"], iso) << timestamp.Seconds;
        EXPECT_EQ(json["seconds"], timestamp.Seconds);
        EXPECT_EQ(json["fraction"], timestamp.Fraction);
    }
}

// What the command line does when things go wrong: the exit status and the
// texts, whatever bytes it was given.
TEST(TerminalQuery, FailuresAreReportedAndNeverPassForSuccess)
{
    enum class Server { Gps, Closed };
    const struct {
        const char* name;
        std::vector<std::string> args; // "SERVER" stands for the server's text
        Server server;
        bool holdPort123;
        int status;
        const char* outHas;
        const char* errHas;
        std::vector<std::pair<const char*, nlohmann::json>> json; // pointer, value
    } cases[] = {
        {"a host name not in UTF-8", {"-q", "\xff..x", "--json"}, Server::Gps, false, 1, "", "",
         {{"/error", "--Could not find host \xEF\xBF\xBD..x."}}},
        {"port 123 out of reach", {"-q", "SERVER", "--port-123"}, Server::Gps, true, 1, "", "port 123", {}},
        {"port 123 out of reach, monitor", {"--monitor", "SERVER", "--port-123"}, Server::Gps, true, 1, "", "port 123", {}},
        {"a CSV file that cannot be written", {"--monitor", "SERVER", "--csv", "/nonexistent/x.csv"}, Server::Gps,
         false, 1, "", "horolab: cannot write the CSV file /nonexistent/x.csv: No such file", {}},
        {"three polls of a closed port", {"--monitor", "SERVER", "--polls", "3"}, Server::Closed, false, 0,
         "          total: 3\n", "", {}},
        {"clock not set from a stranger's answer", {"-q", "SERVER", "--set-time", "--json"}, Server::Gps, false, 1, "", "",
         {{"/clock/asked", true}, {"/clock/set", false},
          {"/clock/reason", "Originate Timestamp is not this request's Transmit Timestamp"},
          {"/untrusted_reason", "Originate Timestamp is not this request's Transmit Timestamp"},
          {"/offset_ms", nullptr}, {"/delay_ms", nullptr}, {"/stratum", 1}}},
        {"the same as text", {"-q", "SERVER", "--set-time"}, Server::Gps, false, 1,
         "--System time not set: Originate Timestamp is not this request's Transmit Timestamp", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The GPS answer's Originate Timestamp is from 2024: never this request's.
        CUdpResponder server(CUdpResponder::Always({CUdpResponder::Message(GpsAnswer())}));
        const std::string text = server.ServerText();
        if (c.server == Server::Closed)
            server.Stop();
        const int held = c.holdPort123 ? HoldPort123() : -1; // without root nobody binds it anyway
        std::vector<std::string> args = c.args;
        for (std::string& arg : args)
            if (arg == "SERVER")
                arg = text;
        const ProgramRun run = Horolab(args);
        if (held >= 0)
            ::close(held);

        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.out.find(c.outHas), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.errHas), std::string::npos) << run.err;
        if (c.status != 0 && c.outHas[0] == '\0' && c.json.empty()) {
            EXPECT_EQ(run.out, "") << "nothing done before the failure was told";
            EXPECT_TRUE(server.Requests().empty());
        }
        if (c.json.empty())
            continue;
        const nlohmann::json out = nlohmann::json::parse(run.out); // throws on text that is not UTF-8
        for (const auto& [pointer, value] : c.json)
            EXPECT_EQ(out.value(nlohmann::json::json_pointer(pointer), nlohmann::json("missing")), value) << pointer;
    }
    // A window mode with no display to open on says what to do instead (Qt would dump core).
    const ProgramRun blind = RunProgram({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                                         "QT_QPA_PLATFORM", HOROLAB_PROGRAM, "--jitter-monitor", "127.0.0.1"}, Dir());
    EXPECT_EQ(blind.status, 2);
    EXPECT_EQ(blind.out, "");
    EXPECT_EQ(blind.err, "horolab: no display for the window (DISPLAY and WAYLAND_DISPLAY are unset); use --query "
                         "SERVER in a terminal, or run it under xvfb-run\n");
}

HOROLAB_QT_TEST_MAIN()
