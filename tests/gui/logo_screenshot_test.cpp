// The real window at normal size and maximised: the logo keeps its offset
// from "&Clear Log", and its magenta background shows the dialog's colour.
// Pictures of both states go to $HOROLAB_SCREENSHOT_DIR.
#include "frontends/qt/QtBitmapControl.h"
#include "frontends/qt/QtDialogWindow.h"
#include "res/Bitmaps.h"
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"
#include "support/TestPaths.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"
#include "ui/TransparentImage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

using qtdriver::WaitFor;

// The window's picture in the pixel format the comparisons read.
QImage Picture(QWidget& window) { return qtdriver::Picture(&window).toImage().convertToFormat(QImage::Format_RGB32); }

// How many pixels of `control`'s area in `picture` (a picture of `top`)
// differ from the logo with its magenta replaced by `background`.
int LogoMismatches(const QWidget& top, const QWidget& control, const QColor& background,
                   const QImage& picture)
{
    BitmapResource logo;
    if (!LoadBitmapResource(IDB_LOGO, logo))
        return -1;
    const QPoint origin = control.mapTo(&top, QPoint(0, 0));
    int mismatches = 0;
    for (int y = 0; y < logo.height; ++y)
        for (int x = 0; x < logo.width; ++x) {
            const ColorRef c = logo.ColourAt(x, y);
            const QRgb expected =
                c == Rgb(255, 0, 255) ? background.rgb() : qRgb(RedOf(c), GreenOf(c), BlueOf(c));
            if (picture.pixel(origin + QPoint(x, y)) != expected)
                ++mismatches;
        }
    return mismatches;
}

void Save(const QImage& picture, const char* name)
{
    const char* dir = ScreenshotDir();
    QDir().mkpath(QString::fromLocal8Bit(dir));
    const QString path = QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name) + ".png");
    EXPECT_TRUE(picture.save(path)) << path.toStdString();
}

// Waits until the logo shows as expected on screen, then saves the picture.
void CheckLogoOnScreen(QtDialogWindow& window, const char* name)
{
    const QWidget* logo = window.Control(IDC_LOGO);
    const QColor dialog = window.ClientArea()->palette().color(QPalette::Window);
    QImage picture;
    int mismatches = -1;
    WaitFor([&] {
        picture = Picture(window);
        mismatches = LogoMismatches(window, *logo, dialog, picture);
        return mismatches == 0;
    });
    EXPECT_EQ(mismatches, 0) << name;
    Save(picture, name);
}

QPoint LogoOffset(QtDialogWindow& window)
{
    return window.Control(IDC_LOGO)->pos() - window.Control(IDC_CLEAR_LOG)->pos();
}

TEST(LogoScreenshot, TheLogoStaysBesideClearLogAndShowsTheDialogThroughItsMagenta)
{
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.isVisible() && window.windowHandle() && window.windowHandle()->isExposed(); }));
    QWidget* logo = window.Control(IDC_LOGO);
    ASSERT_NE(logo, nullptr);

    // The logo is placed from the outer window's size; a frame thinner than
    // the platform's puts it onto the status line, and the layout empties it.
    const QRect status = window.Control(IDC_STATUS)->geometry();
    ASSERT_EQ(logo->size(), QSize(100, 38))
        << "logo emptied by the layout; status line bottom " << status.bottom() + 1
        << ", outer window height now " << window.GetWindowRect().Height()
        << " (the logo sits at that height - 98)";

    const QSize normalClient = window.ClientArea()->size();
    const QPoint normalOffset = LogoOffset(window);
    const QRect normalLogo = logo->geometry();
    EXPECT_GE(normalOffset.x(), window.Control(IDC_CLEAR_LOG)->width());
    CheckLogoOnScreen(window, "logo_normal");

    window.Maximise();
    ASSERT_TRUE(WaitFor([&] { return window.ClientArea()->size() != normalClient; }))
        << "the window did not change size";
    WaitFor([&] { return logo->pos() != normalLogo.topLeft(); }, 1000);
    EXPECT_EQ(LogoOffset(window), normalOffset);
    EXPECT_EQ(logo->size(), QSize(100, 38));
    const QSize grown = window.ClientArea()->size() - normalClient;
    EXPECT_EQ(logo->pos(), normalLogo.topLeft() + QPoint(grown.width(), grown.height()));
    CheckLogoOnScreen(window, "logo_maximised");

    window.Restore();
    ASSERT_TRUE(WaitFor([&] { return window.ClientArea()->size() == normalClient; }));
    WaitFor([&] { return logo->geometry() == normalLogo; }, 1000);
    EXPECT_EQ(logo->geometry(), normalLogo);
    CheckLogoOnScreen(window, "logo_restored");

    dialog.OnCancel();
}

TEST(LogoScreenshot, TheBitmapControlSizesItselfAndPaintsOverItsParentsColour)
{
    QWidget parent;
    parent.resize(240, 120);
    QPalette palette = parent.palette();
    const QColor background(201, 222, 243);
    palette.setColor(QPalette::Window, background);
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    CTransparentImage image;
    const auto painter = [&image]() -> IPaintHandler* { return &image; };
    QWidget* control = CreateQtBitmapControl(&parent, IDC_LOGO, IDB_LOGO, Rect{20, 10, 500, 500}, painter);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), QRect(20, 10, 100, 38));
    // A second control, larger than its bitmap: the rest shows the parent.
    QWidget* large = CreateQtBitmapControl(&parent, 4000, IDB_LOGO, Rect{110, 60, 0, 0}, painter);
    large->resize(120, 50);
    parent.show();
    ASSERT_TRUE(WaitFor([&] { return parent.windowHandle() && parent.windowHandle()->isExposed(); }));

    QImage picture;
    WaitFor([&] {
        picture = Picture(parent);
        return LogoMismatches(parent, *control, background, picture) == 0;
    });
    EXPECT_EQ(LogoMismatches(parent, *control, background, picture), 0);
    EXPECT_EQ(LogoMismatches(parent, *large, background, picture), 0);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 120; ++x)
            if (x >= 100 || y >= 38) {
                ASSERT_EQ(picture.pixel(large->mapTo(&parent, QPoint(x, y))), background.rgb());
            }
    Save(picture, "bitmap_control");
}

} // namespace

HOROLAB_QT_TEST_MAIN()
