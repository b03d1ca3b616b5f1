#pragma once
// Where the chart's axes put their ticks: value ticks at round numbers (1, 2,
// 2.5 or 5 x 10^n apart), time ticks at round seconds, minutes, hours or days
// of the wall clock, each labelled with its time of day and, at the first
// tick and wherever the date changes, the date before it.
#include <QLocale>
#include <QString>

#include <cstdint>
#include <vector>

namespace r310::ui {

// The distance of value ticks for at most `most` ticks over `span` (> 0).
double RoundValueStep(double span, int most);

struct TimeTick {
    std::int64_t at = 0; // wall-clock seconds
    QString label;
};

// The ticks within (from, to] for at most `most` of them (at least 2), in the
// short date and time formats of `locale` (seconds only where the ticks are
// less than a minute apart).
std::vector<TimeTick> RoundTimeTicks(std::int64_t from, std::int64_t to, int most, const QLocale &locale);

} // namespace r310::ui
