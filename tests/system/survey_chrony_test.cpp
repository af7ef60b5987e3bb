// The survey of one name that stands for six servers on one port: three real
// chronyd (127.0.0.2, 127.0.0.3, ::1) and three scripted ones, 500 ms off
// (127.0.0.4), silent (127.0.0.5) and answering with a kiss code (127.0.0.6).
// The name is in an /etc/hosts of the test's own, bind-mounted in a mount
// namespace of this process, which the built program inherits; the rest of
// the machine keeps its own. Run from the terminal and from the real window.
#include "support/ChildProcess.h"
#include "support/NtpSamples.h"
#include "support/QtTestMain.h"
#include "support/QtTsanSuppressions.h"
#include "support/QtWindowDriver.h"
#include "support/TextLines.h"
#include "support/UdpResponder.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <QPushButton>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <sched.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

using namespace qtdriver;

namespace {

const char* const Name = "survey.horolab.test";
constexpr int FalseTickerMs = 500;

// The child's output files; other test programs on the machine write theirs
// into the shared temporary folder too.
std::string OutputDir()
{
    static const std::string dir = [] {
        std::string pattern = ::testing::TempDir() + "survey-XXXXXX";
        return std::string(mkdtemp(pattern.data()) ? pattern : ::testing::TempDir());
    }();
    return dir;
}

std::string SurveyPort() { return ChronyPort("/survey"); }
uint16_t PortNumber() { return static_cast<uint16_t>(std::stoi(SurveyPort())); }
std::string At(const std::string& address) { return address + ":" + SurveyPort(); }

CUdpResponder::Answer Offset(int ms)
{
    return [ms](const CUdpResponder::Request& request) {
        CNtpMsg reply = CUdpResponder::ServerReply(request);
        reply.m_receive = reply.m_transmit = ShiftedMs(request.received, ms);
        return std::vector<CUdpResponder::Datagram>{CUdpResponder::Message(reply)};
    };
}

CUdpResponder::Answer RateKiss()
{
    return [](const CUdpResponder::Request& request) {
        CNtpMsg reply = CUdpResponder::ServerReply(request);
        reply.m_leap = NtpLeapNotSynchronised;
        reply.m_stratum = NtpStratumKiss;
        std::copy_n("RATE", 4, reply.m_refId);
        return std::vector<CUdpResponder::Datagram>{CUdpResponder::Message(reply)};
    };
}

// The name for all six, in a mount namespace of this thread and of every
// thread and process it starts from now on. Names are looked up in that
// hosts file alone, so that a name not there never goes to a name server.
std::string InstallName()
{
    const std::string hosts = OutputDir() + "/hosts";
    const std::string nsswitch = OutputDir() + "/nsswitch.conf";
    std::ofstream(hosts) << "127.0.0.1 localhost\n::1 localhost\n"
                         << "127.0.0.2 " << Name << "\n127.0.0.3 " << Name << "\n::1 " << Name << "\n"
                         << "127.0.0.4 " << Name << "\n127.0.0.5 " << Name << "\n127.0.0.6 " << Name << "\n";
    std::ofstream(nsswitch) << "hosts: files\n";
    if (unshare(CLONE_NEWNS) != 0)
        return std::string("no mount namespace: ") + strerror(errno);
    // Private first: the bind mounts must not reach the machine's namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        mount(nsswitch.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)
        return std::string("cannot mount the resolver's files: ") + strerror(errno);
    return "";
}

class Survey : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (SurveyPort().empty() || geteuid() != 0)
            return;
        s_installed = InstallName();
        ASSERT_EQ(s_installed, "");
        s_falseTicker = std::make_unique<CUdpResponder>(Offset(FalseTickerMs), "127.0.0.4", PortNumber());
        s_silent = std::make_unique<CUdpResponder>(CUdpResponder::Silence(), "127.0.0.5", PortNumber());
        s_kiss = std::make_unique<CUdpResponder>(RateKiss(), "127.0.0.6", PortNumber());
    }
    static void TearDownTestSuite()
    {
        s_falseTicker.reset();
        s_silent.reset();
        s_kiss.reset();
        std::filesystem::remove_all(OutputDir());
    }

    void SetUp() override
    {
        if (SurveyPort().empty())
            GTEST_SKIP() << "the survey's chronyd fixture is not running";
        if (geteuid() != 0)
            GTEST_SKIP() << "a mount namespace for the hosts file needs root";
        ASSERT_TRUE(s_falseTicker && s_falseTicker->IsListening() && s_silent->IsListening() &&
                    s_kiss->IsListening());
        Mark();
    }

    // From here on requests count as this survey's.
    void Mark()
    {
        m_before = {s_falseTicker->Requests().size(), s_silent->Requests().size(), s_kiss->Requests().size()};
    }

    // The requests each scripted server got during this test.
    std::vector<CUdpResponder::Request> Since(CUdpResponder& server, size_t before)
    {
        const auto all = server.Requests();
        return {all.begin() + static_cast<long>(before), all.end()};
    }

    // The worker's window calls need the interface thread: wait with its events running.
    bool FirstRoundSent() { return s_silent->Requests().size() > m_before[1]; }

    // One request at a time, 2 s apart; none after a kiss code.
    void ExpectPolite(size_t samples)
    {
        for (auto [server, before] : {std::pair{s_falseTicker.get(), m_before[0]}, {s_silent.get(), m_before[1]}}) {
            const auto requests = Since(*server, before);
            EXPECT_EQ(requests.size(), samples) << server->ServerText();
            for (size_t n = 1; n < requests.size(); ++n)
                EXPECT_GE(requests[n].at - requests[n - 1].at, std::chrono::milliseconds(1990)) << n;
        }
        EXPECT_EQ(Since(*s_kiss, m_before[2]).size(), 1u) << "a kiss code ends the sampling";
    }

    static inline std::string s_installed;
    static inline std::unique_ptr<CUdpResponder> s_falseTicker, s_silent, s_kiss;
    std::vector<size_t> m_before;
};

// The table's lines of an address: who and state, then its figures.
std::string Row(const std::string& table, const std::string& address)
{
    const size_t at = table.find("| " + address + " ");
    const size_t second = at == std::string::npos ? at : table.find('\n', at);
    return at == std::string::npos ? "" : table.substr(at, table.find('\n', second + 1) - at);
}

// Every address with the state its row (or object) must show.
const std::vector<std::pair<std::string, std::string>>& Expected()
{
    static const std::vector<std::pair<std::string, std::string>> states = {
        {"127.0.0.2", "truechimer"}, {"127.0.0.3", "truechimer"},  {"[::1]", "truechimer"},
        {"127.0.0.4", "false ticker"}, {"127.0.0.5", "unreachable"}, {"127.0.0.6", "kiss code"},
    };
    return states;
}

void ExpectTable(const std::string& table)
{
    for (const std::string& line : Lines(table, "\n"))
        EXPECT_LE(line.find_last_not_of('\r') + 1, 64u) << "wider than the default log pane: " << line;
    for (const auto& [address, state] : Expected()) {
        const std::string row = Row(table, At(address));
        EXPECT_NE(row.find(" " + state + " "), std::string::npos) << address << "\n" << table;
    }
    EXPECT_EQ(table.find(Name, table.find("+--Survey")), std::string::npos) << "the one name of all carries nothing";
    EXPECT_NE(Row(table, At("127.0.0.2")).find("127.127.1.1"), std::string::npos) << "chronyd's local reference";
    const std::string text = Unwrapped(table);
    const std::string notes[] = {
        "3 of 4 answers agree: the time lies within ",
        "IPv4 " + At("127.0.0.4") + " and IPv6 " + At("[::1]") + " disagree beyond their intervals.",
        At("127.0.0.5") + ": --No answer from Server. timed out.",
        At("127.0.0.6") + ": kiss code RATE, rate exceeded",
    };
    for (const std::string& note : notes)
        EXPECT_NE(text.find(note), std::string::npos) << note << "\n" << table;
}

TEST_F(Survey, FromTheTerminalNamesTheFalseTickerAsTextAndAsJson)
{
    const ProgramRun text = RunProgram({HOROLAB_PROGRAM, "--survey", At(Name), "--samples", "2"}, OutputDir());
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind(std::string("Surveying 6 addresses of ") + Name + "\n\n+--Survey", 0), 0u) << text.out;
    EXPECT_EQ(text.out.find('\r'), std::string::npos);
    ExpectTable(text.out);
    EXPECT_NE(text.out.find("| 2 samples per address, 2 s apart."), std::string::npos) << text.out;
    ExpectPolite(2);

    Mark();
    const ProgramRun json = RunProgram({HOROLAB_PROGRAM, "--survey", At(Name), "--json"}, OutputDir());
    EXPECT_EQ(json.status, 0) << json.err;
    const nlohmann::json survey = nlohmann::json::parse(json.out);
    ASSERT_EQ(survey["addresses"].size(), 6u) << json.out;
    for (const nlohmann::json& a : survey["addresses"]) {
        const auto expected = std::find_if(Expected().begin(), Expected().end(),
                                           [&](const auto& e) { return At(e.first) == a["address"]; });
        ASSERT_NE(expected, Expected().end()) << a;
        EXPECT_EQ(a["state"], expected->second) << a;
        EXPECT_EQ(a["names"], nlohmann::json::array({Name}));
    }
    const auto byAddress = [&](const std::string& address) {
        for (const nlohmann::json& a : survey["addresses"])
            if (a["address"] == At(address))
                return a;
        return nlohmann::json();
    };
    const nlohmann::json chrony = byAddress("[::1]");
    EXPECT_EQ(chrony["family"], "IPv6");
    EXPECT_EQ(chrony["stratum"], 3);
    EXPECT_EQ(chrony["samples_usable"], 4);
    EXPECT_LT(std::abs(chrony["offset_ms"].get<double>()), 1.0) << "the same clock";
    EXPECT_GE(chrony["jitter_ms"].get<double>(), 0.0);
    EXPECT_NEAR(byAddress("127.0.0.4")["offset_ms"].get<double>(), FalseTickerMs, 5.0);
    EXPECT_EQ(byAddress("127.0.0.6")["kiss_code"], "RATE");
    EXPECT_EQ(byAddress("127.0.0.6")["samples_sent"], 1);
    EXPECT_EQ(byAddress("127.0.0.5")["offset_ms"], nullptr);
    EXPECT_EQ(survey["selection"]["candidates"], 4);
    EXPECT_EQ(survey["selection"]["agreeing"], 3);
    EXPECT_EQ(survey["selection"]["majority"], true);
    EXPECT_EQ(survey["selection"]["ipv4_ipv6_disagreements"],
              nlohmann::json::parse(R"([{"ipv4": ")" + At("127.0.0.4") + R"(", "ipv6": ")" + At("[::1]") + R"("}])"));
    ExpectPolite(4);
}

TEST_F(Survey, WithoutAMajorityOrAnAddressItFails)
{
    CUdpResponder closed(CUdpResponder::Silence(), "127.0.0.7");
    const std::string closedPort = closed.ServerText();
    closed.Stop();
    const ProgramRun run =
        RunProgram({HOROLAB_PROGRAM, "--survey", "nosuch.horolab.test", closedPort, "--samples", "1"}, OutputDir());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("--Could not find host nosuch.horolab.test.\nSurveying 1 address of 127.0.0.7\n", 0), 0u)
        << run.out;
    EXPECT_NE(Row(run.out, closedPort).find(" unreachable "), std::string::npos) << run.out;
    EXPECT_NE(Unwrapped(run.out).find(closedPort + ": *receive error no. 10054 (Connection reset by peer)"),
              std::string::npos)
        << "the port's report reaches the one request in flight\n" << run.out;
    EXPECT_NE(run.out.find("| No answer to compare."), std::string::npos);
    EXPECT_NE(run.out.find("| 1 sample per address. Times in ms"), std::string::npos);

    const ProgramRun none = RunProgram({HOROLAB_PROGRAM, "--survey", "nosuch.horolab.test", "--json"}, OutputDir());
    EXPECT_EQ(none.status, 1);
    const nlohmann::json survey = nlohmann::json::parse(none.out);
    EXPECT_EQ(survey["addresses"], nlohmann::json::array());
    EXPECT_EQ(survey["unresolved"][0]["error"], "--Could not find host nosuch.horolab.test.");
    EXPECT_EQ(survey["selection"]["majority"], false);
}

struct OpenWindow {
    OpenWindow()
    {
        window.Open(dialog);
        window.SetText(IDC_SERVER, At(Name));
    }
    ~OpenWindow() { window.close(); }
    void ChooseSurvey()
    {
        QAction* survey = window.MenuBar()->actions().at(0)->menu()->actions().at(0);
        ASSERT_EQ(survey->text(), "&Survey");
        survey->trigger();
    }
    bool Idle() { return window.GetText(IDC_GO) == "&Go" && window.IsControlEnabled(IDC_SERVER); }
    QtDialogWindow window{IDD_MAIN};
    CTikkaraDlg dialog{window};
};

TEST_F(Survey, FromTheWindowsFileMenuWritesTheTableIntoTheLogPane)
{
    OpenWindow w;
    w.ChooseSurvey();
    EXPECT_EQ(w.window.GetText(IDC_GO), "&Stop");
    EXPECT_TRUE(w.window.IsControlEnabled(IDC_GO));
    EXPECT_FALSE(w.window.IsControlEnabled(IDC_SERVER));
    EXPECT_FALSE(w.window.MenuBar()->actions().at(0)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return w.Idle(); }, 15000));

    const std::string log = w.window.GetText(IDC_LOG);
    EXPECT_EQ(log.rfind(std::string("Surveying 6 addresses of ") + Name + "\r\n\r\n+--Survey", 0), 0u) << log;
    ExpectTable(log);
    EXPECT_EQ(log.find("Stopped before"), std::string::npos);
    EXPECT_EQ(w.dialog.LastSurvey().selection.agreeing, 3);
    ExpectPolite(4);
    SaveScreenshot(&w.window, "survey.png");
}

TEST_F(Survey, StopEndsItEarlyWithWhatWasMeasuredAndACloseWaitsWithoutBlocking)
{
    {
        OpenWindow w;
        w.ChooseSurvey();
        ASSERT_TRUE(WaitFor([&] { return FirstRoundSent(); }, 3000));
        // The first round's answers are in well before the second round is due.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto stopped = std::chrono::steady_clock::now();
        static_cast<QPushButton*>(w.window.Control(IDC_GO))->click();
        ASSERT_TRUE(WaitFor([&] { return w.Idle(); }, 5000));
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(2500));

        const std::string log = w.window.GetText(IDC_LOG);
        EXPECT_NE(Row(log, At("127.0.0.3")).find(" truechimer "), std::string::npos) << log;
        EXPECT_NE(log.find("| Stopped before every sample was taken."), std::string::npos) << log;
        EXPECT_EQ(Since(*s_falseTicker, m_before[0]).size(), 1u) << "no second round";
    }
    Mark();
    OpenWindow w;
    w.ChooseSurvey();
    ASSERT_TRUE(WaitFor([&] { return FirstRoundSent(); }, 3000));
    w.window.close();
    EXPECT_FALSE(w.window.Ended()) << "the survey's worker still runs";
    int turns = 0;
    EXPECT_TRUE(WaitFor([&] { return ++turns, w.window.Ended(); }, 5000));
    EXPECT_GT(turns, 10) << "the interface thread kept going while it waited";
}

} // namespace

HOROLAB_QT_TEST_MAIN()
