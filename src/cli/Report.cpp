#include "Report.h"

#include "FeatureGates.h"
#include "Formats.h"
#include "GasTable.h"

#include <QFile>
#include <QJsonArray>

#include <algorithm>
#include <array>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace r310::cli {

namespace {

const std::array<const char *, kAlarmCount> kAlarmNames{{"A1", "A2", "A3", "STEL", "TWA"}};

QString Item(const std::array<const char *, 4> &items, int index)
{
    return index >= 0 && index < static_cast<int>(items.size()) ? QString::fromLatin1(items[index]) : QString();
}

QString WithUnit(const QString &text, const char *unit)
{
    return text + QLatin1Char(' ') + QLatin1String(unit);
}

QString Gated(bool enabled, bool value, std::int32_t fromVersion)
{
    return enabled ? YesNo(value)
                   : QStringLiteral("not available (software version before %1)").arg(FormatSoftwareVersion(fromVersion));
}

QJsonObject Choice(int index, const std::array<const char *, 4> &items)
{
    return QJsonObject{{QStringLiteral("index"), index}, {QStringLiteral("text"), Item(items, index)}};
}

} // namespace

QString VisibleText(const QString &text)
{
    const auto isControl = [](char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return isControl(c.unicode()) || c == u'\\'; }))
        return text;
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == u'\\')
            shown += QStringLiteral("\\\\");
        else if (isControl(c.unicode()))
            shown += QStringLiteral("\\x%1").arg(static_cast<uint>(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

namespace {

bool IsTerminal(const QTextStream &stream)
{
    const auto *file = qobject_cast<const QFile *>(stream.device());
    if (!file || file->handle() < 0)
        return false;
#ifdef Q_OS_WIN
    return _isatty(file->handle()) != 0;
#else
    return isatty(file->handle()) != 0;
#endif
}

} // namespace

ProgressLine::ProgressLine(QTextStream &err, const QString &prefix)
    : err_(err), prefix_(prefix), shown_(IsTerminal(err))
{
}

void ProgressLine::Show(const QString &text)
{
    if (!shown_)
        return;
    const QString line = prefix_ + text;
    err_ << '\r' << line.leftJustified(width_) << Qt::flush;
    width_ = std::max(width_, static_cast<int>(line.size()));
}

void ProgressLine::Clear()
{
    if (!shown_ || width_ == 0)
        return;
    err_ << '\r' << QString(width_, u' ') << '\r' << Qt::flush;
    width_ = 0;
}

QByteArray TerminalJson(const QJsonDocument &document, QJsonDocument::JsonFormat format)
{
    const QByteArray json = document.toJson(format);
    QByteArray safe;
    safe.reserve(json.size());
    const auto escape = [&safe](unsigned code) {
        safe += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0')).toLatin1();
    };
    // DEL and the two-byte UTF-8 forms C2 80..C2 9F can only stand inside
    // strings, so replacing them keeps the document valid.
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        if (byte == 0x7F) {
            escape(byte);
        } else if (byte == 0xC2 && i + 1 < json.size()
                   && static_cast<unsigned char>(json[i + 1]) >= 0x80
                   && static_cast<unsigned char>(json[i + 1]) <= 0x9F) {
            escape(static_cast<unsigned char>(json[i + 1]));
            ++i;
        } else {
            safe += json[i];
        }
    }
    return safe;
}

void PrintFields(QTextStream &out, const Fields &fields, int indent)
{
    int width = 0;
    for (const Field &field : fields)
        width = std::max(width, static_cast<int>(field.label.size()));
    const QString margin(indent, QLatin1Char(' '));
    for (const Field &field : fields)
        out << margin << (field.label + QLatin1Char(':')).leftJustified(width + 3) << VisibleText(field.value) << '\n';
}

void PrintSection(QTextStream &out, const QString &heading, const Fields &fields)
{
    out << heading << '\n';
    PrintFields(out, fields, 2);
}

QString YesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString Hex(const std::vector<std::uint8_t> &bytes)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())).toHex(' '));
}

QString ValueWithGas(const QString &valueText, const QString &gasText)
{
    return gasText.trimmed().isEmpty() ? valueText : valueText + QLatin1Char(' ') + gasText;
}

Fields IdentityFields(const IdentityValues &identity)
{
    return {
        {QStringLiteral("Serial number"), identity.serialNumberText},
        {QStringLiteral("MK type"), identity.mkTypeText},
        {QStringLiteral("MK serial number"), identity.mkSerialNumberText},
        {QStringLiteral("Software version"), identity.softwareVersionText},
        {QStringLiteral("Customer ID"), identity.customerId},
        {QStringLiteral("Battery check"), identity.batteryText},
    };
}

Fields ClockFields(const ClockValues &clock)
{
    return {
        {QStringLiteral("Instrument time"), clock.instrumentText},
        {QStringLiteral("PC time"), clock.pcText},
    };
}

Fields RangeFields(const RangeAlarmSettings &range, const IdentityValues *identity, const MeasuredValue *value)
{
    Fields fields;
    if (identity) {
        fields.push_back({QStringLiteral("MK type"), identity->mkTypeText});
        fields.push_back({QStringLiteral("MK serial number"), identity->mkSerialNumberText});
    }
    fields.push_back({QStringLiteral("Gas"), ValueWithGas(range.rangeEndText, range.gasText)});
    fields.push_back({QStringLiteral("U-ZP"), WithUnit(range.zeroPointVoltageText, "mV")});
    fields.push_back({QStringLiteral("U-FS"), WithUnit(range.fullScaleVoltageText, "mV")});
    if (value)
        fields.push_back({QStringLiteral("Value"), ValueWithGas(value->text, range.gasText)});
    fields.push_back({QStringLiteral("CAL gas"), range.calibrationGasText});
    return fields;
}

void PrintAlarmTable(QTextStream &out, const RangeAlarmSettings &range, int indent)
{
    const QString margin(indent, QLatin1Char(' '));
    int width = 5;
    for (const AlarmLimit &limit : range.limits)
        width = std::max(width, static_cast<int>(VisibleText(limit.text).size()));
    out << margin << QStringLiteral("Alarm").leftJustified(6) << QStringLiteral("Limit").rightJustified(width)
        << "  fall below  Latching  allowed honk off\n";
    for (int i = 0; i < kAlarmCount; ++i) {
        const AlarmLimit &limit = range.limits[static_cast<std::size_t>(i)];
        out << margin << QString::fromLatin1(kAlarmNames[static_cast<std::size_t>(i)]).leftJustified(6)
            << VisibleText(limit.text).rightJustified(width) << "  " << YesNo(limit.flags.fallBelow).leftJustified(12)
            << YesNo(limit.flags.latching).leftJustified(10) << YesNo(limit.flags.hornMayBeSilenced) << '\n';
    }
}

Fields SignalFields(const SignalSettings &s)
{
    return {
        {QStringLiteral("Confidence Bleep"), Item(kSignalModeItems, s.confidenceBleep)},
        {QStringLiteral("Vibrator"), Item(kVibratorModeItems, s.vibrator)},
        {QStringLiteral("Key Response"), Item(kSignalModeItems, s.keyResponse)},
        {QStringLiteral("Sensor warm-up"), Item(kSignalModeItems, s.warmUpSignal)},
        {QStringLiteral("Beep"), WithUnit(s.bleepIntervalText, "Sec.")},
        {QStringLiteral("Date format"), Item(kDateFormatItems, s.dateFormat)},
        {QStringLiteral("Wake-up"), Item(kWakeUpModeItems, s.wakeUpMode)},
        {QStringLiteral("12h Time"), YesNo(s.clock12h)},
        {QStringLiteral("Show Time"), YesNo(s.showTime)},
        {QStringLiteral("Show Seconds"), YesNo(s.showSeconds)},
        {QStringLiteral("Bump Alarm Enabled"), YesNo(s.bumpAlarm)},
        {QStringLiteral("Delta Bump Days"), s.bumpIntervalText},
        {QStringLiteral("Bump Info"), s.bumpInfoText},
        {QStringLiteral("Next Bump"), s.nextBumpDateText},
        {QStringLiteral("Delta Cal Days"), s.calibrationIntervalText},
        {QStringLiteral("Next Cal"), s.nextCalibrationDateText},
    };
}

Fields HardwareFields(const HardwareSettings &h, const FeatureGates &gates)
{
    return {
        {QStringLiteral("Zero point"), WithUnit(h.zeroPointText, "mV")},
        {QStringLiteral("Gain"), h.gainText},
        {QStringLiteral("Reference Voltage"), WithUnit(h.referenceVoltageText, "mV")},
        {QStringLiteral("Service over Keyboard"), YesNo(h.serviceOverKeyboard)},
        {QStringLiteral("Vibrator disable"), YesNo(h.vibratorDisabled)},
        {QStringLiteral("Enable only Key Test"), YesNo(h.onlyTestKey)},
        {QStringLiteral("Data safety mode"), Gated(gates.safetyOptionsEnabled, h.dataSafety, kSafetyOptionsFromVersion)},
        {QStringLiteral("Use best resolution from Sensor"),
         Gated(gates.safetyOptionsEnabled, h.bestResolution, kSafetyOptionsFromVersion)},
        {QStringLiteral("Add TWA (min,max) Value to Display"),
         Gated(gates.displayModeEnabled, h.displayMode, kDisplayModeFromVersion)},
    };
}

QJsonObject IdentityJson(const IdentityValues &id)
{
    return {
        {QStringLiteral("serialNumber"), id.serialNumber},
        {QStringLiteral("serialNumberText"), id.serialNumberText},
        {QStringLiteral("mkType"), id.mkType},
        {QStringLiteral("mkTypeText"), id.mkTypeText},
        {QStringLiteral("mkSerialNumber"), id.mkSerialNumber},
        {QStringLiteral("softwareVersion"), id.softwareVersion},
        {QStringLiteral("softwareVersionText"), id.softwareVersionText},
        {QStringLiteral("customerId"), id.customerId},
        {QStringLiteral("batteryPercent"), id.batteryPercent},
        {QStringLiteral("batteryText"), id.batteryText},
    };
}

QJsonObject GatesJson(const FeatureGates &g)
{
    return {
        {QStringLiteral("eventPropertiesTab"), g.eventPropertiesTabVisible},
        {QStringLiteral("dataloggingTab"), g.dataloggingTabVisible},
        {QStringLiteral("maxEventsEditable"), g.maxEventsEditable},
        {QStringLiteral("safetyOptions"), g.safetyOptionsEnabled},
        {QStringLiteral("displayMode"), g.displayModeEnabled},
    };
}

QJsonObject ClockJson(const ClockValues &clock, std::int64_t differenceSeconds)
{
    return {
        {QStringLiteral("instrumentSeconds"), static_cast<qint64>(clock.rawSeconds)},
        {QStringLiteral("instrumentText"), clock.instrumentText},
        {QStringLiteral("pcText"), clock.pcText},
        {QStringLiteral("pcTime"), clock.pcTime.toString(Qt::ISODate)},
        {QStringLiteral("differenceSeconds"), static_cast<qint64>(differenceSeconds)},
    };
}

QJsonObject ValueJson(const MeasuredValue &value, const RangeAlarmSettings *range, const GasTable &gasTable)
{
    QJsonObject json{
        {QStringLiteral("raw"), value.raw},
        {QStringLiteral("rangeValue"), value.rangeValue},
        {QStringLiteral("value"), value.value},
        {QStringLiteral("decimals"), value.decimals},
        {QStringLiteral("text"), value.text},
    };
    if (range) {
        json.insert(QStringLiteral("unit"), gasTable.GasUnitText(range->unitCode));
        json.insert(QStringLiteral("gas"), gasTable.GasNameText(range->gasCode));
        json.insert(QStringLiteral("gasText"), range->gasText);
    }
    return json;
}

QJsonObject RangeJson(const RangeAlarmSettings &r, const GasTable &gasTable)
{
    QJsonArray alarms;
    for (int i = 0; i < kAlarmCount; ++i) {
        const AlarmLimit &limit = r.limits[static_cast<std::size_t>(i)];
        alarms.append(QJsonObject{
            {QStringLiteral("name"), QString::fromLatin1(kAlarmNames[static_cast<std::size_t>(i)])},
            {QStringLiteral("raw"), limit.raw},
            {QStringLiteral("text"), limit.text},
            {QStringLiteral("flags"), limit.flags.toByte()},
            {QStringLiteral("fallBelow"), limit.flags.fallBelow},
            {QStringLiteral("latching"), limit.flags.latching},
            {QStringLiteral("hornMayBeSilenced"), limit.flags.hornMayBeSilenced},
        });
    }
    return {
        {QStringLiteral("rangeBegin"), r.rangeBegin},
        {QStringLiteral("rangeEnd"), r.rangeEnd},
        {QStringLiteral("rangeEndText"), r.rangeEndText},
        {QStringLiteral("exponent"), r.exponent},
        {QStringLiteral("decimals"), r.decimals},
        {QStringLiteral("gasCode"), r.gasCode},
        {QStringLiteral("unitCode"), r.unitCode},
        {QStringLiteral("gas"), gasTable.GasNameText(r.gasCode)},
        {QStringLiteral("unit"), gasTable.GasUnitText(r.unitCode)},
        {QStringLiteral("gasText"), r.gasText},
        {QStringLiteral("alarms"), alarms},
        {QStringLiteral("calibrationGas"), r.calibrationGas},
        {QStringLiteral("calibrationGasText"), r.calibrationGasText},
        {QStringLiteral("zeroPointVoltage"), r.zeroPointVoltage},
        {QStringLiteral("zeroPointVoltageText"), r.zeroPointVoltageText},
        {QStringLiteral("fullScaleVoltage"), r.fullScaleVoltage},
        {QStringLiteral("fullScaleVoltageText"), r.fullScaleVoltageText},
        {QStringLiteral("voltageUnit"), QStringLiteral("mV")},
    };
}

QJsonObject SignalsJson(const SignalSettings &s)
{
    return {
        {QStringLiteral("confidenceBleep"), Choice(s.confidenceBleep, kSignalModeItems)},
        {QStringLiteral("vibrator"), Choice(s.vibrator, kVibratorModeItems)},
        {QStringLiteral("keyResponse"), Choice(s.keyResponse, kSignalModeItems)},
        {QStringLiteral("warmUpSignal"), Choice(s.warmUpSignal, kSignalModeItems)},
        {QStringLiteral("bleepIntervalSeconds"), s.bleepIntervalSeconds},
        {QStringLiteral("bleepIntervalText"), s.bleepIntervalText},
        {QStringLiteral("dateFormat"), Choice(s.dateFormat, kDateFormatItems)},
        {QStringLiteral("wakeUp"), Choice(s.wakeUpMode, kWakeUpModeItems)},
        {QStringLiteral("clock12h"), s.clock12h},
        {QStringLiteral("showTime"), s.showTime},
        {QStringLiteral("showSeconds"), s.showSeconds},
        {QStringLiteral("bumpAlarm"), s.bumpAlarm},
        {QStringLiteral("calibrationAlarm"), s.calibrationAlarm},
        {QStringLiteral("bumpIntervalDays"), s.bumpIntervalDays},
        {QStringLiteral("calibrationIntervalDays"), s.calibrationIntervalDays},
        {QStringLiteral("bumpInfo"), s.bumpInfo},
        {QStringLiteral("bumpInfoText"), s.bumpInfoText},
        {QStringLiteral("nextBumpDay"), s.nextBumpDay},
        {QStringLiteral("nextBumpDateText"), s.nextBumpDateText},
        {QStringLiteral("nextCalibrationDay"), s.nextCalibrationDay},
        {QStringLiteral("nextCalibrationDateText"), s.nextCalibrationDateText},
    };
}

QJsonObject HardwareJson(const HardwareSettings &h, const FeatureGates &gates)
{
    const auto gated = [](bool enabled, bool value) { return enabled ? QJsonValue(value) : QJsonValue(); };
    return {
        {QStringLiteral("zeroPoint"), h.zeroPoint},
        {QStringLiteral("zeroPointText"), h.zeroPointText},
        {QStringLiteral("gain"), h.gain},
        {QStringLiteral("gainText"), h.gainText},
        {QStringLiteral("referenceVoltage"), h.referenceVoltage},
        {QStringLiteral("referenceVoltageText"), h.referenceVoltageText},
        {QStringLiteral("voltageUnit"), QStringLiteral("mV")},
        {QStringLiteral("options"), h.options},
        {QStringLiteral("serviceOverKeyboard"), h.serviceOverKeyboard},
        {QStringLiteral("vibratorDisabled"), h.vibratorDisabled},
        {QStringLiteral("onlyTestKey"), h.onlyTestKey},
        // null where the software version keeps the option unavailable
        {QStringLiteral("dataSafety"), gated(gates.safetyOptionsEnabled, h.dataSafety)},
        {QStringLiteral("bestResolution"), gated(gates.safetyOptionsEnabled, h.bestResolution)},
        {QStringLiteral("displayMode"), gated(gates.displayModeEnabled, h.displayMode)},
    };
}

QJsonObject ObjectPayloadJson(std::uint8_t object, const std::vector<std::uint8_t> &payload)
{
    return {
        {QStringLiteral("object"), object},
        {QStringLiteral("payload"), Hex(payload)},
    };
}

} // namespace r310::cli
