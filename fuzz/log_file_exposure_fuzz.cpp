// Export files from anywhere, read back as the log viewer, "r310ctl
// exposure" and "plot" read them, with the exposure figures behind.
//
// Input: a levels byte (bits 0 to 2: A1 to A3 falling; bit 3: no levels)
// and two level bytes (A1 and A2 in tenths), then the file's bytes.
//
// Checked: every figure of every accepted line is finite, and the figures
// stay within what the samples allow (peak the highest sample, STEL and TWA
// non-negative, time in alarm within the run's samples times dt); a run is
// in time order; no more series than allowed, no gas text longer than
// allowed; every sample kept is a line read; a bad line is named exactly
// when there is one, and the message has no control character.
#include "FuzzInput.h"

#include <Exposure.h>
#include <LogFileReader.h>

#include <algorithm>
#include <cmath>

namespace {

using namespace r310::logs;
using r310::fuzz::FuzzInput;

void CheckFigures(const LogFile &file, const AlarmLevels &levels)
{
    std::size_t samples = 0;
    for (const LoggerSeries &series : file.series) {
        FUZZ_CHECK(series.gas.size() <= kLongestGasText + 1);
        FUZZ_CHECK(series.values.size() == series.times.size() && series.alarms.size() == series.times.size());
        samples += series.size();
        for (const LoggerSeries::Run &run : series.runs) {
            FUZZ_CHECK(run.begin < run.end && run.end <= series.size());
            for (std::size_t i = run.begin + 1; i < run.end; ++i)
                FUZZ_CHECK(series.times[i - 1] < series.times[i]);
        }
        for (const double value : series.values)
            FUZZ_CHECK(std::isfinite(value) && std::fabs(value) <= kLargestReading);
    }
    FUZZ_CHECK(file.series.size() <= static_cast<std::size_t>(kMostSeries));
    FUZZ_CHECK(samples == static_cast<std::size_t>(file.linesRead));
    for (const ExposureFigures &f : ComputeExposure(file.series, levels)) {
        FUZZ_CHECK(std::isfinite(f.peak) && f.peak >= 0);
        const bool toxic = HasWorkplaceLimits(f.kind);
        FUZZ_CHECK(f.stel.has_value() == toxic && f.twa.has_value() == toxic);
        for (const std::optional<double> &average : {f.stel, f.twa})
            FUZZ_CHECK(!average || (std::isfinite(*average) && *average >= 0));
        for (const std::optional<std::int64_t> &seconds : f.inAlarm)
            FUZZ_CHECK(!seconds || (*seconds >= 0 && *seconds <= static_cast<std::int64_t>(f.samples) * f.interval));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t flags = input.byte();
    AlarmLevels levels;
    const double a1 = input.byte() / 10.0, a2 = input.byte() / 10.0;
    if ((flags & 8) == 0) {
        levels.a1 = a1;
        levels.a2 = a2;
        levels.a3 = a1 + a2;
        for (std::size_t k = 0; k < levels.falling.size(); ++k)
            levels.falling[k] = (flags >> k) & 1;
    }
    const LogFile file = ReadLogFileBytes(input.restAsBytes(), QStringLiteral("fuzz.csv"));
    FUZZ_CHECK((file.firstBadLine != 0) == !file.problem.isEmpty() || file.unreadable());
    FUZZ_CHECK(std::none_of(file.problem.begin(), file.problem.end(), [](QChar c) {
        return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
    }));
    if (file.kind == LogFileKind::DataLogger)
        CheckFigures(file, levels);
    return 0;
}
