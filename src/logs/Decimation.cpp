#include "Decimation.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace r310::logs {

namespace {

// The lower of two extremes; the earlier one on a tie.
struct Lower {
    template <typename E>
    bool operator()(const E &a, const E &b) const
    {
        return a.value < b.value || (a.value == b.value && a.index < b.index);
    }
};
// The higher of two extremes; the earlier one on a tie.
struct Higher {
    template <typename E>
    bool operator()(const E &a, const E &b) const
    {
        return a.value > b.value || (a.value == b.value && a.index < b.index);
    }
};

// The first index in [begin, end) whose time is not before t: a search
// outwards from begin, since the next pixel column's end is near.
std::size_t FirstNotBefore(const std::vector<std::int64_t> &times, std::size_t begin, std::size_t end,
                           std::int64_t t)
{
    std::size_t step = 1;
    std::size_t low = begin;
    while (low + step < end && times[low + step] < t) {
        low += step;
        step *= 2;
    }
    const std::size_t high = std::min(end, low + step);
    return static_cast<std::size_t>(std::lower_bound(times.begin() + static_cast<std::ptrdiff_t>(low),
                                                     times.begin() + static_cast<std::ptrdiff_t>(high), t)
                                    - times.begin());
}

} // namespace

MinMaxPyramid::MinMaxPyramid(const std::vector<double> *values) : values_(values)
{
    const std::vector<double> &v = *values;
    std::size_t count = v.size();
    const Level *below = nullptr;
    while (count > 1) {
        const std::size_t entries = (count + kFactor - 1) / kFactor;
        Level level;
        level.low.resize(entries);
        level.high.resize(entries);
        for (std::size_t e = 0; e < entries; ++e) {
            const std::size_t first = e * kFactor, last = std::min(count, first + kFactor);
            Extreme low{}, high{};
            for (std::size_t k = first; k < last; ++k) {
                const Extreme l = below ? below->low[k] : Extreme{v[k], static_cast<std::uint32_t>(k)};
                const Extreme h = below ? below->high[k] : l;
                if (k == first || Lower()(l, low))
                    low = l;
                if (k == first || Higher()(h, high))
                    high = h;
            }
            level.low[e] = low;
            level.high[e] = high;
        }
        levels_.push_back(std::move(level));
        below = &levels_.back();
        count = entries;
    }
}

std::pair<std::size_t, std::size_t> MinMaxPyramid::MinMax(std::size_t begin, std::size_t end) const
{
    const std::vector<double> &v = *values_;
    struct Best {
        double value;
        std::size_t index;
    };
    Best low{v[begin], begin}, high = low;
    // Walk up: at each height take the ragged ends one by one, then go on
    // with the whole entries of the level above.
    std::size_t b = begin, e = end; // in units of the current height
    std::size_t height = 0;         // 0: samples, h: levels_[h - 1]
    auto take = [&](std::size_t unit) {
        if (height == 0) {
            const Best sample{v[unit], unit};
            if (Lower()(sample, low))
                low = sample;
            if (Higher()(sample, high))
                high = sample;
            return;
        }
        const Level &level = levels_[height - 1];
        const Best l{level.low[unit].value, level.low[unit].index};
        const Best h{level.high[unit].value, level.high[unit].index};
        if (Lower()(l, low))
            low = l;
        if (Higher()(h, high))
            high = h;
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
    return {low.index, high.index};
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
    // Columns of many samples end on a whole entry of a pyramid level that
    // holds at most an eighth of a column: the pyramid then answers from
    // that level alone, reading memory in order. A sample counts at most an
    // eighth of a pixel off its own column.
    const std::size_t perColumn = (hi - lo) / static_cast<std::size_t>(columns);
    std::size_t unit = 1;
    while (unit * MinMaxPyramid::kFactor * MinMaxPyramid::kFactor <= perColumn)
        unit *= MinMaxPyramid::kFactor;
    const double span = static_cast<double>(std::max<std::int64_t>(to - from, 1));
    std::size_t start = lo;
    for (int c = 1; c <= columns && start < hi; ++c) {
        const auto columnEnd = c == columns ? std::numeric_limits<std::int64_t>::max()
                                            : from + static_cast<std::int64_t>(span * c / columns);
        std::size_t stop = FirstNotBefore(times, start, hi, columnEnd);
        if (stop < hi)
            stop -= stop % unit;
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
    std::vector<std::size_t> alarms;
    for (std::size_t i = 0; i < series.size(); ++i) {
        if (series.alarms[i])
            alarms.push_back(i);
    }
    // Sections need not follow each other in time (a file written newest
    // first): the marks are looked up by time.
    const auto earlier = [&series](std::size_t a, std::size_t b) { return series.times[a] < series.times[b]; };
    if (!std::is_sorted(alarms.begin(), alarms.end(), earlier))
        std::stable_sort(alarms.begin(), alarms.end(), earlier);
    for (const std::size_t i : alarms) {
        alarmTimes_.push_back(series.times[i]);
        alarmValues_.push_back(series.values[i]);
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
