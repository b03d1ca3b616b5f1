#include "LogChartView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>

namespace r310::ui {

namespace {
constexpr double kZoomStep = 0.8;   // one wheel notch in
constexpr double kKeyZoom = 0.5;    // "+" halves the time shown
constexpr double kKeyPan = 0.25;    // an arrow moves by a quarter of the view
} // namespace

LogChartView::LogChartView(LogChart *chart, QWidget *parent) : QChartView(chart, parent), chart_(chart)
{
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
}

QPointF LogChartView::ChartPosition(const QPointF &viewPosition) const
{
    return chart_->mapFromScene(mapToScene(viewPosition.toPoint()));
}

void LogChartView::wheelEvent(QWheelEvent *event)
{
    const int notches = event->angleDelta().y() / 120;
    if (notches == 0 || !chart_->HasData()) {
        event->ignore();
        return;
    }
    const std::int64_t centre = chart_->TimeAt(ChartPosition(event->position()));
    chart_->ZoomTime(std::pow(kZoomStep, notches), centre);
    event->accept();
}

void LogChartView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        chart_->ZoomTime(kKeyZoom);
        break;
    case Qt::Key_Minus:
        chart_->ZoomTime(1 / kKeyZoom);
        break;
    case Qt::Key_Left:
        chart_->PanTime(-kKeyPan);
        break;
    case Qt::Key_Right:
        chart_->PanTime(kKeyPan);
        break;
    case Qt::Key_Up:
        chart_->PanValue(kKeyPan);
        break;
    case Qt::Key_Down:
        chart_->PanValue(-kKeyPan);
        break;
    case Qt::Key_Home:
        chart_->ShowWhole();
        break;
    default:
        QChartView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void LogChartView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton) {
        panning_ = true;
        panStart_ = event->position();
        panFrom_ = chart_->ShownFrom();
        panTo_ = chart_->ShownTo();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void LogChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (panning_) {
        const double width = std::max(1.0, chart_->plotArea().width());
        const double seconds = (event->position().x() - panStart_.x()) / width * static_cast<double>(panTo_ - panFrom_);
        const auto shift = static_cast<std::int64_t>(std::llround(seconds));
        chart_->ShowTimes(panFrom_ - shift, panTo_ - shift);
        event->accept();
        return;
    }
    emit readoutChanged(chart_->ReadoutAt(ChartPosition(event->position())));
    QChartView::mouseMoveEvent(event);
}

void LogChartView::mouseReleaseEvent(QMouseEvent *event)
{
    if (panning_ && event->button() == Qt::MiddleButton) {
        panning_ = false;
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

} // namespace r310::ui
