// The settings objects: range and alarm limits, signals, hardware.
#include "DecodeAnswer.h"
#include "FixtureFrames.h"
#include "SettingsDecoding.h"

#include <gtest/gtest.h>

using namespace r310;
using namespace fixtures;

namespace {

TEST(DecodeRange, FixtureInGermanAndEnglish)
{
    InstrumentRecord record;
    ReceiveBuffer de = Received(kRange);
    const DecodedAnswer a = Decoder(kGerman).DecodeAnswer(de, record);
    ASSERT_TRUE(a.range);
    const RangeAlarmSettings &r = *a.range;
    EXPECT_EQ(r.rangeEndText, "500,0");
    EXPECT_EQ(r.limits[kAlarmA1].text, "30,0");
    EXPECT_EQ(r.limits[kAlarmA2].text, "60,0");
    EXPECT_EQ(r.limits[kAlarmA3].text, "100,0");
    EXPECT_EQ(r.limits[kAlarmStel].text, "35,0");
    EXPECT_EQ(r.limits[kAlarmTwa].text, "20,0");
    EXPECT_EQ(r.calibrationGasText, "100,0");
    EXPECT_EQ(r.zeroPointVoltageText, "-12,34");
    EXPECT_EQ(r.fullScaleVoltageText, "45,67");
    EXPECT_EQ(r.gasText, "U0 G1"); // unit text first
    EXPECT_EQ(r.decimals, 1);
    EXPECT_EQ(a.unchangedGroup, SettingsGroup::Limits);
    EXPECT_EQ(record.DecimalExponent, -1);
    EXPECT_EQ(record.RangeBegin, 0);
    EXPECT_EQ(record.RangeEnd, 5000);
    ReceiveBuffer en = Received(kRange);
    EXPECT_EQ(Decoder(kEnglish).DecodeAnswer(en, record).range->zeroPointVoltageText, "-12.34");
}

TEST(DecodeRange, AlarmFlagsPerLimit)
{
    const RangeAlarmSettings r = DecodeRangeAlarmSettings(PayloadOf(kRange).data(), kGerman, {});
    const AlarmFlags a1 = r.limits[kAlarmA1].flags; // 0x05
    EXPECT_TRUE(a1.fallBelow);
    EXPECT_FALSE(a1.latching);
    EXPECT_TRUE(a1.hornMayBeSilenced);
    const AlarmFlags a2 = r.limits[kAlarmA2].flags; // 0x02
    EXPECT_EQ(a2.toByte(), 0x02);
    EXPECT_TRUE(a2.latching);
    EXPECT_EQ(r.limits[kAlarmA3].flags.toByte(), 0x06);
    const AlarmFlags stel = r.limits[kAlarmStel].flags; // 0xF8: no evaluated bit
    EXPECT_FALSE(stel.fallBelow || stel.latching || stel.hornMayBeSilenced);
    EXPECT_EQ(r.limits[kAlarmTwa].flags.toByte(), 0x00);
    EXPECT_EQ(r.gasText, ""); // no gas table given
}

TEST(DecodeRange, ExponentDecidesScaleAndDecimalsRangeIsSigned)
{
    struct Case {
        std::int8_t exponent;
        std::int16_t a1;
        const char *text;
    };
    const Case cases[] = {{-2, 1050, "10,50"}, {0, 1050, "1050"}, {1, 5, "50"}, {-3, -5, "-0,005"}};
    for (const Case &c : cases) {
        Bytes p = PayloadOf(kRange);
        p[7] = static_cast<std::uint8_t>(c.exponent);
        PutU16(p, 8, static_cast<std::uint16_t>(c.a1));
        PutU16(p, 1, static_cast<std::uint16_t>(-200)); // range below zero
        PutU16(p, 3, static_cast<std::uint16_t>(-100));
        InstrumentRecord record;
        ReceiveBuffer buffer = Answer(4, p);
        const DecodedAnswer a = Decoder(kGerman).DecodeAnswer(buffer, record);
        EXPECT_EQ(a.range->limits[kAlarmA1].text, c.text);
        EXPECT_EQ(record.DecimalExponent, c.exponent);
        EXPECT_EQ(record.RangeBegin, -200); // sign-extended
        EXPECT_EQ(record.RangeEnd, -100);
    }
}

TEST(DecodeSignals, FixtureInGermanAndEnglish)
{
    InstrumentRecord record;
    ReceiveBuffer de = Received(kSignals);
    const DecodedAnswer a = Decoder(kGerman).DecodeAnswer(de, record);
    ASSERT_TRUE(a.signalSettings);
    const SignalSettings &s = *a.signalSettings;
    // Modes 0xE4: 0, 1, 2, 3 from the lowest bits up.
    EXPECT_EQ(kSignalModeItems[static_cast<std::size_t>(s.confidenceBleep)], std::string("Off"));
    EXPECT_EQ(kVibratorModeItems[static_cast<std::size_t>(s.vibrator)], std::string("Short"));
    EXPECT_EQ(kSignalModeItems[static_cast<std::size_t>(s.keyResponse)], std::string("Louder"));
    EXPECT_EQ(kSignalModeItems[static_cast<std::size_t>(s.warmUpSignal)], std::string("Optical"));
    EXPECT_EQ(s.bleepIntervalText, "30");
    // Display 0x59: wake-up 1, date format 2, 12 h on, show time off, seconds on.
    EXPECT_EQ(s.wakeUpMode, 1);
    EXPECT_EQ(s.dateFormat, 2);
    EXPECT_TRUE(s.clock12h);
    EXPECT_FALSE(s.showTime);
    EXPECT_TRUE(s.showSeconds);
    EXPECT_EQ(s.nextBumpDateText, "01.01.1981");
    EXPECT_EQ(s.nextCalibrationDateText, "01.01.1980");
    EXPECT_EQ(s.bumpIntervalText, "30");
    EXPECT_EQ(s.calibrationIntervalText, "-5");
    // Bump options 0x07: info 3, bump alarm on, calibration alarm off.
    EXPECT_EQ(s.bumpInfoText, "3");
    EXPECT_TRUE(s.bumpAlarm);
    EXPECT_FALSE(s.calibrationAlarm);
    EXPECT_EQ(a.unchangedGroup, SettingsGroup::Signals);
    ReceiveBuffer en = Received(kSignals);
    EXPECT_EQ(Decoder(kEnglish).DecodeAnswer(en, record).signalSettings->nextBumpDateText, "1/1/1981");
}

TEST(DecodeSignals, ZeroIntervalMeansBleepOffAndSixtySeconds)
{
    Bytes p = PayloadOf(kSignals);
    p[0] = 0x03; // bleep "Optical" ...
    p[1] = 0;    // ... but no interval
    p[11] = 0x08;
    const SignalSettings s = DecodeSignalSettings(p.data(), kEnglish);
    EXPECT_EQ(s.bleepIntervalSeconds, 60);
    EXPECT_EQ(s.bleepIntervalText, "60");
    EXPECT_EQ(s.confidenceBleep, 0);
    EXPECT_TRUE(s.calibrationAlarm);
    EXPECT_FALSE(s.bumpAlarm);
    EXPECT_EQ(s.bumpInfo, 0);
}

TEST(DecodeHardware, FixtureValuesAndUngatedOptions)
{
    InstrumentRecord record;
    record.SoftwareVersion = 221;
    ReceiveBuffer de = Received(kHardware);
    const DecodedAnswer a = Decoder(kGerman).DecodeAnswer(de, record);
    ASSERT_TRUE(a.hardware);
    const HardwareSettings &h = *a.hardware;
    EXPECT_EQ(h.zeroPointText, "-12,5");
    EXPECT_EQ(h.gainText, "12,34");
    EXPECT_EQ(h.referenceVoltageText, "1250,0");
    // Options 0xA6: keyboard service, vibrator off, display mode, data safety.
    EXPECT_TRUE(h.serviceOverKeyboard);
    EXPECT_TRUE(h.vibratorDisabled);
    EXPECT_FALSE(h.onlyTestKey);
    EXPECT_EQ(h.applyDisplayMode, true);
    EXPECT_EQ(h.applyDataSafety, true);
    EXPECT_EQ(h.applyBestResolution, false);
    EXPECT_EQ(a.unchangedGroup, SettingsGroup::Hardware);

    ReceiveBuffer en = Received(kHardware);
    EXPECT_EQ(Decoder(kEnglish).DecodeAnswer(en, record).hardware->referenceVoltageText, "1250.0");
}

TEST(DecodeHardware, GatedOptionsFollowTheSoftwareVersion)
{
    struct Case {
        std::int32_t version;
        bool safetyApplied, displayApplied;
    };
    for (const Case &c : {Case{219, false, false}, Case{220, true, false}, Case{221, true, true}}) {
        SCOPED_TRACE(c.version);
        InstrumentRecord record;
        record.SoftwareVersion = c.version;
        ReceiveBuffer buffer = Received(kHardware);
        const HardwareSettings h = *Decoder(kGerman).DecodeAnswer(buffer, record).hardware;
        EXPECT_TRUE(h.dataSafety); // the bit as read
        EXPECT_EQ(h.applyDataSafety.has_value(), c.safetyApplied);
        EXPECT_EQ(h.applyBestResolution.has_value(), c.safetyApplied);
        EXPECT_EQ(h.applyDisplayMode.has_value(), c.displayApplied);
    }
}

} // namespace
