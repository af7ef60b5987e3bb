#include "frontends/qt/QtLogPane.h"

#include "frontends/qt/QtText.h"

#include <QScrollBar>
#include <QTextCursor>

QtLogPane::QtLogPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // Read-only, yet the caret is there and text can be selected and copied.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUndoRedoEnabled(false);
}

void QtLogPane::SetWindowText(const std::string& text)
{
    m_text = text;
    setPlainText(ToQt(text));
}

void QtLogPane::SetSelection8(int start, int end)
{
    QTextCursor cursor = textCursor();
    if (start < 0) {
        cursor.clearSelection();
    } else {
        const int size = static_cast<int>(m_text.size());
        if (end < 0 || end > size)
            end = size;
        cursor.setPosition(ToWidgetPosition(m_text, start));
        cursor.setPosition(ToWidgetPosition(m_text, end), QTextCursor::KeepAnchor);
    }
    setTextCursor(cursor);
}

int QtLogPane::SelectionStart8() const
{
    return FromWidgetPosition(m_text, textCursor().selectionStart());
}

int QtLogPane::SelectionEnd8() const
{
    return FromWidgetPosition(m_text, textCursor().selectionEnd());
}

void QtLogPane::ScrollCaret()
{
    ensureCursorVisible();
}

void QtLogPane::RepaintNow()
{
    // The synchronous pass paints everything pending in the window with the
    // text, the scroll bar among it when its range or position changed. A
    // repaint of the frame as well would only paint the unchanged border and
    // scroll bar again.
    viewport()->repaint();
}
