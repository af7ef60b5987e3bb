// The real dialog window on Qt's offscreen platform: its state after start,
// the server box's typing and pasting rules, the keys and the ways to close
// it, its size and layout, and the bitmap controls' painting.
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"

#include "frontends/qt/QtFonts.h"
#include "frontends/qt/QtLogPane.h"
#include "frontends/qt/QtServerBox.h"
#include "res/Bitmaps.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace qtdriver;

namespace {

struct OpenDialog {
    QtDialogWindow window{IDD_MAIN};
    CTikkaraDlg dialog{window};

    OpenDialog()
    {
        window.Open(dialog);
        WaitFor([&] { return window.isVisible(); });
    }
    ~OpenDialog()
    {
        if (!window.Ended())
            window.EndDialog(IDCANCEL);
    }
    QLineEdit* Field() { return static_cast<QComboBox*>(window.Control(IDC_SERVER))->lineEdit(); }
    QMenu* FileMenu() { return window.MenuBar()->actions().at(0)->menu(); }
};

int Round(int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; }

} // namespace

TEST(QtDialogWindow, StartsWithTrimmedMenuHiddenOptionsAndEmptyFields)
{
    OpenDialog d;
    ASSERT_EQ(d.window.MenuBar()->actions().size(), 1);
    EXPECT_EQ(d.window.MenuBar()->actions().at(0)->text(), "&File");
    const QList<QAction*> items = d.FileMenu()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items.at(0)->text(), "&Survey");
    EXPECT_EQ(items.at(1)->text(), "&Audit");
    EXPECT_EQ(items.at(2)->text(), "&Quit\tESC");
    EXPECT_EQ(d.window.GetMenuItemCount(0), 3);
    EXPECT_EQ(d.window.GetMenuItemCount(1), -1);

    for (int id : {IDC_AUTH, IDC_SNTP}) {
        EXPECT_FALSE(d.window.Control(id)->isVisible()) << id;
        EXPECT_FALSE(d.window.IsControlVisible(id)) << id;
    }
    for (int id : {IDC_PORT123, IDC_SET_TIME}) {
        auto* box = qobject_cast<QCheckBox*>(d.window.Control(id));
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible()) << id;
        EXPECT_FALSE(box->isChecked()) << id;
    }
    EXPECT_EQ(d.window.GetText(IDC_LOG), "");
    EXPECT_EQ(d.window.GetText(IDC_SERVER), "");
    EXPECT_EQ(static_cast<QComboBox*>(d.window.Control(IDC_SERVER))->count(), 0);
    EXPECT_EQ(d.window.GetText(IDC_STATUS), "");
    EXPECT_EQ(static_cast<QLabel*>(d.window.Control(IDC_VERSION))->text(), "V 1.9.2");
    EXPECT_EQ(d.window.windowTitle(), "Horolab by Vantrel");
    EXPECT_TRUE(static_cast<QPushButton*>(d.window.Control(IDC_GO))->isDefault());
    const QList<QSize> iconSizes = d.window.windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));

    // The logo sits in the bottom row, right of "&Clear Log".
    ASSERT_TRUE(d.window.ControlExists(IDC_LOGO));
    const Rect logo = d.window.GetControlRect(IDC_LOGO);
    const Rect clear = d.window.GetControlRect(IDC_CLEAR_LOG);
    EXPECT_GT(logo.left, clear.right);
    EXPECT_LT(logo.top, clear.bottom);
    EXPECT_GT(logo.bottom, clear.top);
    EXPECT_LE(logo.left + 100, d.window.GetClientRect().right);
}

TEST(QtDialogWindow, TemplateDialogUnitsBecomePixelsFromTheFontMetrics)
{
    OpenDialog d;
    const QFontMetrics fm(d.window.font());
    const int letters = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int bx = (letters + 26) / 52;
    const int by = fm.height();
    EXPECT_EQ(d.window.Units().BaseX(), bx);
    EXPECT_EQ(d.window.Units().BaseY(), by);
    // The window's face keeps the proportions of the template's font.
    EXPECT_GE(bx, 5);
    EXPECT_LE(bx, 7);
    EXPECT_GE(by, 12);
    EXPECT_LE(by, 15);

    const Rect client = d.window.GetClientRect();
    EXPECT_EQ(client.Width(), Round(333, bx, 4));
    EXPECT_EQ(client.Height(), Round(378, by, 8));
    EXPECT_EQ(d.window.GetControlRect(IDC_LOG),
              (Rect{Round(7, bx, 4), Round(51, by, 8), Round(7, bx, 4) + Round(318, bx, 4),
                    Round(51, by, 8) + Round(289, by, 8)}));
    const Rect clear = d.window.GetControlRect(IDC_CLEAR_LOG);
    EXPECT_EQ(clear.left, Round(203, bx, 4));
    EXPECT_EQ(clear.top, Round(356, by, 8));
    // The server box shows its field; its list drops below it.
    const Rect server = d.window.GetControlRect(IDC_SERVER);
    EXPECT_EQ(server.left, Round(15, bx, 4));
    EXPECT_EQ(server.Width(), Round(112, bx, 4));
    EXPECT_LT(server.Height(), Round(40, by, 8));

    // The outer window holds the menu bar above the client area.
    const Rect outer = d.window.GetWindowRect();
    EXPECT_GT(outer.Height(), client.Height() + d.window.MenuBar()->height() - 1);
    EXPECT_GE(outer.Width(), client.Width());
}

TEST(QtDialogWindow, LogPaneUsesAReadableFixedPitchLightFont)
{
    OpenDialog d;
    auto* pane = static_cast<QtLogPane*>(d.window.Control(IDC_LOG));
    EXPECT_TRUE(IsFixedPitch(pane->font()));
    const QFontMetrics fm(pane->font());
    EXPECT_GE(fm.height(), 12);
    EXPECT_EQ(pane->font().weight(), QFont::Light);
    EXPECT_TRUE(pane->isReadOnly());
    EXPECT_EQ(pane->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(QtDialogWindow, ServerBoxTurnsTypingIntoLowerCaseAndKeepsItsListUnsorted)
{
    OpenDialog d;
    QLineEdit* field = d.Field();
    field->setFocus();
    Type(field, "NTP.Example.ORG:123");
    EXPECT_EQ(field->text(), "ntp.example.org:123");
    EXPECT_EQ(d.window.GetText(IDC_SERVER), "ntp.example.org:123");

    d.window.InsertString(IDC_SERVER, 0, "Zeta");
    d.window.InsertString(IDC_SERVER, 0, "ALPHA");
    auto* box = static_cast<QComboBox*>(d.window.Control(IDC_SERVER));
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), "alpha");
    EXPECT_EQ(box->itemText(1), "zeta");
    EXPECT_EQ(field->text(), "ntp.example.org:123"); // inserting leaves the field alone

    // Prefix search ignores case and covers every entry, entry 0 last.
    EXPECT_EQ(d.window.FindStringPrefix(IDC_SERVER, "ZE"), 1);
    EXPECT_EQ(d.window.FindStringPrefix(IDC_SERVER, "alp"), 0);
    EXPECT_EQ(d.window.FindStringPrefix(IDC_SERVER, "beta"), -1);
    d.window.InsertString(IDC_SERVER, 2, "alphabet");
    EXPECT_EQ(d.window.FindStringPrefix(IDC_SERVER, "alpha"), 2);
}

TEST(QtDialogWindow, ServerBoxRefusesTextWiderThanItsField)
{
    OpenDialog d;
    QLineEdit* field = d.Field();
    auto* box = static_cast<QtServerBox*>(d.window.Control(IDC_SERVER));
    field->setFocus();
    Type(field, std::string(200, 'w'));
    const QString kept = field->text();
    EXPECT_GT(kept.size(), 5);
    EXPECT_LT(kept.size(), 200);
    EXPECT_TRUE(box->Fits(kept));
    EXPECT_FALSE(box->Fits(kept + "w"));
    EXPECT_LE(QFontMetrics(field->font()).horizontalAdvance(kept), field->width());

    // A wider character does not fit either.
    Type(field, "W");
    EXPECT_EQ(field->text(), kept);
    // Editing stays possible: delete one and type it again.
    Key(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text().size(), kept.size() - 1);
    Type(field, "w");
    EXPECT_EQ(field->text(), kept);
}

TEST(QtDialogWindow, ServerBoxKeepsThePartOfAPasteThatFits)
{
    OpenDialog d;
    QLineEdit* field = d.Field();
    auto* box = static_cast<QtServerBox*>(d.window.Control(IDC_SERVER));
    field->setFocus();
    Type(field, "ntp:123");
    field->setCursorPosition(4);
    QGuiApplication::clipboard()->setText("Pool." + QString(200, 'W'));
    Key(field, Qt::Key_V, {}, Qt::ControlModifier);
    const QString kept = field->text();
    ASSERT_TRUE(kept.startsWith("ntp:pool.w")) << kept.toStdString();
    EXPECT_TRUE(kept.endsWith("w123"));
    EXPECT_TRUE(box->Fits(kept));
    EXPECT_FALSE(box->Fits(kept.left(kept.size() - 3) + "w123"));
    EXPECT_EQ(field->cursorPosition(), kept.size() - 3);
}

TEST(QtDialogWindow, EnterAnywhereRunsTheQueryAndNeverCloses)
{
    OpenDialog d;
    MessageBoxAnswerer answers;
    Key(d.Field(), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return answers.Seen().size() == 1; }));
    EXPECT_EQ(answers.Seen()[0].text, "No host given.");
    EXPECT_EQ(answers.Seen()[0].title, QtDialogWindow::ApplicationName());
    EXPECT_EQ(d.window.GetText(IDC_LOG), "");
    EXPECT_FALSE(d.window.Ended());
    EXPECT_TRUE(d.window.isVisible());

    // From a check box and from the dialog itself (where EnableControls puts the focus).
    Key(d.window.Control(IDC_SET_TIME), Qt::Key_Enter, {}, Qt::KeypadModifier);
    Key(&d.window, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return answers.Seen().size() == 3; }));
    EXPECT_FALSE(d.window.Ended());
    // The keyboard focus rests on the dialog itself, where Enter still works.
    EXPECT_EQ(d.window.focusWidget(), &d.window);
    // All controls are enabled again after each query.
    for (int id : {IDC_SERVER, IDC_GO, IDC_SET_TIME, IDC_PORT123, IDCANCEL, IDC_CLEAR_LOG})
        EXPECT_TRUE(d.window.IsControlEnabled(id)) << id;
    EXPECT_TRUE(d.window.MenuBar()->actions().at(0)->isEnabled());
}

TEST(QtDialogWindow, EnterDoesNothingWhileTheDefaultButtonIsDisabled)
{
    OpenDialog d;
    MessageBoxAnswerer answers;
    d.window.EnableControl(IDC_GO, false);
    Key(d.Field(), Qt::Key_Return);
    Pump(100);
    EXPECT_TRUE(answers.Seen().empty());
    EXPECT_FALSE(d.window.Ended());
}

TEST(QtDialogWindow, EnterPressesTheFocusedPushButton)
{
    OpenDialog d;
    MessageBoxAnswerer answers;
    d.window.SetText(IDC_LOG, "the last report");
    QWidget* clear = d.window.Control(IDC_CLEAR_LOG);
    clear->setFocus();
    Key(clear, Qt::Key_Return);
    EXPECT_EQ(d.window.GetText(IDC_LOG), "");
    Pump(100);
    EXPECT_TRUE(answers.Seen().empty()) << "a query ran (it would have said \"No host given.\")";

    QWidget* quit = d.window.Control(IDCANCEL);
    quit->setFocus();
    Key(quit, Qt::Key_Enter, {}, Qt::KeypadModifier);
    EXPECT_TRUE(d.window.Ended());
}

TEST(QtDialogWindow, TabFollowsTheTemplateAndMnemonicLettersWorkAloneOutsideTheTextFields)
{
    OpenDialog d;
    const auto focusedId = [&] {
        QWidget* w = d.window.focusWidget();
        for (int id : {IDC_SERVER, IDC_GO, IDC_PORT123, IDC_SET_TIME, IDC_NTS, IDC_LOG, IDCANCEL, IDC_CLEAR_LOG})
            if (w == d.window.Control(id) || (w && w->parentWidget() == d.window.Control(id)))
                return id;
        return 0;
    };
    d.Field()->setFocus();
    std::vector<int> order{focusedId()};
    for (int i = 0; i < 8; ++i) {
        Key(d.window.focusWidget(), Qt::Key_Tab);
        order.push_back(focusedId());
    }
    EXPECT_EQ(order, (std::vector<int>{IDC_SERVER, IDC_GO, IDC_PORT123, IDC_SET_TIME, IDC_NTS, IDC_LOG, IDCANCEL,
                                       IDC_CLEAR_LOG, IDC_SERVER}));

    // In the server box a letter is text; on a button it is the mnemonic.
    d.window.SetText(IDC_LOG, "kept");
    d.Field()->setFocus();
    Type(d.Field(), "c");
    EXPECT_EQ(d.window.GetText(IDC_SERVER), "c");
    Pump(200);
    EXPECT_EQ(d.window.GetText(IDC_LOG), "kept");
    QWidget* go = d.window.Control(IDC_GO);
    go->setFocus();
    Type(go, "C");
    EXPECT_TRUE(WaitFor([&] { return d.window.GetText(IDC_LOG).empty(); }, 1000)) << "\"&Clear Log\" not pressed";
    Type(go, "t");
    EXPECT_TRUE(WaitFor([&] { return d.window.IsChecked(IDC_SET_TIME); }, 1000)) << "\"Set System &Time\" not pressed";
    d.window.SetChecked(IDC_SET_TIME, false);
    Type(go, "n");
    EXPECT_TRUE(WaitFor([&] { return d.window.IsChecked(IDC_NTS); }, 1000)) << "\"Secure (&NTS)\" not pressed";
    d.window.SetChecked(IDC_NTS, false);
}

TEST(QtDialogWindow, BitmapControlsPaintThroughTheDialogOnlyWhileItIsBound)
{
    struct CountingPainter : IPaintHandler {
        int paints = 0;
        void OnPaint(CPaintContext& paint) override
        {
            ++paints;
            paint.PaintDefault();
        }
    } painter;
    OpenDialog d;
    d.window.CreateBitmapControl(4000, IDB_LOGO, Rect{0, 0, 100, 38}, &painter);
    QWidget* control = d.window.Control(4000);
    control->grab();
    EXPECT_EQ(painter.paints, 1);
    // Once ended, the dialog and the handlers it owns may go away while the
    // window stays, as in the program's main.
    d.window.EndDialog(IDCANCEL);
    control->grab();
    EXPECT_EQ(painter.paints, 1);
}

TEST(QtDialogWindow, EscapeQuitButtonMenuQuitAndCloseBoxEachEndTheDialog)
{
    const std::vector<std::pair<const char*, std::function<void(OpenDialog&)>>> ways = {
        {"Escape in the server box", [](OpenDialog& d) { Key(d.Field(), Qt::Key_Escape); }},
        {"Escape on the log pane", [](OpenDialog& d) { Key(d.window.Control(IDC_LOG), Qt::Key_Escape); }},
        {"&Quit button", [](OpenDialog& d) { static_cast<QPushButton*>(d.window.Control(IDCANCEL))->click(); }},
        {"menu &Quit\tESC", [](OpenDialog& d) { d.FileMenu()->actions().at(2)->trigger(); }},
        {"close box", [](OpenDialog& d) { d.window.close(); }},
    };
    for (const auto& [name, act] : ways) {
        OpenDialog d;
        act(d);
        EXPECT_TRUE(WaitFor([&] { return d.window.Ended(); }, 2000)) << name;
        EXPECT_EQ(d.window.Result(), IDCANCEL) << name;
        EXPECT_FALSE(d.window.isVisible()) << name;
    }
}

TEST(QtDialogWindow, OtherButtonsAndCheckBoxesReachTheDialog)
{
    OpenDialog d;
    d.window.SetText(IDC_LOG, "something");
    static_cast<QPushButton*>(d.window.Control(IDC_CLEAR_LOG))->click();
    EXPECT_EQ(d.window.GetText(IDC_LOG), "");

    auto* setTime = static_cast<QCheckBox*>(d.window.Control(IDC_SET_TIME));
    setTime->click();
    EXPECT_TRUE(d.window.IsChecked(IDC_SET_TIME));
    d.window.SetChecked(IDC_SET_TIME, false);
    EXPECT_FALSE(setTime->isChecked());
    EXPECT_FALSE(d.window.Ended());
}

TEST(QtDialogWindow, MenuEntriesAreDeletedAndGreyedByPosition)
{
    QtDialogWindow window(IDD_MAIN);
    ASSERT_EQ(window.GetMenuItemCount(0), 12); // separators count as entries
    const QList<QAction*> items = window.MenuBar()->actions().at(0)->menu()->actions();
    EXPECT_EQ(items.at(2)->text(), "Jitter &Monitor");
    EXPECT_TRUE(items.at(3)->isSeparator());
    EXPECT_TRUE(items.at(8)->isSeparator());
    window.DeleteMenuItem(0, 3);
    EXPECT_EQ(window.GetMenuItemCount(0), 11);
    EXPECT_EQ(window.MenuBar()->actions().at(0)->menu()->actions().at(3)->text(), "&Long-run Test");
    window.DeleteMenuItem(0, 42); // nothing there
    EXPECT_EQ(window.GetMenuItemCount(0), 11);

    window.EnableMenuBarItem(0, false);
    EXPECT_FALSE(window.MenuBar()->actions().at(0)->isEnabled());
    window.EnableMenuBarItem(0, true);
    EXPECT_TRUE(window.MenuBar()->actions().at(0)->isEnabled());
}

TEST(QtDialogWindow, FrameSizesFreelyDownToTheMinimumAndMaximisesAndRestoresTheTemplateLayout)
{
    OpenDialog d;
    const QSize normal = d.window.size();
    const Rect client0 = d.window.GetClientRect();
    const Rect log0 = d.window.GetControlRect(IDC_LOG);
    const Rect clear0 = d.window.GetControlRect(IDC_CLEAR_LOG);
    const Rect server0 = d.window.GetControlRect(IDC_SERVER);
    // The frame may be dragged to any size down to the minimum tracking size.
    const Rect outer = d.window.GetWindowRect();
    const QMargins frame(d.window.geometry().left() - outer.left, d.window.geometry().top() - outer.top,
                         outer.right - d.window.geometry().right() - 1,
                         outer.bottom - d.window.geometry().bottom() - 1);
    EXPECT_EQ(d.window.minimumWidth() + frame.left() + frame.right(), CTikkaraDlg::MinTrackWidth);
    EXPECT_EQ(d.window.minimumHeight() + frame.top() + frame.bottom(), CTikkaraDlg::MinTrackHeight);
    EXPECT_EQ(d.window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

    d.window.Maximise();
    ASSERT_TRUE(WaitFor([&] { return d.window.GetClientRect().Width() > client0.Width(); }));
    const Rect client1 = d.window.GetClientRect();
    const int dx = client1.Width() - client0.Width();
    const int dy = client1.Height() - client0.Height();
    ASSERT_GT(dy, 0);
    const Rect log1 = d.window.GetControlRect(IDC_LOG);
    EXPECT_EQ(log1.Width(), log0.Width() + dx);
    EXPECT_EQ(log1.Height(), log0.Height() + dy);
    const Rect clear1 = d.window.GetControlRect(IDC_CLEAR_LOG);
    EXPECT_EQ(clear1.left, clear0.left + dx);
    EXPECT_EQ(clear1.top, clear0.top + dy);
    EXPECT_EQ(d.window.GetControlRect(IDC_SERVER), server0);

    d.window.Restore();
    ASSERT_TRUE(WaitFor([&] { return d.window.GetClientRect() == client0; }));
    EXPECT_EQ(d.window.size(), normal);
    EXPECT_EQ(d.window.GetControlRect(IDC_LOG), log0);
    EXPECT_EQ(d.window.GetControlRect(IDC_CLEAR_LOG), clear0);
}

HOROLAB_QT_TEST_MAIN()
