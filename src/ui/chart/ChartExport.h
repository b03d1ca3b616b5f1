#pragma once
// Pictures of a chart as PNG, SVG or PDF, by the file name's extension. The
// window exports what it shows; "r310ctl plot" renders without a display.
// The file is written atomically: it appears, or replaces an older one,
// only when every byte has been written.
#include <QByteArray>
#include <QSize>
#include <QString>

class QChart;

namespace r310::ui {

enum class ChartFormat { Unknown, Png, Svg, Pdf };

// By the extension, in any case: .png, .svg, .pdf.
ChartFormat ChartFormatOf(const QString &path);

// The picture's bytes at `size` pixels (PDF: a page of that shape). The
// chart is laid out at that size first; a chart in a view keeps its place.
// title and description (the instrument, where known) go into the SVG's and
// PDF's own fields.
QByteArray RenderChart(QChart &chart, const QSize &size, ChartFormat format, const QString &title = {},
                       const QString &description = {});

struct ChartFileResult {
    bool ok = false;
    QString message; // "Cannot create file %s" (and why), empty on success
};
ChartFileResult WriteChartFile(QChart &chart, const QSize &size, const QString &path,
                               const QString &description = {});

} // namespace r310::ui
