#include "frontends/qt/QtText.h"

#include <algorithm>

QString ToQt(const std::string& text)
{
    std::string joined;
    joined.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // the '\n' that follows stands for the pair
        joined += text[i];
    }
    return QString::fromLatin1(joined.data(), static_cast<qsizetype>(joined.size()));
}

std::string FromQt(const QString& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) {
        if (c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            out += "\r\n";
        else
            out += c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?';
    }
    return out;
}

int ToWidgetPosition(const std::string& text, int position)
{
    const int end = std::clamp(position, 0, static_cast<int>(text.size()));
    int widget = 0;
    for (int i = 0; i < end; ++i) {
        if (text[i] == '\r' && i + 1 < end && text[i + 1] == '\n')
            ++i;
        ++widget;
    }
    return widget;
}

int FromWidgetPosition(const std::string& text, int position)
{
    int widget = 0;
    int i = 0;
    const int size = static_cast<int>(text.size());
    while (i < size && widget < position) {
        i += text[i] == '\r' && i + 1 < size && text[i + 1] == '\n' ? 2 : 1;
        ++widget;
    }
    return i;
}

TextChange ChangeBetween(const QString& now, const QString& before)
{
    const qsizetype common = std::min(now.size(), before.size());
    TextChange change;
    while (change.head < common && now[change.head] == before[change.head])
        ++change.head;
    while (change.tail < common - change.head &&
           now[now.size() - 1 - change.tail] == before[before.size() - 1 - change.tail])
        ++change.tail;
    return change;
}
