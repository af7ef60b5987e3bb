#pragma once
#include "platform/Chart.h"
#include "platform/Geometry.h"
#include <functional>
#include <string>

// The attributes a font is requested with; the window system picks the
// nearest face and size it has.
struct LogFont {
    int height = 0;
    int width = 0;
    int escapement = 0;
    int orientation = 0;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charSet = 0;
    int pitchAndFamily = 0;
    std::string faceName;
};

enum class MessageIcon { None, Error };

class IPaintHandler;

// What the dialog needs from a window system, by control id. Texts are 8-bit
// with CR LF line ends; a caret position counts characters of that text.
//
// Every operation may be called from the interface thread or from the jitter
// monitor's worker; a call from the worker is carried out on the interface
// thread and returns when it is done there.
class IWindow {
public:
    virtual ~IWindow() = default;

    // Controls.
    virtual bool ControlExists(int id) = 0;
    virtual std::string GetText(int id) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) = 0;
    virtual void ShowControl(int id, bool show) = 0;
    virtual bool IsControlVisible(int id) = 0;
    virtual bool HasClipSiblings(int id) = 0;
    virtual void SetFocusToDialog() = 0;
    virtual void SetControlFont(int id, const LogFont& font) = 0;

    // Edit controls: repaint at once, caret (empty selection) and scrolling.
    virtual void RepaintNow(int id) = 0;
    virtual void SetSelection(int id, int start, int end) = 0;
    virtual void ScrollCaret(int id) = 0;

    // Combo box list: case-insensitive prefix search over every entry
    // (index or -1) and insertion at an index.
    virtual int FindStringPrefix(int id, const std::string& text) = 0;
    virtual void InsertString(int id, int index, const std::string& text) = 0;

    // Menu bar: the pop-up at a position (-1 entries when it has none),
    // deleting an entry of it, enabling or greying a bar entry.
    virtual int GetMenuItemCount(int popupPosition) = 0;
    virtual void DeleteMenuItem(int popupPosition, int itemPosition) = 0;
    virtual void EnableMenuBarItem(int position, bool enable) = 0;

    // Modal boxes owned by the dialog, captioned with the program's name.
    virtual void MessageBox(const std::string& text, MessageIcon icon) = 0;
    // The save-file dialog: initial name, filter ("Text (*.x)|*.x||"), the
    // folder must exist, no overwrite question, no default extension.
    virtual bool SaveFileDialog(const std::string& initialName, const std::string& filter,
                                std::string& path) = 0;

    // Icons: the resource becomes the window's big and small icon.
    virtual void SetIcon(int resourceId) = 0;

    // Geometry, in pixels: the client area, the outer window rectangle, a
    // control's rectangle in client coordinates, moving and resizing a control.
    virtual Rect GetClientRect() = 0;
    virtual Rect GetWindowRect() = 0;
    virtual Rect GetControlRect(int id) = 0;
    virtual void MoveControl(int id, const Rect& rect) = 0;

    // A child bitmap control showing bitmap resource `bitmapId`; it sizes
    // itself to the bitmap, and its paint requests go to `painter`.
    virtual void CreateBitmapControl(int id, int bitmapId, const Rect& requested,
                                     IPaintHandler* painter) = 0;

    // A chart control at `requested`, lying over other controls; it draws
    // the last chart it was shown and is hidden while that has no points.
    virtual void CreateChartControl(int id, const Rect& requested) = 0;
    virtual void ShowChart(int id, const ChartView& chart) = 0;

    // Ends the dialog's modal run with a result.
    virtual void EndDialog(int result) = 0;
    // Queues a call to run later on the interface thread; never waits.
    virtual void PostToUiThread(std::function<void()> call) = 0;
};
