#include "LogViewerShots.h"

#include "LogViewer.h"

#include <LogChart.h>

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTextStream>

#include <algorithm>

namespace r310::ui {

namespace {

bool Save(QWidget &widget, const QDir &dir, const QString &name)
{
    QApplication::processEvents();
    QApplication::processEvents();
    return widget.grab().save(dir.filePath(name));
}

// Forty minutes either side of the first peak of the first series.
void ZoomOnPeak(LogChart &chart, const logs::LogFile &logger)
{
    const logs::LoggerSeries &series = logger.series.front();
    const auto peak = std::max_element(series.values.begin(), series.values.end()) - series.values.begin();
    const std::int64_t at = series.times[static_cast<std::size_t>(peak)];
    constexpr std::int64_t kAround = 40 * 60;
    chart.ShowTimes(at - kAround, at + kAround);
}

int SaveShots(LogViewer &viewer, const QStringList &files, const QString &screenshotDir)
{
    QTextStream err(stderr);
    const QDir dir(screenshotDir);
    if (!dir.exists() && !QDir().mkpath(screenshotDir)) {
        err << "R310Conf: cannot create " << screenshotDir << Qt::endl;
        return 1;
    }
    QStringList saved;
    bool ok = true;
    if (viewer.tabs().isTabEnabled(0) && viewer.chart().HasData()) {
        viewer.tabs().setCurrentIndex(0);
        ok = ok && Save(viewer, dir, QStringLiteral("viewer-chart.png"));
        for (const QString &file : files) {
            const logs::LogFile logger = logs::ReadLogFile(file);
            if (logger.kind == logs::LogFileKind::DataLogger && !logger.series.empty()) {
                ZoomOnPeak(viewer.chart(), logger);
                break;
            }
        }
        ok = ok && Save(viewer, dir, QStringLiteral("viewer-zoomed.png"));
        viewer.chart().ShowWhole();
        saved << QStringLiteral("viewer-chart.png") << QStringLiteral("viewer-zoomed.png");
    }
    if (viewer.tabs().isTabEnabled(1)) {
        viewer.tabs().setCurrentIndex(1);
        ok = ok && Save(viewer, dir, QStringLiteral("viewer-events.png"));
        saved << QStringLiteral("viewer-events.png");
    }
    if (!ok) {
        err << "R310Conf: cannot save the pictures in " << screenshotDir << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "R310Conf: saved " << saved.join(QStringLiteral(", ")) << " in " << screenshotDir
                        << Qt::endl;
    return 0;
}

} // namespace

int RunLogViewer(const QStringList &files, const QString &levels, const QString &screenshotDir)
{
    QTextStream err(stderr);
    const std::optional<logs::AlarmLevels> known = logs::ParseAlarmLevels(levels);
    if (!known) {
        err << "R310Conf: --levels needs up to five numbers A1,A2,A3,STEL,TWA (a \"v\" after A1 to A3 "
               "falls below): 30,60,100,50,20 or 19.5v,18v,23.5" << Qt::endl;
        return 2;
    }
    auto *viewer = new LogViewer(QLocale::system());
    viewer->SetAlarmLevels(*known);
    bool anyRead = false;
    QStringList problems;
    for (const QString &file : files) {
        anyRead = viewer->OpenFile(file) || anyRead;
        if (!viewer->message().isEmpty()) {
            err << "R310Conf: " << viewer->message() << Qt::endl;
            problems << viewer->message();
        }
    }
    // The message of every file stays in view, not only the last one's.
    if (!problems.isEmpty())
        viewer->SetMessage(problems.join(QLatin1Char('\n')));
    viewer->show();
    if (!screenshotDir.isEmpty()) {
        const int code = anyRead ? SaveShots(*viewer, files, screenshotDir) : 2;
        viewer->close();
        return code;
    }
    return QApplication::exec();
}

} // namespace r310::ui
