#pragma once
// A window without a window system, for benchmarks: keeps control texts,
// answers the save-file dialog with a chosen path, queues posted calls for
// the benchmark's main thread and reports every text change to a hook.
// Thread-safe; the hook runs on the calling thread, outside the lock.
#include "platform/Window.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class CBenchWindow : public IWindow {
public:
    std::string savePath; // empty: the save-file dialog is cancelled
    std::function<void(int id, const std::string& text)> onSetText;

    // Runs the calls posted so far; how many there were.
    int RunPosted();

    bool ControlExists(int) override { return true; }
    std::string GetText(int id) override;
    void SetText(int id, const std::string& text) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void EnableControl(int, bool) override {}
    bool IsControlEnabled(int) override { return true; }
    void ShowControl(int, bool) override {}
    bool IsControlVisible(int) override { return true; }
    bool HasClipSiblings(int) override { return false; }
    void SetFocusToDialog() override {}
    void SetControlFont(int, const LogFont&) override {}
    void RepaintNow(int) override {}
    void SetSelection(int, int, int) override {}
    void ScrollCaret(int) override {}
    int FindStringPrefix(int, const std::string&) override { return -1; }
    void InsertString(int, int, const std::string&) override {}
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
    void EndDialog(int) override {}
    void PostToUiThread(std::function<void()> call) override;

private:
    std::mutex m_mutex;
    std::map<int, std::string> m_texts;
    std::map<int, bool> m_checked;
    std::deque<std::function<void()>> m_posted;
};
