// The program's own start (see main.cpp), with the probe that reports when
// the dialog is on screen: the start-up benchmark times this against the
// floor of a bare dialog.
#include "ShownProbe.h"

#include "frontends/qt/QtDialogWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ShownProbe probe;
    QtDialogWindow window(IDD_MAIN);
    theApp.InitInstance(window);
    return 0;
}
