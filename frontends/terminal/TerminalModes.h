#pragma once
// The terminal modes: the dialog on the in-memory window, its log pane's text
// printed. Each returns the program's exit status.
#include "frontends/terminal/CommandLine.h"

int RunTerminalQuery(const CommandLine& line);
int RunTerminalNts(const CommandLine& line);
int RunTerminalMonitor(const CommandLine& line);
// Not through the dialog: a survey has no window state to share.
int RunTerminalSurvey(const CommandLine& line);
int RunTerminalAudit(const CommandLine& line);
