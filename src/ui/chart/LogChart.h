#pragma once
// The data logger chart on Qt Charts: a line per series (per gas text) and
// section, never drawn across the gap between sections; the samples taken in
// alarm marked; the alarm levels A1, A2, A3 as lines and STEL, TWA as dashed
// lines (none where no series is of a toxic gas), levels of one height
// side by side in the legend and dashed in turn so each stays in view;
// events as marks on the time axis. Value ticks fall on round numbers (1, 2,
// 2.5 or 5 x 10^n), time ticks on round seconds, minutes, hours or days with
// the date where it changes. Texts from the file (gas texts, the title) are
// shown as plain text. Lines hold only what the plot
// area's pixel columns can show (see Decimation.h), recomputed on every
// change of the shown times or width.
//
// Qt Charts gives the axes, grid, legend, level lines and event marks; the
// sample lines and their alarm marks are painted by a TraceItem of our own
// over the plot area, since Qt Charts' series cost far more to refill than
// the few thousand points they would hold. Each gas keeps an empty series
// for its entry in the legend.
//
// The viewer window shows it in a LogChartView; "r310ctl plot" renders it
// without a display (ChartExport.h).
#include <Decimation.h>
#include <Exposure.h>
#include <LogFileReader.h>

#include "TraceItem.h"

#include <QChart>
#include <QCategoryAxis>
#include <QLineSeries>
#include <QLocale>
#include <QScatterSeries>
#include <QValueAxis>

#include <cstdint>
#include <memory>
#include <vector>

namespace r310::ui {

class LogChart : public QChart {
    Q_OBJECT
public:
    explicit LogChart(const QLocale &locale, QGraphicsItem *parent = nullptr);
    ~LogChart() override;

    // The data logger's series; the chart shows the whole log afterwards.
    void SetLogger(std::shared_ptr<const logs::LogFile> logger);
    void SetAlarmLevels(const logs::AlarmLevels &levels);
    // The title: the file shown and, where known, the instrument (serial,
    // gas, range); both plain text.
    void SetTitleLines(const QString &file, const QString &instrument = {});
    // Events marked on the time axis (alarm events apart from the others).
    void SetEvents(const std::vector<logs::EventEntry> &events);

    bool HasData() const { return !traces_.empty(); }
    // The whole log: every sample's time and value in view.
    void ShowWhole();
    // The times shown, in wall-clock seconds (see LogFileReader.h).
    void ShowTimes(std::int64_t from, std::int64_t to);
    void ShowValues(double low, double high);
    std::int64_t ShownFrom() const { return from_; }
    std::int64_t ShownTo() const { return to_; }
    std::int64_t WholeFrom() const { return wholeFrom_; }
    std::int64_t WholeTo() const { return wholeTo_; }
    // factor < 1 zooms in, around centre (the middle when out of view).
    void ZoomTime(double factor, std::int64_t centre);
    void ZoomTime(double factor) { ZoomTime(factor, from_ + (to_ - from_) / 2); }
    // Moves the shown times by a fraction of their span (negative: earlier).
    void PanTime(double fraction);
    void PanValue(double fraction);

    // Fills the lines from the shown range and the plot area's width (the
    // points are kept while neither changes) and places them.
    void Redraw();
    // Points the lines and marks hold now (for the benchmark).
    int PointCount() const;
    // What is painted over the plot area: a line per run of each series and
    // a set of marks per series' alarm samples, by name.
    QStringList DrawnNames() const;

    // Time and value under a position in chart coordinates, and the
    // readout there: "24.12.2008 13:45:00  ppm CO 20.5 ALARM".
    std::int64_t TimeAt(const QPointF &position) const;
    QString ReadoutAt(const QPointF &position) const;

    // The axes, for what they show.
    const QCategoryAxis &timeAxis() const { return *timeAxis_; }
    const QValueAxis &valueAxis() const { return *valueAxis_; }

    // Axis values of a wall-clock time.
    qreal AxisTime(std::int64_t seconds) const;
    std::int64_t WallClockOf(qreal axisTime) const;

private:
    struct SeriesLines {
        std::unique_ptr<logs::SeriesTrace> trace;
        QPen pen;
        QImage alarmMark;
        // Empty series, owned by the chart, for the legend only.
        QLineSeries *legendLine = nullptr;
        QScatterSeries *legendAlarms = nullptr;
    };
    void AxisTimesChanged(qreal min, qreal max);
    void UpdateTicks(int columns);
    void AddLevelLine(const QString &name, double level, const QPen &pen);
    void AttachSeries(QAbstractSeries *series);
    void UpdateLevelLines();
    void UpdateTraceView();
    void UpdateEventMarks(int columns);
    void ShowEventLegend();
    void ApplyAxes();
    int Columns() const;

    QLocale locale_;
    std::shared_ptr<const logs::LogFile> logger_;
    std::vector<SeriesLines> traces_;
    logs::AlarmLevels levels_;
    std::vector<std::pair<QLineSeries *, double>> levelLines_;
    std::vector<logs::EventEntry> events_;
    QScatterSeries *alarmEvents_ = nullptr;
    QScatterSeries *otherEvents_ = nullptr;
    QCategoryAxis *timeAxis_ = nullptr;
    QValueAxis *valueAxis_ = nullptr;
    TraceItem *traceItem_ = nullptr; // a child item of the chart

    std::int64_t wholeFrom_ = 0, wholeTo_ = 0;
    double wholeLow_ = 0, wholeHigh_ = 1;
    std::int64_t from_ = 0, to_ = 0;
    double low_ = 0, high_ = 1;
    // The times and pixel columns the lines hold points for.
    struct Drawn {
        std::int64_t from = 0, to = 0;
        int columns = 0; // none yet
        bool operator!=(const Drawn &other) const
        {
            return from != other.from || to != other.to || columns != other.columns;
        }
    };
    Drawn drawn_;
    // Seconds between the wall clock and UTC at the log's start: the
    // date-time axis shows times in the system's zone.
    std::int64_t zoneOffset_ = 0;
    bool applying_ = false;
};

} // namespace r310::ui
