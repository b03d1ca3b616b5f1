#pragma once
// The sample lines of the data logger chart, painted by one light graphics
// item over the chart's plot area instead of a Qt Charts series per run:
// each run a polyline through its decimated points (every pixel column's
// lowest and highest sample), never joined across the gap between sections,
// and the samples taken in alarm as marks. The chart hands it the points of
// the shown times; the item maps them to pixels as it paints, so a change of
// the shown values alone costs a repaint and nothing more. On screen and in
// PNG pictures the lines are one pixel wide (the width the raster painter
// draws fastest by far), and those with more points than pixel columns are
// drawn without smoothed edges; SVG and PDF get the series' own pen.
#include <Decimation.h>

#include <QGraphicsItem>
#include <QImage>
#include <QPen>
#include <QPolygonF>
#include <QString>

#include <cstdint>
#include <vector>

namespace r310::ui {

class TraceItem : public QGraphicsItem {
public:
    struct Line {
        QString name; // the series' gas text
        QPen pen;
        std::vector<logs::TracePoint> points; // in time order
    };
    struct Marks {
        QString name;
        QImage mark; // drawn centred on each point
        std::vector<logs::TracePoint> points;
    };
    // The part of the time and value plane the plot area shows.
    struct View {
        QRectF area; // the plot area, in the parent's coordinates
        std::int64_t from = 0, to = 1; // wall-clock seconds at the left and right edge
        double low = 0, high = 1;      // values at the bottom and top edge
    };

    explicit TraceItem(QGraphicsItem *parent = nullptr);

    void SetView(const View &view);
    const View &view() const { return view_; }
    void SetContent(std::vector<Line> lines, std::vector<Marks> marks);
    const std::vector<Line> &lines() const { return lines_; }
    const std::vector<Marks> &marks() const { return marks_; }
    // Points held by the lines and marks.
    int PointCount() const;

    QRectF boundingRect() const override { return view_.area; }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    // A line in the plot area's pixels, as the screen and PNG pictures draw it.
    struct PixelLine {
        QPen pen;
        QPolygonF points;
        bool dense = false; // more points than pixel columns
    };
    QPointF Position(const logs::TracePoint &point) const;
    void MakePixelLines() const;
    void PaintPixels(QPainter &painter) const;
    void PaintVectors(QPainter &painter) const;

    View view_;
    std::vector<Line> lines_;
    std::vector<Marks> marks_;
    // Made on the first painting after a change of view or content; a
    // repaint alone (an uncovered window, the zoom rectangle) reuses them.
    mutable std::vector<PixelLine> pixelLines_;
    mutable bool pixelLinesValid_ = false;
};

} // namespace r310::ui
