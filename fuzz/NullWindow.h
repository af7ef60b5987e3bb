#pragma once
// A window that has nothing to show: enough for the dialog's pure text
// operations, which never touch a control. Every request is answered with
// "nothing there" and every change is dropped.
#include "platform/Window.h"

class CNullWindow : public IWindow {
public:
    bool ControlExists(int) override { return false; }
    std::string GetText(int) override { return std::string(); }
    void SetText(int, const std::string&) override {}
    bool IsChecked(int) override { return false; }
    void SetChecked(int, bool) override {}
    void EnableControl(int, bool) override {}
    bool IsControlEnabled(int) override { return false; }
    void ShowControl(int, bool) override {}
    bool IsControlVisible(int) override { return false; }
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
    void MessageBox(const std::string&, MessageIcon) override {}
    bool SaveFileDialog(const std::string&, const std::string&, std::string&) override { return false; }
    void SetIcon(int) override {}
    Rect GetClientRect() override { return Rect{}; }
    Rect GetWindowRect() override { return Rect{}; }
    Rect GetControlRect(int) override { return Rect{}; }
    void MoveControl(int, const Rect&) override {}
    void CreateBitmapControl(int, int, const Rect&, IPaintHandler*) override {}
    void CreateChartControl(int, const Rect&) override {}
    void ShowChart(int, const ChartView&) override {}
    void EndDialog(int) override {}
    void PostToUiThread(std::function<void()>) override {}
};
