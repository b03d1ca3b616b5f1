#include "TraceItem.h"

#include <QPainter>
#include <QPaintEngine>
#include <QPolygonF>

namespace r310::ui {

TraceItem::TraceItem(QGraphicsItem *parent) : QGraphicsItem(parent) {}

void TraceItem::SetView(const View &view)
{
    if (view.area != view_.area)
        prepareGeometryChange();
    view_ = view;
    pixelLinesValid_ = false;
    update();
}

void TraceItem::SetContent(std::vector<Line> lines, std::vector<Marks> marks)
{
    lines_ = std::move(lines);
    marks_ = std::move(marks);
    pixelLinesValid_ = false;
    update();
}

int TraceItem::PointCount() const
{
    std::size_t count = 0;
    for (const Line &line : lines_)
        count += line.points.size();
    for (const Marks &marks : marks_)
        count += marks.points.size();
    return static_cast<int>(count);
}

QPointF TraceItem::Position(const logs::TracePoint &point) const
{
    const QRectF &area = view_.area;
    const double span = static_cast<double>(view_.to - view_.from);
    const double range = view_.high - view_.low;
    return QPointF(area.left() + static_cast<double>(point.time - view_.from) / span * area.width(),
                   area.bottom() - (point.value - view_.low) / range * area.height());
}

void TraceItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (view_.area.isEmpty() || view_.to <= view_.from || view_.high <= view_.low)
        return;
    painter->save();
    painter->setClipRect(view_.area, Qt::IntersectClip);
    if (painter->paintEngine() && painter->paintEngine()->type() == QPaintEngine::Raster)
        PaintPixels(*painter);
    else
        PaintVectors(*painter);
    for (const Marks &marks : marks_) {
        const QPointF centre(marks.mark.width() / 2.0, marks.mark.height() / 2.0);
        for (const logs::TracePoint &point : marks.points)
            painter->drawImage(Position(point) - centre, marks.mark);
    }
    painter->restore();
}

void TraceItem::MakePixelLines() const
{
    pixelLines_.clear();
    for (const Line &line : lines_) {
        if (line.points.empty())
            continue;
        PixelLine pixels;
        pixels.pen = QPen(line.pen.color(), 1);
        pixels.pen.setCosmetic(true);
        pixels.points.reserve(static_cast<qsizetype>(line.points.size()));
        for (const logs::TracePoint &point : line.points)
            pixels.points.append(Position(point));
        const double columns = pixels.points.back().x() - pixels.points.front().x();
        pixels.dense = static_cast<double>(pixels.points.size()) > columns;
        pixelLines_.push_back(std::move(pixels));
    }
    pixelLinesValid_ = true;
}

void TraceItem::PaintPixels(QPainter &painter) const
{
    // One pixel wide: the only width the raster painter strokes without
    // building an outline of every up-and-down of the column extremes (a
    // wider one costs it a hundred times as long). A line with more points
    // than pixel columns goes up and down across each column; smoothing its
    // edges changes nothing one can see there and costs twice the time.
    if (!pixelLinesValid_)
        MakePixelLines();
    const bool smooth = painter.testRenderHint(QPainter::Antialiasing);
    for (const PixelLine &line : pixelLines_) {
        painter.setRenderHint(QPainter::Antialiasing, smooth && !line.dense);
        painter.setPen(line.pen);
        if (line.points.size() == 1)
            painter.drawPoint(line.points.front());
        else
            painter.drawPolyline(line.points);
    }
    painter.setRenderHint(QPainter::Antialiasing, smooth);
}

void TraceItem::PaintVectors(QPainter &painter) const
{
    // Vector pictures keep each series' own pen.
    QPolygonF polyline;
    for (const Line &line : lines_) {
        if (line.points.empty())
            continue;
        polyline.resize(static_cast<qsizetype>(line.points.size()));
        for (std::size_t i = 0; i < line.points.size(); ++i)
            polyline[static_cast<qsizetype>(i)] = Position(line.points[i]);
        painter.setPen(line.pen);
        if (polyline.size() == 1)
            painter.drawPoint(polyline.front());
        else
            painter.drawPolyline(polyline);
    }
}

} // namespace r310::ui
