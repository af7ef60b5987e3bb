#include "frontends/qt/QtChartControl.h"

#include <QPainter>
#include <QPolygonF>

#include <climits>
#include <cmath>

namespace {

constexpr int Margin = 6;
constexpr int MarkSize = 3;
constexpr size_t DotsUpTo = 120; // points, beyond which the line alone reads better

QString Label(double value, const std::string& unit)
{
    return QString::number(value, 'g', 6) + QChar(' ') + QString::fromLatin1(unit.c_str());
}

// Grid values from low to high, one step apart; the last may stop short.
template <typename F>
void ForEachStep(const ChartAxis& axis, F f)
{
    const int steps = static_cast<int>(std::lround((axis.high - axis.low) / axis.step));
    for (int i = 0; i <= steps; ++i)
        f(axis.low + i * axis.step);
}

} // namespace

QtChartControl::QtChartControl(QWidget* parent) : QWidget(parent)
{
    // Paints every pixel itself, so what lies beneath is never drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void QtChartControl::SetChart(const ChartView& chart)
{
    m_chart = chart;
    update();
}

void QtChartControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    const ChartView& c = m_chart;
    if (c.points.empty() || c.x.high <= c.x.low || c.y.high <= c.y.low)
        return;

    const QFontMetrics metrics(font());
    const int labelWidth = std::max(metrics.horizontalAdvance(Label(c.y.low, c.y.unit)),
                                    metrics.horizontalAdvance(Label(c.y.high, c.y.unit)));
    const QRect plot(Margin + labelWidth + Margin, Margin + metrics.height() / 2,
                     width() - labelWidth - 3 * Margin - metrics.horizontalAdvance(QStringLiteral("00")),
                     height() - 2 * Margin - metrics.height() * 3 / 2 - MarkSize);
    if (plot.width() < 10 || plot.height() < 10)
        return;
    auto px = [&](double x) { return plot.left() + (x - c.x.low) / (c.x.high - c.x.low) * plot.width(); };
    auto py = [&](double y) { return plot.bottom() - (y - c.y.low) / (c.y.high - c.y.low) * plot.height(); };

    // Grid and labels.
    painter.setPen(colours.color(QPalette::Midlight));
    ForEachStep(c.y, [&](double y) { painter.drawLine(QPointF(plot.left(), py(y)), QPointF(plot.right(), py(y))); });
    ForEachStep(c.x, [&](double x) { painter.drawLine(QPointF(px(x), plot.top()), QPointF(px(x), plot.bottom())); });
    painter.setPen(colours.color(QPalette::Text));
    ForEachStep(c.y, [&](double y) {
        const QString text = Label(y, c.y.unit);
        painter.drawText(QPointF(plot.left() - Margin - metrics.horizontalAdvance(text),
                                 py(y) + metrics.ascent() / 2.0),
                         text);
    });
    ForEachStep(c.x, [&](double x) {
        const QString text = Label(x, c.x.unit);
        painter.drawText(QPointF(px(x) - metrics.horizontalAdvance(text) / 2.0,
                                 plot.bottom() + MarkSize + Margin + metrics.ascent()),
                         text);
    });
    painter.drawRect(plot);

    // The good samples, joined where no failure lies between them. Samples
    // that fall on one pixel column are drawn as its lowest and highest, so
    // an hour costs no more than a few hundred columns.
    // Smoothed while the samples stand apart; a dense line looks the same
    // without, at a fraction of the cost.
    painter.setRenderHint(QPainter::Antialiasing, static_cast<int>(c.points.size()) < plot.width());
    const QColor good(0, 90, 200);
    painter.setPen(QPen(good, 1.0));
    QPolygonF line;
    int column = INT_MIN, inColumn = 0;
    double first = 0, low = 0, high = 0, firstX = 0;
    auto closeColumn = [&] {
        if (inColumn == 1)
            line << QPointF(firstX, first);
        else if (inColumn > 1)
            line << QPointF(column, first == low ? low : high) << QPointF(column, first == low ? high : low);
        inColumn = 0;
    };
    auto drawLine = [&] {
        closeColumn();
        painter.drawPolyline(line);
        line.clear();
        column = INT_MIN;
    };
    for (const ChartPoint& p : c.points) {
        if (p.marked) {
            drawLine();
            continue;
        }
        const double x = px(p.x), y = py(p.y);
        if (static_cast<int>(x) != column) {
            closeColumn();
            column = static_cast<int>(x);
            firstX = x;
            first = low = high = y;
        }
        ++inColumn;
        low = std::min(low, y);
        high = std::max(high, y);
    }
    drawLine();
    if (c.points.size() <= DotsUpTo) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(good);
        for (const ChartPoint& p : c.points)
            if (!p.marked)
                painter.drawEllipse(QPointF(px(p.x), py(p.y)), 2.0, 2.0);
    }
    // A failed poll: a red cross on the time axis.
    painter.setPen(QPen(QColor(210, 30, 30), 1.5));
    int marked = INT_MIN; // one cross a pixel column
    for (const ChartPoint& p : c.points) {
        if (!p.marked || static_cast<int>(px(p.x)) == marked)
            continue;
        marked = static_cast<int>(px(p.x));
        const QPointF at(px(p.x), plot.bottom());
        painter.drawLine(at + QPointF(-MarkSize, -MarkSize), at + QPointF(MarkSize, MarkSize));
        painter.drawLine(at + QPointF(-MarkSize, MarkSize), at + QPointF(MarkSize, -MarkSize));
    }
}
