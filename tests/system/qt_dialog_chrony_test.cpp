// The real dialog window queries a real chronyd on loopback: the operator
// types the server into the server box and presses Enter; the log pane then
// holds the whole report. A picture of the window is kept for review.
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"

#include "frontends/qt/QtLogPane.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextCursor>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace qtdriver;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(QtDialogChrony, EnterInTheServerBoxQueriesChronyAndShowsTheWholeReport)
{
    const std::string port = ChronyPort();
    if (port.empty())
        GTEST_SKIP() << "the chronyd fixture is not running (no $HOROLAB_CHRONY_DIR/port)";

    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));

    QLineEdit* field = static_cast<QComboBox*>(window.Control(IDC_SERVER))->lineEdit();
    field->setFocus();
    const std::string server = "127.0.0.1:" + port;
    Type(field, server);
    ASSERT_EQ(window.GetText(IDC_SERVER), server);
    MessageBoxAnswerer answers;
    Key(field, Qt::Key_Return); // the query runs to its end inside this call
    ASSERT_TRUE(WaitFor([&] { return Contains(window.GetText(IDC_LOG), "Timestamps shown in local time zone:"); }))
        << window.GetText(IDC_LOG);
    EXPECT_TRUE(answers.Seen().empty());

    const std::string log = window.GetText(IDC_LOG);
    EXPECT_EQ(log.rfind("Querying host 127.0.0.1:" + port + " from random port\r\n\r\n", 0), 0u)
        << log;
    EXPECT_TRUE(Contains(log, "+--Result--------------------------------+\r\n"));
    EXPECT_TRUE(Contains(log, "| 127.0.0.1 is online                    |\r\n")) << log;
    EXPECT_TRUE(Contains(log, "| at Stratum   3                         |\r\n")) << log;
    EXPECT_TRUE(Contains(log, "Packet size: 48 bytes\r\n")) << log;
    EXPECT_TRUE(Contains(log, "+--Packet Content--------------------------------+\r\n"));
    EXPECT_TRUE(Contains(log, "| Mode:                 4 (server)               |\r\n")) << log;
    EXPECT_TRUE(Contains(log, "| Stratum:              3                        |\r\n")) << log;
    EXPECT_FALSE(Contains(log, "--No answer")) << log;

    // The report is read from its top; the server joined the box's list.
    auto* pane = static_cast<QtLogPane*>(window.Control(IDC_LOG));
    EXPECT_TRUE(pane->textCursor().atStart());
    EXPECT_EQ(pane->verticalScrollBar()->value(), 0);
    EXPECT_EQ(static_cast<QComboBox*>(window.Control(IDC_SERVER))->itemText(0), QString::fromStdString(server));
    for (int id : {IDC_SERVER, IDC_GO, IDC_SET_TIME, IDC_PORT123, IDCANCEL, IDC_CLEAR_LOG})
        EXPECT_TRUE(window.IsControlEnabled(id)) << id;

    Pump(100);
    EXPECT_FALSE(SaveScreenshot(&window, "qt_dialog_chrony_report.png").isEmpty());
    window.EndDialog(IDCANCEL);
}

HOROLAB_QT_TEST_MAIN()
