#include "frontends/terminal/DialogSetUp.h"

#include "frontends/terminal/TerminalWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cstdio>

bool SetUpDialog(CTerminalWindow& window, CTikkaraDlg& dialog, const CommandLine& line)
{
    dialog.OnInitDialog();
    window.SetText(IDC_SERVER, line.server);
    window.SetChecked(IDC_SET_TIME, line.setTime);
    if (!line.port123)
        return true;
    window.SetChecked(IDC_PORT123, true);
    dialog.OnSendFromPort123();
    if (window.IsChecked(IDC_PORT123))
        return true;
    // The handler has shown its message box; the reason is the bind's.
    std::fprintf(stderr, "%s\n", BindFailureText(NtpPort, dialog.LastBindError()).c_str());
    return false;
}
