#include "frontends/terminal/DialogSetUp.h"
#include "frontends/terminal/SparkLine.h"
#include "frontends/terminal/StopSignal.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"
#include "frontends/terminal/TerminalWindow.h"
#include "jitter/JitterRun.h"
#include "query/KissCode.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

constexpr double ChartSeconds = 60.0;

// The statistics text on one line: its lines' contents, blanks squeezed.
std::string OneLine(const std::string& text)
{
    std::string out;
    bool blank = true;
    for (char c : text) {
        const bool space = c == ' ' || c == '\r' || c == '\n';
        if (space && !blank)
            out += ' ';
        else if (!space)
            out += c;
        blank = space;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string StatsText(const JitterPoll& poll)
{
    const CJitterStats& s = poll.stats;
    return FormatJitterStats(poll.intervalSeconds, s.good, s.bad, s.total, s.last, s.min, s.max, s.delta,
                             s.average);
}

// The window's monitor loses lines it cannot write silently; a terminal run
// that cannot write its file says so before the first poll.
bool CanWrite(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "w"); // the run empties it anyway
    if (file == nullptr) {
        std::fprintf(stderr, "horolab: cannot write the CSV file %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    std::fclose(file);
    return true;
}

} // namespace

int RunTerminalMonitor(const CommandLine& line)
{
    CatchStopSignals();
    if (!line.csvPath.empty() && !CanWrite(line.csvPath))
        return 1;

    const bool tty = isatty(STDOUT_FILENO) != 0;
    CTerminalWindow window;
    CTikkaraDlg dialog(window);
    window.SetSaveFileChoice(line.csvPath);
    if (!SetUpDialog(window, dialog, line))
        return 1;

    // Every poll, as the monitor counts it, on the worker's thread.
    std::mutex mutex;
    long polls = 0;
    std::string last;
    std::string stopLine; // why the server ended the run, if it did
    dialog.SetPollObserver([&](const JitterPoll& poll) {
        std::lock_guard lock(mutex);
        last = StatsText(poll);
        if (tty) // the chart of the last minute under the statistics
            last += "\r\n Last minute: " + SparkLine(window.Chart(IDC_CHART), ChartSeconds);
        if (ReactionToKiss(poll.kissCode) == KissReaction::Stop)
            stopLine = KissStopLine(poll.kissCode);
        if (tty)
            std::printf("\033[H\033[J%s", ToLfLines(last).c_str());
        else
            std::printf("%s\n", OneLine(last).c_str());
        std::fflush(stdout);
        if (line.polls > 0 && ++polls >= line.polls)
            dialog.m_monitorRunning = 0; // as "&Stop" asks: the run ends after this poll
    });

    dialog.OnJitterMonitor();
    // The run's last window call puts "&Go" back after enabling the controls;
    // after it the worker only posts its ending, which the dialog joins.
    auto ended = [&] {
        return dialog.m_monitorRunning == 0 && window.IsControlEnabled(IDC_SERVER) &&
               window.GetText(IDC_GO) == "&Go";
    };
    while (!ended()) {
        window.ProcessEvents(100);
        if (StopRequested() && dialog.m_monitorRunning != 0)
            dialog.OnOK(); // "&Stop"
    }
    window.ProcessEvents(0);
    std::lock_guard lock(mutex);
    if (last.empty()) {
        // Not one poll: the reason the run could not start is in the pane.
        std::printf("%s\n", ToLfLines(window.GetText(IDC_LOG)).c_str());
        return 1;
    }
    std::printf("%s%s\n", tty ? "\033[H\033[J" : "", ToLfLines(last).c_str());
    if (!stopLine.empty()) {
        std::printf("%s\n", stopLine.c_str());
        return 1;
    }
    return 0;
}
