// The event log's records and lines: the counters of object 35, the payload
// "Clear" writes and the maximum it may send, the table a download fills,
// and the export lines in German and English regional settings.
#include "EventLog.h"
#include "ExportFile.h"
#include "Formats.h"
#include "QStringPrinting.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace r310;
using namespace r310::logs;

namespace {

// Seconds since 1980-01-01 00:00 of a wall-clock date and time, counted apart
// from the product's date routines.
std::int32_t InstrumentSecondsOf(int year, int month, int day, int hour, int minute, int second)
{
    const QDateTime base(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime at(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return static_cast<std::int32_t>(base.secsTo(at));
}

void PutU16(EventRecordBytes &p, int offset, std::uint16_t v)
{
    p[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(v & 0xFF);
    p[static_cast<std::size_t>(offset) + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(EventRecordBytes &p, int offset, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

EventRecordBytes AlarmEvent(std::uint8_t type, std::int32_t time, std::int8_t exponent, std::int16_t value,
                            std::int16_t stel, std::int16_t twa, std::uint8_t battery, std::uint8_t gas = 1,
                            std::uint8_t unit = 0)
{
    EventRecordBytes p{};
    p[2] = type;
    PutU32(p, 4, static_cast<std::uint32_t>(time));
    p[8] = gas;
    p[9] = unit;
    p[10] = static_cast<std::uint8_t>(exponent);
    PutU16(p, 11, static_cast<std::uint16_t>(value));
    PutU16(p, 13, static_cast<std::uint16_t>(stel));
    PutU16(p, 15, static_cast<std::uint16_t>(twa));
    p[17] = battery;
    return p;
}

EventRecordBytes DeviceEvent(std::uint8_t type, std::int32_t time, std::uint8_t battery, std::uint16_t mkType,
                             std::uint16_t mkSerial)
{
    EventRecordBytes p{};
    p[2] = type;
    PutU32(p, 4, static_cast<std::uint32_t>(time));
    p[8] = battery;
    PutU16(p, 9, mkType);
    PutU16(p, 11, mkSerial);
    // Bytes an alarm event would read: they must not show in a device line.
    p[17] = 99;
    return p;
}

EventLineFormat Format(const QLocale &locale)
{
    return {locale, [](std::uint8_t unit, std::uint8_t gas) {
                return QStringLiteral("U%1 G%2").arg(unit).arg(gas);
            }};
}

const QLocale kGerman(QLocale::German, QLocale::Germany);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

QString LineOf(const EventRecordBytes &event, int number, const QLocale &locale)
{
    QStringList lines;
    FormatEventLine(event, lines, number, Format(locale));
    return lines.size() == 2 ? lines.at(1) : QStringLiteral("<%1 lines>").arg(lines.size());
}

AnswerFrame Answer(std::uint8_t object, std::vector<std::uint8_t> payload, std::uint8_t flags = kFlagsDataAnswer)
{
    AnswerFrame frame;
    frame.object = object;
    frame.flags = flags;
    frame.payload = std::move(payload);
    return frame;
}

TEST(EventLines, AlarmAndDeviceLinesInGermanSettings)
{
    const EventRecordBytes alarm = AlarmEvent(1, InstrumentSecondsOf(2008, 12, 24, 13, 45, 10), -1, 200, 55, 12, 85);
    const EventRecordBytes off = DeviceEvent(20, InstrumentSecondsOf(2008, 12, 24, 14, 0, 0), 80, 123, 4711);
    QStringList lines;
    FormatEventLine(alarm, lines, 0, Format(kGerman));
    FormatEventLine(off, lines, 1, Format(kGerman));
    EXPECT_EQ(lines, (QStringList{QStringLiteral("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK"),
                                  QStringLiteral("0;24.12.2008 13:45:10;A1 ON;20,0;5,5;1,2;U0 G1;85%; ;"),
                                  QStringLiteral("1;24.12.2008 14:00:00;Dev-OFF; ; ; ; ;80%;001-23 4711;")}));
}

TEST(EventLines, AlarmAndDeviceLinesInEnglishSettings)
{
    const EventRecordBytes alarm = AlarmEvent(12, InstrumentSecondsOf(2008, 12, 24, 13, 45, 10), -1, 200, 55, 12, 85);
    const EventRecordBytes on = DeviceEvent(19, InstrumentSecondsOf(2008, 12, 24, 14, 0, 0), 80, 12345, 7);
    // The user's own short date and long time, as the window shows them.
    const QString date = kEnglish.toString(QDate(2008, 12, 24), ShortDateFormat(kEnglish));
    const QString alarmTime = kEnglish.toString(QTime(13, 45, 10), LongTimeFormat(kEnglish));
    const QString onTime = kEnglish.toString(QTime(14, 0, 0), LongTimeFormat(kEnglish));
    EXPECT_EQ(date, QStringLiteral("12/24/2008"));
    EXPECT_TRUE(alarmTime.startsWith(QStringLiteral("1:45:10")) && alarmTime.endsWith(QStringLiteral("PM")))
        << alarmTime.toStdString();
    EXPECT_EQ(LineOf(alarm, 5, kEnglish),
              QStringLiteral("5;%1 %2;A4 OFF;20.0;5.5;1.2;U0 G1;85%; ;").arg(date, alarmTime));
    EXPECT_EQ(LineOf(on, 6, kEnglish), QStringLiteral("6;%1 %2;Dev-ON; ; ; ; ;80%;123-45 7;").arg(date, onTime));
}

TEST(EventLines, EveryAlarmTypeHasItsText)
{
    for (std::uint8_t type = 1; type <= 5; ++type)
        EXPECT_EQ(EventTypeText(type), QStringLiteral("A%1 ON").arg(type));
    for (std::uint8_t type = 9; type <= 13; ++type)
        EXPECT_EQ(EventTypeText(type), QStringLiteral("A%1 OFF").arg(type - 8));
    for (const std::uint8_t type : {0, 6, 7, 8, 14, 18, 21, 255})
        EXPECT_TRUE(EventTypeText(type).isEmpty()) << int(type);
}

TEST(EventLines, UnknownTypeEndsAfterDateAndTime)
{
    EventRecordBytes odd = AlarmEvent(7, InstrumentSecondsOf(2008, 12, 24, 13, 45, 10), -1, 200, 55, 12, 85);
    EXPECT_EQ(LineOf(odd, 3, kGerman), QStringLiteral("3;24.12.2008 13:45:10;"));
    odd[2] = 0;
    EXPECT_EQ(LineOf(odd, 0, kGerman), QStringLiteral("0;24.12.2008 13:45:10;"));
}

TEST(EventLines, ExponentChoosesFactorAndDecimals)
{
    const std::int32_t t = InstrumentSecondsOf(2010, 1, 2, 3, 4, 5);
    // -1: 205 -> 20.5 with one decimal; 0: plain; 2: 3 -> 300 without decimals.
    EXPECT_EQ(LineOf(AlarmEvent(1, t, -1, 205, -7, 0, 50), 0, kEnglish).section(u';', 3, 5),
              QStringLiteral("20.5;-0.7;0.0"));
    EXPECT_EQ(LineOf(AlarmEvent(1, t, 0, 205, -7, 0, 50), 0, kEnglish).section(u';', 3, 5),
              QStringLiteral("205;-7;0"));
    EXPECT_EQ(LineOf(AlarmEvent(1, t, 2, 3, 32767, -32768, 50), 0, kGerman).section(u';', 3, 5),
              QStringLiteral("300;3276700;-3276800"));
    EXPECT_EQ(LineOf(AlarmEvent(1, t, -3, 1234, 5, 0, 50), 0, kGerman).section(u';', 3, 5),
              QStringLiteral("1,234;0,005;0,000"));
}

TEST(EventLines, ExponentOfADamagedRecordIsBounded)
{
    const std::int32_t t = InstrumentSecondsOf(2010, 1, 2, 3, 4, 5);
    EXPECT_EQ(EventValueDecimals(-128), kMaxEventValueDecimals);
    EXPECT_EQ(EventValueDecimals(-2), 2);
    EXPECT_EQ(EventValueDecimals(5), 0);
    const QString line = LineOf(AlarmEvent(1, t, -128, 100, 0, 0, 50), 0, kEnglish);
    EXPECT_EQ(line.section(u';', 3, 3), QStringLiteral("0.") + QString(kMaxEventValueDecimals, u'0'));
    EXPECT_LT(line.size(), 120) << line.toStdString();
    // A large positive exponent gives a value beyond 7 digits: scientific, no decimals asked for.
    EXPECT_EQ(LineOf(AlarmEvent(1, t, 127, 1, 0, 0, 50), 0, kEnglish).section(u';', 3, 3),
              QStringLiteral("1.000000E+127"));
}

TEST(EventLines, BatteryComesFromItsOwnByteForEachKind)
{
    const std::int32_t t = InstrumentSecondsOf(2010, 1, 2, 3, 4, 5);
    EventRecordBytes alarm = AlarmEvent(2, t, 0, 1, 2, 3, 61, 33, 44);
    EXPECT_EQ(LineOf(alarm, 0, kEnglish).section(u';', 6), QStringLiteral("U44 G33;61%; ;"));
    const EventRecordBytes device = DeviceEvent(19, t, 42, 101, 65535);
    EXPECT_EQ(LineOf(device, 0, kEnglish).section(u';', 2), QStringLiteral("Dev-ON; ; ; ; ;42%;001-01 65535;"));
}

TEST(EventTables, LinesCountFromZeroAndLeaveOutEventsNotRead)
{
    EventTable table;
    table.Prepare(4);
    ASSERT_EQ(table.size(), 4);
    EXPECT_EQ(table.filledCount(), 0);
    const std::int32_t t = InstrumentSecondsOf(2008, 12, 24, 13, 45, 10);
    const EventRecordBytes alarm = AlarmEvent(1, t, -1, 200, 55, 12, 85);
    const EventRecordBytes off = DeviceEvent(20, t, 80, 123, 4711);
    const std::vector<std::uint8_t> first(alarm.begin(), alarm.end());
    const std::vector<std::uint8_t> third(off.begin(), off.end());
    EXPECT_TRUE(table.Fill(0, Answer(kObjectEventRecord, first)));
    EXPECT_TRUE(table.Fill(2, Answer(kObjectEventRecord, third)));
    EXPECT_EQ(table.MissingIndices(), (std::vector<int>{1, 3}));

    const QStringList lines = EventExportLines(table, Format(kGerman));
    EXPECT_EQ(lines, (QStringList{kEventHeaderLine, QStringLiteral("0;24.12.2008 13:45:10;A1 ON;20,0;5,5;1,2;U0 G1;85%; ;"),
                                  QStringLiteral("2;24.12.2008 13:45:10;Dev-OFF; ; ; ; ;80%;001-23 4711;")}));
    // The file: CR LF after every line, the last included, no byte-order mark.
    const QByteArray bytes = EncodeExportLines(lines);
    EXPECT_TRUE(bytes.startsWith("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK\r\n0;"));
    EXPECT_TRUE(bytes.endsWith("001-23 4711;\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 3);
}

TEST(EventTables, EntryIsEmptyUnlessAWholeEventCameForIt)
{
    EventTable table;
    table.Prepare(2);
    std::vector<std::uint8_t> event(18, 0);
    event[2] = 19;
    ASSERT_TRUE(table.Fill(1, Answer(kObjectEventRecord, event)));
    // A short answer, another object or another flags value empties the entry.
    EXPECT_FALSE(table.Fill(1, Answer(kObjectEventRecord, std::vector<std::uint8_t>(17, 0))));
    EXPECT_FALSE(table.at(1).has_value());
    ASSERT_TRUE(table.Fill(1, Answer(kObjectEventRecord, event)));
    EXPECT_FALSE(table.Fill(1, Answer(kObjectEventProperties, event)));
    EXPECT_FALSE(table.at(1).has_value());
    EXPECT_FALSE(table.Fill(1, Answer(kObjectEventRecord, event, 0x80)));
    AnswerFrame damaged = Answer(kObjectEventRecord, event);
    damaged.intact = false;
    EXPECT_FALSE(table.Fill(1, damaged));
    // Nothing reaches beyond the table.
    EXPECT_FALSE(table.Fill(2, Answer(kObjectEventRecord, event)));
    EXPECT_FALSE(table.Fill(-1, Answer(kObjectEventRecord, event)));
    table.Empty(5);
    EXPECT_EQ(table.size(), 2);

    // Preparing the next download empties what the last one left.
    ASSERT_TRUE(table.Fill(0, Answer(kObjectEventRecord, event)));
    table.Prepare(3);
    EXPECT_EQ(table.filledCount(), 0);
    table.Prepare(70000);
    EXPECT_EQ(table.size(), EventTable::kMaxEntries);
    table.Prepare(-5);
    EXPECT_EQ(table.size(), 0);
    EXPECT_EQ(EventExportLines(table, Format(kGerman)), QStringList{kEventHeaderLine});
}

TEST(EventProperties, CountersFromObject35)
{
    const auto properties = DecodeEventProperties(Answer(kObjectEventProperties, {0x10, 0x00, 0x78, 0x00, 0x03, 0x00,
                                                                                   0x01, 0x02}));
    ASSERT_TRUE(properties.has_value());
    EXPECT_EQ(properties->position, 16);
    EXPECT_EQ(properties->count, 120);
    EXPECT_EQ(properties->thirdCounter, 3);
    EXPECT_EQ(properties->maxEvents, 513);
    const EventPropertiesTexts texts = EventPropertiesText(*properties);
    EXPECT_EQ(texts.position, QStringLiteral("16"));
    EXPECT_EQ(texts.count, QStringLiteral("120"));
    EXPECT_EQ(texts.thirdCounter, QStringLiteral("3"));
    EXPECT_EQ(texts.maxEvents, QStringLiteral("513"));

    EXPECT_FALSE(DecodeEventProperties(Answer(kObjectEventProperties, {1, 2, 3, 4, 5, 6, 7})));
    EXPECT_FALSE(DecodeEventProperties(Answer(kObjectLoggerInfo, std::vector<std::uint8_t>(18, 1))));
    EXPECT_FALSE(DecodeEventProperties(Answer(kObjectEventProperties, std::vector<std::uint8_t>(8, 1), 0x80)));
}

TEST(EventClearing, PayloadCarriesTheMaximumAtBytesSixAndSeven)
{
    const auto payload = EventClearPayload(0x0201);
    const std::array<std::uint8_t, 12> expected{0, 0, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0};
    EXPECT_EQ(payload, expected);
}

TEST(EventClearing, MaximumIsTypedFrom211AndFixedBefore)
{
    const QString field = QStringLiteral("Max Events");
    // 2.10: always 192, whatever the field holds.
    for (const QString &text : {QStringLiteral("300"), QStringLiteral("abc"), QString()}) {
        const auto fixed = MaxEventsToSend(field, text, 210, kGerman);
        ASSERT_TRUE(fixed.ok());
        EXPECT_EQ(*fixed.value, 192);
    }
    const auto typed = MaxEventsToSend(field, QStringLiteral("300"), 211, kGerman);
    ASSERT_TRUE(typed.ok()) << typed.error.toStdString();
    EXPECT_EQ(*typed.value, 300);
    EXPECT_EQ(*MaxEventsToSend(field, QStringLiteral("513"), 221, kGerman).value, 513);
    EXPECT_EQ(*MaxEventsToSend(field, QStringLiteral("1"), 221, kGerman).value, 1);

    EXPECT_EQ(MaxEventsToSend(field, QStringLiteral("abc"), 211, kGerman).error,
              QStringLiteral("'abc' is not a valid integer value"));
    // Values that the 16-bit field or the instrument cannot hold are refused,
    // not cut to their low 16 bits.
    for (const QString &text : {QStringLiteral("0"), QStringLiteral("514"), QStringLiteral("65728"),
                                QStringLiteral("-1")}) {
        const auto refused = MaxEventsToSend(field, text, 211, kGerman);
        EXPECT_FALSE(refused.ok()) << text.toStdString();
        EXPECT_TRUE(refused.error.contains(QStringLiteral("Max Events"))) << refused.error.toStdString();
        EXPECT_TRUE(refused.error.contains(QStringLiteral("513"))) << refused.error.toStdString();
    }
}

TEST(EventFileNames, ProposalNamesSerialNumberAndDate)
{
    EXPECT_EQ(ProposedEventFileName(QStringLiteral("00001234"), QDate(2008, 12, 24)),
              QStringLiteral("Evt00001234_20081224"));
    EXPECT_EQ(ProposedEventFileName(QStringLiteral("12/34*?"), QDate(2008, 12, 24)),
              QStringLiteral("Evt1234_20081224"));
    EXPECT_EQ(ProposedEventFileName(QString(), QDate(2008, 12, 24)), QStringLiteral("Evt20081224"));
    EXPECT_FALSE(ProposedEventFileName(QStringLiteral("1"), QDate()).contains(u'*'));
}

TEST(EventFileNames, MissingEventsAreNamedByTheirNumberInTheFile)
{
    EXPECT_EQ(MissingEventsText({3, 16, 79}, 120),
              QStringLiteral("3 of 120 events could not be read and are not in the file: No 3, 16, 79."));
    EXPECT_EQ(MissingEventsText({0}, 1), QStringLiteral("1 of 1 event could not be read and is not in the file: No 0."));
    EXPECT_EQ(MissingEventsText({1, 2, 3, 4}, 9, 2),
              QStringLiteral("4 of 9 events could not be read and are not in the file: No 1, 2 and 2 more."));
}

} // namespace
