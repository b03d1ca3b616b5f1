#include "LogChart.h"

#include "ChartTicks.h"

#include <Formats.h>

#include <QImage>
#include <QLegendMarker>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>

namespace r310::ui {

namespace {

// Colours of the series in turn; alarm marks are red, so no series is.
const std::array<QColor, 6> kSeriesColours{QColor(0, 90, 180), QColor(0, 140, 60), QColor(120, 60, 160),
                                           QColor(200, 120, 0), QColor(0, 150, 160), QColor(90, 90, 90)};
const QColor kAlarmColour(220, 0, 0);
// Above the grid (2) and axes (3), below the level lines (line series at 4)
// and event marks of Qt Charts, so a dense log never hides a level line.
constexpr qreal kTraceZ = 3.5;

// A mark drawn as a picture by its series: thousands of marks stay one
// graphics item instead of one item each.
QImage Mark(const QColor &colour, int size, bool triangle)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    if (triangle)
        painter.drawPolygon(QPolygonF{QPointF(size / 2.0, 0), QPointF(size, size), QPointF(0, size)});
    else
        painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    return image;
}

// Qt Charts lays a series out anew on every replace, even by the same points.
void ReplaceIfChanged(QXYSeries &series, const QList<QPointF> &points)
{
    if (series.points() != points)
        series.replace(points);
}

// Qt Charts shows titles, axis titles and legend entries as rich text: text
// from a file is escaped so that it shows as written.
QString Plain(const QString &text)
{
    return text.toHtmlEscaped();
}

QString AlarmMarksName(const QString &gas)
{
    return gas + QStringLiteral(" in alarm (instrument's flag)");
}

// Pixels between ticks at the least.
constexpr int kTimeTickPixels = 140;
constexpr int kValueTickPixels = 45;

QString UnitOf(const QString &gasText)
{
    const qsizetype blank = gasText.indexOf(QLatin1Char(' '));
    return blank < 0 ? gasText : gasText.left(blank);
}

} // namespace

LogChart::LogChart(const QLocale &locale, QGraphicsItem *parent)
    : QChart(parent), locale_(locale), timeAxis_(new QCategoryAxis(this)), valueAxis_(new QValueAxis(this)),
      traceItem_(new TraceItem(this))
{
    traceItem_->setZValue(kTraceZ);
    setLocale(locale);
    setLocalizeNumbers(true);
    timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    timeAxis_->setTitleText(QStringLiteral("Date/Time"));
    valueAxis_->setLabelFormat(QStringLiteral("%.6g"));
    valueAxis_->setTickType(QValueAxis::TicksDynamic);
    valueAxis_->setTickAnchor(0);
    addAxis(timeAxis_, Qt::AlignBottom);
    addAxis(valueAxis_, Qt::AlignLeft);
    legend()->setAlignment(Qt::AlignBottom);
    setMargins(QMargins(4, 4, 12, 4));
    connect(timeAxis_, &QValueAxis::rangeChanged, this, &LogChart::AxisTimesChanged);
    connect(valueAxis_, &QValueAxis::rangeChanged, this, [this](qreal low, qreal high) {
        if (applying_)
            return;
        low_ = low;
        high_ = high;
        UpdateTicks(Columns());
        UpdateTraceView();
        UpdateEventMarks(Columns());
    });
    connect(this, &QChart::plotAreaChanged, this, [this] { Redraw(); });

    alarmEvents_ = new QScatterSeries(this);
    alarmEvents_->setName(QStringLiteral("Alarm events"));
    otherEvents_ = new QScatterSeries(this);
    otherEvents_->setName(QStringLiteral("Other events"));
    for (QScatterSeries *events : {alarmEvents_, otherEvents_}) {
        events->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
        events->setMarkerSize(11);
        const QColor colour = events == alarmEvents_ ? QColor(255, 140, 0) : QColor(60, 60, 60);
        events->setColor(colour);
        events->setBorderColor(Qt::transparent);
        events->setLightMarker(Mark(colour, 11, true));
        AttachSeries(events);
    }
    ShowEventLegend();
}

LogChart::~LogChart() = default;

void LogChart::AttachSeries(QAbstractSeries *series)
{
    addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(valueAxis_);
}

void LogChart::SetLogger(std::shared_ptr<const logs::LogFile> logger)
{
    for (SeriesLines &lines : traces_) {
        for (QAbstractSeries *legendOnly : {static_cast<QAbstractSeries *>(lines.legendLine),
                                            static_cast<QAbstractSeries *>(lines.legendAlarms)}) {
            removeSeries(legendOnly);
            delete legendOnly;
        }
    }
    traces_.clear();
    traceItem_->SetContent({}, {});
    drawn_ = Drawn();
    logger_ = std::move(logger);
    if (!logger_)
        return;
    bool anySample = false;
    wholeFrom_ = wholeTo_ = 0;
    wholeLow_ = wholeHigh_ = 0;
    QStringList units;
    for (const logs::LoggerSeries &series : logger_->series) {
        SeriesLines lines;
        lines.trace = std::make_unique<logs::SeriesTrace>(series);
        lines.pen = QPen(kSeriesColours[traces_.size() % kSeriesColours.size()], 1.5);
        lines.alarmMark = Mark(kAlarmColour, 7, false);
        lines.legendLine = new QLineSeries(this);
        lines.legendLine->setName(Plain(series.gas));
        lines.legendLine->setPen(lines.pen);
        AttachSeries(lines.legendLine);
        lines.legendAlarms = new QScatterSeries(this);
        lines.legendAlarms->setName(Plain(AlarmMarksName(series.gas)));
        lines.legendAlarms->setMarkerSize(7);
        lines.legendAlarms->setColor(kAlarmColour);
        lines.legendAlarms->setBorderColor(Qt::transparent);
        AttachSeries(lines.legendAlarms);
        const bool anyAlarm = std::any_of(series.alarms.begin(), series.alarms.end(), [](std::uint8_t a) { return a; });
        for (QLegendMarker *marker : legend()->markers(lines.legendAlarms))
            marker->setVisible(anyAlarm);
        for (const logs::LoggerSeries::Run &run : series.runs) {
            if (run.begin == run.end)
                continue;
            const std::int64_t first = series.times[run.begin], last = series.times[run.end - 1];
            wholeFrom_ = anySample ? std::min(wholeFrom_, first) : first;
            wholeTo_ = anySample ? std::max(wholeTo_, last) : last;
            anySample = true;
        }
        if (!series.values.empty()) {
            const auto [low, high] = std::minmax_element(series.values.begin(), series.values.end());
            wholeLow_ = std::min({wholeLow_, *low, 0.0});
            wholeHigh_ = std::max(wholeHigh_, *high);
        }
        if (!units.contains(UnitOf(series.gas)))
            units.append(UnitOf(series.gas));
        traces_.push_back(std::move(lines));
    }
    valueAxis_->setTitleText(Plain(units.join(QStringLiteral(", "))));
    if (wholeTo_ <= wholeFrom_)
        wholeTo_ = wholeFrom_ + 60;
    zoneOffset_ = QDateTime(logs::WallClockDateTime(wholeFrom_).date(), logs::WallClockDateTime(wholeFrom_).time())
                      .offsetFromUtc();
    // The event marks and level lines go on top of the lines.
    for (QAbstractSeries *onTop : {static_cast<QAbstractSeries *>(alarmEvents_), static_cast<QAbstractSeries *>(otherEvents_)}) {
        removeSeries(onTop);
        AttachSeries(onTop);
    }
    ShowEventLegend();
    SetAlarmLevels(levels_);
    ShowWhole();
}

void LogChart::ShowEventLegend()
{
    for (QScatterSeries *events : {alarmEvents_, otherEvents_}) {
        const bool any = std::any_of(events_.begin(), events_.end(), [events, this](const logs::EventEntry &event) {
            return event.isAlarm() == (events == alarmEvents_);
        });
        for (QLegendMarker *marker : legend()->markers(events))
            marker->setVisible(any);
    }
}

void LogChart::AddLevelLine(const QString &name, double level, const QPen &pen)
{
    auto *line = new QLineSeries(this);
    line->setName(QStringLiteral("%1 %2").arg(name, locale_.toString(level, 'g', 7)));
    line->setPen(pen);
    AttachSeries(line);
    levelLines_.emplace_back(line, level);
    wholeHigh_ = std::max(wholeHigh_, level);
}

void LogChart::SetAlarmLevels(const logs::AlarmLevels &levels)
{
    for (auto &[line, level] : levelLines_) {
        removeSeries(line);
        delete line;
    }
    levelLines_.clear();
    levels_ = levels;
    struct Level {
        QString name;
        std::optional<double> level;
        QColor colour;
        bool dashed;
    };
    // STEL and TWA are levels of toxic gases only.
    const bool toxic = !logger_ || std::any_of(logger_->series.begin(), logger_->series.end(), [](const auto &series) {
        return logs::HasWorkplaceLimits(logs::GasKindOf(series.gas));
    });
    const Level all[] = {{QStringLiteral("A1"), levels.a1, QColor(240, 170, 0), false},
                         {QStringLiteral("A2"), levels.a2, QColor(230, 90, 0), false},
                         {QStringLiteral("A3"), levels.a3, QColor(170, 0, 0), false},
                         {QStringLiteral("STEL"), toxic ? levels.stel : std::nullopt, QColor(150, 0, 150), true},
                         {QStringLiteral("TWA"), toxic ? levels.twa : std::nullopt, QColor(0, 110, 200), true}};
    std::vector<bool> placed(std::size(all), false);
    for (std::size_t i = 0; i < std::size(all); ++i) {
        if (!all[i].level || placed[i])
            continue;
        // The levels of this height, side by side in the legend; where there
        // are more, each is a dash in turn, so every colour stays in view.
        std::vector<std::size_t> same;
        for (std::size_t j = i; j < std::size(all); ++j) {
            if (all[j].level && *all[j].level == *all[i].level) {
                same.push_back(j);
                placed[j] = true;
            }
        }
        constexpr qreal kDash = 4; // in pen widths
        for (std::size_t k = 0; k < same.size(); ++k) {
            const Level &one = all[same[k]];
            QPen pen(one.colour, 1.5, one.dashed ? Qt::DashLine : Qt::SolidLine);
            if (same.size() > 1) {
                pen.setDashPattern({kDash, kDash * static_cast<qreal>(same.size() - 1)});
                pen.setDashOffset(kDash * static_cast<qreal>(k));
            }
            AddLevelLine(one.name, *one.level, pen);
        }
    }
    UpdateLevelLines();
}

void LogChart::SetTitleLines(const QString &file, const QString &instrument)
{
    setTitle(instrument.isEmpty() ? Plain(file) : Plain(file) + QStringLiteral("<br>") + Plain(instrument));
}

void LogChart::SetEvents(const std::vector<logs::EventEntry> &events)
{
    events_ = events;
    ShowEventLegend();
    UpdateEventMarks(Columns());
}

void LogChart::ShowWhole()
{
    from_ = wholeFrom_;
    to_ = wholeTo_;
    if (wholeHigh_ <= wholeLow_)
        wholeHigh_ = wholeLow_ + 1;
    const double margin = (wholeHigh_ - wholeLow_) * 0.05;
    low_ = wholeLow_ < 0 ? wholeLow_ - margin : 0;
    high_ = wholeHigh_ + margin;
    ApplyAxes();
}

void LogChart::ShowTimes(std::int64_t from, std::int64_t to)
{
    from_ = from;
    to_ = std::max(to, from + 1);
    ApplyAxes();
}

void LogChart::ShowValues(double low, double high)
{
    low_ = low;
    high_ = high > low ? high : low + 1;
    ApplyAxes();
}

void LogChart::ZoomTime(double factor, std::int64_t centre)
{
    if (centre < from_ || centre > to_)
        centre = from_ + (to_ - from_) / 2;
    const double before = static_cast<double>(centre - from_), after = static_cast<double>(to_ - centre);
    const auto from = centre - static_cast<std::int64_t>(std::llround(before * factor));
    const auto to = centre + static_cast<std::int64_t>(std::llround(after * factor));
    // No closer than a minute across, no wider than the whole log twice over.
    const std::int64_t wholeSpan = std::max<std::int64_t>(wholeTo_ - wholeFrom_, 60);
    if (to - from < 60 || to - from > 2 * wholeSpan)
        return;
    ShowTimes(from, to);
}

void LogChart::PanTime(double fraction)
{
    const auto shift = static_cast<std::int64_t>(std::llround(static_cast<double>(to_ - from_) * fraction));
    ShowTimes(from_ + shift, to_ + shift);
}

void LogChart::PanValue(double fraction)
{
    const double shift = (high_ - low_) * fraction;
    ShowValues(low_ + shift, high_ + shift);
}

qreal LogChart::AxisTime(std::int64_t seconds) const
{
    return static_cast<qreal>(seconds - zoneOffset_) * 1000.0;
}

std::int64_t LogChart::WallClockOf(qreal axisTime) const
{
    return static_cast<std::int64_t>(std::llround(axisTime / 1000.0)) + zoneOffset_;
}

void LogChart::ApplyAxes()
{
    applying_ = true;
    timeAxis_->setRange(AxisTime(from_), AxisTime(to_));
    valueAxis_->setRange(low_, high_);
    UpdateTicks(Columns());
    applying_ = false;
    Redraw();
}

void LogChart::AxisTimesChanged(qreal min, qreal max)
{
    if (applying_)
        return;
    from_ = WallClockOf(min);
    to_ = WallClockOf(max);
    Redraw();
}

void LogChart::UpdateTicks(int columns)
{
    const bool wasApplying = applying_;
    applying_ = true;
    const std::vector<TimeTick> ticks = RoundTimeTicks(from_, to_, columns / kTimeTickPixels, locale_);
    // The axis takes a label once only; one that repeats (the same time on
    // another day) is told apart by a comment the rich text does not show.
    QStringList labels;
    for (const TimeTick &tick : ticks) {
        QString label = Plain(tick.label);
        for (int copy = 1; labels.contains(label); ++copy)
            label = Plain(tick.label) + QStringLiteral("<!--%1-->").arg(copy);
        labels.append(label);
    }
    if (labels != timeAxis_->categoriesLabels() || timeAxis_->startValue() != AxisTime(from_)) {
        for (const QString &label : timeAxis_->categoriesLabels())
            timeAxis_->remove(label);
        timeAxis_->setStartValue(AxisTime(from_));
        for (std::size_t i = 0; i < ticks.size(); ++i)
            timeAxis_->append(labels[static_cast<qsizetype>(i)], AxisTime(ticks[i].at));
        timeAxis_->setRange(AxisTime(from_), AxisTime(to_));
    }
    const int rows = std::max(2, static_cast<int>(plotArea().height()) / kValueTickPixels);
    const double step = RoundValueStep(high_ - low_, rows);
    if (valueAxis_->tickInterval() != step)
        valueAxis_->setTickInterval(step);
    applying_ = wasApplying;
}

int LogChart::Columns() const
{
    return std::max(1, static_cast<int>(plotArea().width()));
}

void LogChart::Redraw()
{
    const int columns = Columns();
    UpdateTicks(columns);
    const Drawn drawn{from_, to_, columns};
    if (drawn != drawn_) {
        std::vector<TraceItem::Line> runs;
        std::vector<TraceItem::Marks> marks;
        for (const SeriesLines &lines : traces_) {
            const logs::LoggerSeries &series = lines.trace->series();
            for (std::size_t r = 0; r < series.runs.size(); ++r)
                runs.push_back({series.gas, lines.pen, lines.trace->Points(r, from_, to_, columns)});
            marks.push_back({AlarmMarksName(series.gas), lines.alarmMark,
                             lines.trace->AlarmPoints(from_, to_, columns)});
        }
        traceItem_->SetContent(std::move(runs), std::move(marks));
        drawn_ = drawn;
    }
    UpdateTraceView();
    UpdateLevelLines();
    UpdateEventMarks(columns);
}

void LogChart::UpdateTraceView()
{
    traceItem_->SetView({plotArea(), from_, to_, low_, high_});
}

void LogChart::UpdateLevelLines()
{
    for (auto &[line, level] : levelLines_)
        ReplaceIfChanged(*line, QList<QPointF>{QPointF(AxisTime(from_), level), QPointF(AxisTime(to_), level)});
}

void LogChart::UpdateEventMarks(int columns)
{
    QList<QPointF> alarms, others;
    // One mark per pixel column and kind is all the axis can show.
    int lastAlarmColumn = -1, lastOtherColumn = -1;
    const double span = static_cast<double>(std::max<std::int64_t>(to_ - from_, 1));
    for (const logs::EventEntry &event : events_) {
        if (event.time < from_ || event.time > to_)
            continue;
        const int column = static_cast<int>(static_cast<double>(event.time - from_) / span * columns);
        int &last = event.isAlarm() ? lastAlarmColumn : lastOtherColumn;
        if (column == last)
            continue;
        last = column;
        (event.isAlarm() ? alarms : others).append(QPointF(AxisTime(event.time), low_));
    }
    ReplaceIfChanged(*alarmEvents_, alarms);
    ReplaceIfChanged(*otherEvents_, others);
}

int LogChart::PointCount() const
{
    return traceItem_->PointCount() + static_cast<int>(alarmEvents_->count() + otherEvents_->count());
}

QStringList LogChart::DrawnNames() const
{
    QStringList names;
    for (const TraceItem::Line &line : traceItem_->lines())
        names.append(line.name);
    for (const TraceItem::Marks &marks : traceItem_->marks())
        names.append(marks.name);
    return names;
}

std::int64_t LogChart::TimeAt(const QPointF &position) const
{
    // QChart::mapToValue changes nothing but is not declared const.
    return WallClockOf(const_cast<LogChart *>(this)->mapToValue(position, alarmEvents_).x());
}

QString LogChart::ReadoutAt(const QPointF &position) const
{
    if (traces_.empty() || !plotArea().contains(position))
        return QString();
    const std::int64_t time = TimeAt(position);
    QStringList parts;
    std::int64_t shownTime = time;
    for (const SeriesLines &lines : traces_) {
        const logs::LoggerSeries &series = lines.trace->series();
        const std::size_t nearest = lines.trace->Nearest(time);
        if (nearest >= series.size())
            continue;
        shownTime = series.times[nearest];
        parts.append(QStringLiteral("%1: %2%3")
                         .arg(series.gas, locale_.toString(series.values[nearest], 'g', 7),
                              series.alarms[nearest] ? QStringLiteral(" ALARM") : QString()));
    }
    return DateTimeText(logs::WallClockDateTime(shownTime), locale_) + QStringLiteral("   ")
         + parts.join(QStringLiteral("   "));
}

} // namespace r310::ui
