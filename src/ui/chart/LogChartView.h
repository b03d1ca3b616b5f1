#pragma once
// The chart on screen: zoom with the mouse wheel (around the pointer) and with
// a dragged rectangle, pan by dragging with the middle button, and from the
// keyboard: + and - zoom, the arrows pan, Home shows the whole log again. The
// readout under the pointer (time, values, alarm) goes out as it moves.
#include "LogChart.h"

#include <QChartView>

namespace r310::ui {

class LogChartView : public QChartView {
    Q_OBJECT
public:
    explicit LogChartView(LogChart *chart, QWidget *parent = nullptr);
    LogChart &logChart() const { return *chart_; }

signals:
    void readoutChanged(const QString &text);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPointF ChartPosition(const QPointF &viewPosition) const;

    LogChart *chart_;
    bool panning_ = false;
    QPointF panStart_;
    std::int64_t panFrom_ = 0, panTo_ = 0;
};

} // namespace r310::ui
