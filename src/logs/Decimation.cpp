#include "Decimation.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace r310::logs {

MinMaxPyramid::MinMaxPyramid(const std::vector<double> *values) : values_(values)
{
    std::size_t count = values->size();
    const Level *below = nullptr;
    while (count > 1) {
        const std::size_t entries = (count + kFactor - 1) / kFactor;
        Level level;
        level.low.resize(entries);
        level.high.resize(entries);
        for (std::size_t e = 0; e < entries; ++e) {
            std::size_t low = 0, high = 0;
            bool first = true;
            for (std::size_t k = e * kFactor; k < std::min(count, (e + 1) * kFactor); ++k) {
                const std::size_t kl = below ? below->low[k] : k;
                const std::size_t kh = below ? below->high[k] : k;
                if (first || (*values_)[kl] < (*values_)[low])
                    low = kl;
                if (first || (*values_)[kh] > (*values_)[high])
                    high = kh;
                first = false;
            }
            level.low[e] = static_cast<std::uint32_t>(low);
            level.high[e] = static_cast<std::uint32_t>(high);
        }
        levels_.push_back(std::move(level));
        below = &levels_.back();
        count = entries;
    }
}

void MinMaxPyramid::Take(std::size_t index, std::size_t &low, std::size_t &high) const
{
    const double value = (*values_)[index];
    if (value < (*values_)[low] || (value == (*values_)[low] && index < low))
        low = index;
    if (value > (*values_)[high] || (value == (*values_)[high] && index < high))
        high = index;
}

void MinMaxPyramid::TakeLevel(const Level &level, std::size_t entry, std::size_t &low, std::size_t &high) const
{
    const std::size_t l = level.low[entry];
    const std::size_t h = level.high[entry];
    if ((*values_)[l] < (*values_)[low] || ((*values_)[l] == (*values_)[low] && l < low))
        low = l;
    if ((*values_)[h] > (*values_)[high] || ((*values_)[h] == (*values_)[high] && h < high))
        high = h;
}

std::pair<std::size_t, std::size_t> MinMaxPyramid::MinMax(std::size_t begin, std::size_t end) const
{
    std::size_t low = begin, high = begin;
    // Walk up: at each height take the ragged ends one by one, then go on
    // with the whole entries of the level above.
    std::size_t b = begin, e = end; // in units of the current height
    std::size_t height = 0;         // 0: samples, h: levels_[h - 1]
    auto take = [&](std::size_t unit) {
        if (height == 0)
            Take(unit, low, high);
        else
            TakeLevel(levels_[height - 1], unit, low, high);
    };
    while (b < e) {
        if (height == levels_.size() || e - b < kFactor) {
            for (std::size_t u = b; u < e; ++u)
                take(u);
            break;
        }
        while (b % kFactor != 0 && b < e)
            take(b++);
        while (e % kFactor != 0 && e > b)
            take(--e);
        b /= kFactor;
        e /= kFactor;
        ++height;
    }
    return {low, high};
}

std::vector<TracePoint> DecimatedPoints(const std::vector<std::int64_t> &times, const std::vector<double> &values,
                                        const MinMaxPyramid &pyramid, std::size_t begin, std::size_t end,
                                        std::int64_t from, std::int64_t to, int columns, bool reachEdges)
{
    std::vector<TracePoint> points;
    const auto first = times.begin();
    std::size_t lo = static_cast<std::size_t>(std::lower_bound(first + begin, first + end, from) - first);
    std::size_t hi = static_cast<std::size_t>(std::upper_bound(first + begin, first + end, to) - first);
    if (reachEdges) {
        lo = lo > begin ? lo - 1 : lo;
        hi = hi < end ? hi + 1 : hi;
    }
    if (lo >= hi)
        return points;
    columns = std::max(columns, 1);
    if (hi - lo <= static_cast<std::size_t>(columns) * 2) {
        points.reserve(hi - lo);
        for (std::size_t i = lo; i < hi; ++i)
            points.push_back({times[i], values[i]});
        return points;
    }
    points.reserve(static_cast<std::size_t>(columns) * 2 + 2);
    const double span = static_cast<double>(std::max<std::int64_t>(to - from, 1));
    std::size_t start = lo;
    for (int c = 1; c <= columns && start < hi; ++c) {
        const auto columnEnd = c == columns ? std::numeric_limits<std::int64_t>::max()
                                            : from + static_cast<std::int64_t>(span * c / columns);
        const std::size_t stop =
            static_cast<std::size_t>(std::lower_bound(first + start, first + hi, columnEnd) - first);
        if (stop > start) {
            const auto [low, high] = pyramid.MinMax(start, stop);
            const std::size_t a = std::min(low, high), b = std::max(low, high);
            points.push_back({times[a], values[a]});
            if (b != a)
                points.push_back({times[b], values[b]});
        }
        start = stop;
    }
    return points;
}

SeriesTrace::SeriesTrace(const LoggerSeries &series) : series_(series), pyramid_(&series.values)
{
    for (std::size_t i = 0; i < series.size(); ++i) {
        if (series.alarms[i]) {
            alarmTimes_.push_back(series.times[i]);
            alarmValues_.push_back(series.values[i]);
        }
    }
    alarmPyramid_ = MinMaxPyramid(&alarmValues_);
}

std::vector<TracePoint> SeriesTrace::Points(std::size_t run, std::int64_t from, std::int64_t to, int columns) const
{
    const LoggerSeries::Run &r = series_.runs.at(run);
    return DecimatedPoints(series_.times, series_.values, pyramid_, r.begin, r.end, from, to, columns, true);
}

std::vector<TracePoint> SeriesTrace::AlarmPoints(std::int64_t from, std::int64_t to, int columns) const
{
    return DecimatedPoints(alarmTimes_, alarmValues_, alarmPyramid_, 0, alarmTimes_.size(), from, to, columns,
                           false);
}

std::size_t SeriesTrace::Nearest(std::int64_t t) const
{
    const std::vector<std::int64_t> &times = series_.times;
    std::size_t best = times.size();
    std::int64_t bestDistance = 0;
    // Runs are in time order within themselves; look at the neighbours in each.
    for (const LoggerSeries::Run &run : series_.runs) {
        const auto at = std::lower_bound(times.begin() + run.begin, times.begin() + run.end, t) - times.begin();
        for (auto i : {at - 1, at}) {
            if (i < static_cast<std::ptrdiff_t>(run.begin) || i >= static_cast<std::ptrdiff_t>(run.end))
                continue;
            const std::int64_t distance = std::abs(times[static_cast<std::size_t>(i)] - t);
            if (best == times.size() || distance < bestDistance) {
                best = static_cast<std::size_t>(i);
                bestDistance = distance;
            }
        }
    }
    return best;
}

} // namespace r310::logs
