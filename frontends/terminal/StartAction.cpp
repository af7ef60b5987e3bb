#include "frontends/terminal/StartAction.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

void ScheduleStartAction(IWindow& window, CTikkaraDlg& dialog, const CommandLine& line)
{
    if (line.mode != RunMode::WindowQuery && line.mode != RunMode::WindowMonitor)
        return;
    const std::string server = line.server;
    const int command = line.mode == RunMode::WindowQuery ? IDOK : ID_FILE_JITTER_MONITOR;
    window.PostToUiThread([&window, &dialog, server, command] {
        // As typed into the server box, then Enter or the menu command.
        if (!server.empty())
            window.SetText(IDC_SERVER, server);
        dialog.OnCommand(command);
    });
}
