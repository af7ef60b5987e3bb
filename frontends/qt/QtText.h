#pragma once
// Conversion between the dialog's 8-bit window texts (Latin-1, CR LF line
// ends) and Qt's strings (line breaks as '\n'), and between caret positions
// counted in either.
#include <QString>
#include <string>

// Latin-1 to Qt; every CR LF becomes one '\n'.
QString ToQt(const std::string& text);
// Qt to Latin-1; '\n' and paragraph separators become CR LF, characters
// outside Latin-1 become '?'.
std::string FromQt(const QString& text);

// A position in the 8-bit text to the position in the widget's text: every
// CR LF before it counts as one character. Clamped to the text.
int ToWidgetPosition(const std::string& text, int position);
// A widget position back to the 8-bit text: a line break counts as the two
// characters of its CR LF.
int FromWidgetPosition(const std::string& text, int position);

// What an edit changed: `now` and `before` share their first `head` and
// their last `tail` characters (the two never overlap); the rest of `now`
// replaced the rest of `before`.
struct TextChange {
    qsizetype head = 0;
    qsizetype tail = 0;
};
TextChange ChangeBetween(const QString& now, const QString& before);
