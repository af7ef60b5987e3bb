#include "ui/TikkaraApp.h"

#include "ui/TikkaraDlg.h"

CTikkaraApp theApp;

bool CTikkaraApp::InitInstance(IDialogHost& host)
{
    {
        CTikkaraDlg dialog(host);
        host.DoModal(dialog);
    }
    return false;
}
