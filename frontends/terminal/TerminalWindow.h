#pragma once
// The dialog's window kept in memory for a terminal: control texts and states
// live in maps, message boxes go to standard error, and the main thread runs
// a small event loop that carries out the monitor worker's window calls.
#include "ui/TikkaraApp.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CTerminalWindow : public IDialogHost {
public:
    CTerminalWindow();

    // Where the save-file dialog's choice comes from: the path, or none.
    void SetSaveFileChoice(const std::string& path) { m_saveFileChoice = path; }
    // Called on the interface thread after every change of the log pane's text.
    void SetLogObserver(std::function<void(const std::string&)> observer) { m_logObserver = std::move(observer); }

    // The chart last shown in control `id`.
    ChartView Chart(int id);

    // Runs queued calls, waiting at most `timeoutMs` for the first one.
    void ProcessEvents(int timeoutMs);
    bool DialogEnded() const { return m_ended; }

    int DoModal(CTikkaraDlg& dialog) override;

    bool ControlExists(int id) override;
    std::string GetText(int id) override;
    void SetText(int id, const std::string& text) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) override;
    void ShowControl(int id, bool show) override;
    bool IsControlVisible(int id) override;
    bool HasClipSiblings(int) override { return false; }
    void SetFocusToDialog() override {}
    void SetControlFont(int, const LogFont&) override {}
    void RepaintNow(int) override {}
    void SetSelection(int, int, int) override {}
    void ScrollCaret(int) override {}
    int FindStringPrefix(int id, const std::string& text) override;
    void InsertString(int id, int index, const std::string& text) override;
    int GetMenuItemCount(int) override { return -1; }
    void DeleteMenuItem(int, int) override {}
    void EnableMenuBarItem(int, bool) override {}
    void MessageBox(const std::string& text, MessageIcon icon) override;
    bool SaveFileDialog(const std::string& initialName, const std::string& filter,
                        std::string& path) override;
    void SetIcon(int) override {}
    Rect GetClientRect() override { return {}; }
    Rect GetWindowRect() override { return {}; }
    Rect GetControlRect(int) override { return {}; }
    void MoveControl(int, const Rect&) override {}
    void CreateBitmapControl(int, int, const Rect&, IPaintHandler*) override {}
    void CreateChartControl(int, const Rect&) override {}
    void ShowChart(int id, const ChartView& chart) override;
    void EndDialog(int result) override;
    void PostToUiThread(std::function<void()> call) override;

private:
    // Runs `f` on the interface thread and returns its result.
    template <class F>
    auto Run(F&& f) -> decltype(f());

    std::thread::id m_uiThread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_calls;

    std::map<int, std::string> m_texts;
    std::map<int, bool> m_checked;
    std::map<int, bool> m_enabled;
    std::map<int, bool> m_visible;
    std::vector<std::string> m_serverList;
    std::map<int, ChartView> m_charts;
    std::string m_saveFileChoice;
    std::function<void(const std::string&)> m_logObserver;
    bool m_ended = false;
    int m_result = 0;
};

template <class F>
auto CTerminalWindow::Run(F&& f) -> decltype(f())
{
    using R = decltype(f());
    if (std::this_thread::get_id() == m_uiThread)
        return f();
    auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(f));
    std::future<R> result = task->get_future();
    PostToUiThread([task] { (*task)(); });
    return result.get();
}
