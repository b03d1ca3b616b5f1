#pragma once
// Plain values decoded from the instrument's answers, one struct per object.
// Raw numbers come with the texts they are shown as, so front ends (window,
// command-line tool) only bind them to their displays.
#include "FeatureGates.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace r310 {

// Object numbers the decoder knows.
enum InstrumentObject : std::uint8_t {
    kObjectIdentity = 2,
    kObjectClock = 3,
    kObjectRange = 4,
    kObjectBumpState = 5,
    kObjectBumpResult = 6,
    kObjectValue = 7,
    kObjectHorn = 8,
    kObjectCalibrationStart = 9,
    kObjectCalibrationState = 10,
    kObjectFactorySetup = 30,
    kObjectSignals = 31,
    kObjectHardware = 33,
    kObjectEventRecord = 34,
    kObjectEventProperties = 35,
    kObjectLoggerInfo = 36,
    kObjectLoggerBlock = 37,
    kObjectLoggerSampleSet = 38,
    kObjectSpecialFunction = 127,
};

// Payload bytes the decoder needs to evaluate an object's answer.
constexpr int kIdentitySize = 21;
constexpr int kClockSize = 4;
constexpr int kRangeSize = 29;
constexpr int kBumpStateSize = 1;
constexpr int kBumpResultSize = 6;
constexpr int kValueSize = 2;
constexpr int kCalibrationStateSize = 1;
constexpr int kSignalsSize = 16;
constexpr int kHardwareSize = 10;

// Object 2.
struct IdentityValues {
    std::int32_t serialNumber = 0;
    std::uint16_t mkType = 0;
    std::uint16_t mkSerialNumber = 0;
    std::uint16_t softwareVersion = 0;
    std::uint8_t batteryPercent = 0;
    QString serialNumberText;    // "00001234"
    QString mkTypeText;          // "123-45"
    QString mkSerialNumberText;  // plain decimal
    QString softwareVersionText; // "2.10"
    QString customerId;          // up to 10 characters
    QString batteryText;         // plain decimal, no unit
    FeatureGates gates;
};

// Object 3.
struct ClockValues {
    std::int32_t instrumentSeconds = 0; // seconds since 1980-01-01 00:00 local time
    std::uint32_t rawSeconds = 0;       // the same four bytes, unsigned (clock check)
    QString instrumentText;             // short date, blank, long time
    QDateTime pcTime;                   // the PC's local time when decoded
    QString pcText;
};

// Object 7.
struct MeasuredValue {
    std::int16_t raw = 0;        // fraction of the measuring span in 1/10000
    std::int32_t rangeValue = 0; // raw x span / 10000, half to even, in range units
    double value = 0.0;          // rangeValue x 10^DecimalExponent
    int decimals = 0;
    QString text;
};

// Background of the calibration tab's result field.
enum class StatusBackground : std::uint8_t {
    Window,    // the system's window colour
    Yellow,    // RGB 255, 255, 0
    Red,       // RGB 255, 0, 0
    LimeGreen, // RGB 0, 255, 0
    Blink,     // "running": yellow when now window colour, else window colour
};

// The background after applying `requested` to a field now showing `current`.
// Consecutive running answers, about a second apart, make the field blink.
StatusBackground NextBackground(StatusBackground current, StatusBackground requested);

// Result field text of objects 5, 6 and 10; repaint at once after applying.
struct StatusReport {
    QString text;
    StatusBackground background = StatusBackground::Window;
};

// Object 6.
struct BumpTestResult {
    std::int16_t a1 = 0;
    std::int16_t a2 = 0;
    std::int16_t t50 = 0;
};

// Option byte of one alarm threshold.
struct AlarmFlags {
    bool fallBelow = false;         // bit 0: alarm when the value falls below the limit
    bool latching = false;          // bit 1: the alarm latches
    bool hornMayBeSilenced = false; // bit 2: the horn of this alarm may be switched off

    static AlarmFlags FromByte(std::uint8_t byte);
    std::uint8_t toByte() const;
};

struct AlarmLimit {
    std::int16_t raw = 0;
    QString text; // scaled by the range object's exponent
    AlarmFlags flags;
};

enum AlarmIndex { kAlarmA1, kAlarmA2, kAlarmA3, kAlarmStel, kAlarmTwa, kAlarmCount };

// Object 4.
struct RangeAlarmSettings {
    std::int16_t rangeBegin = 0; // raw
    std::int16_t rangeEnd = 0;   // raw
    std::uint8_t gasCode = 0;
    std::uint8_t unitCode = 0;
    std::int8_t exponent = 0;
    int decimals = 0;
    std::array<AlarmLimit, kAlarmCount> limits{}; // A1, A2, A3, STEL, TWA
    std::int16_t calibrationGas = 0;              // raw
    std::int16_t zeroPointVoltage = 0;            // hundredths of a millivolt
    std::int16_t fullScaleVoltage = 0;            // hundredths of a millivolt
    QString rangeEndText;
    QString gasText; // unit text, blank, gas name
    QString calibrationGasText;
    QString zeroPointVoltageText; // millivolts, 2 decimals
    QString fullScaleVoltageText; // millivolts, 2 decimals
};

// Item texts of the signal radio groups, in item order 0 to 3.
extern const std::array<const char *, 4> kSignalModeItems;     // bleep, key, warm-up
extern const std::array<const char *, 4> kVibratorModeItems;
extern const std::array<const char *, 4> kWakeUpModeItems;
extern const std::array<const char *, 4> kDateFormatItems;

// Object 31.
struct SignalSettings {
    int confidenceBleep = 0; // item index 0..3; 0 when the interval byte is 0
    int vibrator = 0;
    int keyResponse = 0;
    int warmUpSignal = 0;
    int bleepIntervalSeconds = 0; // 60 when the instrument reports 0
    int wakeUpMode = 0;
    int dateFormat = 0;
    bool clock12h = false;
    bool showTime = false;
    bool showSeconds = false;
    std::int16_t nextBumpDay = 0;        // days since 1980-01-01
    std::int16_t nextCalibrationDay = 0; // days since 1980-01-01
    std::int16_t bumpIntervalDays = 0;
    std::int16_t calibrationIntervalDays = 0;
    int bumpInfo = 0; // 0..3
    bool bumpAlarm = false;
    bool calibrationAlarm = false;
    QString bleepIntervalText;
    QString nextBumpDateText;
    QString nextCalibrationDateText;
    QString bumpIntervalText;
    QString calibrationIntervalText;
    QString bumpInfoText;
};

// Object 33.
struct HardwareSettings {
    std::int16_t zeroPoint = 0;        // tenths of a millivolt
    std::int16_t gain = 0;             // hundredths
    std::int16_t referenceVoltage = 0; // tenths of a millivolt
    std::uint8_t options = 0;
    // Option bits as read.
    bool displayMode = false;         // bit 1: second value on the instrument's display
    bool dataSafety = false;          // bit 2
    bool bestResolution = false;      // bit 3
    bool onlyTestKey = false;         // bit 4
    bool vibratorDisabled = false;    // bit 5
    bool serviceOverKeyboard = false; // bit 7
    // The gated options as the front end applies them: empty while the
    // software version keeps the option disabled, so it keeps its state.
    std::optional<bool> applyDisplayMode;
    std::optional<bool> applyDataSafety;
    std::optional<bool> applyBestResolution;
    QString zeroPointText;        // millivolts, 1 decimal
    QString gainText;             // 2 decimals
    QString referenceVoltageText; // millivolts, 1 decimal
};

// Settings groups whose set button tracks unsaved changes.
enum class SettingsGroup : std::uint8_t { CustomerId, Limits, Signals, Hardware };

} // namespace r310
