#include "ui/TikkaraDlg.h"

#include "ui/ControlIds.h"
#include "ui/MainDialogLayout.h"

#include <system_error>

namespace {
const char* const VersionText = "V 1.9.2";
constexpr int KeptFileMenuEntries = 3;

// The controls EnableControls switches, in the order it switches them.
const int BusyControls[] = {IDC_SERVER, IDC_GO,   IDC_SET_TIME,  IDC_PORT123, IDC_AUTH,
                            IDC_SNTP,   IDCANCEL, IDC_CLEAR_LOG, IDC_NTS};

// The log pane's lower two fifths, inside its border and clear of its
// scroll bar: the statistics text of a run stays readable above the chart.
Rect ChartRectOver(const Rect& log)
{
    constexpr int32_t Border = 2;
    constexpr int32_t ScrollBar = 20;
    return {log.left + Border, log.top + log.Height() * 3 / 5, log.right - ScrollBar, log.bottom - Border};
}

LogFont MakeLogFont()
{
    LogFont font;
    font.height = 6;
    font.weight = 300; // light
    font.charSet = 0;  // ANSI
    font.pitchAndFamily = 49; // fixed pitch, modern family
    font.faceName = "Courier";
    return font;
}
} // namespace

CTikkaraDlg::CTikkaraDlg(IWindow& window, ISocketLayer& sockets, IClock& clock, ITlsConnector& tls,
                         ICrypto& crypto)
    : m_window(window), m_clock(clock), m_engine(sockets, clock), m_tls(tls), m_crypto(crypto)
{
}

CTikkaraDlg::~CTikkaraDlg()
{
    // The dialog only ends once its workers have ended (see OnCancel); these
    // joins are a last guard and return at once.
    if (m_monitorThread.joinable())
        m_monitorThread.join();
    if (m_surveyThread.joinable())
        m_surveyThread.join();
    if (m_auditThread.joinable())
        m_auditThread.join();
}

bool CTikkaraDlg::OnInitDialog()
{
    m_window.SetIcon(IDR_APP_ICON);
    m_logo.Create(m_window, IDC_LOGO, IDB_LOGO);
    m_window.SetControlFont(IDC_LOG, MakeLogFont());
    m_monitorRunning = 0;
    m_window.CreateChartControl(IDC_CHART, ChartRectOver(m_window.GetControlRect(IDC_LOG)));
    m_layout.Init(&m_window, nullptr, kMainDialogLayout, MainDialogLayoutRows);
    m_window.SetText(IDC_STATUS, "");

    // Only "&Survey", "&Audit" and "&Quit\tESC", the last entries of the
    // "&File" pop-up, stay.
    const int entries = m_window.GetMenuItemCount(0);
    for (int n = entries - KeptFileMenuEntries; n > 0; --n)
        m_window.DeleteMenuItem(0, 0);

    m_window.ShowControl(IDC_AUTH, false);
    m_window.ShowControl(IDC_SNTP, false);
    return true;
}

void CTikkaraDlg::OnCommand(int id)
{
    // The dialog ends as soon as the worker has; a query started now would
    // still be running then.
    if (m_closeRequested)
        return;
    switch (id) {
    case IDOK: OnOK(); break;
    case IDCANCEL: OnCancel(); break;
    case IDC_GO: OnGo(); break;
    case IDC_CLEAR_LOG: OnClearLog(); break;
    case IDC_PORT123: OnSendFromPort123(); break;
    case ID_FILE_QUIT: OnQuit(); break;
    case ID_FILE_JITTER_MONITOR: OnJitterMonitor(); break;
    case ID_FILE_SURVEY: OnSurvey(); break;
    case ID_FILE_AUDIT: OnAudit(); break;
    default: break; // the remaining menu commands have no work behind them
    }
}

void CTikkaraDlg::OnSize() { m_layout.Relayout(); }

void CTikkaraDlg::OnShowWindow() { m_window.SetText(IDC_VERSION, VersionText); }

void CTikkaraDlg::OnGo() { OnOK(); }

void CTikkaraDlg::OnQuit() { OnCancel(); }

void CTikkaraDlg::OnCancel()
{
    // A worker uses this object until its very end: ask it to stop and let
    // its ending close the dialog, without waiting for it here.
    if (AnyWorker()) {
        m_monitorRunning = 0;
        m_surveyRunning = 0;
        m_closeRequested = true;
        return;
    }
    m_window.EndDialog(IDCANCEL);
}

bool CTikkaraDlg::AnyWorker() const
{
    return m_monitorThread.joinable() || m_surveyThread.joinable() || m_auditThread.joinable();
}

// The monitor, the survey or the audit on a worker of its own, with the controls busy
// and "&Go" as "&Stop", unless a worker is still there (ended, not yet joined).
void CTikkaraDlg::StartWorker(std::atomic<int32_t>& running, std::thread& worker, std::function<void()> work)
{
    if (AnyWorker())
        return;
    EnableControls(false);
    m_window.EnableControl(IDC_GO, true);
    m_window.SetText(IDC_GO, "&Stop");
    running = 1;
    try {
        worker = std::thread(std::move(work));
    } catch (const std::system_error&) {
        // No thread to be had: back to idle rather than stuck in "&Stop".
        BackToIdle(running);
    }
}

void CTikkaraDlg::BackToIdle(std::atomic<int32_t>& running)
{
    EnableControls(true);
    m_window.SetText(IDC_GO, "&Go");
    running = 0;
}

void CTikkaraDlg::EndWorker(std::atomic<int32_t>& running, std::thread& worker)
{
    BackToIdle(running);
    // The last touch of the dialog: from here on the interface thread may
    // join this thread and close the dialog.
    m_window.PostToUiThread([this, &worker] { OnWorkerEnded(worker); });
}

void CTikkaraDlg::OnWorkerEnded(std::thread& worker)
{
    // The worker has finished or is about to return from its last call.
    if (worker.joinable())
        worker.join();
    if (m_closeRequested) {
        m_window.EndDialog(IDCANCEL);
        return;
    }
    // A "&Stop" pressed while the ending was re-enabling the controls
    // disabled the button again after it had been enabled; idle means enabled.
    m_window.EnableControl(IDC_GO, true);
}

void CTikkaraDlg::EnableControls(bool enable)
{
    for (int id : BusyControls)
        m_window.EnableControl(id, enable);
    m_window.EnableMenuBarItem(0, enable);
    m_window.SetFocusToDialog();
}

void CTikkaraDlg::RememberServer()
{
    const std::string text = m_window.GetText(IDC_SERVER);
    if (text.empty())
        return;
    if (m_window.FindStringPrefix(IDC_SERVER, text) < 0)
        m_window.InsertString(IDC_SERVER, 0, text);
}
