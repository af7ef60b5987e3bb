#include "audit/AuditText.h"
#include "frontends/terminal/AuditJson.h"
#include "frontends/terminal/ExchangeJson.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"

#include <cstdio>

// The audit without the window: the same lines as the log pane shows, or
// the JSON; the exit status says whether every address reached the grade.
int RunTerminalAudit(const CommandLine& line)
{
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    AuditReport report = auditor.Resolve(line.server);
    if (!line.json)
        PrintLines(FormatAuditStart(report));
    if (!report.addresses.empty()) {
        AuditOptions options;
        options.ntsPort = line.ntsPort;
        options.caFiles = line.ntsCaFiles;
        auditor.Run(report, options);
        if (!line.json)
            PrintLines("\r\n" + FormatAuditReport(report));
    }
    if (line.json)
        std::fputs(JsonText(AuditJson(report, line.minGrade)).c_str(), stdout);
    return AuditReaches(report, line.minGrade) ? 0 : 1;
}
