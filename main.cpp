// The program: the command line picks the mode. The terminal modes run the
// main dialog on the in-memory window; the exporter serves metrics over
// HTTP; the window modes hand over to the window program, so that a terminal
// run never loads the window system.
#include "frontends/exporter/Exporter.h"
#include "frontends/terminal/CommandLine.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/WindowProgram.h"

#include <cstdio>

int main(int argc, char** argv)
{
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.mode) {
    case RunMode::Help: std::fputs(UsageText().c_str(), stdout); return 0;
    case RunMode::Version: std::printf("horolab %s\n", HOROLAB_VERSION); return 0;
    case RunMode::BadUsage:
        std::fprintf(stderr, "horolab: %s\n%s", line.error.c_str(), UsageText().c_str());
        return 2;
    case RunMode::Query: return RunTerminalQuery(line);
    case RunMode::Nts: return RunTerminalNts(line);
    case RunMode::Monitor: return RunTerminalMonitor(line);
    case RunMode::Survey: return RunTerminalSurvey(line);
    case RunMode::Audit: return RunTerminalAudit(line);
    case RunMode::Exporter: return RunExporter(line);
    default: return ReportMissingDisplay() ? 2 : ExecWindowProgram(argv);
    }
}
