#include "frontends/qt/QtFileFilter.h"

#include "frontends/qt/QtText.h"

#include <vector>

namespace {

std::vector<std::string> SplitAtBars(const std::string& text)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == '|') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

} // namespace

QStringList NameFiltersFromPairs(const std::string& filter)
{
    QStringList filters;
    const std::vector<std::string> parts = SplitAtBars(filter);
    // Pairs end at the first empty description (the "||" at the end).
    for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
        const QString description = ToQt(parts[i]).trimmed();
        QString patterns = ToQt(parts[i + 1]);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns = patterns.simplified();
        // Qt reads the patterns from the last parentheses of the text.
        const QString tail = QStringLiteral("(%1)").arg(patterns);
        filters << (description.endsWith(tail) ? description : description + QLatin1Char(' ') + tail);
    }
    return filters;
}
