#pragma once
// The dialog set up on the in-memory window as the command line asks.
#include "frontends/terminal/CommandLine.h"

class CTerminalWindow;
class CTikkaraDlg;

// Initialises the dialog, puts the server text into its box and checks
// "Set System &Time" and "Send from Port &123" as given, the latter through
// its handler, as the operator's click would. False, with the reason on
// standard error, when port 123 was asked for and cannot be bound.
bool SetUpDialog(CTerminalWindow& window, CTikkaraDlg& dialog, const CommandLine& line);
