#include "ui/TikkaraApp.h"

#include "ui/TikkaraDlg.h"

CTikkaraApp theApp;

bool CTikkaraApp::InitInstance(IDialogHost& host, const std::function<void(CTikkaraDlg&)>& beforeRun)
{
    {
        CTikkaraDlg dialog(host);
        if (beforeRun)
            beforeRun(dialog);
        host.DoModal(dialog);
    }
    return false;
}
