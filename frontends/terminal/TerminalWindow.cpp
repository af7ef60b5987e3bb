#include "frontends/terminal/TerminalWindow.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <strings.h>

CTerminalWindow::CTerminalWindow() : m_uiThread(std::this_thread::get_id()) {}

void CTerminalWindow::PostToUiThread(std::function<void()> call)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_wake.notify_one();
}

void CTerminalWindow::ProcessEvents(int timeoutMs)
{
    std::deque<std::function<void()>> calls;
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_calls.empty(); });
        calls.swap(m_calls);
    }
    for (auto& call : calls)
        call();
}

int CTerminalWindow::DoModal(CTikkaraDlg& dialog)
{
    dialog.OnInitDialog();
    dialog.OnShowWindow();
    while (!m_ended)
        ProcessEvents(100);
    return m_result;
}

void CTerminalWindow::ShowChart(int id, const ChartView& chart)
{
    Run([&] { m_charts[id] = chart; });
}

ChartView CTerminalWindow::Chart(int id)
{
    return Run([&] { return m_charts[id]; });
}

void CTerminalWindow::EndDialog(int result)
{
    Run([&] {
        m_ended = true;
        m_result = result;
    });
}

// Every control of the dialog exists; hidden ones included.
bool CTerminalWindow::ControlExists(int) { return true; }

std::string CTerminalWindow::GetText(int id)
{
    return Run([&] { return m_texts[id]; });
}

void CTerminalWindow::SetText(int id, const std::string& text)
{
    Run([&] {
        m_texts[id] = text;
        if (id == IDC_LOG && m_logObserver)
            m_logObserver(text);
    });
}

bool CTerminalWindow::IsChecked(int id)
{
    return Run([&] { return m_checked[id]; });
}

void CTerminalWindow::SetChecked(int id, bool checked)
{
    Run([&] { m_checked[id] = checked; });
}

void CTerminalWindow::EnableControl(int id, bool enable)
{
    Run([&] { m_enabled[id] = enable; });
}

bool CTerminalWindow::IsControlEnabled(int id)
{
    return Run([&] { return m_enabled.count(id) == 0 || m_enabled[id]; });
}

void CTerminalWindow::ShowControl(int id, bool show)
{
    Run([&] { m_visible[id] = show; });
}

bool CTerminalWindow::IsControlVisible(int id)
{
    return Run([&] { return m_visible.count(id) == 0 || m_visible[id]; });
}

int CTerminalWindow::FindStringPrefix(int, const std::string& text)
{
    return Run([&] {
        for (size_t n = 0; n < m_serverList.size(); ++n)
            if (strncasecmp(m_serverList[n].c_str(), text.c_str(), text.size()) == 0)
                return static_cast<int>(n);
        return -1;
    });
}

void CTerminalWindow::InsertString(int, int index, const std::string& text)
{
    Run([&] {
        const size_t at = std::min(static_cast<size_t>(std::max(index, 0)), m_serverList.size());
        m_serverList.insert(m_serverList.begin() + static_cast<long>(at), text);
    });
}

void CTerminalWindow::MessageBox(const std::string& text, MessageIcon)
{
    Run([&] { std::fprintf(stderr, "%s\n", text.c_str()); });
}

bool CTerminalWindow::SaveFileDialog(const std::string&, const std::string&, std::string& path)
{
    return Run([&] {
        if (m_saveFileChoice.empty())
            return false;
        path = m_saveFileChoice;
        return true;
    });
}
