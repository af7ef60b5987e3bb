// The program: the application object runs the main dialog on the Qt window
// layer; when the dialog closes the program ends.
#include "frontends/qt/QtDialogWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QtDialogWindow window(IDD_MAIN);
    theApp.InitInstance(window);
    return 0;
}
