// The window operations on controls, the menu and geometry. Each runs on the
// interface thread (see QtUiCalls), whichever thread calls it.
#include "frontends/qt/QtDialogWindow.h"

#include "frontends/qt/QtAppIcon.h"
#include "frontends/qt/QtBitmapControl.h"
#include "frontends/qt/QtChartControl.h"
#include "frontends/qt/QtFonts.h"
#include "frontends/qt/QtGroupBox.h"
#include "frontends/qt/QtLogPane.h"
#include "frontends/qt/QtServerBox.h"
#include "frontends/qt/QtText.h"
#include "frontends/qt/QtUiCalls.h"
#include "res/DialogTemplate.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

namespace {

Rect ToRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

} // namespace

bool QtDialogWindow::ControlExists(int id)
{
    return m_calls->Run([&] { return Control(id) != nullptr; });
}

std::string QtDialogWindow::GetText(int id)
{
    return m_calls->Run([&]() -> std::string {
        QWidget* w = Control(id);
        if (w == m_logPane)
            return m_logPane->WindowText();
        if (w == m_serverBox)
            return m_serverBox->WindowText();
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            return FromQt(button->text());
        if (auto* label = qobject_cast<QLabel*>(w))
            return FromQt(label->text());
        if (auto* group = qobject_cast<QtGroupBox*>(w))
            return FromQt(group->Title());
        return {};
    });
}

void QtDialogWindow::SetText(int id, const std::string& text)
{
    m_calls->Run([&] {
        QWidget* w = Control(id);
        if (w == m_logPane)
            m_logPane->SetWindowText(text);
        else if (w == m_serverBox)
            m_serverBox->SetWindowText(text);
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            button->setText(ToQt(text));
        else if (auto* label = qobject_cast<QLabel*>(w))
            label->setText(ToQt(text));
        else if (auto* group = qobject_cast<QtGroupBox*>(w))
            group->SetTitle(ToQt(text));
    });
}

bool QtDialogWindow::IsChecked(int id)
{
    return m_calls->Run([&] {
        auto* box = qobject_cast<QCheckBox*>(Control(id));
        return box && box->isChecked();
    });
}

void QtDialogWindow::SetChecked(int id, bool checked)
{
    m_calls->Run([&] {
        if (auto* box = qobject_cast<QCheckBox*>(Control(id)))
            box->setChecked(checked);
    });
}

void QtDialogWindow::EnableControl(int id, bool enable)
{
    m_calls->Run([&] {
        if (QWidget* w = Control(id))
            w->setEnabled(enable);
    });
}

bool QtDialogWindow::IsControlEnabled(int id)
{
    return m_calls->Run([&] {
        QWidget* w = Control(id);
        return w && w->isEnabledTo(m_client);
    });
}

void QtDialogWindow::ShowControl(int id, bool show)
{
    m_calls->Run([&] {
        if (QWidget* w = Control(id))
            w->setVisible(show);
    });
}

bool QtDialogWindow::IsControlVisible(int id)
{
    // Visible as far as the control itself is concerned: the answer does not
    // change while the window is being shown.
    return m_calls->Run([&] {
        QWidget* w = Control(id);
        return w && w->isVisibleTo(this);
    });
}

bool QtDialogWindow::HasClipSiblings(int id)
{
    return m_calls->Run([&] {
        const auto it = m_styles.find(id);
        return it != m_styles.end() && (it->second & ControlStyle::ClipSiblings) != 0;
    });
}

void QtDialogWindow::SetFocusToDialog()
{
    m_calls->Run([&] { setFocus(Qt::OtherFocusReason); });
}

void QtDialogWindow::SetControlFont(int id, const LogFont& font)
{
    m_calls->Run([&] {
        if (QWidget* w = Control(id))
            w->setFont(FontFromLogFont(font));
    });
}

void QtDialogWindow::RepaintNow(int id)
{
    m_calls->Run([&] {
        QWidget* w = Control(id);
        if (w != m_logPane) {
            if (w)
                w->repaint();
            return;
        }
        // Only the first append of a handler can be followed by a wait (a
        // query's answer): it is painted at once. The appends after it run
        // on without a pause and are painted together as the handler returns
        // to the event loop; their text changes have asked for that paint.
        if (m_handler && m_handler->painted)
            return;
        if (m_handler)
            m_handler->painted = true;
        m_logPane->RepaintNow();
    });
}

void QtDialogWindow::SetSelection(int id, int start, int end)
{
    m_calls->Run([&] {
        QWidget* w = Control(id);
        if (w == m_logPane) {
            m_logPane->SetSelection8(start, end);
        } else if (w == m_serverBox) {
            const std::string text = m_serverBox->WindowText();
            const int size = static_cast<int>(text.size());
            const int from = ToWidgetPosition(text, start < 0 ? size : start);
            const int to = ToWidgetPosition(text, end < 0 ? size : end);
            m_serverBox->lineEdit()->setSelection(from, to - from);
        }
    });
}

void QtDialogWindow::ScrollCaret(int id)
{
    m_calls->Run([&] {
        if (Control(id) == m_logPane)
            m_logPane->ScrollCaret();
    });
}

int QtDialogWindow::FindStringPrefix(int id, const std::string& text)
{
    return m_calls->Run([&] {
        return Control(id) == m_serverBox ? m_serverBox->FindStringPrefix(text) : -1;
    });
}

void QtDialogWindow::InsertString(int id, int index, const std::string& text)
{
    m_calls->Run([&] {
        if (Control(id) == m_serverBox)
            m_serverBox->InsertString(index, text);
    });
}

// ---- Menu bar, by position; separators count as entries.

QMenu* QtDialogWindow::Popup(int position) const
{
    if (!m_menuBar)
        return nullptr;
    const QList<QAction*> bar = m_menuBar->actions();
    return position >= 0 && position < bar.size() ? bar[position]->menu() : nullptr;
}

int QtDialogWindow::GetMenuItemCount(int popupPosition)
{
    return m_calls->Run([&] {
        const QMenu* popup = Popup(popupPosition);
        return popup ? static_cast<int>(popup->actions().size()) : -1;
    });
}

void QtDialogWindow::DeleteMenuItem(int popupPosition, int itemPosition)
{
    m_calls->Run([&] {
        QMenu* popup = Popup(popupPosition);
        if (!popup)
            return;
        const QList<QAction*> items = popup->actions();
        if (itemPosition < 0 || itemPosition >= items.size())
            return;
        popup->removeAction(items[itemPosition]);
        delete items[itemPosition];
    });
}

void QtDialogWindow::EnableMenuBarItem(int position, bool enable)
{
    m_calls->Run([&] {
        if (!m_menuBar)
            return;
        const QList<QAction*> bar = m_menuBar->actions();
        if (position >= 0 && position < bar.size())
            bar[position]->setEnabled(enable);
    });
}

// ---- Icon and geometry

void QtDialogWindow::SetIcon(int resourceId)
{
    m_calls->Run([&] { setWindowIcon(IconFromResource(resourceId)); });
}

Rect QtDialogWindow::GetClientRect()
{
    return m_calls->Run([&] { return Rect{0, 0, m_client->width(), m_client->height()}; });
}

Rect QtDialogWindow::GetWindowRect()
{
    return m_calls->Run([&] { return ToRect(geometry().marginsAdded(FrameMargins())); });
}

Rect QtDialogWindow::GetControlRect(int id)
{
    return m_calls->Run([&] {
        QWidget* w = Control(id);
        return w ? ToRect(w->geometry()) : Rect{};
    });
}

void QtDialogWindow::MoveControl(int id, const Rect& rect)
{
    // A negative extent (a minimised window's empty client area) becomes 0.
    m_calls->Run([&] {
        if (QWidget* w = Control(id))
            w->setGeometry(rect.left, rect.top, std::max(0, rect.Width()), std::max(0, rect.Height()));
    });
}

void QtDialogWindow::CreateBitmapControl(int id, int bitmapId, const Rect& requested,
                                         IPaintHandler* painter)
{
    m_calls->Run([&] {
        // The handler belongs to the bound dialog: the control finds it
        // through the binding, which ends before the dialog may go away.
        m_painters[id] = painter;
        QWidget* control = CreateQtBitmapControl(m_client, id, bitmapId, requested, [this, id]() -> IPaintHandler* {
            const auto it = m_painters.find(id);
            return it == m_painters.end() ? nullptr : it->second;
        });
        if (!control)
            return;
        AddControl(id, control, 0);
        control->show();
    });
}

void QtDialogWindow::CreateChartControl(int id, const Rect& requested)
{
    m_calls->Run([&] {
        auto* chart = new QtChartControl(m_client);
        chart->setObjectName(QStringLiteral("control%1").arg(id));
        chart->setGeometry(requested.left, requested.top, std::max(0, requested.Width()),
                           std::max(0, requested.Height()));
        chart->hide();
        // It lies over the log pane: out of the layout's overlap test.
        AddControl(id, chart, ControlStyle::ClipSiblings);
    });
}

void QtDialogWindow::ShowChart(int id, const ChartView& chart)
{
    m_calls->Run([&] {
        if (auto* control = qobject_cast<QtChartControl*>(Control(id))) {
            control->SetChart(chart);
            control->setVisible(!chart.points.empty());
        }
    });
}
