// Scenario files and options: every key parses, bad values are refused with
// a reason, and a written scenario reads back to the same instrument.
#include "Device.h"
#include "Scenario.h"
#include "SimClock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace r310::sim;

TEST(SimScenario, FileLinesSetFieldsAndFaults)
{
    Scenario s;
    std::string error;
    const std::string text = R"(
# an older instrument
software = 211     # with logger
customer-id = ACME
exponent = -1
a1 = 205
a3_flags = 7
clock_offset = -3600
cal_result = error
events = 600
block2 = state=0 sets=5
no_answer = 3
bad_crc = 0.25
late = 10%
echo = always
fault_objects = 3, 7
pacing = off
)";
    ASSERT_TRUE(ParseScenarioText(text, s, &error)) << error;
    EXPECT_EQ(s.softwareVersion, 211);
    EXPECT_EQ(s.customerId, "ACME");
    EXPECT_EQ(s.exponent, -1);
    EXPECT_EQ(s.thresholds[0], 205);
    EXPECT_EQ(s.alarmFlags[2], 7);
    EXPECT_EQ(s.clockOffsetSeconds, -3600);
    EXPECT_TRUE(s.calibrationFails);
    EXPECT_EQ(s.events, 600);
    EXPECT_EQ(s.block(2).state, 0);
    EXPECT_EQ(s.block(2).sets, 5);
    EXPECT_EQ(s.faults.noAnswer.next, 3);
    EXPECT_DOUBLE_EQ(s.faults.badCrc.probability, 0.25);
    EXPECT_DOUBLE_EQ(s.faults.late.probability, 0.10);
    EXPECT_DOUBLE_EQ(s.faults.echo.probability, 1.0);
    EXPECT_EQ(s.faults.objects, (std::vector<std::uint8_t>{3, 7}));
    EXPECT_FALSE(s.pacing);
}

TEST(SimScenario, BadInputIsRefusedWithTheLine)
{
    const std::pair<std::string, std::string> bad[] = {
        {"colour = red", "unknown scenario key"},
        {"software = 2.10", "bad value"},
        {"a1 = 40000", "bad value"},
        {"customer_id = ELEVENCHARS", "bad value"},
        {"no_answer = 1.5", "bad value"},
        {"block0 = state=1", "unknown scenario key"},
        {"block1 = color=1", "block item"},
        {"just words", "expected key = value"},
        {"serial = 12abc", "bad value"},
    };
    for (const auto &[line, reason] : bad) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenarioText("seed = 3\n" + line + "\n", s, &error)) << line;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(SimScenario, CommandLineOptionsOverrideAFileInOrder)
{
    const std::string path = ::testing::TempDir() + "sim_scenario_test.txt";
    {
        std::ofstream file(path);
        file << "serial = 77\nsoftware = 220\n";
    }
    Scenario s;
    std::vector<std::string> rest;
    std::string error;
    ASSERT_TRUE(ParseScenarioArguments({"--log", "--scenario", path, "--software=221", "--seed", "9",
                                        "--no-pacing", "--block3=samples=12", "extra"},
                                       s, &rest, &error))
        << error;
    EXPECT_EQ(s.serialNumber, 77);
    EXPECT_EQ(s.softwareVersion, 221);
    EXPECT_EQ(s.seed, 9u);
    EXPECT_EQ(s.block(3).samples, 12);
    EXPECT_EQ(rest, (std::vector<std::string>{"--log", "--no-pacing", "extra"}));

    EXPECT_FALSE(ParseScenarioArguments({"--seed"}, s, &rest, &error));
    EXPECT_FALSE(ParseScenarioArguments({"--scenario", path + ".missing"}, s, &rest, &error));
    std::remove(path.c_str());
}

TEST(SimScenario, WrittenScenarioMakesTheSameInstrument)
{
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenarioText("software = 221\nevents = 40\nblock4 = gap=600 alarm=yes\nsplit = 0.5\n"
                                  "hw_options = 0xFE\nseed = 12\n",
                                  s, &error));
    Scenario again;
    ASSERT_TRUE(ParseScenarioText(FormatScenario(s), again, &error)) << error;
    EXPECT_EQ(FormatScenario(again), FormatScenario(s));

    auto clock = std::make_shared<ManualClock>();
    Device a(s, clock);
    Device b(again, clock);
    EXPECT_EQ(EncodeHardware(a.state().hardware), EncodeHardware(b.state().hardware));
    ASSERT_EQ(a.state().events.records.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i)
        EXPECT_EQ(EncodeEventRecord(a.state().events.records[i]), EncodeEventRecord(b.state().events.records[i]));
    EXPECT_EQ(EncodeLoggerBlock(a.state().logger.blocks[3]), EncodeLoggerBlock(b.state().logger.blocks[3]));
}

TEST(SimClockDates, InstrumentSecondsCountFrom1980)
{
    EXPECT_EQ(InstrumentSecondsFromCivil(1980, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(InstrumentSecondsFromCivil(1981, 1, 1, 0, 0, 0), 366 * 86400);
    EXPECT_EQ(InstrumentSecondsFromCivil(2000, 1, 1, 0, 0, 0), 631152000);
    EXPECT_EQ(InstrumentSecondsFromCivil(2024, 3, 15, 10, 0, 0), ManualClock::kDefaultLocalSeconds);
    EXPECT_EQ(InstrumentSecondsFromCivil(1979, 12, 31, 23, 59, 59), -1);

    ManualClock clock;
    clock.advanceMillis(2500);
    EXPECT_EQ(clock.localSeconds(), ManualClock::kDefaultLocalSeconds + 2);
    clock.setLocalSeconds(100);
    clock.advanceMillis(999);
    EXPECT_EQ(clock.localSeconds(), 100);
}

TEST(SimScenario, ShippedExamplesLoadAndShowWhatTheyPromise)
{
    const std::string dir = SIM_SCENARIO_DIR;
    auto load = [&](const char *name) {
        Scenario s;
        std::string error;
        EXPECT_TRUE(LoadScenarioFile(dir + "/" + name, s, &error)) << error;
        return s;
    };
    auto clock = std::make_shared<ManualClock>();

    const Scenario older = load("older-instrument.txt");
    EXPECT_EQ(Device(older, clock).state().hardware.options, 0xB0);

    const Device full(load("full-logs.txt"), clock);
    EXPECT_EQ(full.state().events.records.size(), 700u);
    EXPECT_EQ(full.state().logger.blocks.size(), 40u);
    EXPECT_EQ(full.state().logger.blocks[8].setCount, 5);
    EXPECT_EQ(full.state().logger.blocks[12].firstSampleTime - full.state().logger.blocks[11].firstSampleTime,
              9u * 30 + 86400);

    const Scenario flaky = load("flaky-line.txt");
    EXPECT_DOUBLE_EQ(flaky.faults.echo.probability, 1.0);
    EXPECT_EQ(flaky.faults.lineDropAfter, 20);

    const Scenario trouble = load("calibration-trouble.txt");
    EXPECT_TRUE(trouble.calibrationFails);
    EXPECT_TRUE(trouble.faults.clockReadOnly);
    EXPECT_EQ(Device(trouble, clock).state().bump.state, 1);
}
