#pragma once
// Ctrl-C and SIGTERM as the terminal's "&Stop": the run under way is asked
// to end and shows what it has, instead of the process dying mid-run.

// From now on SIGINT and SIGTERM only set the stop request.
void CatchStopSignals();
bool StopRequested();
