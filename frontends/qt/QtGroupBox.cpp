#include "frontends/qt/QtGroupBox.h"

#include <QPainter>

namespace {
constexpr int CaptionIndent = 6; // from the frame's left edge to the caption
constexpr int CaptionPadding = 2;

// The caption as shown: "&x" marks a mnemonic, "&&" is one ampersand.
QString WithoutMnemonics(const QString& text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && ++i >= text.size())
            break;
        shown += text[i];
    }
    return shown;
}
} // namespace

QtGroupBox::QtGroupBox(const QString& title, QWidget* parent) : QWidget(parent), m_title(title)
{
    setAttribute(Qt::WA_TransparentForMouseEvents); // it only frames its neighbours
}

void QtGroupBox::SetTitle(const QString& title)
{
    m_title = title;
    update();
}

void QtGroupBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics fm = fontMetrics();
    const int top = fm.height() / 2;
    const QRect frame(0, top, width() - 2, height() - top - 2);
    // Etched: a shadow line with a highlight line one pixel below and right.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);

    const QString caption = WithoutMnemonics(m_title);
    if (caption.isEmpty())
        return;
    const QRect text(CaptionIndent, 0, fm.horizontalAdvance(caption) + 2 * CaptionPadding, fm.height());
    painter.fillRect(text, palette().color(QPalette::Window));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine, caption);
}
