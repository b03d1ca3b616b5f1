// "Set S&ignals" and "Set &Time": the signal payload from plain values, the
// refusals of values that do not fit (nothing on the wire), the write as
// the instrument hears it followed by its read-back, and the clock write.
#include "InstrumentRig.h"

#include "SetClock.h"
#include "SignalSettings.h"

#include <gtest/gtest.h>

using namespace r310;
using namespace r310test;

namespace {

SignalSettingsValues Example()
{
    SignalSettingsValues v;
    v.confidenceBleep = 2; // "Louder"
    v.vibrator = 3;        // "Long"
    v.keyResponse = 0;     // "Off"
    v.warmUpSignal = 3;    // "Optical"
    v.bleepIntervalSeconds = 30;
    v.dateFormat = 2; // "DD/MM/YY"
    v.wakeUpMode = 1; // "Quick or Alarm"
    v.clock12h = true;
    v.showTime = false;
    v.showSeconds = true;
    v.nextBumpDay = 7305; // 2000-01-01
    v.nextCalibrationDay = 16437;
    v.bumpIntervalDays = 30;
    v.calibrationIntervalDays = 180;
    v.bumpInfo = 1;
    v.bumpAlarm = true;
    v.calibrationAlarm = false;
    return v;
}

TEST(SignalPayload, PlainValuesBecomeTheSixteenBytes)
{
    const SettingsPayload payload = SignalSettingsPayload(Example());
    ASSERT_TRUE(payload.ok()) << payload.refusal.toStdString();
    const std::vector<std::uint8_t> expected{0xCE, 30,   0x59, 0x89, 0x1C, 0x35, 0x40, 30,
                                             0,    180,  0,    0x05, 0,    0,    0,    0};
    EXPECT_EQ(payload.bytes, expected);

    SignalSettingsValues v = Example();
    v.showTime = true;
    v.calibrationAlarm = true;
    v.bumpAlarm = false;
    v.bumpInfo = 3;
    v.nextBumpDay = -1;
    v.bumpIntervalDays = 365;
    v.calibrationIntervalDays = 730;
    const SettingsPayload other = SignalSettingsPayload(v);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(other.bytes[2], 0x79);
    EXPECT_EQ(other.bytes[3], 0xFF);
    EXPECT_EQ(other.bytes[4], 0xFF);
    EXPECT_EQ(other.bytes[7], 0x6D);
    EXPECT_EQ(other.bytes[8], 0x01);
    EXPECT_EQ(other.bytes[9], 0xDA);
    EXPECT_EQ(other.bytes[10], 0x02);
    EXPECT_EQ(other.bytes[11], 0x0B);
}

TEST(SignalPayload, ValuesThatDoNotFitAreRefusedNamingFieldAndRange)
{
    struct Case {
        std::function<void(SignalSettingsValues &)> change;
        const char *refusal;
    };
    const Case cases[] = {
        {[](SignalSettingsValues &v) { v.confidenceBleep = -1; },
         "Confidence Bleep: no item selected (the signals have not been read from the instrument)"},
        {[](SignalSettingsValues &v) { v.vibrator = -1; },
         "Vibrator: no item selected (the signals have not been read from the instrument)"},
        {[](SignalSettingsValues &v) { v.keyResponse = 4; },
         "Key Response: no item selected (the signals have not been read from the instrument)"},
        {[](SignalSettingsValues &v) { v.warmUpSignal = -1; },
         "Sensor warm-up: no item selected (the signals have not been read from the instrument)"},
        {[](SignalSettingsValues &v) { v.wakeUpMode = -1; },
         "Wake-up: no item selected (the signals have not been read from the instrument)"},
        {[](SignalSettingsValues &v) { v.dateFormat = -1; },
         "Date format: no item selected (the signals have not been read from the instrument)"},
        {[](SignalSettingsValues &v) { v.bleepIntervalSeconds = 256; },
         "Beep interval (s): 256 is outside the allowed range 0 to 255"},
        {[](SignalSettingsValues &v) { v.bleepIntervalSeconds = -1; },
         "Beep interval (s): -1 is outside the allowed range 0 to 255"},
        {[](SignalSettingsValues &v) { v.bumpIntervalDays = 1; },
         "Delta Bump Days: 1 is outside the allowed range 2 to 365"},
        {[](SignalSettingsValues &v) { v.bumpIntervalDays = 366; },
         "Delta Bump Days: 366 is outside the allowed range 2 to 365"},
        {[](SignalSettingsValues &v) { v.calibrationIntervalDays = 4; },
         "Delta Cal Days: 4 is outside the allowed range 5 to 730"},
        {[](SignalSettingsValues &v) { v.calibrationIntervalDays = 65536 + 60; },
         "Delta Cal Days: 65596 is outside the allowed range 5 to 730"},
        {[](SignalSettingsValues &v) { v.bumpInfo = 5; }, "Bump Info: 5 is outside the allowed range 0 to 3"},
        {[](SignalSettingsValues &v) { v.bumpInfo = -1; }, "Bump Info: -1 is outside the allowed range 0 to 3"},
        {[](SignalSettingsValues &v) { v.nextBumpDay = 40000; },
         "Next Bump: 40000 is outside the allowed range -32768 to 32767"},
    };
    for (const Case &c : cases) {
        SignalSettingsValues v = Example();
        c.change(v);
        const SettingsPayload payload = SignalSettingsPayload(v);
        EXPECT_FALSE(payload.ok()) << c.refusal;
        EXPECT_TRUE(payload.bytes.empty());
        EXPECT_EQ(payload.refusal, c.refusal);
    }
    // The edges are allowed.
    SignalSettingsValues edges = Example();
    edges.bleepIntervalSeconds = 0;
    edges.bumpIntervalDays = 2;
    edges.calibrationIntervalDays = 5;
    edges.bumpInfo = 0;
    EXPECT_TRUE(SignalSettingsPayload(edges).ok());
}

TEST(SignalWrite, TheInstrumentHearsTheWriteThenTheReadBackIsShown)
{
    ConnectedRig rig(RigOptions::Settings());
    ASSERT_EQ(rig.Run([](JobContext &job) { job.sequences().ReadSignals(); }), Outcome::Done);
    const std::vector<DecodedAnswer> read = rig.AnswersOf(kObjectSignals);
    ASSERT_EQ(read.size(), 1u);
    SignalSettingsValues values = SignalSettingsValues::FromDecoded(*read[0].signalSettings);
    const std::int16_t instrumentBumpDay = read[0].signalSettings->nextBumpDay;
    values.confidenceBleep = 2;
    values.vibrator = 3;
    values.keyResponse = 0;
    values.warmUpSignal = 3;
    values.dateFormat = 2;
    values.wakeUpMode = 1;
    values.clock12h = true;
    values.showTime = false;
    values.showSeconds = true;
    values.bumpIntervalDays = 21;

    rig.Mark();
    auto result = std::make_shared<SettingsWriteResult>();
    EXPECT_EQ(rig.Run(SignalSettingsJob(values, result)), Outcome::Done);

    const std::vector<LineFrame> line = rig.Heard();
    // The identity is read first: the instrument is still the one.
    ASSERT_EQ(Names(line), (std::vector<std::string>{"R2", "A2", "W31", "A31", "R31", "A31"}));
    EXPECT_EQ(line[2].flags, 0x60);
    ASSERT_EQ(line[2].payload.size(), 16u);
    EXPECT_EQ(line[2].payload[0], 0xCE);
    EXPECT_EQ(line[2].payload[2], 0x59);
    // The due dates go back as the day counts the instrument reported.
    EXPECT_EQ(line[2].payload[3] | line[2].payload[4] << 8, static_cast<std::uint16_t>(instrumentBumpDay));
    EXPECT_EQ(line[2].payload[7], 21);
    EXPECT_EQ(line[5].payload[0], 0xCE);
    EXPECT_EQ(line[5].payload[2], 0x59);

    EXPECT_EQ(result->outcome, Outcome::Done);
    const std::vector<DecodedAnswer> shown = rig.ShownOf(kObjectSignals);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].unchangedGroup, SettingsGroup::Signals);
    EXPECT_EQ(shown[0].signalSettings->bumpIntervalDays, 21);

    const sim::DeviceState state = rig.InstrumentState();
    EXPECT_EQ(state.signalSettings.signalModes, 0xCE);
    EXPECT_EQ(state.signalSettings.displayOptions, 0x59);
    EXPECT_EQ(state.signalSettings.nextBumpDay, instrumentBumpDay);
}

TEST(SignalWrite, ARefusedPayloadSendsNothing)
{
    ConnectedRig rig(RigOptions::Settings());
    SignalSettingsValues values = Example();
    values.bumpIntervalDays = 400;
    rig.Mark();
    auto result = std::make_shared<SettingsWriteResult>();
    rig.Run(SignalSettingsJob(values, result));
    EXPECT_EQ(result->outcome, Outcome::Refused);
    EXPECT_EQ(result->refusal, "Delta Bump Days: 400 is outside the allowed range 2 to 365");
    EXPECT_TRUE(result->sent.empty());
    EXPECT_TRUE(rig.Heard().empty());
    EXPECT_EQ(rig.ShownSinceMark(), 0u);
    EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(SetTime, WritesThePcClockThenChecksIt)
{
    sim::Scenario scenario = FastInstrument();
    scenario.clockOffsetSeconds = 3600;
    scenario.faults.clockReadOnly = false;
    ConnectedRig rig(RigOptions::Settings(scenario));
    // The connect sequence already set the clock; put it off again.
    rig.OnInstrument([](sim::Device &device) { device.state().clockOffsetSeconds = -7200; });
    rig.Mark();
    auto result = std::make_shared<SetClockResult>();
    rig.Run(SetClockJob(result));
    EXPECT_TRUE(result->ran);
    EXPECT_TRUE(result->succeeded);
    EXPECT_EQ(result->clockWrites, 1);
    const std::vector<std::string> requests = Names(Requests(rig.Heard()));
    EXPECT_EQ(requests, (std::vector<std::string>{"R2", "W3", "R3", "R7"}));
    EXPECT_LE(std::llabs(rig.InstrumentState().clockOffsetSeconds), 2);
}

} // namespace
