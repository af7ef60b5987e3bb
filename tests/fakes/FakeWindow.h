#pragma once
// A window layer in memory: records what the dialog does to its controls and
// answers from scripted state. Thread-safe, so the monitor's worker may use it.
#include "platform/Window.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct FakeControl {
    std::string text;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    bool clipSiblings = false;
    Rect rect;
    std::vector<std::string> list; // combo box entries
};

struct FakeMessageBox {
    std::string text;
    MessageIcon icon;
};

class FakeWindow : public IWindow {
public:
    // Starts with the main dialog's controls and its menu as the template has them.
    FakeWindow();

    // Scripted answers and hooks.
    std::function<bool(const std::string& initialName, const std::string& filter, std::string& path)>
        saveFileAnswer; // default: cancelled
    std::function<void(int id, const std::string& text)> onSetText;

    // Test access (locks internally).
    FakeControl Control(int id);
    void SetControl(int id, const FakeControl& control);
    std::string LogText();
    std::vector<FakeMessageBox> MessageBoxes();
    std::vector<std::vector<std::string>> Menu();
    bool IsMenuBarItemEnabled(int position);
    int EndedWith(); // -1 while the dialog runs
    int SelectionStart();
    int SelectionEnd();
    int ScrollCaretCount();
    int RepaintCount();
    bool FocusOnDialog();
    std::vector<int> Icons();
    std::vector<std::string> SaveFileRequests();
    LogFont Font(int id);
    int RunPosted(); // runs every queued call, returns how many
    // Every chart shown in control `id`, in order.
    std::vector<ChartView> Charts(int id);
    void SetClientRect(const Rect& r);
    void SetWindowRect(const Rect& r);
    void ClearRecords(); // message boxes, scroll and repaint counts

    // IWindow
    bool ControlExists(int id) override;
    std::string GetText(int id) override;
    void SetText(int id, const std::string& text) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) override;
    void ShowControl(int id, bool show) override;
    bool IsControlVisible(int id) override;
    bool HasClipSiblings(int id) override;
    void SetFocusToDialog() override;
    void SetControlFont(int id, const LogFont& font) override;
    void RepaintNow(int id) override;
    void SetSelection(int id, int start, int end) override;
    void ScrollCaret(int id) override;
    int FindStringPrefix(int id, const std::string& text) override;
    void InsertString(int id, int index, const std::string& text) override;
    int GetMenuItemCount(int popupPosition) override;
    void DeleteMenuItem(int popupPosition, int itemPosition) override;
    void EnableMenuBarItem(int position, bool enable) override;
    void MessageBox(const std::string& text, MessageIcon icon) override;
    bool SaveFileDialog(const std::string& initialName, const std::string& filter,
                        std::string& path) override;
    void SetIcon(int resourceId) override;
    Rect GetClientRect() override;
    Rect GetWindowRect() override;
    Rect GetControlRect(int id) override;
    void MoveControl(int id, const Rect& rect) override;
    void CreateBitmapControl(int id, int bitmapId, const Rect& requested,
                             IPaintHandler* painter) override;
    void CreateChartControl(int id, const Rect& requested) override;
    void ShowChart(int id, const ChartView& chart) override;
    void EndDialog(int result) override;
    void PostToUiThread(std::function<void()> call) override;

    // The bitmap control made by CreateBitmapControl.
    int bitmapControlId = 0;
    int bitmapControlBitmap = 0;
    IPaintHandler* bitmapPainter = nullptr;
    Rect bitmapControlRequested;

private:
    std::recursive_mutex m_mutex;
    std::map<int, FakeControl> m_controls;
    std::map<int, LogFont> m_fonts;
    std::map<int, std::vector<ChartView>> m_charts;
    std::vector<std::vector<std::string>> m_menu;
    std::vector<bool> m_menuBarEnabled;
    std::vector<FakeMessageBox> m_messageBoxes;
    std::vector<std::string> m_saveFileRequests;
    std::vector<int> m_icons;
    std::deque<std::function<void()>> m_posted;
    Rect m_client{0, 0, 500, 600};
    Rect m_window{0, 0, 506, 645};
    int m_selStart = 0;
    int m_selEnd = 0;
    int m_scrollCaret = 0;
    int m_repaints = 0;
    bool m_focusOnDialog = false;
    int m_ended = -1;
};
