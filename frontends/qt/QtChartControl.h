#pragma once
// The chart control on Qt: draws a ChartView as the logic scaled it, a line
// through the good samples and a red mark at the foot for every failed one.
#include "platform/Chart.h"

#include <QWidget>

class QtChartControl : public QWidget {
    Q_OBJECT
public:
    explicit QtChartControl(QWidget* parent);
    const ChartView& Chart() const { return m_chart; }
    void SetChart(const ChartView& chart);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ChartView m_chart;
};
