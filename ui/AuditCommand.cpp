#include "audit/AuditText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

// "&Audit": every address of the server box's name graded, on a worker of
// its own so that the window stays live. An audit ends by itself within
// its budget, so "&Go" stays disabled rather than turning into "&Stop".
void CTikkaraDlg::OnAudit()
{
    StartWorker(m_auditRunning, m_auditThread, [this] { RunAuditWorker(); });
    if (!m_auditThread.joinable())
        return; // no worker to be had: idle as before
    m_window.EnableControl(IDC_GO, false);
    m_window.SetText(IDC_GO, "&Go");
}

void CTikkaraDlg::RunAuditWorker()
{
    m_window.SetText(IDC_LOG, "");
    CAuditor auditor(m_engine, m_tls, m_crypto);
    m_audit = auditor.Resolve(m_window.GetText(IDC_SERVER));
    // Told as the query tells the faults of its server text.
    if (m_audit.failureOutcome == ExchangeOutcome::HostNotFound)
        AppendLog(m_audit.failure);
    else if (!m_audit.failure.empty())
        m_window.MessageBox(m_audit.failure, MessageIcon::None);
    if (!m_audit.addresses.empty()) {
        RememberServer();
        AppendLog(FormatAuditStart(m_audit));
        AuditOptions options;
        options.caFiles = m_ntsCaFiles;
        auditor.Run(m_audit, options);
        AppendLog(FormatAuditReport(m_audit));
        ShowLogFromTop();
    }
    EndWorker(m_auditRunning, m_auditThread);
}
