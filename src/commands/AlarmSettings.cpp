#include "AlarmSettings.h"

#include "Formats.h"

#include <algorithm>

namespace r310 {

namespace {

constexpr std::size_t kThresholdOffset = 8;
constexpr std::size_t kFlagsOffset = 18;
constexpr std::size_t kCalibrationGasOffset = 23;

void PutI16(std::vector<std::uint8_t> &bytes, std::size_t offset, std::int16_t value)
{
    const auto word = static_cast<std::uint16_t>(value);
    bytes[offset] = static_cast<std::uint8_t>(word & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(word >> 8);
}

} // namespace

const std::array<const char *, kAlarmCount> kAlarmFieldNames = {"A1", "A2", "A3", "STEL", "TWA"};
const char *const kCalibrationGasFieldName = "CAL Gas";

AlarmSettingsValues AlarmSettingsValues::FromDecoded(const RangeAlarmSettings &range)
{
    AlarmSettingsValues values;
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        values.thresholds[i] = range.limits[i].raw;
        values.flags[i] = range.limits[i].flags;
    }
    values.calibrationGas = range.calibrationGas;
    return values;
}

Conversion<AlarmSettingsValues> AlarmSettingsFromTexts(const AlarmSettingsTexts &texts, std::int8_t exponent,
                                                       const QLocale &locale)
{
    AlarmSettingsValues values;
    values.flags = texts.flags;
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        const Conversion<std::int16_t> raw =
            ExactGasValueToRaw(QString::fromLatin1(kAlarmFieldNames[i]), texts.thresholds[i], exponent, locale);
        if (!raw)
            return Conversion<AlarmSettingsValues>::refused(raw.error);
        values.thresholds[i] = *raw.value;
    }
    const Conversion<std::int16_t> gas =
        ExactGasValueToRaw(QString::fromLatin1(kCalibrationGasFieldName), texts.calibrationGas, exponent, locale);
    if (!gas)
        return Conversion<AlarmSettingsValues>::refused(gas.error);
    values.calibrationGas = *gas.value;
    return Conversion<AlarmSettingsValues>::accepted(values);
}

MeasuringRange MeasuringRange::FromDecoded(const RangeAlarmSettings &range)
{
    return {range.rangeBegin, range.rangeEnd, range.exponent};
}

MeasuringRange MeasuringRange::FromRecord(const InstrumentRecord &record)
{
    return {record.RangeBegin, record.RangeEnd, record.DecimalExponent};
}

AlarmFieldNames WindowAlarmFieldNames()
{
    AlarmFieldNames names;
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        names[i] = QString::fromLatin1(kAlarmFieldNames[i]);
    names[kAlarmCount] = QString::fromLatin1(kCalibrationGasFieldName);
    return names;
}

QString LimitsOutsideRangeRefusal(const AlarmSettingsValues &values, const MeasuringRange &range,
                                  const AlarmFieldNames &names, const QLocale &locale)
{
    const std::int32_t low = std::min(range.begin, range.end);
    const std::int32_t high = std::max(range.begin, range.end);
    const auto text = [&](std::int32_t raw) { return ScaledValueText(raw, range.exponent, locale); };
    for (std::size_t i = 0; i <= kAlarmCount; ++i) {
        const std::int32_t raw = i < kAlarmCount ? values.thresholds[i] : values.calibrationGas;
        if (raw < low || raw > high) {
            return QStringLiteral("%1: %2 is outside the instrument's measuring range %3 to %4; nothing was sent")
                .arg(names[i], text(raw), text(low), text(high));
        }
    }
    return {};
}

QString UnusualAlarmOrder(const AlarmSettingsValues &values, std::int8_t exponent, const AlarmFieldNames &names,
                          const QLocale &locale)
{
    constexpr std::size_t kLevels = 3; // A1, A2, A3
    const auto text = [&](std::size_t i) {
        return QStringLiteral("%1 %2").arg(names[i], ScaledValueText(values.thresholds[i], exponent, locale));
    };
    for (std::size_t i = 0; i < kLevels; ++i) {
        if (values.thresholds[i] == 0 && !values.flags[i].fallBelow)
            return QStringLiteral("%1 alarms at 0 although it is set to alarm on a rising value").arg(text(i));
    }
    // Each level against the next one of the same direction.
    for (std::size_t i = 0; i < kLevels; ++i) {
        for (std::size_t j = i + 1; j < kLevels; ++j) {
            if (values.flags[j].fallBelow != values.flags[i].fallBelow)
                continue;
            const bool falling = values.flags[i].fallBelow;
            if (!falling && values.thresholds[i] > values.thresholds[j])
                return QStringLiteral("%1 lies above %2: rising alarm levels go %3 <= %4")
                    .arg(text(i), text(j), names[i], names[j]);
            if (falling && values.thresholds[i] < values.thresholds[j])
                return QStringLiteral("%1 lies below %2: alarm levels on a falling value (oxygen) go %3 >= %4")
                    .arg(text(i), text(j), names[i], names[j]);
            break;
        }
    }
    return {};
}

std::vector<std::uint8_t> AlarmSettingsPayload(const AlarmSettingsValues &values)
{
    std::vector<std::uint8_t> bytes(kRangeSize, 0);
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        PutI16(bytes, kThresholdOffset + 2 * i, values.thresholds[i]);
        bytes[kFlagsOffset + i] = values.flags[i].toByte();
    }
    PutI16(bytes, kCalibrationGasOffset, values.calibrationGas);
    return bytes;
}

SettingsWriteResult WriteAlarmSettings(JobContext &job, const AlarmSettingsValues &values)
{
    return WriteAndReadBack(job, kObjectRange, AlarmSettingsPayload(values), kAlarmWriteArmTicks);
}

ConnectionJob AlarmSettingsJob(const AlarmSettingsValues &values, std::shared_ptr<SettingsWriteResult> result)
{
    return [values, result](JobContext &job) {
        SettingsWriteResult outcome = WriteAlarmSettings(job, values);
        if (result)
            *result = std::move(outcome);
    };
}

} // namespace r310
