#include "frontends/terminal/DialogSetUp.h"
#include "frontends/terminal/NtsJson.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"
#include "frontends/terminal/TerminalWindow.h"
#include "frontends/terminal/ExchangeJson.h"
#include "platform/Clock.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cstdio>

// The NTS check as "&Go" runs it with "Secure (&NTS)" checked.
int RunTerminalNts(const CommandLine& line)
{
    CTerminalWindow window;
    CTikkaraDlg dialog(window);
    if (!SetUpDialog(window, dialog, line))
        return 1;
    window.SetChecked(IDC_NTS, true);
    dialog.SetNtsCaFiles(line.ntsCaFiles);
    dialog.OnOK();
    if (line.port123 && window.IsChecked(IDC_PORT123))
        dialog.CloseSocket();

    const NtsVerdict& verdict = dialog.LastNtsVerdict();
    const CTikkaraDlg::ClockSetting& clock = dialog.LastClockSetting();
    if (line.json) {
        nlohmann::json out = verdict.code.empty()
                                 ? nlohmann::json{{"error", ExchangeFailureText(dialog.LastExchange())}}
                                 : NtsCheckJson(dialog.LastNtsCheck(), verdict, SystemClock().Now().seconds);
        if (line.setTime)
            out["clock"] = ClockJson(clock);
        std::fputs(JsonText(out).c_str(), stdout);
    } else {
        PrintLines(window.GetText(IDC_LOG));
    }
    return verdict.Works() && (!line.setTime || clock.set) ? 0 : 1;
}
