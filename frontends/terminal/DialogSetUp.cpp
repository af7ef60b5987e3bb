#include "frontends/terminal/DialogSetUp.h"

#include "frontends/terminal/TerminalWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

void SetUpDialog(CTerminalWindow& window, CTikkaraDlg& dialog, const CommandLine& line)
{
    dialog.OnInitDialog();
    window.SetText(IDC_SERVER, line.server);
    window.SetChecked(IDC_SET_TIME, line.setTime);
    if (line.port123) {
        window.SetChecked(IDC_PORT123, true);
        dialog.OnSendFromPort123();
    }
}
