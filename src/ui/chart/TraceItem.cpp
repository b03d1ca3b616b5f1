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
    update();
}

void TraceItem::SetContent(std::vector<Line> lines, std::vector<Marks> marks)
{
    lines_ = std::move(lines);
    marks_ = std::move(marks);
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
    // Pixels are drawn with a one-pixel pen, the only width the raster
    // painter strokes without building an outline of every up-and-down of
    // the column extremes (a wider one costs it a hundred times as long);
    // SVG and PDF keep the series' own pen.
    const bool pixels = painter->paintEngine() && painter->paintEngine()->type() == QPaintEngine::Raster;
    QPolygonF polyline;
    for (const Line &line : lines_) {
        if (line.points.empty())
            continue;
        polyline.resize(static_cast<qsizetype>(line.points.size()));
        for (std::size_t i = 0; i < line.points.size(); ++i)
            polyline[static_cast<qsizetype>(i)] = Position(line.points[i]);
        QPen pen = line.pen;
        if (pixels) {
            pen.setWidth(1);
            pen.setCosmetic(true);
        }
        painter->setPen(pen);
        if (polyline.size() == 1)
            painter->drawPoint(polyline.front());
        else
            painter->drawPolyline(polyline);
    }
    for (const Marks &marks : marks_) {
        const QPointF centre(marks.mark.width() / 2.0, marks.mark.height() / 2.0);
        for (const logs::TracePoint &point : marks.points)
            painter->drawImage(Position(point) - centre, marks.mark);
    }
    painter->restore();
}

} // namespace r310::ui
