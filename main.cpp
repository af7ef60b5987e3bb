// The program: the command line picks the mode. The window modes run the
// main dialog on the Qt window layer; the terminal modes run it on the
// in-memory window and never start the window system.
#include "frontends/qt/QtDialogWindow.h"
#include "frontends/terminal/CommandLine.h"
#include "frontends/terminal/StartAction.h"
#include "frontends/terminal/TerminalModes.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QApplication>

#include <cstdio>

namespace {

int RunWindow(int argc, char** argv, const CommandLine& line)
{
    QApplication app(argc, argv);
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    ScheduleStartAction(window, dialog, line);
    window.DoModal(dialog);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.mode) {
    case RunMode::Help: std::fputs(UsageText().c_str(), stdout); return 0;
    case RunMode::Version: std::printf("horolab %s\n", HOROLAB_VERSION); return 0;
    case RunMode::BadUsage:
        std::fprintf(stderr, "horolab: %s\n%s", line.error.c_str(), UsageText().c_str());
        return 2;
    case RunMode::Query: return RunTerminalQuery(line);
    case RunMode::Monitor: return RunTerminalMonitor(line);
    default: return RunWindow(argc, argv, line);
    }
}
