#pragma once
// Tells a start-up timer the moment a program's window is on screen: at the
// first paint of a top-level window it lets that paint pass finish, prints
// "shown" on standard output and ends the process at once. The start-up
// benchmark runs the tool's start and its floor with the same probe.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

class ShownProbe : public QObject {
public:
    ShownProbe() { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow()) {
            m_seen = true;
            // After the whole pass: every child painted, the backing store flushed.
            QTimer::singleShot(0, [] {
                std::fputs("shown\n", stdout);
                std::fflush(stdout);
                std::_Exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};
