#include "EventLog.h"

#include "DecodedValues.h"
#include "FeatureGates.h"
#include "Formats.h"
#include "PayloadBytes.h"

#include <QDate>

#include <algorithm>

namespace r310::logs {

namespace {

// Offsets in an event record.
constexpr int kTypeOffset = 2;
constexpr int kTimeOffset = 4;
constexpr int kGasCodeOffset = 8;     // alarm events
constexpr int kUnitCodeOffset = 9;
constexpr int kExponentOffset = 10;
constexpr int kValueOffset = 11;
constexpr int kStelOffset = 13;
constexpr int kTwaOffset = 15;
constexpr int kAlarmBatteryOffset = 17;
constexpr int kDeviceBatteryOffset = 8; // device events
constexpr int kMkTypeOffset = 9;
constexpr int kMkSerialOffset = 11;
constexpr int kMaxEventsOffset = 6;   // in object 35, read and written

constexpr std::uint8_t kFirstAlarmOn = 1;
constexpr std::uint8_t kLastAlarmOn = 5;
constexpr std::uint8_t kFirstAlarmOff = 9;
constexpr std::uint8_t kLastAlarmOff = 13;
constexpr std::uint8_t kAlarmOffShift = 8;
constexpr std::uint8_t kDeviceOn = 19;
constexpr std::uint8_t kDeviceOff = 20;

bool IsAlarmEvent(std::uint8_t type)
{
    return (type >= kFirstAlarmOn && type <= kLastAlarmOn) || (type >= kFirstAlarmOff && type <= kLastAlarmOff);
}

bool IsDeviceEvent(std::uint8_t type)
{
    return type == kDeviceOn || type == kDeviceOff;
}

QString GasValueText(const EventRecordBytes &p, int offset, std::int8_t exponent, const QLocale &locale)
{
    return ValueText(ScaleByExponent(PayloadI16(p.data() + offset), exponent), EventValueDecimals(exponent), locale);
}

// Value, STEL, TWA, gas, battery and a blank MK column.
QString AlarmColumns(const EventRecordBytes &p, const EventLineFormat &format)
{
    const auto exponent = static_cast<std::int8_t>(p[kExponentOffset]);
    QString columns;
    for (const int offset : {kValueOffset, kStelOffset, kTwaOffset})
        columns += GasValueText(p, offset, exponent, format.locale) + u';';
    const QString gas = format.gasTexts ? format.gasTexts(p[kUnitCodeOffset], p[kGasCodeOffset]) : QStringLiteral(" ");
    columns += gas + u';';
    columns += QString::number(p[kAlarmBatteryOffset]) + QStringLiteral("%; ;");
    return columns;
}

// Blank value, STEL, TWA and gas columns, battery, MK type and serial number.
QString DeviceColumns(const EventRecordBytes &p)
{
    return QStringLiteral(" ; ; ; ;") + QString::number(p[kDeviceBatteryOffset]) + QStringLiteral("%;")
         + FormatMkType(PayloadU16(p.data() + kMkTypeOffset)) + u' '
         + QString::number(PayloadU16(p.data() + kMkSerialOffset)) + u';';
}

bool IsFileNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'-';
}

} // namespace

const QString kEventHeaderLine = QStringLiteral("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK");

std::optional<EventProperties> DecodeEventProperties(const AnswerFrame &frame)
{
    if (!frame.intact || frame.object != kObjectEventProperties || frame.flags != kFlagsDataAnswer
        || frame.payload.size() < static_cast<std::size_t>(kEventPropertiesSize))
        return std::nullopt;
    const std::uint8_t *p = frame.payload.data();
    return EventProperties{PayloadU16(p), PayloadU16(p + 2), PayloadU16(p + 4), PayloadU16(p + kMaxEventsOffset)};
}

EventPropertiesTexts EventPropertiesText(const EventProperties &properties)
{
    return {QString::number(properties.position), QString::number(properties.count),
            QString::number(properties.thirdCounter), QString::number(properties.maxEvents)};
}

std::array<std::uint8_t, kEventClearSize> EventClearPayload(std::uint16_t maxEvents)
{
    std::array<std::uint8_t, kEventClearSize> payload{};
    payload[kMaxEventsOffset] = static_cast<std::uint8_t>(maxEvents & 0xFF);
    payload[kMaxEventsOffset + 1] = static_cast<std::uint8_t>(maxEvents >> 8);
    return payload;
}

Conversion<std::uint16_t> MaxEventsToSend(const QString &field, const QString &text,
                                          std::int32_t softwareVersion, const QLocale &locale)
{
    if (!GatesForVersion(softwareVersion).maxEventsEditable)
        return Conversion<std::uint16_t>::accepted(kFixedMaxEvents);
    const Conversion<std::int32_t> typed = IntegerInRange(field, text, kMinMaxEvents, kMaxMaxEvents, locale);
    if (!typed)
        return Conversion<std::uint16_t>::refused(typed.error);
    return Conversion<std::uint16_t>::accepted(static_cast<std::uint16_t>(*typed.value));
}

void EventTable::Prepare(int count)
{
    entries_.assign(static_cast<std::size_t>(std::clamp(count, 0, kMaxEntries)), std::nullopt);
}

bool EventTable::Fill(int index, const AnswerFrame &frame)
{
    if (index < 0 || index >= size())
        return false;
    std::optional<EventRecordBytes> &entry = entries_[static_cast<std::size_t>(index)];
    entry.reset();
    if (!frame.intact || frame.object != kObjectEventRecord || frame.flags != kFlagsDataAnswer
        || frame.payload.size() < static_cast<std::size_t>(kEventRecordSize))
        return false;
    EventRecordBytes bytes{};
    std::copy_n(frame.payload.begin(), kEventRecordSize, bytes.begin());
    entry = bytes;
    return true;
}

void EventTable::Take(int index, const std::optional<EventRecordBytes> &entry)
{
    if (index >= 0 && index < size())
        entries_[static_cast<std::size_t>(index)] = entry;
}

void EventTable::Empty(int index)
{
    if (index >= 0 && index < size())
        entries_[static_cast<std::size_t>(index)].reset();
}

int EventTable::filledCount() const
{
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const auto &e) { return e.has_value(); }));
}

std::vector<int> EventTable::MissingIndices() const
{
    std::vector<int> missing;
    for (int i = 0; i < size(); ++i) {
        if (!entries_[static_cast<std::size_t>(i)])
            missing.push_back(i);
    }
    return missing;
}

QString EventTypeText(std::uint8_t type)
{
    if (type >= kFirstAlarmOn && type <= kLastAlarmOn)
        return QStringLiteral("A%1 ON").arg(type);
    if (type >= kFirstAlarmOff && type <= kLastAlarmOff)
        return QStringLiteral("A%1 OFF").arg(type - kAlarmOffShift);
    if (type == kDeviceOn)
        return QStringLiteral("Dev-ON");
    if (type == kDeviceOff)
        return QStringLiteral("Dev-OFF");
    return {};
}

int EventValueDecimals(std::int8_t e)
{
    return std::min(DecimalsForExponent(e), kMaxEventValueDecimals);
}

void FormatEventLine(const EventRecordBytes &event, QStringList &lines, int lineNumber, const EventLineFormat &format)
{
    if (lines.isEmpty())
        lines.append(kEventHeaderLine);
    QString line = QString::number(lineNumber) + u';';
    line += InstrumentSecondsText(PayloadI32(event.data() + kTimeOffset), format.locale) + u';';
    const std::uint8_t type = event[kTypeOffset];
    if (IsAlarmEvent(type))
        line += EventTypeText(type) + u';' + AlarmColumns(event, format);
    else if (IsDeviceEvent(type))
        line += EventTypeText(type) + u';' + DeviceColumns(event);
    lines.append(line);
}

QStringList EventExportLines(const EventTable &table, const EventLineFormat &format)
{
    QStringList lines;
    for (int j = 0; j < table.size(); ++j) {
        if (const auto &event = table.at(j))
            FormatEventLine(*event, lines, j, format);
    }
    if (lines.isEmpty())
        lines.append(kEventHeaderLine);
    return lines;
}

QString ProposedEventFileName(const QString &serialNumberText, const QDate &date)
{
    QString serial;
    for (const QChar c : serialNumberText) {
        if (IsFileNameCharacter(c))
            serial += c;
    }
    QString name = QStringLiteral("Evt") + serial;
    if (date.isValid())
        name += (serial.isEmpty() ? QString() : QStringLiteral("_")) + date.toString(QStringLiteral("yyyyMMdd"));
    return name;
}

QString MissingEventsText(const std::vector<int> &missing, int count, int listed)
{
    QStringList numbers;
    for (std::size_t i = 0; i < missing.size() && static_cast<int>(i) < listed; ++i)
        numbers.append(QString::number(missing[i]));
    QString list = numbers.join(QStringLiteral(", "));
    if (static_cast<int>(missing.size()) > listed)
        list += QStringLiteral(" and %1 more").arg(static_cast<int>(missing.size()) - listed);
    const int n = static_cast<int>(missing.size());
    return QStringLiteral("%1 of %2 %3 could not be read and %4 not in the file: No %5.")
        .arg(n)
        .arg(count)
        .arg(count == 1 ? QStringLiteral("event") : QStringLiteral("events"))
        .arg(n == 1 ? QStringLiteral("is") : QStringLiteral("are"))
        .arg(list);
}

} // namespace r310::logs
