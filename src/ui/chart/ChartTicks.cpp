#include "ChartTicks.h"

#include <Formats.h>
#include <LogFileReader.h>

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace r310::ui {

namespace {

constexpr std::int64_t kMinute = 60, kHour = 3600, kDay = 86400;
// Steps that divide a day (so ticks fall on the same times every day), then
// whole days and weeks.
constexpr std::int64_t kTimeSteps[] = {1,          2,          5,          10,         15,     30,
                                       kMinute,    2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute,
                                       kHour,      2 * kHour,  3 * kHour,  6 * kHour,  12 * kHour, kDay,
                                       2 * kDay,   7 * kDay,   14 * kDay,  28 * kDay,  91 * kDay,  364 * kDay};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

double RoundValueStep(double span, int most)
{
    const double raw = span / std::max(1, most);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0}) {
        if (m * magnitude >= raw * (1 - 1e-9))
            return m * magnitude;
    }
    return 10 * magnitude;
}

std::vector<TimeTick> RoundTimeTicks(std::int64_t from, std::int64_t to, int most, const QLocale &locale)
{
    most = std::max(2, most);
    const std::int64_t span = std::max<std::int64_t>(1, to - from);
    std::int64_t step = kTimeSteps[std::size(kTimeSteps) - 1];
    for (const std::int64_t candidate : kTimeSteps) {
        if (span / candidate <= most) {
            step = candidate;
            break;
        }
    }
    while (span / step > most) // beyond years: whole multiples of the longest step
        step *= 2;
    const QString dateFormat = ShortDateFormat(locale);
    QString timeFormat = LongTimeFormat(locale);
    if (step >= kMinute)
        timeFormat.remove(QRegularExpression(QStringLiteral("[:.]ss")));
    std::vector<TimeTick> ticks;
    QDate lastDate;
    // From the first round time after the left edge: a label on the edge
    // itself would be cut in half.
    for (std::int64_t at = (FloorDiv(from, step) + 1) * step; at <= to; at += step) {
        const QDateTime shown = logs::WallClockDateTime(at);
        QString label;
        if (step >= kDay)
            label = locale.toString(shown.date(), dateFormat);
        else if (shown.date() != lastDate)
            label = locale.toString(shown.date(), dateFormat) + QLatin1Char(' ') + locale.toString(shown.time(), timeFormat);
        else
            label = locale.toString(shown.time(), timeFormat);
        lastDate = shown.date();
        ticks.push_back({at, label});
    }
    return ticks;
}

} // namespace r310::ui
