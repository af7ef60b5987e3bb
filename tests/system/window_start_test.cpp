// The real window started from the command line: with a server it runs the
// query at once; with --jitter-monitor the monitor runs until "&Stop".
#include "support/QtTestMain.h"
#include "support/QtTsanSuppressions.h"
#include "support/QtWindowDriver.h"

#include "frontends/terminal/StartAction.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QFileDialog>
#include <gtest/gtest.h>

using namespace qtdriver;

namespace {

CommandLine Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "horolab");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

class WindowStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (port.empty())
            GTEST_SKIP() << "the chronyd fixture is not running";
    }
    void TearDown() override { window.close(); }

    const std::string port = ChronyPort();
    QtDialogWindow window{IDD_MAIN};
    CTikkaraDlg dialog{window};
};

} // namespace

TEST_F(WindowStart, ServerArgumentFillsTheServerBoxAndQueries)
{
    ScheduleStartAction(window, dialog, Parse({"127.0.0.1:" + port}));
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] {
        return window.GetText(IDC_LOG).find("Timestamps shown in local time zone:") != std::string::npos;
    })) << window.GetText(IDC_LOG);
    EXPECT_EQ(window.GetText(IDC_SERVER), "127.0.0.1:" + port);
    EXPECT_EQ(window.GetText(IDC_LOG).rfind("Querying host 127.0.0.1:" + port, 0), 0u);
}

TEST_F(WindowStart, JitterMonitorOptionStartsTheMonitorAndStopEndsIt)
{
    ScheduleStartAction(window, dialog, Parse({"--jitter-monitor", "127.0.0.1:" + port}));
    // The run asks for its CSV file first; no file is chosen.
    int fileDialogs = 0;
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            box->reject();
            ++fileDialogs;
        }
    });
    canceller.start(5);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.GetText(IDC_LOG).find("total: 2") != std::string::npos; }))
        << window.GetText(IDC_LOG);
    EXPECT_EQ(fileDialogs, 1);
    EXPECT_EQ(window.GetText(IDC_GO), "&Stop");
    dialog.OnCommand(IDC_GO);
    ASSERT_TRUE(WaitFor([&] { return window.GetText(IDC_GO) == "&Go" && window.IsControlEnabled(IDC_GO); }));
    EXPECT_EQ(dialog.m_monitorRunning, 0);
}

HOROLAB_QT_TEST_MAIN()
