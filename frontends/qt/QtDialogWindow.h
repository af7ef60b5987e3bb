#pragma once
// The main dialog's window on Qt: widgets built from a dialog template and
// its menu, found by control id, with their events routed to the dialog like
// its event table says. Every IWindow operation may be called from any
// thread; it runs on the interface thread and returns when done there.
#include "frontends/qt/QtDialogUnits.h"
#include "ui/TikkaraApp.h"

#include <QDialog>
#include <QSize>

#include <cstdint>
#include <map>

class QMenu;
class QMenuBar;
class QtLogPane;
class QtServerBox;
class QtUiCalls;
struct ControlTemplate;
struct DialogTemplate;
struct MenuTemplate;

class QtDialogWindow : public QDialog, public IDialogHost {
    Q_OBJECT
public:
    // Builds the window of dialog template `templateId` (and its menu).
    explicit QtDialogWindow(int templateId);
    ~QtDialogWindow() override;

    // Binds the dialog, lets it initialise and runs the window modally; the
    // dialog is unbound again when this returns.
    int DoModal(CTikkaraDlg& dialog) override;
    // The same without a modal loop of its own: binds, initialises and shows
    // the window, then returns; the caller's event loop drives it. The
    // dialog stays bound, and must stay alive, until EndDialog.
    void Open(CTikkaraDlg& dialog);
    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }

    // Maximising and restoring as the window manager's own controls do; the
    // frame can be dragged to any size down to the minimum tracking size.
    void Maximise();
    void Restore();

    // The widget of a control (null when there is none), the menu bar, the
    // client area the controls live in, and the template's measures.
    QWidget* Control(int id) const;
    QMenuBar* MenuBar() const { return m_menuBar; }
    QWidget* ClientArea() const { return m_client; }
    const DialogUnits& Units() const { return m_units; }
    QSize TemplateClientSize() const { return m_templateClient; }

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

    // The program's name: its file name without the extension.
    static QString ApplicationName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

public slots:
    // The dialog's own accept and cancel commands (ids 1 and 2); neither
    // closes the window by itself, the dialog decides.
    void accept() override;
    void reject() override;

private:
    void BuildControls(const DialogTemplate& dialog);
    QWidget* CreateControl(const ControlTemplate& control);
    void BuildMenu(const MenuTemplate& menu);
    void AddControl(int id, QWidget* widget, uint32_t style);
    // The menu bar across the top, the client area below it.
    void PlaceMenuAndClient();

    // Binds the dialog and runs its set-up; false when that already ended it.
    bool Begin(CTikkaraDlg& dialog);
    // Ends the binding to the dialog.
    void Unbind();
    // Routes a command to the dialog's OnCommand: one handler run.
    void Command(int id);
    // The id of a control's widget, 0 for none.
    int ControlId(const QWidget* widget) const;
    // Enter presses the focused push button or else the default button,
    // when it is there and enabled.
    void PressEnterButton(const QWidget* focused);
    // A mnemonic letter typed without Alt presses its button.
    bool PressMnemonic(const QWidget* focused, const QKeyEvent* key);
    // A key for `focused`, the widget with the keyboard focus; true when used.
    bool HandleDialogKey(const QWidget* focused, const QKeyEvent* key);

    // The window's size from the template: its client area under the menu bar.
    QSize TemplateWindowSize() const;
    // No smaller than the minimum tracking size, frame included.
    void KeepMinimumTrackingSize();
    // The outer frame's margins: the window manager's, or the style's
    // caption and border while the window has no frame yet.
    QMargins FrameMargins() const;
    QMenu* Popup(int position) const;

    DialogUnits m_units;
    QSize m_templateClient;
    QSize m_notifiedSize; // the client size the dialog last heard of
    QMargins m_normalFrame; // the window manager's frame of the normal window
    bool m_normalFrameKnown = false;
    QMenuBar* m_menuBar = nullptr;
    QWidget* m_client = nullptr;
    QtLogPane* m_logPane = nullptr;
    QtServerBox* m_serverBox = nullptr;
    QtUiCalls* m_calls = nullptr;
    std::map<int, QWidget*> m_controls;
    std::map<int, uint32_t> m_styles;
    // The bound dialog's paint handlers of its bitmap controls, by id.
    std::map<int, IPaintHandler*> m_painters;
    int m_defaultButton = 0;
    CTikkaraDlg* m_dialog = nullptr;
    // The handler now running on the interface thread, if any: whether it
    // has had the log pane painted at once yet.
    struct HandlerRun {
        bool painted = false;
    };
    HandlerRun* m_handler = nullptr;
    bool m_ended = false;
    int m_result = 0;
};
