#pragma once
// "Set &Limit": the five alarm thresholds with their options and the
// calibration gas concentration (object 4), written and read back.
#include "NumberInput.h"
#include "SettingsWrite.h"

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace r310 {

// Ticks each attempt of the alarm write waits.
constexpr std::int32_t kAlarmWriteArmTicks = 20;

// The field names the refusals use, in the order the fields are read:
// A1, A2, A3, STEL, TWA, then the calibration gas.
extern const std::array<const char *, kAlarmCount> kAlarmFieldNames;
extern const char *const kCalibrationGasFieldName;

// What the user can change in object 4, as raw values.
struct AlarmSettingsValues {
    std::array<std::int16_t, kAlarmCount> thresholds{};
    std::array<AlarmFlags, kAlarmCount> flags{};
    std::int16_t calibrationGas = 0;

    static AlarmSettingsValues FromDecoded(const RangeAlarmSettings &range);
};

// The tab's fields as typed.
struct AlarmSettingsTexts {
    std::array<QString, kAlarmCount> thresholds;
    std::array<AlarmFlags, kAlarmCount> flags{};
    QString calibrationGas;
};

// Converts the six texts with the instrument's decimal exponent; the first
// field that does not convert, or that the scale cannot hold exactly,
// refuses the whole command.
Conversion<AlarmSettingsValues> AlarmSettingsFromTexts(const AlarmSettingsTexts &texts, std::int8_t exponent,
                                                       const QLocale &locale);

// The instrument's measuring range (object 4), in raw units: every alarm
// limit and the calibration gas must lie within it, or the instrument could
// never alarm (A1 above the range end) or would always be in alarm (A2 below
// its begin).
struct MeasuringRange {
    std::int32_t begin = 0;
    std::int32_t end = 0;
    std::int8_t exponent = 0;

    static MeasuringRange FromDecoded(const RangeAlarmSettings &range);
    static MeasuringRange FromRecord(const InstrumentRecord &record);
};

// What a front end calls the six values, in the order A1, A2, A3, STEL,
// TWA, the calibration gas: the window's labels, r310ctl's keys.
using AlarmFieldNames = std::array<QString, kAlarmCount + 1>;
AlarmFieldNames WindowAlarmFieldNames();

// The refusal of limits that leave the measuring range, naming the first
// such field, its value and the range in the instrument's unit; empty when
// all six lie within it. Every write of object 4 is checked with it before
// anything is sent; values the instrument reports are shown as they are.
QString LimitsOutsideRangeRefusal(const AlarmSettingsValues &values, const MeasuringRange &range,
                                  const AlarmFieldNames &names, const QLocale &locale);

// The alarm levels A1, A2, A3 in an order no detector should have, named
// with their values: rising levels must go A1 <= A2 <= A3, levels that alarm
// when the value falls below (oxygen) downward, and none may be 0 unless it
// falls below. Empty when the order is usual. Such limits are written only
// after a question (the window, No first) or with --force (r310ctl, profiles).
QString UnusualAlarmOrder(const AlarmSettingsValues &values, std::int8_t exponent, const AlarmFieldNames &names,
                          const QLocale &locale);

// The 29-byte payload: bytes 0-7 and 25-28 zero, thresholds at 8, option
// bytes at 18, calibration gas at 23.
std::vector<std::uint8_t> AlarmSettingsPayload(const AlarmSettingsValues &values);

// Writes the values and reads object 4 back, in the running job.
SettingsWriteResult WriteAlarmSettings(JobContext &job, const AlarmSettingsValues &values);
// The same as a job; the result lands in *result (read it when the job has ended).
ConnectionJob AlarmSettingsJob(const AlarmSettingsValues &values, std::shared_ptr<SettingsWriteResult> result);

} // namespace r310
