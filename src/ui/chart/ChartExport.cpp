#include "ChartExport.h"

#include <QBuffer>
#include <QChart>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <memory>

namespace r310::ui {

namespace {

// Lays the chart out at `size`, in a scene of its own when it has none; the
// scene lets go of the chart again when this ends.
class LaidOutChart {
public:
    LaidOutChart(QChart &chart, const QSize &size) : chart_(chart), oldSize_(chart.size())
    {
        if (!chart.scene()) {
            scene_ = std::make_unique<QGraphicsScene>();
            scene_->addItem(&chart);
        }
        resized_ = chart.size() != QSizeF(size);
        if (resized_)
            chart.resize(size);
        // The chart lays out and places its series on posted events.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    ~LaidOutChart()
    {
        if (scene_)
            scene_->removeItem(&chart_);
        else if (resized_)
            chart_.resize(oldSize_);
    }
    void render(QPainter &painter, const QRectF &target)
    {
        chart_.scene()->render(&painter, target, chart_.sceneBoundingRect());
    }

private:
    QChart &chart_;
    QSizeF oldSize_;
    bool resized_ = false;
    std::unique_ptr<QGraphicsScene> scene_;
};

} // namespace

ChartFormat ChartFormatOf(const QString &path)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".png")))
        return ChartFormat::Png;
    if (lower.endsWith(QLatin1String(".svg")))
        return ChartFormat::Svg;
    if (lower.endsWith(QLatin1String(".pdf")))
        return ChartFormat::Pdf;
    return ChartFormat::Unknown;
}

QByteArray RenderChart(QChart &chart, const QSize &size, ChartFormat format, const QString &title,
                       const QString &description)
{
    LaidOutChart laidOut(chart, size);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QRectF target(QPointF(0, 0), QSizeF(size));
    switch (format) {
    case ChartFormat::Png: {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            laidOut.render(painter, target);
        }
        image.save(&buffer, "PNG");
        break;
    }
    case ChartFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(target);
        svg.setTitle(title);
        svg.setDescription(description);
        QPainter painter(&svg);
        laidOut.render(painter, target);
        break;
    }
    case ChartFormat::Pdf: {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(description.isEmpty() ? title : title + QStringLiteral(" - ") + description);
        pdf.setResolution(96);
        pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(size), QPageSize::Point), QPageLayout::Portrait,
                                      QMarginsF(0, 0, 0, 0)));
        QPainter painter(&pdf);
        // The page is `size` points; the chart is laid out in pixels at 96 per inch.
        const QRectF page = painter.viewport();
        laidOut.render(painter, page);
        break;
    }
    case ChartFormat::Unknown:
        break;
    }
    return bytes;
}

ChartFileResult WriteChartFile(QChart &chart, const QSize &size, const QString &path, const QString &description)
{
    ChartFileResult result;
    const QString cannot = QStringLiteral("Cannot create file %1").arg(QDir::toNativeSeparators(path));
    const ChartFormat format = ChartFormatOf(path);
    if (format == ChartFormat::Unknown) {
        result.message = cannot + QStringLiteral(": the name must end in .png, .svg or .pdf");
        return result;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.message = cannot + QStringLiteral(": ") + file.errorString();
        return result;
    }
    const QByteArray bytes = RenderChart(chart, size, format, QFileInfo(path).completeBaseName(), description);
    if (bytes.isEmpty() || file.write(bytes) != bytes.size() || !file.commit()) {
        result.message = cannot + QStringLiteral(": ") + file.errorString();
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace r310::ui
