// The data logger export: lines set by set with the block's time base, the
// alarm column, values with the exponent's decimals, sections opened by the
// header and the separator, and the bytes of the file.
#include "DataLoggerExport.h"
#include "LoggerRecords.h"
#include "QStringPrinting.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

using namespace r310::logs;

namespace {

constexpr std::uint16_t kMinute = 60;

// Seconds since 1980-01-01 00:00, counted without the product's date code.
std::int32_t InstrumentTime(int year, int month, int day, int hour, int minute, int second)
{
    const qint64 days = QDate(1980, 1, 1).daysTo(QDate(year, month, day));
    return static_cast<std::int32_t>(days * 86400 + hour * 3600 + minute * 60 + second);
}

const std::int32_t kChristmas = InstrumentTime(2008, 12, 24, 13, 45, 0);

LoggerBlockHeader Header(std::int32_t first, std::uint8_t samples = 15, std::uint8_t sets = 1,
                         std::uint16_t interval = kMinute)
{
    LoggerBlockHeader header;
    header.state = 1;
    header.firstSampleTime = first;
    header.interval = interval;
    header.reportedSamples = samples;
    header.setCount = sets;
    return header;
}

// A valid set whose sample i is base + i.
LoggerSampleSet Set(std::int16_t base = 0, std::int8_t exponent = 0, std::uint16_t alarmBits = 0)
{
    LoggerSampleSet set;
    set.state = 1;
    set.gasCode = 1;
    set.unitCode = 0;
    set.exponent = exponent;
    set.alarmBits = alarmBits;
    for (int i = 0; i < kSamplesPerSet; ++i)
        set.samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(base + i);
    return set;
}

LoggerBlock Block(const LoggerBlockHeader &header, std::vector<LoggerSampleSet> sets)
{
    return {header, std::move(sets)};
}

LoggerExportData Data(std::vector<LoggerBlock> blocks)
{
    LoggerExportData data;
    data.blocks = std::move(blocks);
    data.gasTexts[GasTextKey(0, 1)] = QStringLiteral("ppm CO");
    data.locale = QLocale(QLocale::German, QLocale::Germany);
    return data;
}

// The lines that are neither header nor separator.
int SampleLines(const QStringList &lines)
{
    int count = 0;
    for (const QString &line : lines)
        count += (line != kLoggerHeaderLine && line != kLoggerSeparatorLine) ? 1 : 0;
    return count;
}

QStringList Fields(const QString &line)
{
    return line.split(u';');
}

} // namespace

TEST(LoggerExportLines, SampleLinesReadAsTheTechnicianExpects)
{
    LoggerSampleSet set = Set();
    set.exponent = -1;
    set.samples[0] = 205;
    set.samples[1] = 610;
    set.alarmBits = 0x0002;
    const QStringList lines = LoggerExportLines(Data({Block(Header(kChristmas, 2), {set})}));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("Date/Time;Value;Gas;Alarm;"));
    EXPECT_EQ(lines[1], QStringLiteral("24.12.2008 13:45:00;20,5;ppm CO; ;"));
    EXPECT_EQ(lines[2], QStringLiteral("24.12.2008 13:46:00;61,0;ppm CO;ALARM;"));
}

TEST(LoggerExportLines, GermanAndEnglishRegionalSettings)
{
    LoggerSampleSet set = Set();
    set.exponent = -1;
    set.samples[0] = 205;
    LoggerExportData data = Data({Block(Header(kChristmas, 1), {set})});

    data.locale = QLocale(QLocale::German, QLocale::Germany);
    EXPECT_EQ(LoggerExportLines(data).value(1), QStringLiteral("24.12.2008 13:45:00;20,5;ppm CO; ;"));

    data.locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_EQ(LoggerExportLines(data).value(1), QStringLiteral("24/12/2008 13:45:00;20.5;ppm CO; ;"));

    // Whatever the settings, a line has its four fields and ends with a semicolon.
    data.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    const QStringList fields = Fields(LoggerExportLines(data).value(1));
    ASSERT_EQ(fields.size(), 5);
    EXPECT_TRUE(fields[0].startsWith(QStringLiteral("12/24/2008 1:45:00")));
    EXPECT_EQ(fields[1], QStringLiteral("20.5"));
    EXPECT_EQ(fields[4], QString());
}

TEST(LoggerExportLines, FirstBlockOpensTheFileWithTheHeaderEvenWithoutValidSamples)
{
    LoggerBlockHeader unreadable = Header(kChristmas);
    unreadable.state = 3;
    EXPECT_EQ(LoggerExportLines(Data({Block(unreadable, {})})), QStringList{kLoggerHeaderLine});

    LoggerSampleSet invalid = Set();
    invalid.state = 0;
    EXPECT_EQ(LoggerExportLines(Data({Block(Header(kChristmas), {invalid})})), QStringList{kLoggerHeaderLine});

    // No block at all: no line, which the front ends report as "No Data".
    const LoggerExportData none = Data({});
    EXPECT_TRUE(LoggerExportLines(none).isEmpty());
    EXPECT_FALSE(HasLoggerExportLines(none));
}

TEST(LoggerExportLines, ShortBlockMakesTheNextBlockOpenASection)
{
    // Twelve samples, then the next block goes on exactly where they end.
    const LoggerBlock shortBlock = Block(Header(kChristmas, 12), {Set()});
    const LoggerBlock next = Block(Header(kChristmas + 12 * kMinute), {Set(100)});
    const QStringList lines = LoggerExportLines(Data({shortBlock, next}));
    ASSERT_EQ(lines.size(), 1 + 12 + 1 + 15);
    EXPECT_EQ(lines[0], kLoggerHeaderLine);
    EXPECT_EQ(lines[12], QStringLiteral("24.12.2008 13:56:00;11;ppm CO; ;"));
    EXPECT_EQ(lines[13], QStringLiteral(" ; ; ; ;"));
    EXPECT_EQ(lines[14], QStringLiteral("24.12.2008 13:57:00;100;ppm CO; ;"));

    // A full block followed back to back by another: one section.
    const LoggerBlock full = Block(Header(kChristmas), {Set()});
    const LoggerBlock following = Block(Header(kChristmas + 15 * kMinute), {Set()});
    EXPECT_EQ(LoggerExportLines(Data({full, following})).count(kLoggerSeparatorLine), 0);
}

TEST(LoggerExportLines, ThreeSetsRunOverTheSameFifteenTimes)
{
    const QStringList lines =
        LoggerExportLines(Data({Block(Header(kChristmas, 15, 3), {Set(0), Set(100), Set(200)})}));
    ASSERT_EQ(lines.size(), 1 + 45);
    for (int set = 0; set < 3; ++set) {
        for (int i = 0; i < 15; ++i) {
            const QStringList fields = Fields(lines[1 + set * 15 + i]);
            EXPECT_EQ(fields[0], Fields(lines[1 + i])[0]) << "set " << set << " sample " << i;
            EXPECT_EQ(fields[1], QString::number(set * 100 + i));
        }
    }
    EXPECT_EQ(Fields(lines[15])[0], QStringLiteral("24.12.2008 13:59:00"));
    // The sets follow each other without a section between them.
    EXPECT_EQ(lines.count(kLoggerSeparatorLine), 0);
}

TEST(LoggerExportLines, AlarmBitsMarkTheirSamples)
{
    const QStringList lines = LoggerExportLines(Data({Block(Header(kChristmas), {Set(0, 0, 0x0005)})}));
    ASSERT_EQ(lines.size(), 16);
    for (int i = 0; i < 15; ++i) {
        const bool alarm = i == 0 || i == 2;
        EXPECT_EQ(lines[1 + i].endsWith(QStringLiteral(";ALARM;")), alarm) << lines[1 + i].toStdString();
        EXPECT_EQ(lines[1 + i].endsWith(QStringLiteral("; ;")), !alarm) << lines[1 + i].toStdString();
    }
}

TEST(LoggerExportLines, ValuesTakeTheirExponentsDecimals)
{
    const QLocale c = QLocale::c();
    EXPECT_EQ(LoggerSampleValueText(-150, -2, c), QStringLiteral("-1.50"));
    EXPECT_EQ(LoggerSampleValueText(-150, -2, QLocale(QLocale::German)), QStringLiteral("-1,50"));
    EXPECT_EQ(LoggerSampleValueText(205, -1, c), QStringLiteral("20.5"));
    EXPECT_EQ(LoggerSampleValueText(0, -3, c), QStringLiteral("0.000"));
    EXPECT_EQ(LoggerSampleValueText(32767, 0, c), QStringLiteral("32767"));
    EXPECT_EQ(LoggerSampleValueText(5, 3, c), QStringLiteral("5000"));
    // No thousands separators, in any settings.
    EXPECT_EQ(LoggerSampleValueText(32767, 1, QLocale(QLocale::German)), QStringLiteral("327670"));

    // An exponent far below anything an instrument stores chooses no more
    // than nine decimals; the value itself is not made larger than it is.
    EXPECT_EQ(LoggerSampleValueText(1, -9, c), QStringLiteral("0.000000001"));
    EXPECT_EQ(LoggerSampleValueText(1500, -128, c), QStringLiteral("0.000000000"));
    EXPECT_EQ(LoggerSampleValueText(-1, -10, c), QStringLiteral("0.000000000"));

    LoggerSampleSet set = Set();
    set.exponent = -2;
    set.samples[0] = -150;
    EXPECT_EQ(Fields(LoggerExportLines(Data({Block(Header(kChristmas, 1), {set})})).value(1)).value(1),
              QStringLiteral("-1,50"));
}

TEST(LoggerExportLines, BlocksTheInstrumentMarksUnreadableGiveNoLines)
{
    LoggerBlockHeader fiveSets = Header(kChristmas, 15, 5);
    LoggerBlockHeader noSets = Header(kChristmas + 15 * kMinute, 15, 0);
    LoggerBlockHeader badState = Header(kChristmas + 30 * kMinute);
    badState.state = 2;
    const LoggerBlock good = Block(Header(kChristmas + 45 * kMinute), {Set()});
    // Sets that came with a block whose header forbids them are not written either.
    const QStringList lines = LoggerExportLines(
        Data({Block(fiveSets, {Set(), Set(), Set(), Set(), Set()}), Block(noSets, {}), Block(badState, {Set()}), good}));
    EXPECT_EQ(SampleLines(lines), 15);
    EXPECT_EQ(lines.value(0), kLoggerHeaderLine);
}

TEST(LoggerExportLines, MoreThanFifteenSamplesAreBoundedAtTheFifteenASetHolds)
{
    const LoggerBlock block = Block(Header(kChristmas, 200), {Set()});
    const QStringList lines = LoggerExportLines(Data({block, Block(Header(kChristmas + 15 * kMinute), {Set()})}));
    EXPECT_EQ(SampleLines(lines), 30);
    // Not fewer than 15: the following block, right on time, continues the section.
    EXPECT_EQ(lines.count(kLoggerSeparatorLine), 0);
}

TEST(LoggerSections, ABlockOffTheSampleSequenceOpensASection)
{
    // Where the first block's samples would go on: 15 minutes after its start.
    const std::int32_t next = kChristmas + 15 * kMinute;
    struct Case {
        const char *what;
        std::int32_t secondBlockStart;
        std::uint16_t interval;
        bool separator;
    };
    const Case cases[] = {
        {"back to back", next, kMinute, false},
        {"half an interval late", next + 30, kMinute, false},
        {"half an interval early", next - 30, kMinute, false},
        {"more than half an interval late", next + 31, kMinute, true},
        {"more than half an interval early", next - 31, kMinute, true},
        {"an hour without logging", next + 3600, kMinute, true},
        {"a day without logging", next + 86400, kMinute, true},
        {"the clock set back a day", next - 86400, kMinute, true},
        {"the same block again", kChristmas, kMinute, true},
    };
    for (const Case &c : cases) {
        const LoggerBlock first = Block(Header(kChristmas, 15, 1, kMinute), {Set()});
        const LoggerBlock second = Block(Header(c.secondBlockStart, 15, 1, c.interval), {Set()});
        const QStringList lines = LoggerExportLines(Data({first, second}));
        EXPECT_EQ(lines.count(kLoggerSeparatorLine), c.separator ? 1 : 0) << c.what;
        EXPECT_EQ(lines.indexOf(kLoggerSeparatorLine), c.separator ? 16 : -1) << c.what;
    }
}

TEST(LoggerSections, TheComparisonIsInSecondsWithTheNewBlocksHalfInterval)
{
    const std::int64_t expected = 1000000;
    EXPECT_FALSE(BreaksSampleSequence(1000000, expected, 60));
    EXPECT_FALSE(BreaksSampleSequence(1000030, expected, 60));
    EXPECT_TRUE(BreaksSampleSequence(1000031, expected, 60));
    EXPECT_FALSE(BreaksSampleSequence(1000150, expected, 300));
    EXPECT_TRUE(BreaksSampleSequence(1000151, expected, 300));
    // A one-second gap matters once the interval is one second.
    EXPECT_FALSE(BreaksSampleSequence(1000000, expected, 1));
    EXPECT_TRUE(BreaksSampleSequence(1000001, expected, 1));
    // Distances beyond what 32 bits hold do not wrap into a small one.
    EXPECT_TRUE(BreaksSampleSequence(-2147483647 - 1, std::int64_t{2147483647} + 60, 60));
}

TEST(LoggerSections, SkippedBlocksLeaveAGapThatTheNextBlockShows)
{
    // Block 2 is unreadable: block 3 does not go on from block 1's samples.
    LoggerBlockHeader skipped = Header(kChristmas + 15 * kMinute);
    skipped.state = 0;
    const QStringList lines = LoggerExportLines(Data({Block(Header(kChristmas), {Set()}), Block(skipped, {}),
                                                      Block(Header(kChristmas + 30 * kMinute), {Set()})}));
    EXPECT_EQ(lines.count(kLoggerSeparatorLine), 1);
    EXPECT_EQ(lines.indexOf(kLoggerSeparatorLine), 16);

    // Blocks before the first written sample give nothing to compare with.
    LoggerBlockHeader empty = Header(kChristmas - 86400);
    empty.setCount = 0;
    const QStringList late = LoggerExportLines(Data({Block(empty, {}), Block(Header(kChristmas), {Set()})}));
    EXPECT_EQ(late.count(kLoggerSeparatorLine), 0);
    EXPECT_EQ(SampleLines(late), 15);
}

TEST(LoggerSampleTimes, FollowTheBlocksTimeBaseInThirtyTwoBitSeconds)
{
    const LoggerBlockHeader header = Header(kChristmas, 15, 1, 300);
    EXPECT_EQ(LoggerSampleTime(header, 0), kChristmas);
    EXPECT_EQ(LoggerSampleTime(header, 14), kChristmas + 14 * 300);
    const LoggerBlockHeader wrapping = Header(2147483647 - 10, 15, 1, 60);
    EXPECT_EQ(LoggerSampleTime(wrapping, 1), -2147483647 - 1 + 49);
}

TEST(LoggerExportFile, BytesAreEightBitLinesEndedByCrLf)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    LoggerExportData data = Data({Block(Header(kChristmas, 2), {Set(7)})});
    data.gasTexts[GasTextKey(0, 1)] = QStringLiteral("\u00b5g/m\u00b3 O\u2083");
    const QString path = directory.filePath(QStringLiteral("Logger.csv"));
    const ExportResult result = WriteLoggerExport(path, data);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray expected = "Date/Time;Value;Gas;Alarm;\r\n"
                                "24.12.2008 13:45:00;7;\xb5g/m\xb3 O?; ;\r\n"
                                "24.12.2008 13:46:00;8;\xb5g/m\xb3 O?; ;\r\n";
    EXPECT_EQ(file.readAll(), expected);
}

TEST(LoggerExportFile, AFileThatCannotBeWrittenLeavesTheOldOneAndSaysSo)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString missingFolder = directory.filePath(QStringLiteral("gone/Logger.csv"));
    const ExportResult result = WriteLoggerExport(missingFolder, Data({Block(Header(kChristmas), {Set()})}));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Cannot create file "))) << result.message.toStdString();
    EXPECT_FALSE(QFile::exists(missingFolder));
}
