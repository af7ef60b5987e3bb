#include "jitter/JitterRun.h"
#include "query/InterleavedPolls.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

void CTikkaraDlg::OnJitterMonitor()
{
    if (m_monitorRunning != 0) {
        m_monitorRunning = 0; // a stop request
        return;
    }
    StartWorker(m_monitorRunning, m_monitorThread, [this] { JitterThreadProc(this); });
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

void CTikkaraDlg::SettleInterleaved(CInterleavedPolls& polls) { polls.Settle(m_exchange); }
