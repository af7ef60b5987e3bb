// The jitter monitor in the real Qt dialog (offscreen) against the chronyd
// on loopback (scripts/chronyd-fixture.sh start DIR writes DIR/port):
//  - poll start to start, taken at each refresh of the statistics text
//    (the refresh opens every poll), and the CPU time of the whole process
//    (interface thread, painting and worker) per minute of polling;
//  - the log pane's refresh cost over an hour's worth of refreshes: 3600
//    replacements of the statistics text, each painted, first against last;
//  - the chart's repaint with an hour of polls, added to the minute's CPU.
// jitter_monitor_bench measures the worker alone on the in-memory window.
//   monitor_window_bench [DIR [POLLS [REFRESHES]]]   defaults: $HOROLAB_CHRONY_DIR, 60, 3600
#include "BenchStats.h"
#include "PaintCounter.h"

#include "jitter/JitterStats.h"
#include "frontends/qt/QtChartControl.h"
#include "frontends/qt/QtLogPane.h"
#include "jitter/JitterChart.h"
#include "support/QtWindowDriver.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QAbstractScrollArea>
#include <QEventLoop>
#include <QFileDialog>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace bench;
using namespace qtdriver;

namespace {

constexpr double IntervalLowMs = 1000.0;
constexpr double MedianHighMs = 1005.0;
constexpr double IntervalHighMs = 1011.0;
constexpr double CpuGoalSecondsPerMinute = 0.3;
// Flat: the last refreshes cost at most this much more than the first.
constexpr double FlatGoal = 1.10;
constexpr int Window = 200; // refreshes compared at each end

bool IsStatsText(const std::string& text)
{
    return text.rfind(" Jitter Monitor\r\n -", 0) == 0 && text.find("Average: ") != std::string::npos;
}

// Cancels the save-file dialog the monitor opens at its start (no CSV
// file), then stops looking, so as to cost nothing while the monitor polls.
class FirstFileDialogCanceller {
public:
    FirstFileDialogCanceller()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible()) {
                dialog->reject();
                m_timer.stop();
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

struct Refresh {
    double wallMs;
    double cpuS;
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string dir = bench::ChronyDir(argc, argv);
    const int polls = argc > 2 ? std::atoi(argv[2]) : 60;
    const int refreshes = argc > 3 ? std::atoi(argv[3]) : 3600;
    const std::string port = bench::ReadChronyPort(dir);
    if (port.empty() || polls < 2 || refreshes < 2 * Window) {
        std::fprintf(stderr, "usage: %s [CHRONY_DIR [POLLS >= 2 [REFRESHES >= %d]]]  (no port in '%s/port')\n",
                     argv[0], 2 * Window, dir.c_str());
        return 2;
    }

    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    if (!WaitFor([&] { return window.isVisible(); })) {
        std::fprintf(stderr, "the dialog did not show\n");
        return 1;
    }
    window.SetText(IDC_SERVER, "127.0.0.1:" + port);
    auto* pane = static_cast<QtLogPane*>(window.Control(IDC_LOG));

    // Every refresh replaces the pane's text on this thread while the worker
    // waits. The thread sleeps in a real event loop meanwhile, as in the
    // program, so that the process's CPU time is the program's own.
    QEventLoop polling;
    std::vector<Refresh> seen;
    QObject::connect(pane, &QPlainTextEdit::textChanged, [&] {
        if (!IsStatsText(pane->WindowText()) || static_cast<int>(seen.size()) > polls)
            return;
        seen.push_back({NowUs() / 1000.0, ProcessCpuSeconds()});
        if (static_cast<int>(seen.size()) > polls)
            QTimer::singleShot(0, &polling, &QEventLoop::quit);
    });

    std::printf("== Monitor in the Qt dialog (offscreen) against chronyd at 127.0.0.1:%s, %d polls\n", port.c_str(),
                polls);
    PrintLoad("before");
    FirstFileDialogCanceller canceller;
    dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    QTimer::singleShot((polls + 10) * 1000, &polling, &QEventLoop::quit);
    polling.exec();
    const bool polled = static_cast<int>(seen.size()) > polls;
    dialog.OnCommand(IDC_GO); // "&Stop"
    const bool stopped =
        WaitFor([&] { return window.GetText(IDC_GO) == "&Go" && window.IsControlEnabled(IDC_GO); }, 5000);
    if (!polled || !stopped) {
        std::fprintf(stderr, "the run did not poll %d times and stop:\n%s\n", polls,
                     window.GetText(IDC_LOG).c_str());
        return 1;
    }
    const std::string last = window.GetText(IDC_LOG);
    if (last.find("bad: 0\r\n") == std::string::npos)
        std::printf("  (some polls failed:)\n%s\n", last.c_str());

    std::vector<double> intervals;
    for (size_t i = 1; i < seen.size(); ++i)
        intervals.push_back(seen[i].wallMs - seen[i - 1].wallMs);
    const double wallS = (seen.back().wallMs - seen.front().wallMs) / 1000.0;
    const double cpuS = seen.back().cpuS - seen.front().cpuS;
    const double maxInterval = Percentile(intervals, 1.0);
    const double medianInterval = Median(intervals);
    std::printf("  poll start to start over %zu intervals: median %.2f ms, min %.2f ms, p90 %.2f ms, max %.2f ms; "
                "ratio median/1000 ms %.4f\n",
                intervals.size(), medianInterval, Percentile(intervals, 0.0), Percentile(intervals, 0.9), maxInterval,
                medianInterval / 1000.0);
    std::printf("  GOAL interval median %.0f-%.0f ms, max <= %.0f ms: %s\n", IntervalLowMs, MedianHighMs,
                IntervalHighMs,
                Verdict(medianInterval >= IntervalLowMs && medianInterval <= MedianHighMs &&
                        maxInterval <= IntervalHighMs));
    const double cpuPerMinute = cpuS * 60.0 / wallS;
    std::printf("  process CPU: %.3f s in %.1f s of polling = %.3f s per minute (%.2f %% of a core)\n", cpuS, wallS,
                cpuPerMinute, 100.0 * cpuS / wallS);
    std::printf("  GOAL <= %.1f s CPU per minute: %s\n", CpuGoalSecondsPerMinute,
                Verdict(cpuPerMinute <= CpuGoalSecondsPerMinute));

    // An hour of refreshes in the real pane, each replacement painted.
    PaintCounter painted;
    pane->viewport()->installEventFilter(&painted);
    Pump(50);
    CJitterStats stats;
    int unpainted = 0;
    auto nextText = [&stats] {
        const std::string text = FormatJitterStats(1, stats.good, stats.bad, stats.total, stats.last, stats.min,
                                                   stats.max, stats.delta, stats.average);
        ++stats.total;
        stats.Update(stats.total % 7 - 3);
        ++stats.good;
        return text;
    };
    // Replaces the text and runs the event loop until the pane has painted it.
    auto refresh = [&unpainted](QtDialogWindow& target, PaintCounter& counter, const std::string& text) {
        const int before = counter.paints;
        const double t0 = NowUs();
        target.SetText(IDC_LOG, text);
        while (counter.paints == before && NowUs() - t0 < 100000.0)
            QApplication::processEvents(QEventLoop::AllEvents);
        unpainted += counter.paints == before;
        return NowUs() - t0;
    };
    const long residentBefore = ResidentKiB();
    std::vector<double> hourUs;
    for (int i = 0; i < refreshes; ++i)
        hourUs.push_back(refresh(window, painted, nextText()));
    const long residentAfter = ResidentKiB();

    // Load drifts over the hour's run; so the verdict compares side by side,
    // alternating, a fresh dialog's first refreshes with the aged pane's next.
    QtDialogWindow freshWindow(IDD_MAIN);
    CTikkaraDlg freshDialog(freshWindow);
    freshWindow.Open(freshDialog);
    WaitFor([&] { return freshWindow.isVisible(); });
    Pump(50);
    PaintCounter freshPainted;
    static_cast<QtLogPane*>(freshWindow.Control(IDC_LOG))->viewport()->installEventFilter(&freshPainted);
    std::vector<double> freshUs, agedUs;
    for (int i = 0; i < Window; ++i) {
        const std::string text = nextText();
        if (i % 2 == 0) {
            freshUs.push_back(refresh(freshWindow, freshPainted, text));
            agedUs.push_back(refresh(window, painted, text));
        } else {
            agedUs.push_back(refresh(window, painted, text));
            freshUs.push_back(refresh(freshWindow, freshPainted, text));
        }
    }
    freshWindow.EndDialog(IDCANCEL);

    const std::vector<double> hourFirst(hourUs.begin(), hourUs.begin() + Window);
    const std::vector<double> hourLast(hourUs.end() - Window, hourUs.end());
    std::printf("== Log pane refresh (replace the statistics text and paint it): an hour's %d refreshes\n",
                refreshes);
    PrintSpread("the hour's first refreshes", hourFirst, "us");
    PrintSpread("the hour's last refreshes", hourLast, "us");
    std::printf("  resident memory %ld KiB before the hour, %ld KiB after; %d refreshes not painted within 100 ms\n",
                residentBefore, residentAfter, unpainted);
    PrintSpread("side by side: a fresh pane", freshUs, "us");
    PrintSpread("side by side: pane after the hour", agedUs, "us");
    const double growth = Median(agedUs) / Median(freshUs);
    std::printf("  ratio after the hour/fresh %.2f (in sequence last/first %.2f)   GOAL flat (<= %.2f): %s\n", growth,
                Median(hourLast) / Median(hourFirst), FlatGoal, Verdict(growth <= FlatGoal));

    // The chart over the pane with an hour of polls, as the last poll of an
    // hour's run repaints it: its cost at one repaint a poll.
    auto* chart = static_cast<QtChartControl*>(window.Control(IDC_CHART));
    CJitterChart hour;
    for (uint32_t n = 0; n < CJitterChart::MaxPolls; ++n) {
        JitterPoll poll;
        poll.startTick = n * 1000;
        poll.good = n % 97 != 0;
        poll.deviation = static_cast<int32_t>(n % 13) - 6;
        hour.Add(poll);
    }
    window.ShowChart(IDC_CHART, hour.View());
    Pump(50);
    std::vector<double> chartUs;
    for (int i = 0; i < Window; ++i) {
        const double t0 = NowUs();
        chart->repaint();
        chartUs.push_back(NowUs() - t0);
    }
    std::printf("== The chart with an hour of polls (%zu, %d failed), repainted\n", CJitterChart::MaxPolls,
                static_cast<int>(CJitterChart::MaxPolls / 97 + 1));
    PrintSpread("chart repaint", chartUs, "us");
    const double withHourChart = cpuPerMinute + 60.0 * Median(chartUs) / 1e6;
    std::printf("  CPU a minute with an hour's chart: at most %.3f s (the minute's %.3f s + 60 repaints)   GOAL <= %.1f: "
                "%s\n",
                withHourChart, cpuPerMinute, CpuGoalSecondsPerMinute, Verdict(withHourChart <= CpuGoalSecondsPerMinute));
    PrintLoad("after");
    window.EndDialog(IDCANCEL);
    return 0;
}
