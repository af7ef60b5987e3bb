#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

void CTikkaraDlg::AppendLog(std::string text)
{
    if (!m_window.ControlExists(IDC_LOG))
        return;
    const std::string current = m_window.GetText(IDC_LOG);
    const std::string combined = current.empty() ? text : current + "\r\n" + text;
    m_window.SetText(IDC_LOG, combined);
    m_window.RepaintNow(IDC_LOG);
    const int end = static_cast<int>(combined.size());
    m_window.SetSelection(IDC_LOG, end, end);
    m_window.ScrollCaret(IDC_LOG);
}

void CTikkaraDlg::OnClearLog()
{
    m_window.SetText(IDC_LOG, "");
    ClearJitterChart();
}
