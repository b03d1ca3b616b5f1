#include "Drawings.h"

#include <ChartExport.h>
#include <LogChart.h>
#include <Paper.h>

#include <QCoreApplication>
#include <QThread>

namespace r310::web {

namespace {

const QSize kChartSize(1000, 450);
// Charts kept; the oldest downloads' go first.
constexpr std::size_t kKeptCharts = 64;

} // namespace

QByteArray Drawings::OnApplicationThread(const std::function<QByteArray()> &work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return work();
    QByteArray bytes;
    QMetaObject::invokeMethod(
        app, [&bytes, &work] { bytes = work(); }, Qt::BlockingQueuedConnection);
    return bytes;
}

QByteArray Drawings::KeptChart(qint64 recordId)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = charts_.find(recordId);
    return it == charts_.end() ? QByteArray() : it->second;
}

QByteArray Drawings::ChartSvg(qint64 recordId, const records::RecordedLog &log, const QString &title)
{
    const QByteArray svg = OnApplicationThread([&log, &title] {
        ui::LogChart chart(QLocale::c());
        chart.setTitle(title);
        chart.SetAlarmLevels(log.levels);
        chart.SetLogger(log.log);
        return ui::RenderChart(chart, kChartSize, ui::ChartFormat::Svg, title);
    });
    const std::lock_guard<std::mutex> lock(mutex_);
    if (charts_.size() >= kKeptCharts)
        charts_.erase(charts_.begin());
    charts_[recordId] = svg;
    return svg;
}

QByteArray Drawings::CertificatePdf(const records::CertificateData &certificate)
{
    return OnApplicationThread([&certificate] { return records::CertificatePdf(certificate); });
}

} // namespace r310::web
