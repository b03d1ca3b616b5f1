#include "SettingsDecoding.h"

#include "Formats.h"
#include "PayloadBytes.h"

namespace r310 {

namespace {

int TwoBits(std::uint8_t byte, int shift)
{
    return (byte >> shift) & 0x03;
}

bool Bit(std::uint8_t byte, int bit)
{
    return ((byte >> bit) & 0x01) != 0;
}

// Offsets of the alarm limits and their option bytes in object 4.
constexpr int kLimitOffsets[kAlarmCount] = {8, 10, 12, 14, 16};
constexpr int kFlagsOffsets[kAlarmCount] = {18, 19, 20, 21, 22};

} // namespace

RangeAlarmSettings DecodeRangeAlarmSettings(const std::uint8_t *payload, const QLocale &locale,
                                            const GasTextLookup &gasTexts)
{
    RangeAlarmSettings s;
    s.zeroPointVoltage = PayloadI16(payload + 25);
    s.fullScaleVoltage = PayloadI16(payload + 27);
    s.zeroPointVoltageText = ValueText(s.zeroPointVoltage / 100.0, 2, locale);
    s.fullScaleVoltageText = ValueText(s.fullScaleVoltage / 100.0, 2, locale);

    // Every gas value of this object carries the exponent of byte 7.
    s.exponent = static_cast<std::int8_t>(payload[7]);
    s.decimals = ShownDecimalsForExponent(s.exponent);
    for (int i = 0; i < kAlarmCount; ++i) {
        AlarmLimit &limit = s.limits[static_cast<std::size_t>(i)];
        limit.raw = PayloadI16(payload + kLimitOffsets[i]);
        limit.text = ScaledValueText(limit.raw, s.exponent, locale);
        limit.flags = AlarmFlags::FromByte(payload[kFlagsOffsets[i]]);
    }
    s.calibrationGas = PayloadI16(payload + 23);
    s.calibrationGasText = ScaledValueText(s.calibrationGas, s.exponent, locale);
    s.rangeBegin = PayloadI16(payload + 1);
    s.rangeEnd = PayloadI16(payload + 3);
    s.rangeEndText = ScaledValueText(s.rangeEnd, s.exponent, locale);

    s.gasCode = payload[5];
    s.unitCode = payload[6];
    if (gasTexts)
        s.gasText = gasTexts(s.unitCode, s.gasCode);
    return s;
}

SignalSettings DecodeSignalSettings(const std::uint8_t *payload, const QLocale &locale)
{
    SignalSettings s;
    const std::uint8_t modes = payload[0];
    s.confidenceBleep = TwoBits(modes, 0);
    s.vibrator = TwoBits(modes, 2);
    s.keyResponse = TwoBits(modes, 4);
    s.warmUpSignal = TwoBits(modes, 6);

    // An interval of 0 means the confidence bleep is off; the field then
    // offers the instrument's usual 60 seconds.
    if (payload[1] == 0) {
        s.bleepIntervalSeconds = 60;
        s.confidenceBleep = 0;
    } else {
        s.bleepIntervalSeconds = payload[1];
    }
    s.bleepIntervalText = QString::number(s.bleepIntervalSeconds);

    const std::uint8_t display = payload[2];
    s.wakeUpMode = TwoBits(display, 0);
    s.dateFormat = TwoBits(display, 2);
    s.clock12h = Bit(display, 4);
    s.showTime = Bit(display, 5);
    s.showSeconds = Bit(display, 6);

    s.bumpIntervalDays = PayloadI16(payload + 7);
    s.calibrationIntervalDays = PayloadI16(payload + 9);
    s.bumpIntervalText = QString::number(s.bumpIntervalDays);
    s.calibrationIntervalText = QString::number(s.calibrationIntervalDays);

    s.nextBumpDay = PayloadI16(payload + 3);
    s.nextCalibrationDay = PayloadI16(payload + 5);
    s.nextBumpDateText = InstrumentDayText(s.nextBumpDay, locale);
    s.nextCalibrationDateText = InstrumentDayText(s.nextCalibrationDay, locale);

    const std::uint8_t bump = payload[11];
    s.bumpAlarm = Bit(bump, 2);
    s.calibrationAlarm = Bit(bump, 3);
    s.bumpInfo = TwoBits(bump, 0);
    s.bumpInfoText = QString::number(s.bumpInfo);
    return s;
}

HardwareSettings DecodeHardwareSettings(const std::uint8_t *payload, const FeatureGates &gates,
                                        const QLocale &locale)
{
    HardwareSettings s;
    s.zeroPoint = PayloadI16(payload + 1);
    s.gain = PayloadI16(payload + 3);
    s.referenceVoltage = PayloadI16(payload + 5);
    s.zeroPointText = ValueText(s.zeroPoint / 10.0, 1, locale);
    s.gainText = ValueText(s.gain / 100.0, 2, locale);
    s.referenceVoltageText = ValueText(s.referenceVoltage / 10.0, 1, locale);

    s.options = payload[7];
    s.displayMode = Bit(s.options, 1);
    s.dataSafety = Bit(s.options, 2);
    s.bestResolution = Bit(s.options, 3);
    s.onlyTestKey = Bit(s.options, 4);
    s.vibratorDisabled = Bit(s.options, 5);
    s.serviceOverKeyboard = Bit(s.options, 7);

    // Options the instrument's software does not know yet keep their state.
    if (gates.safetyOptionsEnabled) {
        s.applyDataSafety = s.dataSafety;
        s.applyBestResolution = s.bestResolution;
    }
    if (gates.displayModeEnabled)
        s.applyDisplayMode = s.displayMode;
    return s;
}

} // namespace r310
