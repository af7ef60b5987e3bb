#pragma once
// What the window does first when the command line names a server or the
// jitter monitor: queued on the window, so it runs once the dialog is up.
#include "frontends/terminal/CommandLine.h"
#include "platform/Window.h"

class CTikkaraDlg;

void ScheduleStartAction(IWindow& window, CTikkaraDlg& dialog, const CommandLine& line);
