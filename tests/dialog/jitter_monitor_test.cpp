// The jitter monitor's worker driven through whole runs: fake ticks and
// sleeps, real sockets to loopback responders, the fake window standing in
// for the interface thread.
#include "jitter/JitterStats.h"
#include "support/JitterRig.h"
#include "support/NtpSamples.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
using Responder = CUdpResponder;
using namespace std::chrono_literals;

constexpr int SocketErrorCode = 10051;

// A server whose clock stands `aheadMs` from ours, answering at once.
Responder::Answer ServerAhead(int aheadMs)
{
    return [aheadMs](const Responder::Request& request) {
        CNtpMsg reply = Responder::ServerReply(request);
        reply.m_receive = ShiftedMs(reply.m_receive, aheadMs);
        reply.m_transmit = reply.m_receive;
        return std::vector<Responder::Datagram>{Responder::Message(reply)};
    };
}

// Answers every request but the listed ones (1 is the first request).
Responder::Answer ServerIgnoring(std::vector<int> silent, int delayMs = 0, int delayedRequest = 0)
{
    auto count = std::make_shared<int>(0);
    return [=](const Responder::Request& request) {
        const int n = ++*count;
        if (std::find(silent.begin(), silent.end(), n) != silent.end())
            return std::vector<Responder::Datagram>{};
        return std::vector<Responder::Datagram>{
            Responder::Message(Responder::ServerReply(request), n == delayedRequest ? delayMs : 0)};
    };
}

class JitterMonitorTest : public ::testing::Test, public JitterRig {};

// --- The flow of a run -------------------------------------------------------

TEST_F(JitterMonitorTest, RefreshesCountEveryPollAndEndIdle)
{
    Responder server(Responder::NtpServer());
    const int threadsBefore = ThreadCount();
    struct Busy {
        bool serverBox, quit, menu, go;
        std::string caption;
    };
    std::vector<Busy> busy;
    std::vector<uint32_t> ticks;
    onRefresh = [&](int refresh, uint32_t tick) {
        busy.push_back({window.Control(IDC_SERVER).enabled, window.Control(IDCANCEL).enabled,
                        window.IsMenuBarItemEnabled(0), window.Control(IDC_GO).enabled,
                        window.Control(IDC_GO).text});
        ticks.push_back(tick);
        if (refresh == 5)
            dialog.OnCommand(IDC_GO);
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());

    const std::vector<std::string> texts = LogTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Jitter Monitor");
    EXPECT_EQ(window.SaveFileRequests().size(), 1u);

    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 5u) << "the stop is seen at the next loop test";
    EXPECT_EQ(Refreshes()[0], FormatJitterStats(1, 0, 0, 0, 0, 0, 0, 0, 0.0));
    for (size_t i = 0; i < stats.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(stats[i].valid);
        EXPECT_EQ(stats[i].total, static_cast<int>(i));
        EXPECT_EQ(stats[i].total, stats[i].good + stats[i].bad);
        EXPECT_EQ(stats[i].bad, 0);
        // The responder stamps its receive and transmit times with our
        // clock: only the scheduling of two threads stands between them.
        if (i > 0) {
            EXPECT_LE(std::abs(stats[i].last), 50);
        }
        EXPECT_FALSE(busy[i].serverBox || busy[i].quit || busy[i].menu);
        EXPECT_TRUE(busy[i].go);
        EXPECT_EQ(busy[i].caption, "&Stop");
        if (i > 0) {
            EXPECT_EQ(ticks[i] - ticks[i - 1], 1000u) << "polls start exactly one interval apart";
        }
    }
    EXPECT_EQ(server.Requests().size(), 5u);
    EXPECT_EQ(window.LogText(), Refreshes().back()) << "the final poll is counted but never shown";
    EXPECT_TRUE(IsIdle());
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), 1);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
    EXPECT_TRUE(ThreadCountSettlesAt(threadsBefore)) << "the worker is joined";
    EXPECT_EQ(window.EndedWith(), -1) << "a run's end does not close the dialog";
}

TEST(JitterMonitorRun, DeviationIsTheSumOfBothWays)
{
    for (int ahead : {250, -250}) {
        SCOPED_TRACE(ahead);
        JitterRig rig;
        Responder server(ServerAhead(ahead));
        rig.StopAfterRefreshes(3);
        rig.Start(server.ServerText());
        ASSERT_TRUE(rig.FinishRun());
        const auto stats = rig.Stats();
        ASSERT_EQ(stats.size(), 3u);
        for (size_t i = 1; i < stats.size(); ++i) {
            EXPECT_NEAR(stats[i].last, 2 * ahead, 50);
            EXPECT_NEAR(stats[i].min, 2 * ahead, 50);
            EXPECT_NEAR(stats[i].max, 2 * ahead, 50);
            EXPECT_EQ(stats[i].delta, std::abs(stats[i].max - stats[i].min));
        }
        EXPECT_NEAR(std::atof(stats[2].average.c_str()), 2.0 * ahead, 50.0);
    }
}

TEST(JitterMonitorRun, TickWrapDoesNotStallTheLoop)
{
    JitterRig rig(0xFFFFFFFFu - 1500);
    Responder server(Responder::NtpServer());
    std::vector<uint32_t> ticks;
    rig.onRefresh = [&](int refresh, uint32_t tick) {
        ticks.push_back(tick);
        if (refresh == 5)
            rig.dialog.OnCommand(IDC_GO);
    };
    rig.Start(server.ServerText());
    ASSERT_TRUE(rig.FinishRun());
    const std::vector<uint32_t> expected = {0xFFFFFFFFu - 1500, 0xFFFFFFFFu - 500, 499, 1499, 2499};
    EXPECT_EQ(ticks, expected);
    EXPECT_EQ(rig.Stats().back().good, 4);
}

// --- Failed polls --------------------------------------------------------------

TEST_F(JitterMonitorTest, TimeOutInRandomPortModeCountsTwoBadPollsAndRecovers)
{
    Responder server(ServerIgnoring({2}));
    StopAfterRefreshes(6);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());

    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 6u);
    // Poll 2 times out and closes the socket, poll 3 cannot send.
    const int good[] = {0, 1, 1, 1, 2, 3};
    const int bad[] = {0, 0, 1, 2, 2, 2};
    for (size_t i = 0; i < stats.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(stats[i].good, good[i]);
        EXPECT_EQ(stats[i].bad, bad[i]);
        EXPECT_EQ(stats[i].total, stats[i].good + stats[i].bad);
    }
    EXPECT_TRUE(LoggedSomewhere(Refreshes()[1] + "\r\n--No answer from Server. timed out."));
    EXPECT_FALSE(LoggedSomewhere("Socket Error. Could not re-open socket."));
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), 2) << "the recovery opens a new socket";
    const auto sleeps = clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 1);
    EXPECT_EQ(server.Requests().size(), 5u);
    EXPECT_TRUE(IsIdle());
}

// The chart over the log pane: a run's polls, failures marked; it stays
// after the run and goes with "&Clear Log", the next run or the next query.
TEST_F(JitterMonitorTest, TheChartShowsEveryPollUntilTheLogIsCleared)
{
    Responder server(ServerIgnoring({2}));
    StopAfterRefreshes(4);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    auto marks = [&] {
        std::vector<bool> marked;
        const std::vector<ChartView> charts = window.Charts(IDC_CHART);
        for (const ChartPoint& p : charts.back().points)
            marked.push_back(p.marked);
        return marked;
    };
    // The timed-out poll and the failed send after it.
    EXPECT_EQ(marks(), (std::vector<bool>{false, true, true, false}));
    EXPECT_TRUE(window.Control(IDC_CHART).visible);

    dialog.OnCommand(IDC_CLEAR_LOG);
    EXPECT_TRUE(window.Charts(IDC_CHART).back().points.empty());
    EXPECT_FALSE(window.Control(IDC_CHART).visible);

    StopAfterRefreshes(static_cast<int>(Refreshes().size()) + 2); // refreshes count on across runs
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(marks(), (std::vector<bool>{false, false})) << "a new run starts a new chart";
    window.SetText(IDC_SERVER, server.ServerText());
    dialog.OnCommand(IDOK);
    EXPECT_FALSE(window.Control(IDC_CHART).visible) << "a query's report has the whole pane";
}

TEST_F(JitterMonitorTest, FailedSendAndFailedReopenAreRecoveredFrom)
{
    Responder server(Responder::NtpServer());
    onRefresh = [&](int refresh, uint32_t) {
        if (refresh == 1) { // the run's own socket is open by now
            sockets.FailNext(SocketCall::SendTo, SocketErrorCode);
            sockets.FailNext(SocketCall::CreateUdpSocket, 10024);
        }
        if (refresh == 4)
            dialog.OnCommand(IDC_GO);
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());

    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 4u);
    // Poll 1's send fails and its socket cannot be re-opened, so poll 2
    // cannot send either; poll 3 goes through.
    EXPECT_EQ(stats[3].total, 3);
    EXPECT_EQ(stats[3].bad, 2);
    EXPECT_EQ(stats[3].good, 1);
    EXPECT_TRUE(LoggedSomewhere("\r\n--Error at socket creation: 10024\r\nSocket Error. Could not re-open socket."));
    const auto sleeps = clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 3);
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(sockets.LookedUp().size(), 0u) << "dotted addresses need no look-up";
    EXPECT_TRUE(IsIdle());
}

// --- Set-up failures -------------------------------------------------------------

TEST_F(JitterMonitorTest, SocketThatCannotBeOpenedEndsTheRunAtOnce)
{
    sockets.FailNext(SocketCall::CreateUdpSocket, 10024);
    Start("127.0.0.1:9");
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(window.LogText(), "Jitter Monitor\r\n--Error at socket creation: 10024");
    EXPECT_TRUE(Refreshes().empty());
    EXPECT_EQ(sockets.Count(SocketCall::SendTo), 0);
    EXPECT_TRUE(IsIdle());
}

TEST_F(JitterMonitorTest, ServerThatCannotBeUsedEndsTheRunThroughItsEnding)
{
    Start("");
    ASSERT_TRUE(FinishRun());
    ASSERT_EQ(window.MessageBoxes().size(), 1u);
    EXPECT_EQ(window.MessageBoxes()[0].text, "No host given.");
    EXPECT_EQ(window.LogText(), "Jitter Monitor");
    EXPECT_EQ(sockets.Count(SocketCall::SendTo), 0);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1) << "the run's socket is closed";
    EXPECT_TRUE(IsIdle());
}

// --- Stopping and closing ----------------------------------------------------------

TEST_F(JitterMonitorTest, StopWhileWaitingForAnAnswerCountsThatPollUnshown)
{
    Responder server(ServerIgnoring({}, 150, 3));
    const std::string csv = ::testing::TempDir() + "jitter_stop_wait.csv";
    ChooseFile(csv);
    Start(server.ServerText());
    ASSERT_TRUE(server.WaitForRequests(3, 10s));
    dialog.OnCommand(IDC_GO); // while the worker waits for the delayed answer
    EXPECT_EQ(dialog.m_monitorRunning, 0);
    EXPECT_FALSE(window.Control(IDC_GO).enabled);
    EXPECT_EQ(window.Control(IDC_GO).text, "&Stop");
    ASSERT_TRUE(FinishRun());

    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 3u);
    EXPECT_EQ(stats[2].good, 2);
    EXPECT_EQ(window.LogText(), Refreshes()[2]);
    const std::string lines = ReadWholeFile(csv);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines;
    EXPECT_TRUE(IsIdle());
}

TEST_F(JitterMonitorTest, MonitorCommandDuringARunOnlyAsksItToStop)
{
    Responder server(Responder::NtpServer());
    onRefresh = [&](int refresh, uint32_t) {
        if (refresh == 2)
            dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Stats().size(), 2u);
    EXPECT_EQ(window.SaveFileRequests().size(), 1u);
    EXPECT_TRUE(IsIdle());
}

TEST_F(JitterMonitorTest, StopDuringTheFileChoiceMakesNoPoll)
{
    Responder server(Responder::NtpServer());
    window.saveFileAnswer = [&](const std::string&, const std::string&, std::string&) {
        dialog.OnCommand(IDC_GO);
        return false;
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_TRUE(Refreshes().empty());
    EXPECT_EQ(sockets.Count(SocketCall::SendTo), 0);
    EXPECT_EQ(sockets.Count(SocketCall::Close), 1);
    EXPECT_TRUE(IsIdle());
}

// Waits, without running what the worker posts, until its ending is through.
bool EndingDone(JitterRig& rig)
{
    for (int i = 0; i < 10000; ++i) {
        if (rig.window.Control(IDC_GO).text == "&Go" && rig.dialog.m_monitorRunning == 0)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST_F(JitterMonitorTest, NoNewRunBeforeThePreviousWorkerIsJoined)
{
    Responder server(Responder::NtpServer());
    StopAfterRefreshes(1);
    Start(server.ServerText());
    ASSERT_TRUE(EndingDone(*this));
    ASSERT_TRUE(IsIdle());
    dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    EXPECT_TRUE(IsIdle()) << "refused: nothing disabled, no flag";
    EXPECT_EQ(window.SaveFileRequests().size(), 1u);

    ASSERT_TRUE(FinishRun());
    StopAfterRefreshes(3); // refreshes count on from the first run
    Start(server.ServerText()); // now a new run starts
    EXPECT_EQ(window.Control(IDC_GO).text, "&Stop");
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(window.SaveFileRequests().size(), 2u);
    EXPECT_EQ(Refreshes().size(), 3u);
}

TEST_F(JitterMonitorTest, StopPressedDuringTheEndingLeavesGoUsable)
{
    // With an empty server box the run goes to its ending with the flag
    // still up; "&Stop" is pressed just as the controls come back.
    onText = [&](int id, const std::string& text) {
        if (id == IDC_GO && text == "&Go" && dialog.m_monitorRunning != 0)
            dialog.OnOK();
    };
    Start("");
    ASSERT_TRUE(EndingDone(*this));
    EXPECT_FALSE(window.Control(IDC_GO).enabled) << "the press disabled the button after the ending enabled it";
    ASSERT_TRUE(FinishRun());
    EXPECT_TRUE(IsIdle()) << "back to idle once the worker is joined";
    EXPECT_EQ(window.EndedWith(), -1);
}

TEST_F(JitterMonitorTest, CloseDuringARunEndsTheDialogOnlyAfterTheWorker)
{
    Responder server(ServerIgnoring({}, 300, 2));
    const int threadsBefore = ThreadCount();
    Start(server.ServerText());
    ASSERT_TRUE(server.WaitForRequests(2, 10s));
    dialog.OnCommand(IDCANCEL); // the close box, while an answer is awaited
    EXPECT_EQ(dialog.m_monitorRunning, 0);
    EXPECT_EQ(window.EndedWith(), -1);

    bool endedEarly = false;
    ASSERT_TRUE(FinishRun(10s, [&] { endedEarly = endedEarly || window.EndedWith() != -1; }));
    EXPECT_FALSE(endedEarly) << "the dialog must outlive the worker";
    EXPECT_EQ(window.EndedWith(), IDCANCEL);
    EXPECT_EQ(window.Control(IDC_GO).text, "&Go") << "the worker's ending ran before the dialog ended";
    EXPECT_EQ(dialog.m_monitorRunning, 0);
    EXPECT_EQ(Stats().back().total, 1) << "the awaited poll was not shown";
    EXPECT_TRUE(ThreadCountSettlesAt(threadsBefore));
}

// Between the worker's ending and the posted end of the dialog, Enter or a
// menu command must not start a query that the dialog's end would cut short.
TEST_F(JitterMonitorTest, CloseDuringARunStartsNoNewWorkBeforeTheDialogEnds)
{
    Responder server(Responder::NtpServer());
    Start(server.ServerText());
    ASSERT_TRUE(server.WaitForRequests(2, 10s));
    dialog.OnCommand(IDCANCEL);
    ASSERT_TRUE(EndingDone(*this));
    const int opened = sockets.Count(SocketCall::CreateUdpSocket);
    const size_t requests = server.Requests().size();

    EXPECT_FALSE(window.Control(IDC_SERVER).enabled) << "a closing dialog keeps its controls disabled";
    EXPECT_FALSE(window.IsMenuBarItemEnabled(0));
    for (int command : {IDOK, IDC_GO, ID_FILE_JITTER_MONITOR, IDC_PORT123, IDC_CLEAR_LOG})
        dialog.OnCommand(command);
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), opened) << "no query or run started";
    EXPECT_EQ(server.Requests().size(), requests);
    EXPECT_TRUE(window.MessageBoxes().empty());
    EXPECT_EQ(window.SaveFileRequests().size(), 1u);

    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(window.EndedWith(), IDCANCEL);
}

} // namespace
