// The log viewer with a full data logger: 40,000 blocks of four gases, 2.4
// million samples. Prints the time to load the export file (read, series and
// their min/max pyramids, chart lines) and the time of each redraw (new
// decimated lines, the chart's layout and one painting of the whole view) of
// the whole log (from a view of a part of it), of 1 % of it, and after a
// resize, with the processor time beside for a busy machine. Goals: load
// within 3 s, every redraw within 30 ms.
//
//   viewer_bench [BLOCKS] [--write-samples DIR]
// --write-samples writes a small shift's logger and event files (as the
// pictures in docs/screenshots use) into DIR and ends.
#include <ChartExport.h>
#include <LogChart.h>
#include <LogChartView.h>
#include <ShiftLog.h>

#include <DataLoggerExport.h>
#include <ExportFile.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <vector>

namespace {

using namespace r310;

double Milliseconds(const QElapsedTimer &timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

// Processor time of the whole program, for figures taken on a busy machine.
double ProcessorMilliseconds() { return static_cast<double>(std::clock()) * 1000.0 / CLOCKS_PER_SEC; }

struct Figures {
    std::vector<double> runs, processor;
    static double Median(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
    double median() const { return Median(runs); }
    double worst() const { return *std::max_element(runs.begin(), runs.end()); }
    double processorMedian() const { return Median(processor); }
};

// Counts the paintings of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Times `times` redraws: the change, the chart's layout and one painting of
// the whole view, as the window's event loop does them. `prepare` runs
// before each, untimed.
template <typename Prepare, typename Change>
Figures Redraws(ui::LogChartView &view, Prepare prepare, Change change, int times = 7)
{
    Figures figures;
    PaintCounter paintings(view.viewport());
    for (int i = 0; i < times; ++i) {
        prepare(i);
        QApplication::processEvents();
        paintings.count = 0;
        QElapsedTimer timer;
        timer.start();
        const double processor = ProcessorMilliseconds();
        change(i);
        view.viewport()->update();     // all of it painted, not only what changed
        QApplication::processEvents(); // the layout, then the painting
        if (paintings.count == 0)
            view.viewport()->repaint();
        figures.runs.push_back(Milliseconds(timer));
        figures.processor.push_back(ProcessorMilliseconds() - processor);
    }
    return figures;
}

template <typename Change>
Figures Redraws(ui::LogChartView &view, Change change)
{
    return Redraws(view, [](int) {}, change);
}

int WriteSamples(const QString &dir)
{
    const QLocale locale(QLocale::English, QLocale::UnitedKingdom);
    QDir().mkpath(dir);
    const bool ok = logs::WriteLoggerExport(QDir(dir).filePath(QStringLiteral("Logger_shift.csv")),
                                            r310test::ShiftLogger(40, 1, locale))
                        .ok
                 && logs::WriteExportFile(QDir(dir).filePath(QStringLiteral("Evt_shift.csv")),
                                          r310test::ShiftEventLines(40, locale))
                        .ok;
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    const int writeAt = static_cast<int>(arguments.indexOf(QStringLiteral("--write-samples")));
    if (writeAt > 0 && writeAt + 1 < arguments.size())
        return WriteSamples(arguments.at(writeAt + 1));
    const int blocks = arguments.size() > 1 ? std::max(1, arguments.at(1).toInt()) : 40000;
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Logger.csv"));
    QElapsedTimer timer;
    timer.start();
    const logs::LoggerExportData data = r310test::ShiftLogger(blocks, 4, QLocale(QLocale::German, QLocale::Germany));
    if (!logs::WriteLoggerExport(path, data).ok) {
        out << "cannot write " << path << Qt::endl;
        return 1;
    }
    out << "file: " << blocks << " blocks, 4 gases, " << blocks * 60 << " samples, written in "
        << QString::number(Milliseconds(timer), 'f', 0) << " ms" << Qt::endl;

    ui::LogChart *chart = new ui::LogChart(QLocale(QLocale::German, QLocale::Germany));
    ui::LogChartView view(chart);
    view.resize(1200, 700);
    view.show();
    QApplication::processEvents();

    timer.restart();
    auto log = std::make_shared<logs::LogFile>(logs::ReadLogFile(path));
    const double read = Milliseconds(timer);
    chart->SetLogger(log);
    const double series = Milliseconds(timer);
    QApplication::processEvents();
    view.viewport()->repaint();
    const double load = Milliseconds(timer);
    out << "load: " << QString::number(load, 'f', 0) << " ms (reading the file " << QString::number(read, 'f', 0)
        << " ms, pyramids and first lines " << QString::number(series - read, 'f', 0) << " ms, first painting "
        << QString::number(load - series, 'f', 0) << " ms), goal 3000 ms" << Qt::endl;
    // The reading apart: the bytes from the disk, then the lines read from them.
    timer.restart();
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const double disk = Milliseconds(timer);
    timer.restart();
    const logs::LogFile again = logs::ReadLogFileBytes(bytes, path);
    out << "reading again: " << QString::number(disk, 'f', 0) << " ms for " << bytes.size() / 1000000
        << " MB from the disk, " << QString::number(Milliseconds(timer), 'f', 0) << " ms for "
        << again.linesRead << " lines read" << Qt::endl;

    const std::int64_t from = chart->WholeFrom(), span = chart->WholeTo() - chart->WholeFrom();
    // The whole log again after a look at a part of it (as Home does).
    const Figures whole = Redraws(
        view, [&](int i) { chart->ShowTimes(from + span * i / 10, from + span * i / 10 + span / 20); },
        [&](int) { chart->ShowWhole(); });
    const Figures percent = Redraws(view, [&](int i) {
        const std::int64_t start = from + span * (10 + 10 * i) / 100;
        chart->ShowTimes(start, start + span / 100);
    });
    chart->ShowWhole();
    const Figures resize = Redraws(view, [&](int i) { view.resize(i % 2 ? 1200 : 1000, i % 2 ? 700 : 600); });
    auto print = [&out](const char *name, const Figures &figures) {
        out << "redraw " << name << ": median " << QString::number(figures.median(), 'f', 1) << " ms, worst "
            << QString::number(figures.worst(), 'f', 1) << " ms, goal 30 ms (processor time, median "
            << QString::number(figures.processorMedian(), 'f', 1) << " ms)" << Qt::endl;
    };
    print("whole log", whole);
    print("1 % of it", percent);
    print("after a resize", resize);
    const Figures lines = Redraws(view, [&](int) { chart->Redraw(); });
    print("with the view unchanged", lines);
    // The parts apart, without the layout's posted work and the painting.
    auto timed = [](auto step) {
        Figures figures;
        for (int i = 0; i < 7; ++i) {
            QElapsedTimer timer;
            timer.start();
            const double processor = ProcessorMilliseconds();
            step(i);
            figures.runs.push_back(Milliseconds(timer));
            figures.processor.push_back(ProcessorMilliseconds() - processor);
            QApplication::processEvents();
        }
        return figures;
    };
    print("new points only (a minute more or less, no painting)", timed([&](int i) {
              chart->ShowTimes(chart->ShownFrom() + (i % 2 ? 60 : -60), chart->ShownTo());
          }));
    print("painting only (unchanged points)", timed([&](int) { view.viewport()->repaint(); }));
    out << "points held by the chart: " << chart->PointCount() << " for " << static_cast<int>(chart->plotArea().width())
        << " pixel columns" << Qt::endl;
    return 0;
}
