#include "frontends/qt/QtDialogWindow.h"

#include "frontends/qt/QtFonts.h"
#include "frontends/qt/QtGroupBox.h"
#include "frontends/qt/QtLogPane.h"
#include "frontends/qt/QtServerBox.h"
#include "frontends/qt/QtText.h"
#include "frontends/qt/QtUiCalls.h"
#include "res/DialogTemplate.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

const DialogTemplate& TemplateOrDie(int id)
{
    const DialogTemplate* dialog = FindDialogTemplate(id);
    Q_ASSERT(dialog);
    return *dialog;
}

Qt::Alignment StaticAlignment(uint32_t style)
{
    Qt::Alignment align = style & ControlStyle::AlignRight ? Qt::AlignRight : Qt::AlignLeft;
    return align | (style & ControlStyle::CentreVertically ? Qt::AlignVCenter : Qt::AlignTop);
}

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

// Decorations assumed until the window manager frames the window, which it
// does only once the window is shown, while the dialog places its logo from
// the outer size at initialisation: a 31-pixel caption and 8-pixel borders,
// as a current desktop frames a dialog.
const QMargins AssumedFrame{8, 31, 8, 8};

} // namespace

QtDialogWindow::QtDialogWindow(int templateId)
    : QDialog(nullptr), m_units(DialogUnits::FromFont(DialogFont(TemplateOrDie(templateId))))
{
    const DialogTemplate& dialog = TemplateOrDie(templateId);
    m_calls = new QtUiCalls(this);
    setFont(DialogFont(dialog));
    setWindowTitle(QString::fromLatin1(dialog.caption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    if (const MenuTemplate* menu = FindMenuTemplate(dialog.menuId))
        BuildMenu(*menu);
    m_client = new QWidget(this);
    m_client->installEventFilter(this);
    m_templateClient = QSize(m_units.X(dialog.cx), m_units.Y(dialog.cy));
    BuildControls(dialog);
    KeepMinimumTrackingSize();
    resize(TemplateWindowSize());
    // A hidden window gets no resize event yet; the dialog reads its client
    // area before the window is shown.
    PlaceMenuAndClient();
    m_notifiedSize = m_client->size();
}

QtDialogWindow::~QtDialogWindow() = default;

void QtDialogWindow::BuildMenu(const MenuTemplate& menu)
{
    m_menuBar = new QMenuBar(this);
    m_menuBar->setNativeMenuBar(false); // part of the window, as the template has it
    for (const MenuPopupTemplate& popup : menu.popups) {
        QMenu* items = m_menuBar->addMenu(QString::fromLatin1(popup.text));
        for (const MenuItemTemplate& item : popup.items) {
            if (item.separator) {
                items->addSeparator();
                continue;
            }
            // A tab in the text puts the rest in the shortcut column.
            QAction* action = items->addAction(QString::fromLatin1(item.text));
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { Command(id); });
        }
    }
}

void QtDialogWindow::BuildControls(const DialogTemplate& dialog)
{
    QWidget* previous = nullptr;
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = CreateControl(control);
        AddControl(control.id, widget, control.style);
        if (control.style & ControlStyle::TabStop) {
            if (previous)
                QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
    }
}

QWidget* QtDialogWindow::CreateControl(const ControlTemplate& c)
{
    const QString caption = QString::fromLatin1(c.caption);
    const int id = c.id;
    QRect place = m_units.ToPixels(c.x, c.y, c.cx, c.cy);
    QWidget* widget = nullptr;
    switch (c.kind) {
    case ControlKind::GroupBox:
        widget = new QtGroupBox(caption, m_client);
        break;
    case ControlKind::ComboBox: {
        auto* box = new QtServerBox(m_client, c.style & ControlStyle::LowerCase,
                                    c.style & ControlStyle::AutoHScroll);
        // The template's height includes the dropped list.
        const int field = box->sizeHint().height();
        const int item = std::max(1, box->fontMetrics().height());
        box->setMaxVisibleItems(std::max(1, (place.height() - field) / item));
        place.setHeight(field);
        m_serverBox = box;
        widget = box;
        break;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(caption, m_client);
        // Focused, a push button shows that Enter presses it (see PressEnterButton).
        button->setAutoDefault(true);
        if (c.style & ControlStyle::DefaultButton) {
            button->setDefault(true);
            m_defaultButton = id;
        }
        connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
        widget = button;
        break;
    }
    case ControlKind::CheckBox: {
        auto* box = new QCheckBox(caption, m_client);
        connect(box, &QCheckBox::clicked, this, [this, id] { Command(id); });
        widget = box;
        break;
    }
    case ControlKind::Edit:
        m_logPane = new QtLogPane(m_client);
        widget = m_logPane;
        break;
    case ControlKind::Static: {
        auto* label = new QLabel(caption, m_client);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(StaticAlignment(c.style));
        label->setWordWrap(!(c.style & ControlStyle::CentreVertically));
        widget = label;
        break;
    }
    }
    widget->setGeometry(place);
    if (!(c.style & ControlStyle::TabStop) && widget->focusPolicy() != Qt::NoFocus)
        widget->setFocusPolicy(Qt::ClickFocus);
    return widget;
}

void QtDialogWindow::AddControl(int id, QWidget* widget, uint32_t style)
{
    m_controls[id] = widget;
    m_styles[id] = style;
    widget->installEventFilter(this);
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit())
        combo->lineEdit()->installEventFilter(this);
}

QWidget* QtDialogWindow::Control(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QString QtDialogWindow::ApplicationName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

// ---- Running the dialog

bool QtDialogWindow::Begin(CTikkaraDlg& dialog)
{
    m_dialog = &dialog;
    m_ended = false;
    m_result = 0;
    dialog.OnInitDialog();
    return !m_ended;
}

void QtDialogWindow::Open(CTikkaraDlg& dialog)
{
    if (Begin(dialog))
        show();
}

int QtDialogWindow::DoModal(CTikkaraDlg& dialog)
{
    if (Begin(dialog))
        exec();
    Unbind();
    return m_result;
}

void QtDialogWindow::EndDialog(int result)
{
    m_calls->Run([&] {
        m_result = result;
        m_ended = true;
        done(result); // hides the window (telling the dialog) and ends exec()
        Unbind(); // the dialog may go away now
    });
}

void QtDialogWindow::Unbind()
{
    // Nothing reaches the dialog from here on: neither events nor the paint
    // requests of the controls it created.
    m_dialog = nullptr;
    m_painters.clear();
}

void QtDialogWindow::PostToUiThread(std::function<void()> call)
{
    m_calls->Post(std::move(call));
}

void QtDialogWindow::Command(int id)
{
    if (!m_dialog || m_ended)
        return;
    HandlerRun run;
    HandlerRun* outer = std::exchange(m_handler, &run);
    m_dialog->OnCommand(id);
    m_handler = outer;
}

void QtDialogWindow::accept() { Command(IDOK); }
void QtDialogWindow::reject() { Command(IDCANCEL); }

// ---- Keys and window events

int QtDialogWindow::ControlId(const QWidget* widget) const
{
    for (const auto& [id, control] : m_controls)
        if (control == widget)
            return id;
    return 0;
}

void QtDialogWindow::PressEnterButton(const QWidget* focused)
{
    // The push button with the keyboard focus, else the default button.
    const int focusedId = ControlId(focused);
    const int id = qobject_cast<QPushButton*>(Control(focusedId)) ? focusedId : m_defaultButton;
    QWidget* button = Control(id);
    if (button && button->isVisibleTo(this) && button->isEnabled())
        Command(id);
}

bool QtDialogWindow::PressMnemonic(const QWidget* focused, const QKeyEvent* key)
{
    // Alt with the letter is Qt's own shortcut; the letter alone works
    // wherever typing has no other meaning, that is outside the text fields.
    if (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier) || key->text().size() != 1 ||
        qobject_cast<const QLineEdit*>(focused) || qobject_cast<const QComboBox*>(focused) ||
        focused == m_logPane)
        return false;
    const QKeySequence wanted = QKeySequence::mnemonic(QStringLiteral("&") + key->text());
    for (const auto& [id, control] : m_controls) {
        auto* button = qobject_cast<QAbstractButton*>(control);
        if (button && button->isVisibleTo(this) && button->isEnabled() &&
            !wanted.isEmpty() && QKeySequence::mnemonic(button->text()) == wanted) {
            button->animateClick(); // as the shortcut does
            return true;
        }
    }
    return false;
}

bool QtDialogWindow::HandleDialogKey(const QWidget* focused, const QKeyEvent* key)
{
    // An open drop-down list takes Enter and Escape for itself.
    if (m_serverBox && m_serverBox->view()->isVisible())
        return false;
    if (IsEnter(key->key())) {
        PressEnterButton(focused);
        return true;
    }
    if (key->key() == Qt::Key_Escape) {
        Command(IDCANCEL);
        return true;
    }
    return PressMnemonic(focused, key);
}

bool QtDialogWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched != m_client)
        return HandleDialogKey(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event));
    // Size notifications only for real changes: showing the window delivers
    // a resize of the client area to the size it already had.
    if (watched == m_client && event->type() == QEvent::Resize && m_client->size() != m_notifiedSize) {
        m_notifiedSize = m_client->size();
        if (m_dialog && !m_ended)
            m_dialog->OnSize();
    }
    return QDialog::eventFilter(watched, event);
}

void QtDialogWindow::keyPressEvent(QKeyEvent* event)
{
    if (!HandleDialogKey(focusWidget() ? focusWidget() : this, event))
        QDialog::keyPressEvent(event);
}

void QtDialogWindow::closeEvent(QCloseEvent* event)
{
    // The close box is the cancel command; only EndDialog closes.
    if (!m_ended)
        Command(IDCANCEL);
    if (m_ended)
        event->accept();
    else
        event->ignore();
}

void QtDialogWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceMenuAndClient();
}

void QtDialogWindow::PlaceMenuAndClient()
{
    const int bar = m_menuBar ? m_menuBar->sizeHint().height() : 0;
    if (m_menuBar)
        m_menuBar->setGeometry(0, 0, width(), bar);
    m_client->setGeometry(0, bar, width(), height() - bar);
}

void QtDialogWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous() && m_dialog)
        m_dialog->OnShowWindow();
}

void QtDialogWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous() && m_dialog)
        m_dialog->OnShowWindow();
}

// ---- Size: a frame the window manager may maximise and resize

QMargins QtDialogWindow::FrameMargins() const
{
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(),
                frame.right() - inner.right(), frame.bottom() - inner.bottom()};
    return AssumedFrame;
}

QSize QtDialogWindow::TemplateWindowSize() const
{
    const int bar = m_menuBar ? m_menuBar->sizeHint().height() : 0;
    return {m_templateClient.width(), m_templateClient.height() + bar};
}

void QtDialogWindow::KeepMinimumTrackingSize()
{
    // The minimum tracking size is the outer window's; Qt limits the inner
    // one. The frame of the normal window is taken once the window manager
    // has put it on: a maximised window has another frame, and after a
    // restore Qt may still report that one for a while.
    if (!m_normalFrameKnown && windowState() == Qt::WindowNoState && frameGeometry() != geometry()) {
        m_normalFrame = FrameMargins();
        m_normalFrameKnown = true;
    }
    const QMargins m = m_normalFrameKnown ? m_normalFrame : AssumedFrame;
    const QSize inner(std::max(0, CTikkaraDlg::MinTrackWidth - m.left() - m.right()),
                      std::max(0, CTikkaraDlg::MinTrackHeight - m.top() - m.bottom()));
    if (minimumSize() != inner)
        setMinimumSize(inner);
}

void QtDialogWindow::Maximise()
{
    showMaximized();
    // Without a window manager nobody answers the request: place the window
    // over the screen's work area ourselves.
    QTimer::singleShot(250, this, [this] {
        if (!isMaximized() || !screen())
            return;
        const QRect area = screen()->availableGeometry();
        if (frameGeometry().size() != area.size() && frameGeometry() == geometry())
            setGeometry(area);
    });
}

void QtDialogWindow::Restore()
{
    showNormal();
    // Likewise, without a window manager the template size is ours to give
    // back (nobody can have dragged the frame to another).
    QTimer::singleShot(250, this, [this] {
        if (windowState() == Qt::WindowNoState && frameGeometry() == geometry())
            resize(TemplateWindowSize());
    });
}

void QtDialogWindow::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    // A new frame moves the window, unless the window manager keeps the
    // inner window in place (static gravity) ...
    KeepMinimumTrackingSize();
}

void QtDialogWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // ... but a managed window is framed by the time it is first activated.
    if (event->type() == QEvent::ActivationChange)
        KeepMinimumTrackingSize();
}
