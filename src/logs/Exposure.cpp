#include "Exposure.h"

#include <Formats.h>

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace r310::logs {

namespace {

double Counted(double value) { return value < 0 ? 0.0 : value; }

ExposureFigures RunFigures(const LoggerSeries &series, const LoggerSeries::Run &run, const AlarmLevels &levels)
{
    ExposureFigures figures;
    figures.gas = series.gas;
    figures.section = run.section;
    figures.samples = run.end - run.begin;
    figures.interval = run.interval;
    if (figures.samples == 0)
        return figures;
    figures.start = series.times[run.begin];
    figures.end = series.times[run.end - 1];
    figures.peak = Counted(series.values[run.begin]);
    figures.peakTime = figures.start;
    figures.falling = levels.falling;
    const std::array<std::optional<double>, 3> alarm{levels.a1, levels.a2, levels.a3};
    for (std::size_t k = 0; k < alarm.size(); ++k) {
        if (alarm[k])
            figures.inAlarm[k] = 0;
    }
    for (std::size_t i = run.begin; i < run.end; ++i) {
        const double value = Counted(series.values[i]);
        if (value > figures.peak) {
            figures.peak = value;
            figures.peakTime = series.times[i];
        }
        for (std::size_t k = 0; k < alarm.size(); ++k) {
            if (!alarm[k])
                continue;
            const double reading = series.values[i];
            if (levels.falling[k] ? reading <= *alarm[k] : reading >= *alarm[k])
                *figures.inAlarm[k] += run.interval;
        }
    }
    figures.kind = GasKindOf(series.gas);
    if (HasWorkplaceLimits(figures.kind)) {
        figures.stel = WindowedAverage(series.times, series.values, run.begin, run.end, run.interval, kStelSeconds);
        figures.twa = WindowedAverage(series.times, series.values, run.begin, run.end, run.interval, kTwaSeconds);
    }
    return figures;
}

} // namespace

GasKind GasKindOf(const QString &gasText)
{
    // The gas table's combustible gases, as a %Vol range of them measures them.
    static const QStringList kFlammable{
        QStringLiteral("EX"),    QStringLiteral("CH4"),   QStringLiteral("H2"),    QStringLiteral("C3H8"),
        QStringLiteral("C4H10"), QStringLiteral("C5H12"), QStringLiteral("C6H14"), QStringLiteral("C2H2"),
        QStringLiteral("C2H4"),  QStringLiteral("CH3OH"), QStringLiteral("ETO")};
    const QString text = gasText.simplified();
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    const QString unit = blank < 0 ? text : text.left(blank);
    const QString gas = blank < 0 ? QString() : text.mid(blank + 1);
    if (gas.compare(QLatin1String("O2"), Qt::CaseInsensitive) == 0)
        return GasKind::Oxygen;
    if (unit.compare(QLatin1String("%LEL"), Qt::CaseInsensitive) == 0
        || unit.compare(QLatin1String("%UEG"), Qt::CaseInsensitive) == 0)
        return GasKind::Combustible;
    if (unit.compare(QLatin1String("%Vol"), Qt::CaseInsensitive) == 0 && kFlammable.contains(gas, Qt::CaseInsensitive))
        return GasKind::Combustible;
    return GasKind::Toxic;
}

AlarmLevels AlarmLevelsOf(const RangeAlarmSettings &range, const std::vector<LoggerSeries> &series)
{
    AlarmLevels levels;
    const bool sameGas = std::any_of(series.begin(), series.end(),
                                     [&range](const LoggerSeries &one) { return one.gas == range.gasText; });
    if (!sameGas)
        return levels;
    auto level = [&range](AlarmIndex index) { return ScaleByExponent(range.limits[index].raw, range.exponent); };
    levels.a1 = level(kAlarmA1);
    levels.a2 = level(kAlarmA2);
    levels.a3 = level(kAlarmA3);
    levels.stel = level(kAlarmStel);
    levels.twa = level(kAlarmTwa);
    for (std::size_t k = 0; k < levels.falling.size(); ++k)
        levels.falling[k] = range.limits[k].flags.fallBelow;
    return levels;
}

std::optional<AlarmLevels> ParseAlarmLevels(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() > 5)
        return std::nullopt;
    AlarmLevels levels;
    std::optional<double> *targets[] = {&levels.a1, &levels.a2, &levels.a3, &levels.stel, &levels.twa};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString part = parts[i].trimmed();
        if (part.isEmpty())
            continue;
        if (i < 3 && part.endsWith(QLatin1Char('v'), Qt::CaseInsensitive)) {
            levels.falling[static_cast<std::size_t>(i)] = true;
            part.chop(1);
        }
        bool ok = false;
        const double value = QLocale::c().toDouble(part, &ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        *targets[i] = value;
    }
    return levels;
}

QString AlarmLevelsText(const AlarmLevels &levels)
{
    QStringList parts;
    const std::optional<double> all[] = {levels.a1, levels.a2, levels.a3, levels.stel, levels.twa};
    for (std::size_t i = 0; i < std::size(all); ++i) {
        const bool falling = i < levels.falling.size() && levels.falling[i];
        parts.append(all[i] ? QLocale::c().toString(*all[i], 'g', 10) + (falling ? QStringLiteral("v") : QString())
                            : QString());
    }
    while (!parts.isEmpty() && parts.back().isEmpty())
        parts.removeLast();
    return parts.join(QLatin1Char(','));
}

double WindowedAverage(const std::vector<std::int64_t> &times, const std::vector<double> &values, std::size_t begin,
                       std::size_t end, std::int64_t interval, std::int64_t window)
{
    // Two pointers: [i, j) holds the samples with t_i <= t_j < t_i + window.
    // Sums are of values only; dt is the same for every sample of the run.
    double best = 0;
    double sum = 0;
    std::size_t j = begin;
    for (std::size_t i = begin; i < end; ++i) {
        if (j < i) {
            j = i;
            sum = 0;
        }
        while (j < end && times[j] < times[i] + window) {
            sum += Counted(values[j]);
            ++j;
        }
        best = std::max(best, sum);
        sum -= Counted(values[i]);
        // Rounding leftovers of the running sum never make it negative.
        if (sum < 0)
            sum = 0;
    }
    return best * static_cast<double>(interval) / static_cast<double>(window);
}

std::vector<ExposureFigures> ComputeExposure(const std::vector<LoggerSeries> &series, const AlarmLevels &levels)
{
    std::vector<ExposureFigures> figures;
    for (const LoggerSeries &one : series) {
        for (const LoggerSeries::Run &run : one.runs)
            figures.push_back(RunFigures(one, run, levels));
    }
    return figures;
}

} // namespace r310::logs
