#include "SignalSettings.h"

#include <limits>

namespace r310 {

namespace {

constexpr std::size_t kNextBumpOffset = 3;
constexpr std::size_t kNextCalibrationOffset = 5;
constexpr std::size_t kBumpIntervalOffset = 7;
constexpr std::size_t kCalibrationIntervalOffset = 9;

void PutI16(std::vector<std::uint8_t> &bytes, std::size_t offset, std::int32_t value)
{
    const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    bytes[offset] = static_cast<std::uint8_t>(word & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(word >> 8);
}

QString NoSelection(const QString &group)
{
    return QStringLiteral("%1: no item selected (the signals have not been read from the instrument)").arg(group);
}

QString Outside(const QString &field, std::int32_t value, std::int32_t min, std::int32_t max)
{
    return OutsideRangeMessage(field, QString::number(value), QString::number(min), QString::number(max));
}

struct Item {
    const QString &group;
    int index;
};

struct Range {
    const QString &field;
    std::int32_t value;
    std::int32_t min;
    std::int32_t max;
};

// The refusal of the first value that does not fit, empty when all do.
QString FirstRefusal(const SignalSettingsValues &v)
{
    using namespace signal_fields;
    if (QString refusal = SignalSelectionRefusal(v); !refusal.isEmpty())
        return refusal;
    constexpr std::int32_t kDayMin = std::numeric_limits<std::int16_t>::min();
    constexpr std::int32_t kDayMax = std::numeric_limits<std::int16_t>::max();
    const Range ranges[] = {
        {kBleepInterval, v.bleepIntervalSeconds, kBleepIntervalMin, kBleepIntervalMax},
        {kNextBump, v.nextBumpDay, kDayMin, kDayMax},
        {kNextCalibration, v.nextCalibrationDay, kDayMin, kDayMax},
        {kBumpInterval, v.bumpIntervalDays, kBumpIntervalMin, kBumpIntervalMax},
        {kCalibrationInterval, v.calibrationIntervalDays, kCalibrationIntervalMin, kCalibrationIntervalMax},
        {kBumpInfo, v.bumpInfo, kBumpInfoMin, kBumpInfoMax},
    };
    for (const Range &range : ranges) {
        if (range.value < range.min || range.value > range.max)
            return Outside(range.field, range.value, range.min, range.max);
    }
    return {};
}

} // namespace

QString SignalSelectionRefusal(const SignalSettingsValues &v)
{
    using namespace signal_fields;
    const Item items[] = {{kConfidenceBleep, v.confidenceBleep}, {kVibrator, v.vibrator},
                          {kKeyResponse, v.keyResponse},         {kWarmUp, v.warmUpSignal},
                          {kWakeUp, v.wakeUpMode},               {kDateFormat, v.dateFormat}};
    for (const Item &item : items) {
        if (item.index < 0 || item.index > 3)
            return NoSelection(item.group);
    }
    return {};
}

SignalSettingsValues SignalSettingsValues::FromDecoded(const SignalSettings &s)
{
    SignalSettingsValues v;
    v.confidenceBleep = s.confidenceBleep;
    v.vibrator = s.vibrator;
    v.keyResponse = s.keyResponse;
    v.warmUpSignal = s.warmUpSignal;
    v.bleepIntervalSeconds = s.bleepIntervalSeconds;
    v.wakeUpMode = s.wakeUpMode;
    v.dateFormat = s.dateFormat;
    v.clock12h = s.clock12h;
    v.showTime = s.showTime;
    v.showSeconds = s.showSeconds;
    v.nextBumpDay = s.nextBumpDay;
    v.nextCalibrationDay = s.nextCalibrationDay;
    v.bumpIntervalDays = s.bumpIntervalDays;
    v.calibrationIntervalDays = s.calibrationIntervalDays;
    v.bumpInfo = s.bumpInfo;
    v.bumpAlarm = s.bumpAlarm;
    v.calibrationAlarm = s.calibrationAlarm;
    return v;
}

SettingsPayload SignalSettingsPayload(const SignalSettingsValues &v)
{
    if (QString refusal = FirstRefusal(v); !refusal.isEmpty())
        return SettingsPayload::Refused(std::move(refusal));
    std::vector<std::uint8_t> bytes(kSignalsSize, 0);
    bytes[0] = static_cast<std::uint8_t>(v.confidenceBleep | v.vibrator << 2 | v.keyResponse << 4 | v.warmUpSignal << 6);
    bytes[1] = static_cast<std::uint8_t>(v.bleepIntervalSeconds);
    bytes[2] = static_cast<std::uint8_t>(v.wakeUpMode | v.dateFormat << 2 | (v.clock12h ? 0x10 : 0) |
                                         (v.showTime ? 0x20 : 0) | (v.showSeconds ? 0x40 : 0));
    PutI16(bytes, kNextBumpOffset, v.nextBumpDay);
    PutI16(bytes, kNextCalibrationOffset, v.nextCalibrationDay);
    PutI16(bytes, kBumpIntervalOffset, v.bumpIntervalDays);
    PutI16(bytes, kCalibrationIntervalOffset, v.calibrationIntervalDays);
    bytes[11] = static_cast<std::uint8_t>(v.bumpInfo | (v.bumpAlarm ? 0x04 : 0) | (v.calibrationAlarm ? 0x08 : 0));
    return {bytes, {}};
}

SettingsWriteResult WriteSignalSettings(JobContext &job, const SignalSettingsValues &values)
{
    const SettingsPayload payload = SignalSettingsPayload(values);
    if (!payload.ok()) {
        SettingsWriteResult refused;
        refused.outcome = Outcome::Refused;
        refused.refusal = payload.refusal;
        return refused;
    }
    return WriteAndReadBack(job, kObjectSignals, payload.bytes, kSignalWriteArmTicks);
}

ConnectionJob SignalSettingsJob(const SignalSettingsValues &values, std::shared_ptr<SettingsWriteResult> result)
{
    return [values, result](JobContext &job) {
        SettingsWriteResult outcome = WriteSignalSettings(job, values);
        if (result)
            *result = std::move(outcome);
    };
}

} // namespace r310
