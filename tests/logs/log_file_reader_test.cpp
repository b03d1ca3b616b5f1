// The export files read back, the exposure figures and the decimation that
// the log viewer and "r310ctl plot" and "exposure" share.
#include "Decimation.h"
#include "Exposure.h"
#include "LogFileReader.h"
#include "QStringPrinting.h"
#include "ShiftLog.h"

#include <DataLoggerExport.h>
#include <ExportFile.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace r310::logs;

namespace {

const QLocale kGerman(QLocale::German, QLocale::Germany);
const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kUk(QLocale::English, QLocale::UnitedKingdom);

QByteArray Bytes(const QStringList &lines) { return EncodeExportLines(lines); }

// The definition, literally: for every sample i the sum over the window that
// starts at it.
double BruteWindow(const std::vector<std::int64_t> &t, const std::vector<double> &v, std::int64_t dt,
                   std::int64_t window)
{
    double best = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        double sum = 0;
        for (std::size_t j = i; j < t.size() && t[j] < t[i] + window; ++j)
            sum += std::max(v[j], 0.0);
        best = std::max(best, sum * static_cast<double>(dt) / static_cast<double>(window));
    }
    return best;
}

LoggerSeries Series(const std::vector<double> &values, std::int64_t step = 60, std::int64_t start = 0)
{
    LoggerSeries s;
    s.gas = QStringLiteral("ppm CO");
    for (std::size_t i = 0; i < values.size(); ++i) {
        s.times.push_back(start + static_cast<std::int64_t>(i) * step);
        s.values.push_back(values[i]);
        s.alarms.push_back(0);
    }
    s.runs.push_back({0, 0, values.size(), step});
    return s;
}

} // namespace

// Every regional setting writes the same samples; each reads back whole, with
// its own dates and separators, sections and alarm marks, and is recognised
// from the file alone.
TEST(LogFileReader, ReadsTheLoggerExportInEveryRegionalSetting)
{
    for (const QLocale &locale : {kGerman, kUs, kUk, QLocale::c()}) {
        SCOPED_TRACE(locale.name().toStdString());
        const LoggerExportData data = r310test::ShiftLogger(40, 2, locale);
        const LogFile file = ReadLogFileBytes(Bytes(LoggerExportLines(data)), QStringLiteral("shift.csv"));
        ASSERT_EQ(file.kind, LogFileKind::DataLogger);
        EXPECT_EQ(file.firstBadLine, 0) << file.problem.toStdString();
        ASSERT_EQ(file.series.size(), 2u);
        EXPECT_EQ(file.series[0].gas, QStringLiteral("ppm CO"));
        EXPECT_EQ(file.series[1].gas, QStringLiteral("ppm H2S"));
        EXPECT_EQ(file.sections, 2); // the pause after block 20
        const LoggerSeries &co = file.series[0];
        ASSERT_EQ(co.size(), 40u * 15);
        ASSERT_EQ(co.runs.size(), 2u);
        EXPECT_EQ(co.runs[0].end, 21u * 15);
        EXPECT_EQ(co.runs[1].interval, 60);
        EXPECT_EQ(co.times[1] - co.times[0], 60);
        EXPECT_EQ(co.times[21 * 15] - co.times[21 * 15 - 1], 60 + 45 * 60);
        EXPECT_EQ(WallClockDateTime(co.times[0]), QDateTime(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC));
        EXPECT_EQ(file.series[1].decimals, 1);
        for (std::size_t i = 0; i < co.size(); ++i) {
            const LoggerSampleSet &set = data.blocks[i / 15].sets[0];
            ASSERT_EQ(co.values[i], set.samples[i % 15]) << i;
            ASSERT_EQ(co.alarms[i] != 0, set.inAlarm(static_cast<int>(i % 15))) << i;
        }
        EXPECT_EQ(file.series[1].values[3], data.blocks[0].sets[1].samples[3] / 10.0);
    }
}

TEST(LogFileReader, NamesTheFirstBadLineAndKeepsTheOthers)
{
    QStringList lines = LoggerExportLines(r310test::ShiftLogger(2, 1, kGerman));
    lines[2] = QStringLiteral("02.03.2026 06:01:00;1x;ppm CO; ;");  // line 3
    lines[5] = QStringLiteral("02.03.2026 06:04:00;4;ppm CO;");     // line 6: a field short
    lines[7] = QStringLiteral("02.03.2026 06:06:60;6;ppm CO; ;");   // line 8: no such second
    lines.insert(9, QStringLiteral("garbage"));                     // line 10
    const LogFile file = ReadLogFileBytes(Bytes(lines), QStringLiteral("shift.csv"));
    EXPECT_EQ(file.kind, LogFileKind::DataLogger);
    EXPECT_EQ(file.firstBadLine, 3);
    EXPECT_EQ(file.badLines, 4);
    EXPECT_TRUE(file.problem.startsWith(QStringLiteral("shift.csv: line 3 is not a data logger line"))) << file.problem.toStdString();
    EXPECT_TRUE(file.problem.contains(QStringLiteral("1x"))) << file.problem.toStdString();
    EXPECT_EQ(file.series.at(0).size(), 30u - 3);
    // The same read from a file on disk.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shift.csv"));
    ASSERT_TRUE(WriteExportFile(path, lines).ok);
    const LogFile fromDisk = ReadLogFile(path);
    EXPECT_EQ(fromDisk.firstBadLine, 3);
    EXPECT_EQ(fromDisk.badLines, 4);
    ASSERT_EQ(fromDisk.series.size(), 1u);
    EXPECT_EQ(fromDisk.series[0].values, file.series[0].values);
    EXPECT_EQ(fromDisk.series[0].times, file.series[0].times);

    struct Case {
        QByteArray bytes;
        int line;
    };
    for (const Case &c : {Case{"", 1}, Case{"Date;Value\r\n1;2\r\n", 1}, Case{"\xff\xfe binary", 1}}) {
        const LogFile other = ReadLogFileBytes(c.bytes, QStringLiteral("x"));
        EXPECT_TRUE(other.unreadable());
        EXPECT_EQ(other.firstBadLine, c.line);
        EXPECT_TRUE(other.problem.contains(QStringLiteral("line 1"))) << other.problem.toStdString();
    }
    const LogFile missing = ReadLogFile(QStringLiteral("/no/such/file.csv"));
    EXPECT_TRUE(missing.unreadable());
    EXPECT_TRUE(missing.problem.startsWith(QStringLiteral("Cannot open file"))) << missing.problem.toStdString();
}

TEST(LogFileReader, ReadsTheEventLogExport)
{
    for (const QLocale &locale : {kGerman, kUs}) {
        QStringList lines = r310test::ShiftEventLines(40, locale);
        lines.append(QStringLiteral("99;") + lines[1].section(QLatin1Char(';'), 1, 1) + u';'); // a type of its own
        lines.append(QStringLiteral("100;no date;A1 ON;1;1;1;ppm CO;90%; ;"));
        const LogFile file = ReadLogFileBytes(Bytes(lines), QStringLiteral("events.csv"));
        ASSERT_EQ(file.kind, LogFileKind::EventLog);
        EXPECT_EQ(file.firstBadLine, static_cast<int>(lines.size())) << file.problem.toStdString();
        ASSERT_EQ(file.events.size(), lines.size() - 2);
        const EventEntry &on = file.events.front();
        EXPECT_EQ(on.type, QStringLiteral("Dev-ON"));
        EXPECT_EQ(on.battery, QStringLiteral("96%"));
        EXPECT_FALSE(on.isAlarm());
        const EventEntry &a1 = file.events[1];
        EXPECT_EQ(a1.type, QStringLiteral("A1 ON"));
        EXPECT_TRUE(a1.isAlarmOn());
        EXPECT_EQ(a1.gas, QStringLiteral("ppm CO"));
        EXPECT_GE(a1.valueNumber.value_or(0), 29.0);
        EXPECT_EQ(file.events.back().number, 99);
        EXPECT_TRUE(file.events.back().type.isEmpty());
    }
}

TEST(LogFileReader, DownloadKeepsTheLoggingIntervalOfOneSampleSections)
{
    // Blocks of one sample each end their section: no step to count, but the
    // download knows the interval.
    LoggerExportData data = r310test::ShiftLogger(3, 1, kGerman);
    for (LoggerBlock &block : data.blocks)
        block.header.reportedSamples = 1;
    const LogFile file = LoggerLogOfDownload(data, QStringLiteral("download"));
    ASSERT_EQ(file.series.at(0).runs.size(), 3u);
    for (const LoggerSeries::Run &run : file.series[0].runs)
        EXPECT_EQ(run.interval, 60);
    const LogFile readBack = ReadLogFileBytes(Bytes(LoggerExportLines(data)), QStringLiteral("file"));
    EXPECT_EQ(readBack.series.at(0).runs.at(0).interval, 0);
}

TEST(Exposure, FiguresFollowTheDefinition)
{
    struct Case {
        const char *name;
        std::vector<double> values;
        std::int64_t step;
        double peak, stel, twa;
    };
    const std::vector<double> thirtyMinutesOfTen(30, 10.0);
    const std::vector<double> tenHoursOfOne(120, 1.0);
    const Case cases[] = {
        {"constant 10 ppm for 30 min", thirtyMinutesOfTen, 60, 10, 10, 30 * 10 * 60 / 28800.0},
        {"one spike", {0, 0, 90, 0, 0}, 60, 90, 90 * 60 / 900.0, 90 * 60 / 28800.0},
        {"negative readings count as 0", {-5, 10, -20}, 60, 10, 10 * 60 / 900.0, 10 * 60 / 28800.0},
        {"longer than 8 hours", tenHoursOfOne, 300, 1, 3 * 300 / 900.0, 1.0},
        {"only negative", {-1, -2}, 60, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto figures = ComputeExposure({Series(c.values, c.step)}, AlarmLevels{});
        ASSERT_EQ(figures.size(), 1u);
        EXPECT_DOUBLE_EQ(figures[0].peak, c.peak);
        EXPECT_NEAR(figures[0].stel.value(), c.stel, 1e-12);
        EXPECT_NEAR(figures[0].twa.value(), c.twa, 1e-12);
        EXPECT_EQ(figures[0].samples, c.values.size());
        EXPECT_FALSE(figures[0].inAlarm[0].has_value());
    }
    AlarmLevels levels;
    levels.a1 = 5;
    levels.a2 = 60;
    const auto figures = ComputeExposure({Series({10, 60, 0, 5}, 30, 1000)}, levels);
    EXPECT_EQ(figures[0].inAlarm[0], 90);
    EXPECT_EQ(figures[0].inAlarm[1], 30);
    EXPECT_FALSE(figures[0].inAlarm[2].has_value());
    EXPECT_EQ(figures[0].peakTime, 1030);
    EXPECT_EQ(figures[0].end, 1090);

    // Levels as typed: "A1,A2,A3,STEL,TWA", empty ones unknown.
    const std::optional<AlarmLevels> typed = ParseAlarmLevels(QStringLiteral(" 30, 60.5,,50"));
    ASSERT_TRUE(typed.has_value());
    EXPECT_EQ(typed->a1, 30.0);
    EXPECT_EQ(typed->a2, 60.5);
    EXPECT_FALSE(typed->a3 || typed->twa);
    EXPECT_EQ(typed->stel, 50.0);
    EXPECT_EQ(AlarmLevelsText(*typed), QStringLiteral("30,60.5,,50"));
    EXPECT_FALSE(ParseAlarmLevels(QStringLiteral("")).value().any());
    for (const char *bad : {"30;60", "1,2,3,4,5,6", "30,x", "3,0,inf"})
        EXPECT_FALSE(ParseAlarmLevels(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(Exposure, SlidingWindowsMatchTheLiteralSumOnIrregularTimes)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> step(1, 200);
    std::normal_distribution<double> value(5, 10);
    std::vector<std::int64_t> t;
    std::vector<double> v;
    std::int64_t now = 0;
    for (int i = 0; i < 600; ++i) {
        now += step(random);
        t.push_back(now);
        v.push_back(value(random));
    }
    for (const std::int64_t window : {kStelSeconds, kTwaSeconds})
        EXPECT_NEAR(WindowedAverage(t, v, 0, t.size(), 45, window), BruteWindow(t, v, 45, window), 1e-9);
    EXPECT_EQ(MostFrequentStep({0, 60, 120, 180, 300, 330, 360}, 0, 7), 60);
    EXPECT_EQ(MostFrequentStep({0, 30, 60, 120, 180}, 0, 5), 30); // a tie: the smaller
}

TEST(Decimation, ColumnsKeepEveryExtremeAndAlarm)
{
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 1);
    LoggerSeries s = Series(std::vector<double>(100000, 0.0), 10);
    for (std::size_t i = 0; i < s.size(); ++i) {
        // Quarters, as a logger's fixed decimals give: many equal values,
        // where the earlier sample counts.
        s.values[i] = std::round(noise(random) * 4) / 4;
        s.alarms[i] = (i % 9973 == 0) ? 1 : 0;
    }
    s.values[54321] = 50;  // the peak
    s.values[12345] = -50; // the lowest
    const SeriesTrace trace(s);
    const std::int64_t from = s.times.front(), to = s.times.back();
    const std::vector<TracePoint> points = trace.Points(0, from, to, 500);
    EXPECT_LE(points.size(), 2u * 500);
    auto has = [&points](std::int64_t time) {
        return std::any_of(points.begin(), points.end(), [time](const TracePoint &p) { return p.time == time; });
    };
    EXPECT_TRUE(has(s.times[54321]));
    EXPECT_TRUE(has(s.times[12345]));
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](const TracePoint &a, const TracePoint &b) { return a.time < b.time; }));
    // Every alarm sample is shown when there are fewer than columns of them.
    EXPECT_EQ(trace.AlarmPoints(from, to, 500).size(), (s.size() + 9972) / 9973);
    // Zoomed in to fewer samples than columns: every sample, plus one beyond each edge.
    EXPECT_EQ(trace.Points(0, s.times[100], s.times[199], 500).size(), 102u);

    // The pyramid against a plain scan, on ranges of every length.
    const MinMaxPyramid pyramid(&s.values);
    std::uniform_int_distribution<std::size_t> at(0, s.size() - 1);
    for (int k = 0; k < 300; ++k) {
        std::size_t a = at(random), b = at(random);
        if (a > b)
            std::swap(a, b);
        if (k % 3 == 0)
            b = std::min(a + k % 20 + 1, s.size());
        ++b;
        b = std::min(b, s.size());
        const auto [low, high] = pyramid.MinMax(a, b);
        const auto first = s.values.begin();
        ASSERT_EQ(low, static_cast<std::size_t>(std::min_element(first + a, first + b) - first)) << a << " " << b;
        ASSERT_EQ(high, static_cast<std::size_t>(std::max_element(first + a, first + b) - first)) << a << " " << b;
    }
}

// Files made to break the reader: values that are no finite number of the
// file's notation are bad lines; times going backwards, thousands of gases
// and huge gas texts stay cheap and bounded.
TEST(LogFileReader, HostileFilesGiveBadLinesAndBoundedSeries)
{
    const QString good = QStringLiteral("02.03.2026 06:00:00;10,5;ppm CO; ;");
    for (const char *value : {"nan", "inf", "-inf", "1e309", "0x1p3", "1.000", "1,000,5", "+5", "5e", "-", "1e201"}) {
        SCOPED_TRACE(value);
        const QStringList lines{kLoggerHeaderLine, good,
                                QStringLiteral("02.03.2026 06:01:00;%1;ppm CO; ;").arg(QLatin1String(value)), good};
        const LogFile file = ReadLogFileBytes(Bytes(lines), QStringLiteral("x.csv"));
        EXPECT_EQ(file.firstBadLine, 3) << file.problem.toStdString();
        EXPECT_EQ(file.linesRead, 2);
    }
    const LogFile scientific = ReadLogFileBytes(
        Bytes({kLoggerHeaderLine, QStringLiteral("02.03.2026 06:00:00;-1,5e+2;ppm CO; ;")}), QStringLiteral("x"));
    EXPECT_EQ(scientific.series.at(0).values, std::vector<double>{-150});

    // Newest first: one series, a section at every line, each sample dt the
    // distance between the lines.
    QStringList newestFirst{kLoggerHeaderLine};
    for (int minute = 59; minute >= 0; --minute)
        newestFirst.append(QStringLiteral("02.03.2026 06:%1:00;5;ppm CO; ;").arg(minute, 2, 10, QLatin1Char('0')));
    const LogFile backwards = ReadLogFileBytes(Bytes(newestFirst), QStringLiteral("x"));
    ASSERT_EQ(backwards.series.size(), 1u);
    EXPECT_EQ(backwards.series[0].runs.size(), 60u);
    EXPECT_EQ(backwards.sections, 60);
    EXPECT_EQ(backwards.series[0].runs.back().interval, 60);

    // 100 gases: the first 64 are series, the rest bad lines named once; a
    // gas text of 100,000 characters is cut.
    QStringList gases{kLoggerHeaderLine};
    for (int g = 0; g < 100; ++g)
        gases.append(QStringLiteral("02.03.2026 06:00:00;1;ppm G%1; ;").arg(g));
    gases.append(QStringLiteral("02.03.2026 06:00:00;1;%1\x1b; ;").arg(QString(100000, u'x')));
    const LogFile many = ReadLogFileBytes(Bytes(gases), QStringLiteral("x"));
    EXPECT_EQ(many.series.size(), static_cast<std::size_t>(kMostSeries));
    EXPECT_EQ(many.firstBadLine, 66);
    EXPECT_TRUE(many.problem.contains(QStringLiteral("37 lines of more gases left out, the first of them \"ppm G64\"")))
        << many.problem.toStdString();
    const LogFile escape = ReadLogFileBytes(Bytes({kLoggerHeaderLine, QStringLiteral("\x1b[2J;")}), QStringLiteral("x"));
    EXPECT_TRUE(escape.problem.endsWith(QStringLiteral(": \"\\x1b[2J;\""))) << escape.problem.toStdString();
    const LogFile oneLong = ReadLogFileBytes(Bytes({kLoggerHeaderLine, gases.back()}), QStringLiteral("x"));
    EXPECT_EQ(oneLong.series.at(0).gas, QString(kLongestGasText, u'x') + QChar(0x2026));
}

TEST(Exposure, OxygenAndCombustiblesHaveNoStelAndFallingLevelsCountBelow)
{
    const struct {
        const char *gas;
        GasKind kind;
    } kinds[] = {{"%Vol O2", GasKind::Oxygen},     {"%LEL CH4", GasKind::Combustible}, {"%UEG EX", GasKind::Combustible},
                 {"%Vol H2", GasKind::Combustible}, {"%Vol CO2", GasKind::Toxic},       {"ppm CO", GasKind::Toxic},
                 {"ppm H2", GasKind::Toxic}};
    for (const auto &k : kinds)
        EXPECT_EQ(GasKindOf(QString::fromLatin1(k.gas)), k.kind) << k.gas;

    // 20.9 %Vol with a dip to 18.5 for 10 of 90 minutes.
    std::vector<double> air(90, 20.9);
    std::fill(air.begin() + 30, air.begin() + 40, 18.5);
    LoggerSeries oxygen = Series(air);
    oxygen.gas = QStringLiteral("%Vol O2");
    const std::optional<AlarmLevels> levels = ParseAlarmLevels(QStringLiteral("19.5v,18V,23.5"));
    ASSERT_TRUE(levels.has_value());
    EXPECT_EQ(levels->falling, (std::array<bool, 3>{true, true, false}));
    EXPECT_EQ(AlarmLevelsText(*levels), QStringLiteral("19.5v,18v,23.5"));
    const ExposureFigures figures = ComputeExposure({oxygen}, *levels).at(0);
    EXPECT_EQ(figures.inAlarm[0], 10 * 60);
    EXPECT_EQ(figures.inAlarm[1], 0);
    EXPECT_EQ(figures.inAlarm[2], 0);
    EXPECT_FALSE(figures.stel || figures.twa);
    EXPECT_FALSE(ParseAlarmLevels(QStringLiteral("1,2,3,4v")).has_value()); // STEL never falls
    // The instrument's own "fall below" option.
    r310::RangeAlarmSettings range;
    range.gasText = oxygen.gas;
    range.exponent = -1;
    range.limits[r310::kAlarmA1].raw = 195;
    range.limits[r310::kAlarmA1].flags.fallBelow = true;
    const AlarmLevels ofInstrument = AlarmLevelsOf(range, {oxygen});
    EXPECT_DOUBLE_EQ(ofInstrument.a1.value(), 19.5);
    EXPECT_EQ(ofInstrument.falling, (std::array<bool, 3>{true, false, false}));
}
