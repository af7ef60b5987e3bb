// The real window under a real window manager (ctest runs this under Xvfb
// with openbox; elsewhere it skips): maximised and restored by the window
// manager's own requests, the controls placed by the layout table, the
// minimum tracking size held. Pictures of both states go to the screenshot
// folder.
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

using namespace qtdriver;

namespace {

QString RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The outer window as the X server has it now: the client window grown by
// the frame extents the window manager announces (Qt's own figure may lag).
QRect OuterOnTheServer(QtDialogWindow& window)
{
    const QString id = QString::number(window.winId());
    const QString info = RunTool("xwininfo", {"-id", id});
    const auto field = [&info](const char* name) {
        const QRegularExpression pattern(QString::fromLatin1(name) + R"(:\s+(-?\d+))");
        return pattern.match(info).captured(1).toInt();
    };
    const QStringList extents = RunTool("xprop", {"-id", id, "_NET_FRAME_EXTENTS"}).section('=', 1).split(',');
    if (extents.size() != 4)
        return {};
    const int left = extents[0].toInt(), right = extents[1].toInt(), top = extents[2].toInt(),
              bottom = extents[3].toInt();
    return QRect(field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
                 field("Width") + left + right, field("Height") + top + bottom);
}

void AskWindowManager(QtDialogWindow& window, const QStringList& request)
{
    RunTool("wmctrl", QStringList{"-i", "-r", QString::number(window.winId())} + request);
}

// Every control of the layout table and the four it leaves in place; "Secure
// (&NTS)" follows the group box's corner, which stays.
const int Controls[] = {IDC_TIME_SERVER_GROUP, IDC_LOG,    IDC_STATUS, IDCANCEL,    IDC_CLEAR_LOG, IDC_VERSION,
                        IDC_LOGO,              IDC_SERVER, IDC_GO,     IDC_PORT123, IDC_SET_TIME, IDC_NTS};

std::map<int, QRect> Rectangles(QtDialogWindow& window)
{
    std::map<int, QRect> rects;
    for (int id : Controls)
        rects[id] = window.Control(id)->geometry();
    return rects;
}

// Where the table puts each control when the client area grew by (dx, dy).
std::map<int, QRect> ByTheTable(std::map<int, QRect> rects, int dx, int dy)
{
    rects[IDC_TIME_SERVER_GROUP].setRight(rects[IDC_TIME_SERVER_GROUP].right() + dx);
    rects[IDC_LOG].adjust(0, 0, dx, dy);
    rects[IDC_STATUS].adjust(0, dy, dx, dy);
    rects[IDCANCEL].translate(0, dy);
    for (int id : {IDC_CLEAR_LOG, IDC_VERSION, IDC_LOGO})
        rects[id].translate(dx, dy);
    return rects;
}

void ExpectRectangles(QtDialogWindow& window, const std::map<int, QRect>& expected, const char* state)
{
    for (const auto& [id, rect] : Rectangles(window))
        EXPECT_EQ(rect, expected.at(id)) << "control " << id << ", " << state;
}

// The screen where the window and its frame are, as the operator sees it.
void SaveScreenshot(QtDialogWindow& window, const char* name)
{
    Pump(300); // the last paint reaches the X server
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const QString dir = QString::fromLocal8Bit(ScreenshotDir());
    QDir().mkpath(dir);
    EXPECT_TRUE(shot.save(QDir(dir).filePath(QString::fromLatin1(name) + ".png"))) << name;
}

} // namespace

TEST(WindowManager, MaximisesAndRestoresOnItsRequestsAndKeepsTheMinimumTrackingSize)
{
    if (!std::getenv("HOROLAB_WINDOW_MANAGER"))
        GTEST_SKIP() << "needs an X server with a window manager (ctest's window_manager_under_xvfb)";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    // Framed and activated: the window knows its frame from then on.
    const QSize minimumOuter(CTikkaraDlg::MinTrackWidth, CTikkaraDlg::MinTrackHeight);
    ASSERT_TRUE(WaitFor(
        [&] {
            const QSize frame = window.frameGeometry().size() - window.geometry().size();
            return window.isActiveWindow() && !frame.isNull() && window.minimumSize() + frame == minimumOuter;
        },
        10000))
        << "the window manager did not frame and activate the window";

    // The window manager offers maximising and resizing.
    const QString actions = RunTool("xprop", {"-id", QString::number(window.winId()), "_NET_WM_ALLOWED_ACTIONS"});
    for (const char* action : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"})
        EXPECT_TRUE(actions.contains(action)) << action << " missing from " << actions.toStdString();

    const QSize normal = window.size();
    const QSize client0 = window.ClientArea()->size();
    const std::map<int, QRect> template0 = Rectangles(window);

    AskWindowManager(window, {"-b", "add,maximized_vert,maximized_horz"});
    ASSERT_TRUE(WaitFor([&] { return window.isMaximized() && window.ClientArea()->size() != client0; }))
        << "not maximised";
    const QRect workArea = window.screen()->availableGeometry();
    WaitFor([&] { return OuterOnTheServer(window) == workArea; }, 2000);
    EXPECT_EQ(OuterOnTheServer(window), workArea);
    const QSize grown = window.ClientArea()->size() - client0;
    EXPECT_GT(grown.width(), 0);
    EXPECT_GT(grown.height(), 0);
    ExpectRectangles(window, ByTheTable(template0, grown.width(), grown.height()), "maximised");
    SaveScreenshot(window, "window_manager_maximised");

    AskWindowManager(window, {"-b", "remove,maximized_vert,maximized_horz"});
    ASSERT_TRUE(WaitFor([&] { return !window.isMaximized() && window.size() == normal; })) << "not restored";
    ExpectRectangles(window, template0, "restored");
    SaveScreenshot(window, "window_manager_restored");

    // Dragged smaller than allowed, the frame stops at the minimum tracking size.
    // (Asked again while the window manager may still be busy restoring.)
    bool resized = false;
    for (int attempt = 0; attempt < 3 && !resized; ++attempt) {
        AskWindowManager(window, {"-e", "0,-1,-1,100,100"});
        resized = WaitFor([&] { return window.size() != normal; }, 2000);
    }
    ASSERT_TRUE(resized) << "not resized: "
                         << RunTool("xprop", {"-id", QString::number(window.winId()), "WM_NORMAL_HINTS",
                                              "_NET_WM_STATE", "_NET_WM_ALLOWED_ACTIONS"})
                                .toStdString();
    WaitFor([&] { return OuterOnTheServer(window).size() == minimumOuter; }, 1000);
    EXPECT_EQ(OuterOnTheServer(window).size(), minimumOuter);
    const QSize shrunk = window.ClientArea()->size() - client0;
    ExpectRectangles(window, ByTheTable(template0, shrunk.width(), shrunk.height()), "at the minimum size");

    dialog.OnCancel();
}

HOROLAB_QT_TEST_MAIN()
