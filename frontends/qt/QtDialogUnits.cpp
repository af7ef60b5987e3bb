#include "frontends/qt/QtDialogUnits.h"

#include <QFontMetrics>
#include <cstdint>

DialogUnits DialogUnits::FromFont(const QFont& font)
{
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits((width / 26 + 1) / 2, fm.height());
}

int DialogUnits::MulDiv(int a, int b, int c)
{
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
