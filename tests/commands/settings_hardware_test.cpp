// "S&et" on the Hardware tab: the payload, the options the software version
// offers, and the write that sends back the sensor values the instrument
// itself reports, never made-up ones.
#include "InstrumentRig.h"

#include "HardwareSettings.h"

#include <gtest/gtest.h>

using namespace r310;
using namespace r310test;

namespace {

const HardwareCalibration kDefaults{1305, 750, 18995}; // 130.5 mV, 7.50, 1899.5 mV

HardwareOptions KeyboardAndNoVibrator()
{
    HardwareOptions options;
    options.serviceOverKeyboard = true;
    options.vibratorDisabled = true;
    return options;
}

TEST(HardwarePayload, ValuesAndOptionsBecomeTheTenBytes)
{
    const std::vector<std::uint8_t> payload =
        HardwareSettingsPayload(kDefaults, KeyboardAndNoVibrator(), GatesForVersion(221));
    const std::vector<std::uint8_t> expected{0x00, 0x19, 0x05, 0xEE, 0x02, 0x33, 0x4A, 0xA0, 0x00, 0x00};
    EXPECT_EQ(payload, expected);

    HardwareOptions all;
    all.serviceOverKeyboard = all.vibratorDisabled = all.onlyTestKey = true;
    all.dataSafety = all.bestResolution = all.displayMode = true;
    EXPECT_EQ(HardwareOptionByte(all, GatesForVersion(221)), 0xBE);
    // Options the software version does not offer are sent as zero.
    EXPECT_EQ(HardwareOptionByte(all, GatesForVersion(220)), 0xBC);
    EXPECT_EQ(HardwareOptionByte(all, GatesForVersion(219)), 0xB0);
    HardwareOptions safetyOnly;
    safetyOnly.dataSafety = true;
    EXPECT_EQ(HardwareOptionByte(safetyOnly, GatesForVersion(219)), 0x00);
    EXPECT_EQ(HardwareOptionByte(safetyOnly, GatesForVersion(220)), 0x04);
    EXPECT_EQ(HardwareOptionByte(HardwareOptions{}, GatesForVersion(221)), 0x00);
}

TEST(HardwareWrite, SendsTheInstrumentsOwnSensorValuesWithTheChosenOptions)
{
    sim::Scenario scenario = FastInstrument(221);
    scenario.hwZeroPoint = 1111;
    scenario.hwGain = 432;
    scenario.hwReference = 17777;
    scenario.hwOptions = 0x00;
    ConnectedRig rig(RigOptions::Settings(scenario));
    // The sensor electronics change after the tab was last read: the write
    // must carry what the instrument holds now.
    ASSERT_EQ(rig.Run([](JobContext &job) { job.sequences().ReadHardware(); }), Outcome::Done);
    rig.OnInstrument([](sim::Device &device) { device.state().hardware.gain = 455; });

    rig.Mark();
    auto result = std::make_shared<SettingsWriteResult>();
    EXPECT_EQ(rig.Run(HardwareSettingsJob(KeyboardAndNoVibrator(), result)), Outcome::Done);

    const std::vector<LineFrame> line = rig.Heard();
    // The identity is read just before the write.
    ASSERT_EQ(Names(line), (std::vector<std::string>{"R33", "A33", "R2", "A2", "W33", "A33", "R33", "A33"}));
    const std::vector<std::uint8_t> expected{0x00, 0x57, 0x04, 0xC7, 0x01, 0x71, 0x45, 0xA0, 0x00, 0x00};
    EXPECT_EQ(line[4].flags, 0x60);
    EXPECT_EQ(line[4].payload, expected);
    EXPECT_EQ(line[7].payload[7], 0xA0);

    EXPECT_EQ(result->outcome, Outcome::Done);
    // The read before the write is not shown: only the read-back is.
    const std::vector<DecodedAnswer> shown = rig.ShownOf(kObjectHardware);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].unchangedGroup, SettingsGroup::Hardware);
    EXPECT_TRUE(shown[0].hardware->serviceOverKeyboard);
    EXPECT_EQ(shown[0].hardware->gainText, "4.55");

    const sim::DeviceState state = rig.InstrumentState();
    EXPECT_EQ(state.hardware.zeroPoint, 1111);
    EXPECT_EQ(state.hardware.gain, 455);
    EXPECT_EQ(state.hardware.reference, 17777);
    EXPECT_EQ(state.hardware.options, 0xA0);
}

TEST(HardwareWrite, GatedOptionsFollowTheConnectedInstrumentsVersion)
{
    ConnectedRig rig(RigOptions::Settings(FastInstrument(219)));
    HardwareOptions options = KeyboardAndNoVibrator();
    options.dataSafety = true;
    options.displayMode = true;
    rig.Mark();
    rig.Run(HardwareSettingsJob(options, nullptr));
    const std::vector<LineFrame> writes = Writes(rig.Heard());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].payload[7], 0xA0);
}

// Sensor values that cannot be read (no answer, or an error report in their
// place) and a closed port: nothing is written.
TEST(HardwareWrite, NothingIsWrittenWithoutTheSensorValuesOrAnOpenPort)
{
    ConnectedRig rig(RigOptions::Settings());
    rig.Silence({kObjectHardware});
    rig.Mark();
    auto result = std::make_shared<SettingsWriteResult>();
    rig.Run(HardwareSettingsJob(KeyboardAndNoVibrator(), result));

    EXPECT_EQ(result->outcome, Outcome::Refused);
    EXPECT_EQ(result->refusal, "the instrument's zero point, gain and reference voltage could not be read; "
                               "the hardware settings were not written");
    EXPECT_TRUE(result->sent.empty());
    EXPECT_EQ(rig.HeardNames(), std::vector<std::string>(5, "R33"));
    EXPECT_EQ(rig.ShownSinceMark(), 0u);
    EXPECT_EQ(rig.lamp, LampColour::Red);

    rig.Refuse({kObjectHardware});
    rig.Mark();
    rig.Run(HardwareSettingsJob(KeyboardAndNoVibrator(), result));
    EXPECT_EQ(result->outcome, Outcome::Refused);
    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R33", "AF0"}));

    rig.Close();
    rig.Mark();
    rig.Run(HardwareSettingsJob(KeyboardAndNoVibrator(), result));
    EXPECT_EQ(result->outcome, Outcome::PortClosed);
    EXPECT_TRUE(rig.Heard().empty());
    EXPECT_EQ(rig.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
}

} // namespace
