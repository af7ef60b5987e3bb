// The dialog's set-up, its busy/idle switching, the server history, the log
// pane and the ways of closing, against the in-memory window.
#include "fakes/FakeWindow.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

namespace {

class MainDialogTest : public ::testing::Test {
protected:
    FakeWindow window;
    CTikkaraDlg dlg{window};
};

TEST_F(MainDialogTest, InitTrimsMenuHidesOptionsAndEmptiesStatus)
{
    dlg.m_monitorRunning = 1;
    EXPECT_TRUE(dlg.OnInitDialog());

    ASSERT_EQ(window.Menu().size(), 1u);
    EXPECT_EQ(window.Menu()[0], (std::vector<std::string>{"&Survey", "&Audit", "&Quit\tESC"}));
    EXPECT_FALSE(window.IsControlVisible(IDC_AUTH));
    EXPECT_FALSE(window.IsControlVisible(IDC_SNTP));
    EXPECT_TRUE(window.IsControlVisible(IDC_PORT123));
    EXPECT_TRUE(window.IsControlVisible(IDC_SET_TIME));
    EXPECT_EQ(window.GetText(IDC_STATUS), "");
    EXPECT_EQ(dlg.m_monitorRunning, 0);
    EXPECT_EQ(window.Icons(), std::vector<int>{IDR_APP_ICON});
    EXPECT_EQ(window.bitmapControlId, IDC_LOGO);
    EXPECT_EQ(window.bitmapControlBitmap, IDB_LOGO);
}

TEST_F(MainDialogTest, LogFontIsTheRequestedLightCourier)
{
    dlg.OnInitDialog();
    const LogFont font = window.Font(IDC_LOG);
    EXPECT_EQ(font.height, 6);
    EXPECT_EQ(font.width, 0);
    EXPECT_EQ(font.weight, 300);
    EXPECT_EQ(font.pitchAndFamily, 49);
    EXPECT_EQ(font.faceName, "Courier");
    EXPECT_FALSE(font.italic || font.underline || font.strikeOut);
}

TEST_F(MainDialogTest, VersionLabelIsSetWheneverTheWindowIsShown)
{
    dlg.OnInitDialog();
    EXPECT_EQ(window.GetText(IDC_VERSION), "Static");
    dlg.OnShowWindow();
    EXPECT_EQ(window.GetText(IDC_VERSION), "V 1.9.2");
    window.SetText(IDC_VERSION, "x");
    dlg.OnShowWindow();
    EXPECT_EQ(window.GetText(IDC_VERSION), "V 1.9.2");
}

TEST_F(MainDialogTest, MissingMenuSkipsTheTrim)
{
    struct NoPopup : FakeWindow {
        int GetMenuItemCount(int) override { return -1; }
        void DeleteMenuItem(int, int) override { ADD_FAILURE() << "nothing to delete"; }
    } noMenu;
    CTikkaraDlg other(noMenu);
    EXPECT_TRUE(other.OnInitDialog());
    EXPECT_FALSE(noMenu.IsControlVisible(IDC_AUTH));
}

TEST_F(MainDialogTest, EnableControlsSwitchesTheNineControlsAndTheFileMenu)
{
    const int switched[] = {IDC_SERVER, IDC_GO,   IDC_SET_TIME,  IDC_PORT123, IDC_AUTH,
                            IDC_SNTP,   IDCANCEL, IDC_CLEAR_LOG, IDC_NTS};
    dlg.EnableControls(false);
    for (int id : switched)
        EXPECT_FALSE(window.IsControlEnabled(id)) << id;
    EXPECT_FALSE(window.IsMenuBarItemEnabled(0));
    EXPECT_TRUE(window.IsControlEnabled(IDC_LOG));
    EXPECT_TRUE(window.IsControlEnabled(IDC_STATUS));
    EXPECT_TRUE(window.IsControlEnabled(IDC_VERSION));
    EXPECT_TRUE(window.FocusOnDialog());

    dlg.EnableControls(true);
    for (int id : switched)
        EXPECT_TRUE(window.IsControlEnabled(id)) << id;
    EXPECT_TRUE(window.IsMenuBarItemEnabled(0));
}

TEST_F(MainDialogTest, RememberServerKeepsNewestFirstAndSkipsPrefixes)
{
    window.SetText(IDC_SERVER, "");
    dlg.RememberServer();
    EXPECT_TRUE(window.Control(IDC_SERVER).list.empty());

    window.SetText(IDC_SERVER, "abcd");
    dlg.RememberServer();
    window.SetText(IDC_SERVER, "abc"); // an entry begins with it
    dlg.RememberServer();
    EXPECT_EQ(window.Control(IDC_SERVER).list, std::vector<std::string>{"abcd"});

    window.SetText(IDC_SERVER, "abcde");
    dlg.RememberServer();
    dlg.RememberServer();
    EXPECT_EQ(window.Control(IDC_SERVER).list, (std::vector<std::string>{"abcde", "abcd"}));

    window.SetText(IDC_SERVER, "ABCDE"); // the search ignores case
    dlg.RememberServer();
    window.SetText(IDC_SERVER, "ntp.example");
    dlg.RememberServer();
    EXPECT_EQ(window.Control(IDC_SERVER).list,
              (std::vector<std::string>{"ntp.example", "abcde", "abcd"}));
}

TEST_F(MainDialogTest, AppendLogSeparatesBlocksAndKeepsTheEndInView)
{
    dlg.AppendLog("");
    EXPECT_EQ(window.LogText(), "");
    dlg.AppendLog("A");
    EXPECT_EQ(window.LogText(), "A");
    dlg.AppendLog("B");
    EXPECT_EQ(window.LogText(), "A\r\nB");
    dlg.AppendLog("line\r\n");
    dlg.AppendLog("next");
    EXPECT_EQ(window.LogText(), "A\r\nB\r\nline\r\n\r\nnext");
    dlg.AppendLog("");
    EXPECT_EQ(window.LogText(), "A\r\nB\r\nline\r\n\r\nnext\r\n");

    const int end = static_cast<int>(window.LogText().size());
    EXPECT_EQ(window.SelectionStart(), end);
    EXPECT_EQ(window.SelectionEnd(), end);
    EXPECT_EQ(window.ScrollCaretCount(), 6);
    EXPECT_EQ(window.RepaintCount(), 6);
}

TEST_F(MainDialogTest, ClearLogStartsTheNextBlockAtTheTop)
{
    dlg.AppendLog("old");
    dlg.OnCommand(IDC_CLEAR_LOG);
    EXPECT_EQ(window.LogText(), "");
    dlg.AppendLog("new");
    EXPECT_EQ(window.LogText(), "new");
}

TEST_F(MainDialogTest, AppendWithoutLogPaneIsDropped)
{
    // A window without the log pane control.
    struct NoLog : FakeWindow {
        bool ControlExists(int id) override { return id != IDC_LOG && FakeWindow::ControlExists(id); }
    } noLog;
    CTikkaraDlg other(noLog);
    other.AppendLog("text");
    EXPECT_EQ(noLog.LogText(), "");
    EXPECT_EQ(noLog.RepaintCount(), 0);
}

TEST_F(MainDialogTest, EveryCancelRouteEndsTheDialogAtOnce)
{
    for (int command : {static_cast<int>(IDCANCEL), static_cast<int>(ID_FILE_QUIT)}) {
        FakeWindow w;
        CTikkaraDlg d(w);
        d.OnInitDialog();
        d.OnCommand(command);
        EXPECT_EQ(w.EndedWith(), IDCANCEL) << command;
    }
}

TEST_F(MainDialogTest, UnusedMenuCommandsDoNothing)
{
    dlg.OnInitDialog();
    const std::string before = window.LogText();
    for (int command : {ID_FILE_BENCHMARK, ID_FILE_SCAN_LIST, ID_FILE_LONG_RUN_TEST,
                        ID_FILE_LOOP_TEST, ID_FILE_STRESS_TEST, ID_HELP})
        dlg.OnCommand(command);
    EXPECT_EQ(window.LogText(), before);
    EXPECT_EQ(window.EndedWith(), -1);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

} // namespace
