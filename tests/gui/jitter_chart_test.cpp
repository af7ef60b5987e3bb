// The monitor's chart in the real window (offscreen): a run against a server
// whose clock swings and that misses some polls, charted over the log pane's
// lower part with the failures marked, through maximise and restore, and
// gone with "&Clear Log". Screenshots into the screenshot folder. Fake ticks
// and virtual waits, so the run takes no real minutes.
#include "fakes/FakeClock.h"
#include "frontends/qt/QtChartControl.h"
#include "support/FaultySockets.h"
#include "support/JitterRig.h"
#include "support/NtpSamples.h"
#include "support/QtTestMain.h"
#include "support/QtTsanSuppressions.h"
#include "support/QtWindowDriver.h"
#include "support/UdpResponder.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>

using namespace qtdriver;

namespace {
using Responder = CUdpResponder;

constexpr int Polls = 40;
const int Silent[] = {9, 24, 25}; // requests that get no answer

// A server whose clock swings by some milliseconds around ours.
Responder::Answer SwingingServer()
{
    auto count = std::make_shared<int>(0);
    return [count](const Responder::Request& request) {
        const int n = ++*count;
        if (std::find(std::begin(Silent), std::end(Silent), n) != std::end(Silent))
            return std::vector<Responder::Datagram>{};
        CNtpMsg reply = Responder::ServerReply(request);
        const int aheadMs = static_cast<int>(std::lround(4.0 * std::sin(n / 4.0) + (n > 30 ? 3 : 0)));
        reply.m_receive = ShiftedMs(reply.m_receive, aheadMs);
        reply.m_transmit = reply.m_receive;
        return std::vector<Responder::Datagram>{Responder::Message(reply)};
    };
}

// Pixels of about `colour` in the picture.
int CountColour(const QImage& image, QColor colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                         std::abs(c.blue() - colour.blue()) < 60;
        }
    return count;
}

TEST(JitterChartWindow, ChartsARunOverTheLogPaneWithFailuresMarked)
{
    FakeClock clock(5'000'000);
    clock.SetRealSleepMicroseconds(20);
    FaultySockets sockets;
    sockets.UseVirtualWaits(clock);
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window, sockets, clock);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
    auto* chart = qobject_cast<QtChartControl*>(window.Control(IDC_CHART));
    ASSERT_NE(chart, nullptr);
    EXPECT_FALSE(chart->isVisible()) << "no chart before a run";

    Responder server(SwingingServer());
    window.SetText(IDC_SERVER, server.ServerText());
    std::atomic<int> polls{0}, bad{0};
    dialog.SetPollObserver([&](const JitterPoll& poll) {
        bad += !poll.good;
        if (++polls == Polls)
            dialog.m_monitorRunning = 0; // as "&Stop" asks
    });
    FileDialogCanceller canceller;
    dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    ASSERT_TRUE(WaitFor([&] { return window.GetText(IDC_GO) == "&Go" && window.IsControlEnabled(IDC_GO); },
                        30000));
    Pump(100);

    ASSERT_TRUE(chart->isVisible()) << "the chart stays after the run";
    EXPECT_EQ(static_cast<int>(chart->Chart().points.size()), Polls);
    int marked = 0;
    for (const ChartPoint& p : chart->Chart().points)
        marked += p.marked;
    // In random-port mode each time-out makes the next send fail as well.
    EXPECT_EQ(bad.load(), 6);
    EXPECT_EQ(marked, bad.load());
    const QRect pane = window.Control(IDC_LOG)->geometry();
    EXPECT_TRUE(pane.contains(chart->geometry())) << "over the log pane";
    EXPECT_GT(chart->geometry().top(), pane.top() + pane.height() / 2) << "under the statistics text";

    const QImage picture = chart->grab().toImage();
    EXPECT_GT(CountColour(picture, QColor(210, 30, 30)), 6 * 8) << "every failure marked in red";
    EXPECT_GT(CountColour(picture, QColor(0, 90, 200)), 200) << "the line through the good polls";
    EXPECT_FALSE(SaveScreenshot(&window, "jitter_chart.png").isEmpty());

    const QRect normal = chart->geometry();
    window.Maximise();
    ASSERT_TRUE(WaitFor([&] { return window.Control(IDC_LOG)->height() > pane.height(); }));
    Pump(100);
    const QRect big = chart->geometry();
    EXPECT_GT(big.width(), normal.width());
    EXPECT_GT(big.height(), normal.height());
    EXPECT_TRUE(window.Control(IDC_LOG)->geometry().contains(big));
    EXPECT_FALSE(SaveScreenshot(&window, "jitter_chart_maximised.png").isEmpty());
    window.Restore();
    ASSERT_TRUE(WaitFor([&] { return chart->geometry() == normal; }));

    dialog.OnCommand(IDC_CLEAR_LOG);
    EXPECT_FALSE(chart->isVisible());
    window.EndDialog(IDCANCEL);
}

} // namespace

HOROLAB_QT_TEST_MAIN()
