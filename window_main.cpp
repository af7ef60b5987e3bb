// The window program: the application object's dialog on the Qt window
// layer, started by `horolab` for its window modes with the same arguments.
#include "frontends/qt/QtDialogWindow.h"
#include "frontends/terminal/CommandLine.h"
#include "frontends/terminal/StartAction.h"
#include "frontends/terminal/WindowProgram.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    const CommandLine line = ParseCommandLine(argc, argv);
    if (ReportMissingDisplay()) // started directly
        return 2;
    QApplication app(argc, argv);
    QtDialogWindow window(IDD_MAIN);
    theApp.InitInstance(window, [&](CTikkaraDlg& dialog) { ScheduleStartAction(window, dialog, line); });
    return 0;
}
