#pragma once
// Dialog units to pixels: horizontal units are a quarter of the font's
// average character width, vertical units an eighth of its height.
#include "platform/Geometry.h"

#include <QFont>
#include <QRect>

class DialogUnits {
public:
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}
    // Base units of a font: the width of "A".."Z" "a".."z" divided by 52 and
    // rounded, and the font's height.
    static DialogUnits FromFont(const QFont& font);

    int X(int units) const { return MulDiv(units, m_baseX, 4); }
    int Y(int units) const { return MulDiv(units, m_baseY, 8); }
    QRect ToPixels(int x, int y, int cx, int cy) const { return {X(x), Y(y), X(cx), Y(cy)}; }
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    // a * b / c rounded half away from zero, as the original platform scales.
    static int MulDiv(int a, int b, int c);
    int m_baseX;
    int m_baseY;
};
