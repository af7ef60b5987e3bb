#include "frontends/terminal/ExchangeJson.h"
#include "frontends/terminal/SurveyJson.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"
#include "survey/SurveyTable.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {
std::atomic<bool> g_stopRequested{false};

void OnStopSignal(int) { g_stopRequested = true; }

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
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CExchangeEngine engine(PosixSockets(), SystemClock());
    SurveyResult survey = ResolveSurvey(engine, line.surveyed);
    if (!line.json)
        Print(FormatSurveyStart(survey));
    if (!survey.addresses.empty()) {
        RunSurvey(engine, survey, line.samples, [] { return !g_stopRequested; });
        if (!line.json)
            Print("\r\n" + FormatSurveyTable(survey));
    }
    if (line.json)
        std::fputs(JsonText(SurveyJson(survey)).c_str(), stdout);
    return survey.selection.majority ? 0 : 1;
}
