#include "ntp/Format.h"
#include "nts/NtsReport.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

// The NTS check of the server in the server box, reported into the log
// pane like a query: controls disabled while it runs, the report read from
// its first line. The NTP exchanges leave from port 123 in port-123 mode.
void CTikkaraDlg::OnNtsQuery()
{
    BeginQuery();
    m_ntsCheck = NtsCheck{};
    m_ntsVerdict = NtsVerdict{};
    if (!SetServer("", NtsKePort)) {
        EnableControls(true);
        return;
    }
    RememberServer();
    LogQueryingHost(" with NTS", NtsKePort);

    CNtsChecker checker(m_engine, m_tls, m_crypto);
    if (IsPort123Mode())
        checker.UseSocket(m_socket);
    m_ntsCheck.keyExchange = checker.KeyExchange(m_exchange, m_ntsCaFiles);
    checker.TimeExchanges(m_ntsCheck);
    m_ntsVerdict = JudgeNtsCheck(m_ntsCheck);
    if (m_window.IsChecked(IDC_SET_TIME))
        SetClockFromNts();

    EnableControls(true);
    for (const std::string& block : NtsReportBlocks(m_ntsCheck, m_ntsVerdict, m_clock.Now().seconds))
        AppendLog(block);
    ShowLogFromTop();
}

// Only an authenticated answer to a key exchange with a verified
// certificate may set the clock, and then only if the answer's own
// trust rules allow it.
void CTikkaraDlg::SetClockFromNts()
{
    const std::string refusal = NtsClockRefusal(m_ntsCheck);
    if (refusal.empty()) {
        const NtpExchange& answer = *NtsClockAnswer(m_ntsCheck);
        SetClockFromReply(answer.reply, answer.requestTransmit, true);
        return;
    }
    m_clockSetting.asked = true;
    m_clockSetting.reason = refusal;
    AppendLog(Format("--System time not set: %s\r\n", refusal.c_str()));
}
