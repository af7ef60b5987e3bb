#include "frontends/terminal/DialogSetUp.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"
#include "frontends/terminal/TerminalWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<bool> g_stopRequested{false};

void OnStopSignal(int) { g_stopRequested = true; }

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

} // namespace

int RunTerminalMonitor(const CommandLine& line)
{
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const bool tty = isatty(STDOUT_FILENO) != 0;
    CTerminalWindow window;
    CTikkaraDlg dialog(window);
    window.SetSaveFileChoice(line.csvPath);
    SetUpDialog(window, dialog, line);

    // Every poll begins by showing the statistics of the polls before it.
    long shown = 0;
    std::string last;
    window.SetLogObserver([&](const std::string& text) {
        if (text.rfind(" Jitter Monitor", 0) != 0)
            return; // the run's title, or an error line
        last = text;
        if (++shown == 1)
            return; // all zero, before the first poll
        if (tty)
            std::printf("\033[H\033[J%s", ToLfLines(text).c_str());
        else
            std::printf("%s\n", OneLine(text).c_str());
        std::fflush(stdout);
        if (line.polls > 0 && shown > line.polls && dialog.m_monitorRunning != 0)
            dialog.OnOK(); // "&Stop"
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
        if (g_stopRequested && dialog.m_monitorRunning != 0)
            dialog.OnOK(); // "&Stop"
    }
    window.ProcessEvents(0);
    window.SetLogObserver(nullptr);
    const std::string log = ToLfLines(window.GetText(IDC_LOG));
    const std::string final = ToLfLines(last.empty() ? log : last);
    std::printf("%s%s\n", tty ? "\033[H\033[J" : "", final.c_str());
    // An error the run logged (e.g. an unknown host) makes the run a failure.
    return last.empty() ? 1 : 0;
}
