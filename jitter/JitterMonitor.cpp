#include "jitter/JitterRun.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <system_error>

void CTikkaraDlg::OnJitterMonitor()
{
    if (m_monitorRunning != 0) {
        m_monitorRunning = 0; // a stop request
        return;
    }
    // The previous worker has ended its run but is not joined yet.
    if (m_monitorThread.joinable() || m_surveyThread.joinable())
        return;
    EnableControls(false);
    m_window.EnableControl(IDC_GO, true);
    m_window.SetText(IDC_GO, "&Stop");
    m_monitorRunning = 1;
    try {
        m_monitorThread = std::thread(JitterThreadProc, this);
    } catch (const std::system_error&) {
        // No thread to be had: back to idle rather than stuck in "&Stop".
        m_monitorRunning = 0;
        EnableControls(true);
        m_window.SetText(IDC_GO, "&Go");
    }
}

unsigned JitterThreadProc(CTikkaraDlg* dialog)
{
    dialog->RunJitterMonitor();
    return 0;
}

void CTikkaraDlg::RunJitterMonitor()
{
    {
        CJitterRun run(*this, m_window, m_clock);
        run.Execute();
    }
    // The last touch of the dialog: from here on the interface thread may
    // join this thread and close the dialog.
    m_window.PostToUiThread([this] { OnWorkerEnded(m_monitorThread); });
}

void CTikkaraDlg::ChartPoll(const JitterPoll& poll)
{
    m_jitterChart.Add(poll);
    m_window.ShowChart(IDC_CHART, m_jitterChart.View());
}

void CTikkaraDlg::ClearJitterChart()
{
    if (m_jitterChart.Empty())
        return;
    m_jitterChart.Clear();
    m_window.ShowChart(IDC_CHART, ChartView{});
}
