#include "frontends/terminal/DialogSetUp.h"
#include "frontends/terminal/ExchangeJson.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalText.h"
#include "frontends/terminal/TerminalWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <cstdio>

int RunTerminalQuery(const CommandLine& line)
{
    CTerminalWindow window;
    CTikkaraDlg dialog(window);
    if (!SetUpDialog(window, dialog, line))
        return 1;
    dialog.OnOK();
    if (line.port123 && window.IsChecked(IDC_PORT123))
        dialog.CloseSocket();

    const NtpExchange& exchange = dialog.LastExchange();
    const CTikkaraDlg::ClockSetting& clock = dialog.LastClockSetting();
    if (line.json) {
        nlohmann::json out = exchange.Answered() ? AnswerJson(exchange)
                                                 : nlohmann::json{{"error", ExchangeFailureText(exchange)}};
        if (line.setTime)
            out["clock"] = ClockJson(clock);
        std::fputs(JsonText(out).c_str(), stdout);
    } else {
        // The report, then what the window's status line shows under it.
        PrintLines(window.GetText(IDC_LOG));
        const std::string status = MeasurementText(exchange);
        if (!status.empty())
            std::printf("\n%s\n", status.c_str());
    }
    // Asked to set the clock, the query has failed when the clock was not set.
    return exchange.Answered() && (!line.setTime || clock.set) ? 0 : 1;
}
