// The application object runs the real dialog modally and reports that no
// application loop follows.
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraApp.h"

#include <gtest/gtest.h>

using namespace qtdriver;

TEST(TikkaraApp, RunsTheDialogUntilItIsClosedAndWantsNoLoopAfterIt)
{
    QtDialogWindow host(IDD_MAIN);
    bool sawRunningDialog = false;
    // Once the modal loop runs: check the dialog is up, then press Escape.
    QTimer::singleShot(0, &host, [&] {
        sawRunningDialog = host.isVisible() && host.GetText(IDC_VERSION) == "V 1.9.2" &&
                           host.GetMenuItemCount(0) == 3;
        Key(&host, Qt::Key_Escape);
    });
    EXPECT_FALSE(theApp.InitInstance(host));
    EXPECT_TRUE(sawRunningDialog);
    EXPECT_TRUE(host.Ended());
    EXPECT_EQ(host.Result(), IDCANCEL);
    EXPECT_FALSE(host.isVisible());
}

HOROLAB_QT_TEST_MAIN()
