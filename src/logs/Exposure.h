#pragma once
// Exposure figures of a data logger series, per section, defined so that
// anyone can recompute them from the export file:
//   - each sample stands for the run's interval dt (the logging interval when
//     the download knew it, else the most frequent time step in the run);
//   - negative readings count as 0;
//   - peak: the highest value and the time of its first sample;
//   - STEL: the highest, over every sample i, of the sum of value_j x dt over
//     the samples j with t_i <= t_j < t_i + 15 min, divided by 15 min;
//   - TWA(8h): the same with 8 hours (a section shorter than 8 hours gives its
//     whole sum divided by 8 hours: the unsampled rest counts as zero);
//   - time in alarm at each known level A1 to A3: dt for every sample at or
//     above it, or at or below it for a level set to fall below (oxygen).
// STEL and TWA are figures of toxic gases: oxygen and combustibles (%LEL, or
// %Vol of a flammable gas) have none.
#include "LogFileReader.h"

#include <DecodedValues.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace r310::logs {

// The instrument's alarm levels in the unit of the samples, where known.
struct AlarmLevels {
    std::optional<double> a1, a2, a3, stel, twa;
    // A1 to A3: the alarm comes when the value falls to or below the level.
    std::array<bool, 3> falling{};
    bool any() const { return a1 || a2 || a3 || stel || twa; }
};

// What a series measures, by its gas text ("%Vol O2", "%LEL CH4", "ppm CO").
enum class GasKind { Toxic, Oxygen, Combustible };
GasKind GasKindOf(const QString &gasText);
// STEL and TWA are figured for toxic gases only.
inline bool HasWorkplaceLimits(GasKind kind) { return kind == GasKind::Toxic; }

// The levels of the instrument's range settings (object 4), scaled by its
// decimal exponent; none when its gas text is not one of the series' (the
// levels would be in another unit).
AlarmLevels AlarmLevelsOf(const RangeAlarmSettings &range, const std::vector<LoggerSeries> &series);

// Levels typed as "A1,A2,A3,STEL,TWA" with "." as decimal point; an empty
// entry (or a missing one at the end) leaves that level unknown: "30,60,100",
// "30,60,100,50,20", ",,,50". A "v" after A1, A2 or A3 makes it a falling
// level: "19.5v,18v,23.5". Empty for anything else.
std::optional<AlarmLevels> ParseAlarmLevels(const QString &text);
// The same text for levels.
QString AlarmLevelsText(const AlarmLevels &levels);

constexpr std::int64_t kStelSeconds = 15 * 60;
constexpr std::int64_t kTwaSeconds = 8 * 60 * 60;

struct ExposureFigures {
    QString gas;
    int section = 0;
    std::int64_t start = 0; // wall-clock seconds of the first and last sample
    std::int64_t end = 0;
    std::size_t samples = 0;
    std::int64_t interval = 0; // dt in seconds
    double peak = 0;
    std::int64_t peakTime = 0;
    GasKind kind = GasKind::Toxic;
    // Toxic gases only.
    std::optional<double> stel;
    std::optional<double> twa;
    // Seconds in alarm at A1, A2, A3: at or above the level, at or below a
    // falling one; empty where the level is unknown.
    std::array<std::optional<std::int64_t>, 3> inAlarm;
    std::array<bool, 3> falling{};
};

// The highest windowed average: max over i of sum(value_j x dt, t_i <= t_j <
// t_i + window) / window, over samples [begin, end) in time order.
double WindowedAverage(const std::vector<std::int64_t> &times, const std::vector<double> &values, std::size_t begin,
                       std::size_t end, std::int64_t interval, std::int64_t window);

// The figures of every run of every series, series by series in file order.
std::vector<ExposureFigures> ComputeExposure(const std::vector<LoggerSeries> &series, const AlarmLevels &levels);

} // namespace r310::logs
