#include "frontends/terminal/ExchangeJson.h"
#include "frontends/terminal/SurveyJson.h"
#include "frontends/terminal/StopSignal.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"
#include "survey/SurveyTable.h"

#include <cstdio>

namespace {
void Print(const std::string& text)
{
    std::fputs(ToLfLines(text).c_str(), stdout);
    std::fflush(stdout);
}
} // namespace

// The window's survey without the window: the same lines and table. Ctrl-C
// ends the sampling early, as "&Stop" does, and what was measured is shown.
int RunTerminalSurvey(const CommandLine& line)
{
    CatchStopSignals();

    CExchangeEngine engine(PosixSockets(), SystemClock());
    SurveyResult survey = ResolveSurvey(engine, line.surveyed);
    if (!line.json)
        Print(FormatSurveyStart(survey));
    if (!survey.addresses.empty()) {
        RunSurvey(engine, survey, line.samples, [] { return !StopRequested(); });
        if (!line.json)
            Print("\r\n" + FormatSurveyTable(survey));
    }
    if (line.json)
        std::fputs(JsonText(SurveyJson(survey)).c_str(), stdout);
    return survey.selection.majority ? 0 : 1;
}
