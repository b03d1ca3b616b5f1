// The simulated instrument as a hostile peer: a clock that stands still,
// counters the logs report beyond what they store, answers shorter or longer
// than their object, blocks with more sets than it keeps, and the scenario
// files that are no scenario.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

using namespace simtest;
using namespace r310::sim;

namespace {

Scenario With(const std::string &text)
{
    Scenario s = Quiet();
    s.softwareVersion = 221;
    std::string error;
    EXPECT_TRUE(ParseScenarioText(text, s, &error)) << error;
    return s;
}

std::string TempPath(const char *name)
{
    return ::testing::TempDir() + name;
}

} // namespace

TEST(SimHostile, AStoppedClockReadsItsCountAndIgnoresWrites)
{
    for (const std::uint32_t stopped : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Harness h(With("clock_stopped_at = " + std::to_string(stopped)));
        EXPECT_EQ(U32(h.read(3).payload, 0), stopped);
        h.clock->advanceMillis(5000);
        EXPECT_EQ(U32(h.read(3).payload, 0), stopped) << "the clock does not run";
        const r310::Frame written = h.write(3, Bytes{0x80, 0x9D, 0x9E, 0x25});
        EXPECT_EQ(written.flags, kData);
        EXPECT_EQ(U32(written.payload, 0), stopped) << "the write is answered but not taken";
        EXPECT_EQ(U32(h.read(3).payload, 0), stopped);
    }
    // The logs keep their times from the running clock, not from the stopped one.
    Harness h(With("clock_stopped_at = 0\nevents = 2"));
    EXPECT_GT(h.device.state().events.records.back().time, 1000000000u);
}

TEST(SimHostile, ReportedCountersStandUntilTheLogIsCleared)
{
    Harness h(With("events = 3\nevent_counters = 65535,65535,65535,65535\n"
                   "logger_blocks = 2\nlogger_counters = 65535,40000,65535"));
    const Bytes events = h.read(35).payload;
    EXPECT_EQ(events, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    // Only the stored events answer; the ones the counters promise beyond them are refused.
    EXPECT_EQ(h.read(34, Le16(3)).object, 34);
    EXPECT_EQ(h.read(34, Le16(4)).object, 0xF0);
    EXPECT_EQ(h.read(34, Le16(65535)).object, 0xF0);

    const Bytes logger = h.read(36).payload;
    ExpectFields(logger, {{kU16, 0, 65535}, {kU16, 2, 40000}, {kU16, 4, 65535},
                          {kU16, 12, 60} /* the rest of the record is the logger's own */});
    EXPECT_EQ(h.read(37, Le16(2)).object, 37);
    EXPECT_EQ(h.read(37, Le16(3)).object, 0xF0);

    // The interval write answers with the reported counters too.
    Bytes info = logger;
    info[12] = 30;
    EXPECT_EQ(U16(h.write(36, info).payload, 2), 40000);

    // Clearing the logs ends the pretence.
    Bytes clear(12, 0);
    clear[6] = 100;
    const Bytes cleared = h.write(35, clear).payload;
    EXPECT_EQ(U16(cleared, 2), 0);
    EXPECT_EQ(U16(cleared, 6), 100);
    EXPECT_EQ(h.write(127, Bytes{7}).flags, kData);
    const Bytes erased = h.read(36).payload;
    ExpectFields(erased, {{kU16, 0, 0}, {kU16, 2, 0}, {kU16, 4, 500}});
}

TEST(SimHostile, ShortAndLongAnswersChangeOnlyTheLengthOfDataAnswers)
{
    {
        Harness h(With("short_answer = always"));
        EXPECT_EQ(h.read(2).payload.size(), 20u);
        EXPECT_EQ(h.read(3).payload.size(), 3u);
        EXPECT_EQ(h.read(7).payload.size(), 1u);
        EXPECT_EQ(h.read(36).payload.size(), 17u);
        EXPECT_EQ(h.read(1).payload.size(), 0u);
        // An error report keeps its three bytes.
        const r310::Frame refused = h.read(34, Le16(60000));
        EXPECT_EQ(refused.object, 0xF0);
        EXPECT_EQ(refused.payload.size(), 3u);
    }
    {
        Harness h(With("short_answer = always\nshort_answer_bytes = 64\nfault_objects = 2"));
        EXPECT_TRUE(h.read(2).payload.empty());
        EXPECT_EQ(h.read(3).payload.size(), 4u) << "only the objects named are hit";
    }
    {
        Harness h(With("long_answer = always\nlong_answer_fill = 0xA5"));
        const Bytes identity = h.read(2).payload;
        ASSERT_EQ(identity.size(), 64u);
        EXPECT_EQ(identity[20], 87) << "the object's own bytes come first";
        EXPECT_EQ(identity[21], 0xA5);
        EXPECT_EQ(identity[63], 0xA5);
        EXPECT_EQ(h.lastStatus, 1) << "a frame of the longest payload is a good frame";
        EXPECT_EQ(h.read(37, Le16(1)).payload.size(), 64u);
        EXPECT_EQ(h.read(38, Bytes{1}).payload.size(), 64u);
        EXPECT_EQ(h.read(34, Le16(60000)).payload.size(), 3u);
    }
    {
        // The next K requests: a count, as for the other faults.
        Harness h(With("long_answer = 2"));
        EXPECT_EQ(h.read(3).payload.size(), 64u);
        EXPECT_EQ(h.read(3).payload.size(), 64u);
        EXPECT_EQ(h.read(3).payload.size(), 4u);
    }
}

TEST(SimHostile, BlocksReportEverySetButKeepAtMostEight)
{
    Harness h(With("logger_blocks = 3\nblock1 = sets=255 samples=255\nblock2 = sets=0\nblock3 = sets=8"));
    const auto &blocks = h.device.state().logger.blocks;
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].setCount, 255);
    EXPECT_EQ(blocks[0].sets.size(), static_cast<std::size_t>(kSetsKeptPerBlock));
    EXPECT_TRUE(blocks[1].sets.empty());
    EXPECT_EQ(blocks[2].sets.size(), 8u);

    const Bytes header = h.read(37, Le16(1)).payload;
    EXPECT_EQ(header[15], 255);
    EXPECT_EQ(header[16], 255);
    EXPECT_EQ(h.read(38, Bytes{8}).object, 38);
    EXPECT_EQ(h.read(38, Bytes{9}).object, 0xF0);

    // The largest logger with the most sets stays small: eight sets a block.
    const Harness big(With("logger_blocks = 65535\nlogger_sets = 255"));
    EXPECT_EQ(big.device.state().logger.blocks.size(), 65535u);
    EXPECT_EQ(big.device.state().logger.blocks.back().sets.size(), 8u);
}

TEST(SimHostile, NewKeysReadBackAndRefuseWhatDoesNotFit)
{
    const Scenario s = With("clock_stopped_at = 4294967295\nevent_counters = 1,2,3,65535\n"
                            "logger_counters = 0,32768,65535\nshort_answer = 0.25\nshort_answer_bytes = 3\n"
                            "long_answer = 4\nlong_answer_fill = 255\n");
    Scenario again = Quiet();
    std::string error;
    ASSERT_TRUE(ParseScenarioText(FormatScenario(s), again, &error)) << error;
    EXPECT_EQ(FormatScenario(again), FormatScenario(s));
    EXPECT_EQ(again.clockStoppedAt, 4294967295LL);
    ASSERT_TRUE(again.eventCounters.has_value());
    EXPECT_EQ((*again.eventCounters)[3], 65535);
    ASSERT_TRUE(again.loggerCounters.has_value());
    EXPECT_EQ((*again.loggerCounters)[1], 32768);
    EXPECT_DOUBLE_EQ(again.faults.shortAnswer.probability, 0.25);
    EXPECT_EQ(again.faults.longAnswer.next, 4);

    Scenario off = again;
    ASSERT_TRUE(ParseScenarioText("clock_stopped_at = off\nevent_counters = off\nlogger_counters = off\n", off, &error));
    EXPECT_EQ(off.clockStoppedAt, -1);
    EXPECT_FALSE(off.eventCounters.has_value());
    EXPECT_FALSE(off.loggerCounters.has_value());

    const char *refused[] = {"clock_stopped_at = 4294967296", "clock_stopped_at = -1", "clock_stopped_at = abc",
                             "event_counters = 1,2,3",        "event_counters = 1,2,3,4,5",
                             "event_counters = 1,2,3,65536",  "event_counters = 1,,3,4",
                             "logger_counters = -1,0,0",      "short_answer_bytes = 0",
                             "short_answer_bytes = 65",       "long_answer_fill = 256"};
    for (const char *line : refused) {
        Scenario s2 = Quiet();
        std::string message;
        EXPECT_FALSE(ParseScenarioText(line, s2, &message)) << line;
        EXPECT_NE(message.find("line 1: bad value"), std::string::npos) << message;
    }
}

TEST(SimHostile, ScenarioFilesThatAreNoScenarioAreRefusedWithoutReadingThemWhole)
{
    const std::string path = TempPath("sim_hostile_scenario.txt");
    const auto load = [&path](const std::string &content, Scenario &s, std::string *error) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return LoadScenarioFile(path, s, error);
    };
    // Enormous: refused once the limit is passed, whatever follows.
    std::string enormous;
    const std::string line = "software = 221   # a comment that makes the line long enough\n";
    for (std::size_t written = 0; written <= 8u * 1024 * 1024; written += line.size())
        enormous += line;
    const std::pair<std::string, std::string> cases[] = {
        {enormous, "scenario file " + path + " is larger than 1048576 bytes; a scenario is a few lines of text"},
        {std::string("software = 221\n\0\x89PNG\r\n\x1a\n", 24),
         "scenario file " + path + " is not text: a zero byte at offset 15"},
        // Binary without a zero byte: the first line that is no setting is named.
        {"\xff\xd8\xff\xe0 JFIF\n", path + ": line 1: expected key = value"},
        // Truncated in the middle of a quoted value, and in the middle of a key.
        {"software = 221\ncustomer_id = \"AB", path + ": line 2: quoted value without its closing quote"},
        {"software = 221\nlogger_blo", path + ": line 2: expected key = value"},
    };
    for (const auto &[content, message] : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(load(content, s, &error));
        EXPECT_EQ(error, message);
    }

    // Exactly at the limit is still read.
    Scenario s;
    std::string error;
    EXPECT_TRUE(load("software = 219\n" + std::string(kMaxScenarioFileBytes - 15, '#'), s, &error)) << error;
    EXPECT_EQ(s.softwareVersion, 219);
    std::remove(path.c_str());
}

TEST(SimHostile, ShippedHostileScenariosLoadAndShowWhatTheyPromise)
{
    const std::string dir = SIM_SCENARIO_DIR;
    auto load = [&](const char *name) {
        Scenario s;
        std::string error;
        EXPECT_TRUE(LoadScenarioFile(dir + "/" + name, s, &error)) << error;
        s.pacing = false;
        return s;
    };
    {
        Harness h(load("hostile-values.txt"));
        const Bytes identity = h.read(2).payload;
        EXPECT_EQ(Bytes(identity.begin() + 10, identity.begin() + 20),
                  (Bytes{0x01, 'A', 'B', 0x7F, 0xFF, 0x0A, 'C', '#', 'D', 'E'}));
        EXPECT_EQ(S8(h.read(4).payload, 7), -128);
        EXPECT_EQ(U32(h.read(3).payload, 0), 0xFFFFFFFFu);
        EXPECT_EQ(U16(h.read(35).payload, 2), 65535);
        EXPECT_EQ(U16(h.read(36).payload, 2), 65535);
    }
    {
        const Scenario logs = load("hostile-logs.txt");
        Harness h(logs);
        EXPECT_EQ(S8(h.read(4).payload, 7), 127);
        EXPECT_EQ(U16(h.read(35).payload, 2), 65535);
        EXPECT_EQ(U16(h.read(36).payload, 2), 40000);
        EXPECT_EQ(h.read(37, Le16(1)).payload[15], 200);
        EXPECT_EQ(h.read(37, Le16(3)).payload[16], 255);
    }
    {
        // Filled up, or now and then one byte short.
        Harness h(load("hostile-frames.txt"));
        int full = 0;
        int shortOnes = 0;
        for (int i = 0; i < 40; ++i) {
            const std::size_t size = h.read(2).payload.size();
            EXPECT_TRUE(size == 64 || size == 20) << size;
            (size == 64 ? full : shortOnes) += 1;
        }
        EXPECT_GT(full, shortOnes);
        EXPECT_GT(shortOnes, 0);
    }
}
