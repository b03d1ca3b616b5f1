// Scenario files and options: every key parses, bad values are refused with
// a reason, and a written scenario reads back to the same instrument.
#include "Device.h"
#include "Scenario.h"
#include "SimClock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

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
wrong_object = 2
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
    EXPECT_EQ(s.faults.wrongObject.next, 2);
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
        {"customer_id = \"ACME", "closing quote"},
        {"customer_id = \"AC\" ME", "text after the closing quote"},
        {"customer_id = \"A\\qB\"", "unknown escape"},
        {"customer_id = \"A\\x4\"", "unknown escape"},
        {"customer_id = \"ELEVENCHARS\"", "bad value"},
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

TEST(SimScenario, QuotedValuesAreTakenExactly)
{
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenarioText("customer_id = \"  #7 \\\"A\\\"\\x0a\"   # blanks, hash, quotes, line break\r\n"
                                  "software = \"221\"\n",
                                  s, &error))
        << error;
    EXPECT_EQ(s.customerId, "  #7 \"A\"\n");
    EXPECT_EQ(s.softwareVersion, 221);

    // Unquoted values keep their old reading: up to '#', without the blanks
    // at either end, a backslash as it stands.
    ASSERT_TRUE(ParseScenarioText("customer_id =   a\\x41 b   # comment\n", s, &error)) << error;
    EXPECT_EQ(s.customerId, "a\\x41 b");

    // A message shows an awkward value the way a file writes it.
    EXPECT_FALSE(ParseScenarioText("customer_id = \"ELEVEN\\x1bCHAR\"\n", s, &error));
    EXPECT_NE(error.find("\"ELEVEN\\x1bCHAR\""), std::string::npos) << error;
    EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
}

TEST(SimScenario, OptionsAreTakenAsGiven)
{
    Scenario s;
    std::vector<std::string> rest;
    std::string error;
    ASSERT_TRUE(ParseScenarioArguments({"--customer_id= A#=B\\ "}, s, &rest, &error)) << error;
    EXPECT_EQ(s.customerId, " A#=B\\ ");
    ASSERT_TRUE(ParseScenarioArguments({"--customer-id", "\"Q\""}, s, &rest, &error)) << error;
    EXPECT_EQ(s.customerId, "\"Q\"");
    ASSERT_TRUE(ParseScenarioArguments({"--software= 221 ", "--no_answer", " 0.5 "}, s, &rest, &error)) << error;
    EXPECT_EQ(s.softwareVersion, 221);
    EXPECT_DOUBLE_EQ(s.faults.noAnswer.probability, 0.5);
}

// The written scenario, read back, must hold the same values, not merely
// write the same text again: a lossy writer would pass that.
void ExpectReadsBackTheSame(const Scenario &s)
{
    const std::string text = FormatScenario(s);
    Scenario again;
    std::string error;
    ASSERT_TRUE(ParseScenarioText(text, again, &error)) << error << "\n" << text;
    EXPECT_EQ(again.customerId, s.customerId) << text;
    const FaultRate FaultPlan::*const rates[] = {&FaultPlan::noAnswer, &FaultPlan::badCrc, &FaultPlan::errorReport,
                                                 &FaultPlan::echo,     &FaultPlan::stray,  &FaultPlan::split,
                                                 &FaultPlan::late,     &FaultPlan::wrongObject};
    for (const auto rate : rates) {
        EXPECT_EQ((again.faults.*rate).probability, (s.faults.*rate).probability) << text;
        EXPECT_EQ((again.faults.*rate).next, (s.faults.*rate).next) << text;
    }
    EXPECT_EQ(again.serialNumber, s.serialNumber);
    EXPECT_EQ(again.clockOffsetSeconds, s.clockOffsetSeconds);
    EXPECT_EQ(again.seed, s.seed);
    EXPECT_EQ(FormatScenario(again), text);
    // Printed on a terminal, the file shows no control character or byte
    // beyond ASCII as it is.
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte < 0x7F)) << "byte " << int(byte) << " in\n" << text;
    }
}

TEST(SimScenario, AwkwardValuesReadBackAsWritten)
{
    const std::string customerIds[] = {
        "a#b",          "k=v=w",        "two\nlines",           "cr\r\nlf",
        "  pad  ",      " ",            "",                     "\"quoted\"",
        "\\x1b",        "\x1b[2J",      "\x7f\x9b\x80\xff",     "M\xc3\xbcller",
        "\xfc",         "tab\there",    "x # y = z",            std::string("a\0b", 3),
        "\\",           "\"",           "#",                    "end\\",
    };
    for (const std::string &id : customerIds) {
        Scenario s;
        s.customerId = id;
        ExpectReadsBackTheSame(s);
    }

    const double probabilities[] = {
        1e-7,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        1e-300,
        0.1,
        0.1 + 0.2,
        std::nextafter(1.0, 0.0),
        0.5,
    };
    for (const double p : probabilities) {
        Scenario s;
        s.faults.noAnswer.probability = p;
        s.faults.late = FaultRate{3, 0.0};
        s.faults.echo = FaultRate{0, 1.0};
        s.faults.wrongObject.probability = p;
        ExpectReadsBackTheSame(s);
    }

    Scenario extremes;
    extremes.serialNumber = std::numeric_limits<std::int32_t>::min();
    extremes.clockOffsetSeconds = 4000000000LL;
    extremes.seed = std::numeric_limits<std::uint32_t>::max();
    ExpectReadsBackTheSame(extremes);
    extremes.clockOffsetSeconds = -2000000000LL;
    extremes.serialNumber = std::numeric_limits<std::int32_t>::max();
    ExpectReadsBackTheSame(extremes);
}

TEST(SimScenario, ScenarioFilesThatCannotBeReadAreRefused)
{
    // Tests may run as root, whom file permissions do not stop; these paths
    // fail for everyone.
    const std::string directory = ::testing::TempDir();
    const std::string plain = directory + "sim_scenario_plain.txt";
    {
        std::ofstream file(plain);
        file << "software = 221\n";
    }
    const std::string unreadable[] = {
        directory,                    // a directory
        directory + "no-such-file",   // missing
        plain + "/inside",            // a path through a file
#ifdef __linux__
        "/proc/self/mem",             // opens, but reading it fails
#endif
    };
    for (const std::string &path : unreadable) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(LoadScenarioFile(path, s, &error)) << path;
        EXPECT_NE(error.find("cannot read scenario file " + path + ":"), std::string::npos) << error;
        std::vector<std::string> rest;
        EXPECT_FALSE(ParseScenarioArguments({"--scenario", path, "--software=221"}, s, &rest, &error)) << path;
    }
#ifdef __linux__
    std::string error;
    Scenario s;
    EXPECT_FALSE(LoadScenarioFile(directory, s, &error));
    EXPECT_NE(error.find(std::strerror(EISDIR)), std::string::npos) << error;
#endif

    // An empty file is a scenario of defaults; a readable file is read.
    {
        std::ofstream empty(plain, std::ios::trunc);
    }
    Scenario defaults;
    std::string message;
    EXPECT_TRUE(LoadScenarioFile(plain, defaults, &message)) << message;
    EXPECT_EQ(FormatScenario(defaults), FormatScenario(Scenario{}));
    std::remove(plain.c_str());
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
