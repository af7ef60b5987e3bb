#pragma once
// Drives the real Qt dialog window in tests the way an operator would: keys
// into the focused widget, waiting with the event loop running, answering
// message boxes, saving screenshots. Header-only; gui and system tests only.
#include "support/TestPaths.h"
#include "frontends/qt/QtDialogWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace qtdriver {

// Runs the event loop until `done` holds or the time is up; the result of `done`.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline void Pump(int ms = 50)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// One key press and release, delivered to `target` as the window system would.
inline void Key(QWidget* target, int key, const QString& text = {},
                Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

// Types Latin-1 text character by character, with Shift for capitals.
inline void Type(QWidget* target, const std::string& text)
{
    for (char c : text) {
        const QChar ch = QLatin1Char(c);
        const int key = ch.toUpper().unicode();
        Key(target, key, QString(ch), ch.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
    }
}

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
};

// Answers every message box that comes up with OK and keeps what it said.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            m_seen.push_back({box->windowTitle(), box->text(), box->icon()});
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
        });
        m_timer.start();
    }
    const std::vector<SeenBox>& Seen() const { return m_seen; }

private:
    QTimer m_timer;
    std::vector<SeenBox> m_seen;
};

// Cancels every save-file dialog that comes up. The dialog runs its own
// modal loop on the interface thread, so it is answered from a timer.
class FileDialogCanceller {
public:
    explicit FileDialogCanceller(std::function<void()> beforeCancel = {})
        : m_beforeCancel(std::move(beforeCancel))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            if (m_beforeCancel)
                m_beforeCancel();
            dialog->reject();
            ++m_cancelled;
        });
        m_timer.start();
    }
    int Cancelled() const { return m_cancelled; }

private:
    std::function<void()> m_beforeCancel;
    QTimer m_timer;
    int m_cancelled = 0;
};

// What the screen shows in the window's area when the platform can tell
// (a real X server), otherwise the window as it paints itself.
inline QPixmap Picture(QWidget* window)
{
    if (QScreen* screen = window->screen()) {
        const QPixmap shot = screen->grabWindow(window->winId());
        if (!shot.isNull() && shot.size() == window->size())
            return shot;
    }
    return window->grab();
}

// Saves a picture of the window into the screenshot folder; the path, or
// empty when saving failed.
inline QString SaveScreenshot(QWidget* window, const QString& name)
{
    const char* dir = ScreenshotDir();
    QDir().mkpath(QString::fromLocal8Bit(dir));
    const QString path = QDir(QString::fromLocal8Bit(dir)).filePath(name);
    return Picture(window).save(path) ? path : QString();
}

} // namespace qtdriver
