// Closing the real dialog window while a jitter monitor run is active, at
// the moments a close can come: during the file choice, before the first
// poll, between polls and while an answer is awaited.
#include "support/JitterRig.h"
#include "support/QtTestMain.h"
#include "support/QtTsanSuppressions.h"
#include "support/QtWindowDriver.h"
#include "support/UdpResponder.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QApplication>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

using namespace qtdriver;

namespace {
using Responder = CUdpResponder;

bool ShowsStats(QtDialogWindow& window) { return IsJitterStatsText(window.GetText(IDC_LOG)); }

enum class CloseMoment { FileChoice, BeforeFirstPoll, BetweenPolls, AwaitingAnswer, Count };

// One run closed at `moment`, by the close box or by Escape.
void CloseDuringRun(Responder& server, CloseMoment moment, bool escape)
{
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
    window.SetText(IDC_SERVER, server.ServerText());

    auto close = [&] {
        if (escape)
            Key(&window, Qt::Key_Escape);
        else
            window.close();
    };

    bool endedDuringChoice = false;
    FileDialogCanceller canceller([&] {
        if (moment != CloseMoment::FileChoice)
            return;
        window.close(); // the file dialog is modal: only the window itself can be asked
        endedDuringChoice = window.Ended();
    });
    dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    EXPECT_EQ(window.GetText(IDC_GO), "&Stop");
    ASSERT_TRUE(WaitFor([&] { return canceller.Cancelled() == 1; })) << "the worker asks for the log file";
    EXPECT_FALSE(endedDuringChoice) << "the worker still waits for the file choice";
    if (moment == CloseMoment::BeforeFirstPoll)
        close();
    if (moment == CloseMoment::BetweenPolls) {
        ASSERT_TRUE(WaitFor([&] { return ShowsStats(window); }));
        Pump(30);
        close();
    }
    if (moment == CloseMoment::AwaitingAnswer) {
        const size_t before = server.Requests().size();
        ASSERT_TRUE(WaitFor([&] { return server.Requests().size() > before; }));
        close();
    }

    ASSERT_TRUE(WaitFor([&] { return window.Ended(); }, 10000)) << "the close completes after the worker";
    EXPECT_EQ(window.Result(), IDCANCEL);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(dialog.m_monitorRunning, 0);
    EXPECT_EQ(window.GetText(IDC_GO), "&Go") << "the worker's ending ran first";
}

TEST(JitterCloseTest, ClosingDuringARunNeverCrashesAndLeavesNoThread)
{
    // Every second answer comes late, so that some closes land in a wait.
    auto count = std::make_shared<int>(0);
    Responder server([count](const Responder::Request& request) {
        const int delay = ++*count % 2 == 0 ? 300 : 0;
        return std::vector<Responder::Datagram>{Responder::Message(Responder::ServerReply(request), delay)};
    });
    ASSERT_TRUE(server.IsListening());

    // Qt starts helper threads of its own with the first file dialog.
    CloseDuringRun(server, CloseMoment::BetweenPolls, false);
    Pump(100);
    const int threads = ThreadCount();

    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const auto moment = static_cast<CloseMoment>(i % static_cast<int>(CloseMoment::Count));
        CloseDuringRun(server, moment, i % 3 == 1);
        if (HasFatalFailure())
            return;
        Pump(10);
        EXPECT_TRUE(ThreadCountSettlesAt(threads)) << ThreadCount() << " threads, " << threads << " before";
    }
}

TEST(JitterCloseTest, StopThenCloseEndsAtOnce)
{
    Responder server(Responder::NtpServer());
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    window.SetText(IDC_SERVER, server.ServerText());
    FileDialogCanceller canceller;
    dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    ASSERT_TRUE(WaitFor([&] { return ShowsStats(window); }));

    dialog.OnCommand(IDC_GO); // "&Stop"
    EXPECT_FALSE(window.IsControlEnabled(IDC_GO));
    ASSERT_TRUE(WaitFor([&] { return window.GetText(IDC_GO) == "&Go" && window.IsControlEnabled(IDC_GO); }));
    Pump(50); // lets the posted end of the worker run
    EXPECT_FALSE(window.Ended());
    Key(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.Ended()) << "with the run over, a close is immediate";
}

} // namespace

HOROLAB_QT_TEST_MAIN()
