#pragma once
// Drawing millions of samples: what a chart of a given width needs of a
// series is, per pixel column, the column's lowest and highest sample and
// every column's samples taken in alarm. A min/max pyramid built once (each
// level keeps the index and value of the lowest and highest sample of 8
// entries of the level below) answers each column in a few steps, so any
// zoom costs O(columns), never O(samples). Peaks survive every zoom. A
// column of many samples ends on a whole entry of a level (a sample counts
// at most an eighth of a pixel off its own column), so the pyramid answers
// it from that level, reading memory in order.
//
// The chart and "r310ctl plot" draw from the same points.
#include "LogFileReader.h"

#include <cstdint>
#include <vector>

namespace r310::logs {

struct TracePoint {
    std::int64_t time = 0; // wall-clock seconds
    double value = 0;
};

// Lowest and highest sample index of any index range, over one buffer.
class MinMaxPyramid {
public:
    MinMaxPyramid() = default;
    explicit MinMaxPyramid(const std::vector<double> *values);

    // Indices of the lowest and highest value in [begin, end) (end > begin);
    // the earlier one on a tie.
    std::pair<std::size_t, std::size_t> MinMax(std::size_t begin, std::size_t end) const;

    // Each level reduces the one below by this factor; a range that begins
    // and ends on a multiple of kFactor^k is answered from level k upwards.
    static constexpr std::size_t kFactor = 8;

private:
    // An entry's lowest and highest sample, by index and value: the values
    // kept beside the indices spare a look-up far away in the samples.
    struct Extreme {
        double value;
        std::uint32_t index;
    };
    struct Level {
        std::vector<Extreme> low, high;
    };

    const std::vector<double> *values_ = nullptr;
    std::vector<Level> levels_; // levels_[0] reduces the samples by kFactor
};

// A series ready to be drawn: its samples with their pyramid, and those taken
// in alarm with a pyramid of their own.
class SeriesTrace {
public:
    explicit SeriesTrace(const LoggerSeries &series);
    SeriesTrace(const SeriesTrace &) = delete;
    SeriesTrace &operator=(const SeriesTrace &) = delete;

    const LoggerSeries &series() const { return series_; }

    // The points of run r within [from, to] for `columns` pixel columns: all
    // samples when there are few, else each column's lowest and highest in
    // time order. One sample beyond each end is kept so the line reaches the
    // edge of the view.
    std::vector<TracePoint> Points(std::size_t run, std::int64_t from, std::int64_t to, int columns) const;
    // The samples taken in alarm within [from, to]: all of them, or each
    // column's lowest and highest of them.
    std::vector<TracePoint> AlarmPoints(std::int64_t from, std::int64_t to, int columns) const;

    // The sample nearest to time t (in any run); size() when there is none.
    std::size_t Nearest(std::int64_t t) const;

private:
    const LoggerSeries &series_;
    MinMaxPyramid pyramid_;
    std::vector<std::int64_t> alarmTimes_;
    std::vector<double> alarmValues_;
    MinMaxPyramid alarmPyramid_;
};

// Points of [begin, end) of the buffers within [from, to] for `columns`
// columns (see SeriesTrace::Points).
std::vector<TracePoint> DecimatedPoints(const std::vector<std::int64_t> &times, const std::vector<double> &values,
                                        const MinMaxPyramid &pyramid, std::size_t begin, std::size_t end,
                                        std::int64_t from, std::int64_t to, int columns, bool reachEdges);

} // namespace r310::logs
