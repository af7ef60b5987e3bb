#include "ntp/Format.h"
#include "query/ServerText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

namespace {
constexpr int QueryTimeoutSeconds = 2;
} // namespace

// One complete client exchange with the server in the server box, reported
// into the log pane. Every way out leaves the controls enabled.
void CTikkaraDlg::OnOK()
{
    if (m_monitorRunning != 0 || m_surveyRunning != 0) {
        // "&Stop": the worker notices, ends its run and restores the controls.
        m_monitorRunning = 0;
        m_surveyRunning = 0;
        m_window.EnableControl(IDC_GO, false);
        return;
    }
    if (m_window.IsChecked(IDC_NTS)) {
        OnNtsQuery();
        return;
    }

    BeginQuery();
    if (!IsPort123Mode() && !OpenSocket()) {
        EnableControls(true);
        return;
    }
    // A query that fails after opening its own socket closes it again, so
    // failed queries never leave sockets behind.
    auto fail = [&] {
        if (!IsPort123Mode())
            CloseSocket();
        EnableControls(true);
    };

    if (!SetServer("")) {
        fail();
        return;
    }
    RememberServer();
    LogQueryingHost("", NtpPort);

    const CNtpMsg request = m_engine.NewRequest(m_window.IsChecked(IDC_SNTP));
    if (SendRequest(request) == -1) {
        AppendLog(ExchangeFailureText(m_exchange));
        fail();
        return;
    }

    CNtpMsg reply(NtpTimestamp{}); // overwritten by the answer
    if (!ReceiveReply(reply, QueryTimeoutSeconds, true)) {
        fail();
        return;
    }

    EnableControls(true);
    AppendLog(FormatResultBox(reply));
    AppendLog(Format("Packet size: %i bytes\r\n", m_receivedBytes));
    AppendLog(reply.GetPacketContent());
    AppendLog("\r\nTimestamps shown in local time zone:");
    AppendLog(reply.GetTimeZoneText(m_clock.Now().seconds));
    m_window.SetText(IDC_STATUS, MeasurementText(m_exchange));
    ShowLogFromTop();

    if (!IsPort123Mode())
        CloseSocket();
}

// Where every query starts: the controls busy, the pane, the status line
// and the chart empty, nothing known of the exchange yet.
void CTikkaraDlg::BeginQuery()
{
    EnableControls(false);
    m_window.SetText(IDC_LOG, "");
    m_window.SetText(IDC_STATUS, "");
    ClearJitterChart();
    m_exchange = NtpExchange{};
    m_clockSetting = ClockSetting{};
}

// The query's first line: the host, its port unless it is `defaultPort`
// (always in port-123 mode), what the query is (`how`, e.g. " with NTS")
// and the port it leaves from.
void CTikkaraDlg::LogQueryingHost(const char* how, int32_t defaultPort)
{
    const std::string host = BracketedHost(m_host);
    if (IsPort123Mode())
        AppendLog(Format("Querying host %s:%i%s from port %i\r\n", host.c_str(), m_port, how, NtpPort));
    else if (m_port == defaultPort)
        AppendLog(Format("Querying host %s%s from random port\r\n", host.c_str(), how));
    else
        AppendLog(Format("Querying host %s:%i%s from random port\r\n", host.c_str(), m_port, how));
}

// A finished report is read from its first line.
void CTikkaraDlg::ShowLogFromTop()
{
    m_window.SetSelection(IDC_LOG, 0, 0);
    m_window.ScrollCaret(IDC_LOG);
}
