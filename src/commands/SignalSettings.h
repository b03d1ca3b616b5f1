#pragma once
// "Set S&ignals": signalling and display options, the bump test and
// calibration service data (object 31), written and read back.
#include "NumberInput.h"
#include "SettingsWrite.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace r310 {

// Ticks each attempt of the signal write waits.
constexpr std::int32_t kSignalWriteArmTicks = 30;

// Allowed ranges; the interval checks of the window use the same.
constexpr std::int32_t kBleepIntervalMin = 0;
constexpr std::int32_t kBleepIntervalMax = 255;
constexpr std::int32_t kBumpIntervalMin = 2;
constexpr std::int32_t kBumpIntervalMax = 365;
constexpr std::int32_t kBumpIntervalDefault = 14;
constexpr std::int32_t kCalibrationIntervalMin = 5;
constexpr std::int32_t kCalibrationIntervalMax = 730;
constexpr std::int32_t kCalibrationIntervalDefault = 60;
constexpr std::int32_t kBumpInfoMin = 0;
constexpr std::int32_t kBumpInfoMax = 3;

// The messages of the interval checks when the focus leaves their fields.
inline const QString kBumpIntervalMessage = QStringLiteral("Error! from 2 to 365 allowed!");
inline const QString kCalibrationIntervalMessage = QStringLiteral("Error! from 5 to 730 allowed!");

// Field names of the refusals, as the tab labels them.
namespace signal_fields {
inline const QString kConfidenceBleep = QStringLiteral("Confidence Bleep");
inline const QString kVibrator = QStringLiteral("Vibrator");
inline const QString kKeyResponse = QStringLiteral("Key Response");
inline const QString kWarmUp = QStringLiteral("Sensor warm-up");
inline const QString kWakeUp = QStringLiteral("Wake-up");
inline const QString kDateFormat = QStringLiteral("Date format");
inline const QString kBleepInterval = QStringLiteral("Beep interval (s)");
inline const QString kBumpInterval = QStringLiteral("Delta Bump Days");
inline const QString kCalibrationInterval = QStringLiteral("Delta Cal Days");
inline const QString kBumpInfo = QStringLiteral("Bump Info");
inline const QString kNextBump = QStringLiteral("Next Bump");
inline const QString kNextCalibration = QStringLiteral("Next Cal");
} // namespace signal_fields

// What the signal write sends, as plain values. Item indices are 0 to 3,
// -1 for a radio group without a selection. The two due dates are day
// counts since 1980-01-01 as the instrument last reported them.
struct SignalSettingsValues {
    int confidenceBleep = -1;
    int vibrator = -1;
    int keyResponse = -1;
    int warmUpSignal = -1;
    std::int32_t bleepIntervalSeconds = 0;
    int wakeUpMode = -1;
    int dateFormat = -1;
    bool clock12h = false;
    bool showTime = false;
    bool showSeconds = false;
    std::int32_t nextBumpDay = 0;
    std::int32_t nextCalibrationDay = 0;
    std::int32_t bumpIntervalDays = 0;
    std::int32_t calibrationIntervalDays = 0;
    std::int32_t bumpInfo = 0;
    bool bumpAlarm = false;
    bool calibrationAlarm = false;

    static SignalSettingsValues FromDecoded(const SignalSettings &settings);
};

// The refusal of a radio group without a selection (nothing read yet),
// empty when all six have one.
QString SignalSelectionRefusal(const SignalSettingsValues &values);

// The 16-byte payload, or the refusal of the first value that does not
// fit: a radio group without a selection, a bleep interval outside 0-255,
// intervals outside 2-365 and 5-730 days, a bump info outside 0-3, a due
// date outside the instrument's day counts.
SettingsPayload SignalSettingsPayload(const SignalSettingsValues &values);

// Writes the values and reads object 31 back, in the running job. A
// payload refusal ends it before anything is sent.
SettingsWriteResult WriteSignalSettings(JobContext &job, const SignalSettingsValues &values);
ConnectionJob SignalSettingsJob(const SignalSettingsValues &values, std::shared_ptr<SettingsWriteResult> result);

} // namespace r310
