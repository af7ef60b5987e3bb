#pragma once
// Drives jitter monitor runs on the in-memory window and clock against
// loopback responders. The test's own thread plays the interface thread:
// it starts the run, presses "&Stop" or closes, and runs what the worker
// posts at its end. Every text the log pane is given is recorded.
#include "support/DialogRig.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// The numbers of one statistics text, read back from the log pane.
struct JitterStatsView {
    bool valid = false;
    int interval = 0, good = 0, bad = 0, total = 0, last = 0, min = 0, max = 0, delta = 0;
    std::string average;
};

// A statistics text as a refresh shows it, with nothing appended after it.
inline bool IsJitterStatsText(const std::string& text)
{
    const size_t average = text.find("\r\n        Average: ");
    const size_t end = text.find("\r\n", average + 2);
    return text.rfind(" Jitter Monitor\r\n -", 0) == 0 && average != std::string::npos &&
           end != std::string::npos && end + 3 == text.size() && text.back() == ' ';
}

inline JitterStatsView ParseJitterStats(const std::string& text)
{
    JitterStatsView v;
    if (!IsJitterStatsText(text))
        return v;
    bool ok = true;
    auto number = [&](const char* label) {
        const size_t at = text.find(label);
        if (at == std::string::npos) {
            ok = false;
            return 0;
        }
        return std::atoi(text.c_str() + at + std::char_traits<char>::length(label));
    };
    v.interval = number("Poll interval:  ");
    v.good = number("good: ");
    v.bad = number("bad: ");
    v.total = number("total: ");
    v.last = number("Last: ");
    v.min = number("Min: ");
    v.max = number("Max: ");
    v.delta = number("Delta: ");
    const size_t at = text.find("Average: ");
    const size_t end = text.find("\r\n", at);
    if (at == std::string::npos || end == std::string::npos)
        ok = false;
    else
        v.average = text.substr(at + 9, end - at - 9);
    v.valid = ok;
    return v;
}

// Threads of this process right now.
inline int ThreadCount()
{
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

// Waits (up to two seconds) until the process has `expected` threads; an
// ended thread may linger for a moment after it has been joined.
inline bool ThreadCountSettlesAt(int expected)
{
    for (int i = 0; i < 200 && ThreadCount() != expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ThreadCount() == expected;
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct JitterRig : DialogRig {
    // Ticks start far from 0 so that the first poll is due at once.
    explicit JitterRig(uint32_t startTick = 5'000'000)
    {
        clock.SetTicks(startTick);
        // Lets the test thread in while the worker waits on the fake ticks.
        clock.SetRealSleepMicroseconds(20);
        window.onSetText = [this](int id, const std::string& text) { Record(id, text); };
    }

    ~JitterRig()
    {
        // A failed test may leave a run behind: stop it and join it before
        // the recorded state goes away.
        dialog.m_monitorRunning = 0;
        if (m_started > m_finished)
            FinishRun(std::chrono::seconds(30));
    }

    // Called on the worker after each statistics refresh, with its number
    // (1 for the first) and the fake tick at that moment.
    std::function<void(int refresh, uint32_t tick)> onRefresh;
    // Called for every other text change of a control.
    std::function<void(int id, const std::string& text)> onText;

    // "&Stop" as the operator presses it, once the n-th refresh is shown.
    void StopAfterRefreshes(int n)
    {
        onRefresh = [this, n](int refresh, uint32_t) {
            if (refresh == n)
                dialog.OnCommand(IDC_GO);
        };
    }

    // The save-file dialog answers with `path`.
    void ChooseFile(const std::string& path)
    {
        window.saveFileAnswer = [path](const std::string&, const std::string&, std::string& chosen) {
            chosen = path;
            return true;
        };
    }

    void Start(const std::string& serverText)
    {
        window.SetText(IDC_SERVER, serverText);
        dialog.OnCommand(ID_FILE_JITTER_MONITOR);
        ++m_started;
    }

    // Runs what the worker posts at its end (joining it); false when nothing
    // came in time.
    // `eachWait` runs between the looks at the queue.
    bool FinishRun(std::chrono::milliseconds timeout = std::chrono::seconds(20),
                   const std::function<void()>& eachWait = {})
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (window.RunPosted() == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (eachWait)
                eachWait();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ++m_finished;
        return true;
    }

    bool WaitForRefreshes(int n, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return static_cast<int>(m_refreshes.size()) >= n; });
    }

    std::vector<std::string> Refreshes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refreshes;
    }

    std::vector<std::string> LogTexts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_logTexts;
    }

    std::vector<JitterStatsView> Stats()
    {
        std::vector<JitterStatsView> views;
        for (const auto& text : Refreshes())
            views.push_back(ParseJitterStats(text));
        return views;
    }

    bool LoggedSomewhere(const std::string& line)
    {
        for (const auto& text : LogTexts())
            if (text.find(line) != std::string::npos)
                return true;
        return false;
    }

    // The run is over and its thread joined: idle controls, caption, flag.
    bool IsIdle()
    {
        for (int id : {IDC_SERVER, IDC_GO, IDC_SET_TIME, IDC_PORT123, IDCANCEL, IDC_CLEAR_LOG})
            if (!window.Control(id).enabled)
                return false;
        return window.IsMenuBarItemEnabled(0) && window.Control(IDC_GO).text == "&Go" &&
               dialog.m_monitorRunning == 0;
    }

private:
    void Record(int id, const std::string& text)
    {
        int refresh = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (id == IDC_LOG) {
                m_logTexts.push_back(text);
                if (IsJitterStatsText(text)) {
                    m_refreshes.push_back(text);
                    refresh = static_cast<int>(m_refreshes.size());
                }
            }
        }
        m_changed.notify_all();
        if (refresh != 0 && onRefresh)
            onRefresh(refresh, clock.GetTickCount());
        else if (refresh == 0 && onText)
            onText(id, text);
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_logTexts;
    std::vector<std::string> m_refreshes;
    int m_started = 0;  // runs begun by Start
    int m_finished = 0; // worker ends run by FinishRun
};
