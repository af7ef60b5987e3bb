#include "frontends/qt/QtLogPane.h"

#include "frontends/qt/QtText.h"

#include <algorithm>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleOption>
#include <QTextCursor>

namespace {

// Qt's raster engine hands every gradient fill taller than 96 scan lines to
// its thread pool in pieces and waits for them. The bar's groove is such a
// fill, a few pixels wide, so the hand-over costs more than the work (here
// 0.19 to 0.5 ms a paint against 0.09 ms) and waits on whatever else runs on
// the machine. Drawn band by band into images of 64 lines, every fill stays
// on this thread; the bar paints all of its area opaquely, so the pixels are
// the same.
class BandedScrollBarStyle : public QProxyStyle {
public:
    explicit BandedScrollBarStyle(QObject* owner) : QProxyStyle(QApplication::style()->name())
    {
        setParent(owner);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        constexpr int Band = 64;
        if (control != CC_ScrollBar) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect area = option->rect;
        const qreal ratio = painter->device()->devicePixelRatio();
        for (int top = area.top(); top <= area.bottom(); top += Band) {
            QImage band(QSize(area.width(), std::min(Band, area.bottom() + 1 - top)) * ratio,
                        QImage::Format_ARGB32_Premultiplied);
            band.setDevicePixelRatio(ratio);
            band.fill(Qt::transparent);
            QPainter bandPainter(&band);
            bandPainter.setRenderHints(painter->renderHints());
            bandPainter.setFont(painter->font());
            bandPainter.translate(-area.left(), -top);
            QProxyStyle::drawComplexControl(control, option, &bandPainter, widget);
            bandPainter.end();
            painter->drawImage(QPoint(area.left(), top), band);
        }
    }
};

// The text as the document holds it, one character a position: a CR LF, a
// lone CR and a LF each begin a new line, as when the text is inserted.
QString AsDocumentText(const QString& text)
{
    QString lines;
    lines.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        lines += text[i] == u'\r' || text[i] == u'\n' ? QChar(QChar::ParagraphSeparator) : text[i];
    }
    return lines;
}

} // namespace

QtLogPane::QtLogPane(QWidget* parent) : QPlainTextEdit(parent)
{
    verticalScrollBar()->setStyle(new BandedScrollBarStyle(this));
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
    const QString shown = AsDocumentText(ToQt(text));
    ReplaceChangedPart(shown);
    m_shown = shown;
    // As a new whole text does: caret at the start, view at the top left.
    setTextCursor(QTextCursor(document()));
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
}

void QtLogPane::ReplaceChangedPart(const QString& shown)
{
    // Only the lines that change are laid out and painted again: a report
    // grows at its end, the monitor's figures change in place.
    const auto [head, tail] = ChangeBetween(shown, m_shown);
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(head));
    cursor.setPosition(static_cast<int>(m_shown.size() - tail), QTextCursor::KeepAnchor);
    cursor.insertText(shown.mid(head, shown.size() - tail - head));
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
