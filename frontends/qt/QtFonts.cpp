#include "frontends/qt/QtFonts.h"

#include "res/DialogTemplate.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>
#include <cstdlib>

namespace {

// Points to pixels at the 96 dots per inch the template's measures assume.
int PointsToPixels(int points) { return (points * 96 + 36) / 72; }

constexpr int FixedPitchFamily = 0x01; // low bits of pitch-and-family
// The smallest cell the original system's raster Courier offers is 13
// pixels (an 11-pixel em); scalable faces would honour smaller requests and
// turn the boxed reports unreadable, so requests below it get this size.
constexpr int SmallestFixedPixelSize = 11;

int WeightFromLogFont(int weight)
{
    if (weight <= 0)
        return QFont::Normal;
    return weight; // QFont weights use the same 100..900 scale
}

} // namespace

QFont DialogFont(const DialogTemplate& dialog)
{
    QFont font;
    // Same base units as the template face (6 x 13 pixels at 8 points).
    font.setFamilies({QString::fromLatin1(dialog.fontFace), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(PointsToPixels(dialog.fontPoints));
    return font;
}

bool IsFixedPitch(const QFont& font)
{
    const QFontMetricsF fm(font);
    const qreal narrow = fm.horizontalAdvance(QLatin1Char('i'));
    for (QLatin1Char c : {QLatin1Char('W'), QLatin1Char('m'), QLatin1Char('.'), QLatin1Char('|')})
        if (fm.horizontalAdvance(c) != narrow)
            return false;
    return narrow > 0;
}

QFont FontFromLogFont(const LogFont& request)
{
    const bool fixed = (request.pitchAndFamily & 0x03) == FixedPitchFamily;
    QFont font(QString::fromLatin1(request.faceName.c_str()));
    int pixels = std::abs(request.height);
    if (fixed && pixels < SmallestFixedPixelSize)
        pixels = SmallestFixedPixelSize;
    if (pixels > 0)
        font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(WeightFromLogFont(request.weight)));
    font.setItalic(request.italic);
    font.setUnderline(request.underline);
    font.setStrikeOut(request.strikeOut);
    if (fixed) {
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    }
    if (!fixed || (QFontDatabase::hasFamily(font.family()) && IsFixedPitch(font)))
        return font;
    // The face is not installed as such: take the system's fixed face.
    QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    system.setPixelSize(font.pixelSize());
    system.setWeight(font.weight());
    system.setItalic(request.italic);
    system.setUnderline(request.underline);
    system.setStrikeOut(request.strikeOut);
    if (IsFixedPitch(system))
        return system;
    for (const QString& family : QFontDatabase::families())
        if (QFontDatabase::isFixedPitch(family)) {
            system.setFamily(family);
            if (IsFixedPitch(system))
                return system;
        }
    return font;
}
