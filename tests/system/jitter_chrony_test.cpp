// A jitter monitor run in the real dialog window against the real chronyd
// on loopback (started by the test fixture, which writes its port to
// $HOROLAB_CHRONY_DIR/port), with the real clock and a real CSV file.
#include "support/JitterRig.h"
#include "support/QtTestMain.h"
#include "support/QtTsanSuppressions.h"
#include "support/QtWindowDriver.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>

#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

using namespace qtdriver;

namespace {

// Both clocks are the same, so a deviation is the path's delay: between
// stamping its request and sending it, and between the answer's arrival and
// stamping that, the worker asks the interface thread for the option boxes.
// A busy machine can hold one such round trip up, so one poll in a few may
// stray further; none may stray far. Sanitizers slow the round trips down.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int ToleranceMs = 25;
#else
constexpr int ToleranceMs = 5;
#endif
constexpr int StrayLimitMs = 100;

// Answers the save-file dialog with `path`, from a timer, since the dialog
// runs its own modal loop.
class FileDialogAnswerer {
public:
    explicit FileDialogAnswerer(const QString& path)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this, path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            m_proposed = dialog->selectedFiles().value(0);
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept(); // the dialog's own "Save"
            ++m_answered;
        });
        m_timer.start();
    }
    int Answered() const { return m_answered; }
    const QString& Proposed() const { return m_proposed; }

private:
    QTimer m_timer;
    QString m_proposed;
    int m_answered = 0;
};

TEST(JitterChronyTest, RunRecordsDeviationsNearZeroInFileAndStatistics)
{
    const std::string port = ChronyPort();
    ASSERT_FALSE(port.empty()) << "the chronyd fixture did not run (HOROLAB_CHRONY_DIR)";
    const std::string csv = ::testing::TempDir() + "horolab_jitter_chrony.csv";
    std::remove(csv.c_str());

    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
    window.SetText(IDC_SERVER, "127.0.0.1:" + port);

    FileDialogAnswerer answerer(QString::fromStdString(csv));
    dialog.OnCommand(ID_FILE_JITTER_MONITOR);
    ASSERT_TRUE(WaitFor([&] { return answerer.Answered() == 1; }));
    EXPECT_TRUE(answerer.Proposed().endsWith("JitterMonitor 127.0.0.1:" + QString::fromStdString(port) + ".csv"))
        << answerer.Proposed().toStdString();

    // Six refreshes: five polls are shown, a sixth is under way.
    ASSERT_TRUE(WaitFor([&] { return ParseJitterStats(window.GetText(IDC_LOG)).total >= 5; }, 15000))
        << window.GetText(IDC_LOG);
    auto* go = qobject_cast<QPushButton*>(window.Control(IDC_GO));
    ASSERT_NE(go, nullptr);
    EXPECT_EQ(go->text(), "&Stop");
    go->click();
    ASSERT_TRUE(WaitFor([&] { return window.GetText(IDC_GO) == "&Go" && window.IsControlEnabled(IDC_GO); }, 5000));
    Pump(50);

    const JitterStatsView shown = ParseJitterStats(window.GetText(IDC_LOG));
    ASSERT_TRUE(shown.valid) << window.GetText(IDC_LOG);
    EXPECT_GE(shown.total, 5);
    EXPECT_EQ(shown.bad, 0);
    EXPECT_EQ(shown.good, shown.total);
    EXPECT_LE(std::abs(shown.min), ToleranceMs) << window.GetText(IDC_LOG);
    for (int value : {shown.last, shown.max, shown.delta})
        EXPECT_LE(std::abs(value), StrayLimitMs) << window.GetText(IDC_LOG);

    const std::string text = ReadWholeFile(csv);
    const std::regex line(R"((\d\d):(\d\d):(\d\d); (-?\d+)\r\n)");
    int lines = 0;
    int closeLines = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        ++lines;
        const int deviation = std::abs(std::stoi((*it)[4].str()));
        EXPECT_LE(deviation, StrayLimitMs) << it->str();
        closeLines += deviation <= ToleranceMs;
    }
    EXPECT_GE(closeLines, 4) << text;
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), static_cast<size_t>(lines))
        << "every line has the CSV shape:\n" << text;
    EXPECT_GE(lines, 4);
    // The final poll is written but never shown.
    EXPECT_EQ(lines, shown.good + 1) << text;

    Key(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.Ended());
    std::remove(csv.c_str());
}

} // namespace

HOROLAB_QT_TEST_MAIN()
