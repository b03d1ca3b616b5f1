// The simulated instrument's answers against the object layouts the
// configurator decodes: sizes, offsets, write-then-read-back, processes.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace simtest;
using namespace r310::sim;

namespace {

std::int64_t Today(const Harness &h) { return static_cast<std::int64_t>(h.device.instrumentSeconds()) / 86400; }

void ExpectErrorReport(const r310::Frame &answer, std::uint8_t object, ErrorReason reason)
{
    EXPECT_EQ(answer.object, 0xF0);
    EXPECT_TRUE(answer.flags & 0x80);
    ASSERT_EQ(answer.payload.size(), 3u);
    EXPECT_EQ(answer.payload[0], object);
    EXPECT_EQ(answer.payload[2], static_cast<std::uint8_t>(reason));
}

} // namespace

TEST(SimObjects, EveryObjectAnswersWithDataFlagsAndItsSize)
{
    Scenario s = Quiet();
    s.softwareVersion = 221;
    Harness h(s);
    struct Case {
        std::uint8_t object;
        std::uint8_t flags;
        Bytes payload;
        std::size_t size;
    };
    const std::vector<Case> cases = {
        {1, 0x60, {}, 0},        {1, 0x00, {}, 0},       {2, 0x00, {}, 21},      {3, 0x00, {}, 4},
        {4, 0x00, {}, 29},       {5, 0x00, {}, 1},       {6, 0x00, {}, 6},       {7, 0x00, {}, 2},
        {10, 0x00, {}, 1},       {31, 0x00, {}, 16},     {33, 0x00, {}, 10},     {35, 0x00, {}, 8},
        {36, 0x00, {}, 18},      {34, 0x00, Le16(1), 18}, {37, 0x00, Le16(1), 17}, {38, 0x00, {1}, 39},
        {8, 0x60, {1}, 1},       {8, 0x60, {0}, 1},      {9, 0x60, Le16(0), 2},   {127, 0x60, {2}, 1},
        {30, 0x60, Bytes(28, 0), 28},
    };
    for (const Case &c : cases) {
        const r310::Frame answer = h.exchange(c.object, c.flags, c.payload);
        SCOPED_TRACE(int{c.object});
        EXPECT_EQ(h.lastStatus, 1);
        EXPECT_EQ(answer.object, c.object);
        EXPECT_EQ(answer.flags, kData);
        EXPECT_EQ(answer.payload.size(), c.size);
    }
}

TEST(SimObjects, DefaultIdentityAtItsOffsets)
{
    Harness h;
    const Bytes p = h.read(2).payload;
    ExpectFields(p, {{kU32, 0, 1234}, {kU16, 4, 10301}, {kU16, 6, 4711}, {kU16, 8, 210}});
    EXPECT_EQ(std::string(p.begin() + 10, p.begin() + 14), "DEMO");
    EXPECT_TRUE(std::all_of(p.begin() + 14, p.begin() + 20, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(U8(p, 20), 87);
}

TEST(SimObjects, CustomerIdWriteTakesOnlyTheIdField)
{
    Harness h;
    Bytes payload(21, 0xEE);
    const std::string id = "ABC";
    std::copy(id.begin(), id.end(), payload.begin() + 10);
    payload[13] = 0; // the text ends here; what follows is not kept
    const r310::Frame answer = h.write(2, payload);
    EXPECT_EQ(answer.flags, kData);
    const Bytes p = h.read(2).payload;
    ExpectFields(p, {{kU32, 0, 1234}, {kU16, 8, 210}, {kU8, 20, 87}});
    EXPECT_EQ(std::string(p.begin() + 10, p.begin() + 13), "ABC");
    EXPECT_TRUE(std::all_of(p.begin() + 13, p.begin() + 20, [](std::uint8_t b) { return b == 0; }));

    // A full 10-character ID fills the field without a terminator.
    Bytes ten(21, 0);
    const std::string full = "ABCDEFGHIJ";
    std::copy(full.begin(), full.end(), ten.begin() + 10);
    h.write(2, ten);
    const Bytes q = h.read(2).payload;
    EXPECT_EQ(std::string(q.begin() + 10, q.begin() + 20), full);
}

TEST(SimObjects, ClockRunsFromItsOffsetAndTakesWrites)
{
    Scenario s = Quiet();
    s.clockOffsetSeconds = -7;
    Harness h(s);
    const auto pc = static_cast<std::uint32_t>(h.clock->localSeconds());
    EXPECT_EQ(U32(h.read(3).payload, 0), pc - 7);
    h.clock->advanceSeconds(3);
    EXPECT_EQ(U32(h.read(3).payload, 0), pc - 4);

    const Bytes y2000 = {0x80, 0x9D, 0x9E, 0x25}; // 2000-01-01 00:00:00
    const r310::Frame answer = h.write(3, y2000);
    EXPECT_EQ(U32(answer.payload, 0), 631152000u);
    h.clock->advanceSeconds(2);
    EXPECT_EQ(U32(h.read(3).payload, 0), 631152002u);
}

TEST(SimObjects, RangeWriteChangesOnlyLimitsOptionsAndCalibrationGas)
{
    Harness h;
    const Bytes before = h.read(4).payload;
    ExpectFields(before, {{kS16, 1, 0}, {kS16, 3, 500}, {kU8, 5, 1}, {kU8, 6, 0} /* ppm */, {kS8, 7, 0},
                          {kS16, 8, 30}, {kS16, 10, 60}, {kS16, 12, 150}, {kS16, 14, 100}, {kS16, 16, 30},
                          {kU8, 18, 0x04}, {kS16, 23, 100}, {kS16, 25, 52}, {kS16, 27, 1240}});

    Bytes w(29, 0x77); // garbage where the write carries nothing
    const int limits[] = {25, -3, 300, 90, 20};
    for (int i = 0; i < 5; ++i) {
        const Bytes v = Le16(limits[i]);
        std::copy(v.begin(), v.end(), w.begin() + 8 + 2 * i);
        w[18 + i] = static_cast<std::uint8_t>(0xF8 | i);
    }
    const Bytes cal = Le16(250);
    std::copy(cal.begin(), cal.end(), w.begin() + 23);
    h.write(4, w);

    const Bytes after = h.read(4).payload;
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 8, after.begin()));
    EXPECT_TRUE(std::equal(before.begin() + 25, before.end(), after.begin() + 25));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(S16(after, 8 + 2 * i), limits[i]);
        EXPECT_EQ(U8(after, 18 + i), i) << "only the three option bits are kept";
    }
    EXPECT_EQ(S16(after, 23), 250);
}

TEST(SimObjects, SignalsWriteReadsBackWithDueDatesFromToday)
{
    Harness h;
    const Bytes p = h.read(31).payload;
    ExpectFields(p, {{kU8, 0, 0x95}, {kU8, 1, 30}, {kU8, 2, 0x21}, {kS16, 3, Today(h) + 12},
                     {kS16, 5, Today(h) + 150}, {kS16, 7, 30}, {kS16, 9, 180}, {kU8, 11, 0x05}});

    const Bytes w = {0xCE, 45, 0xD9, 0x89, 0x1C, 0x10, 0x27, 14, 0, 0xDA, 0x02, 0xF6, 9, 9, 9, 9};
    h.write(31, w);
    const Bytes r = h.read(31).payload;
    ExpectFields(r, {{kU8, 0, 0xCE}, {kU8, 1, 45}, {kU8, 2, 0x59} /* bit 7 of the display byte does not exist */,
                     {kS16, 3, 7305}, {kS16, 5, 10000}, {kS16, 7, 14}, {kS16, 9, 730},
                     {kU8, 11, 0x06} /* bits 4 to 7 of the service byte do not exist */});
    EXPECT_TRUE(std::all_of(r.begin() + 12, r.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(SimObjects, HardwareOptionsFollowTheSoftwareVersion)
{
    const std::pair<int, int> versions[] = {{209, 0xB0}, {219, 0xB0}, {220, 0xBC}, {221, 0xBE}};
    for (const auto &[version, mask] : versions) {
        Scenario s = Quiet();
        s.softwareVersion = static_cast<std::uint16_t>(version);
        s.hwOptions = 0xFF;
        Harness h(s);
        SCOPED_TRACE(version);
        EXPECT_EQ(U8(h.read(33).payload, 7), mask) << "as configured";
        Bytes w = {0xAA, 0x19, 0x05, 0xEE, 0x02, 0x33, 0x4A, 0xFF, 0xAA, 0xAA};
        h.write(33, w);
        const Bytes r = h.read(33).payload;
        ExpectFields(r, {{kU8, 0, 0}, {kS16, 1, 1305}, {kS16, 3, 750}, {kS16, 5, 18995},
                         {kU8, 7, mask} /* as written */, {kU16, 8, 0}});
    }
}

TEST(SimObjects, FactorySetupWritesSerialClockIdAndLimitList)
{
    Harness h;
    h.write(4, [] {
        Bytes w(29, 0);
        w[8] = 99; // A1 changed by the user
        return w;
    }());
    Bytes w(28, 0);
    const Bytes serial = {0x29, 0, 0, 0};
    std::copy(serial.begin(), serial.end(), w.begin());
    const Bytes time = {0x80, 0x9D, 0x9E, 0x25};
    std::copy(time.begin(), time.end(), w.begin() + 4);
    const std::string id = "ABCDEFGHI";
    std::copy(id.begin(), id.end(), w.begin() + 8);
    w[18] = 0xAA;
    EXPECT_EQ(h.write(30, w).payload, w);

    const Bytes p = h.read(2).payload;
    EXPECT_EQ(U32(p, 0), 41u);
    EXPECT_EQ(std::string(p.begin() + 10, p.begin() + 19), id);
    EXPECT_EQ(U8(p, 19), 0);
    EXPECT_EQ(U32(h.read(3).payload, 0), 631152000u);
    EXPECT_EQ(S16(h.read(4).payload, 8), 30) << "limit list restored";
    EXPECT_EQ(h.device.state().limitListUpdates, 1);
}

TEST(SimObjects, SpanCalibrationRunsForItsReadsThenSucceeds)
{
    Scenario s = Quiet();
    s.calibrationReads = 3;
    Harness h(s);
    EXPECT_EQ(S8(h.read(10).payload, 0), 1) << "idle instrument reports its last result";
    EXPECT_EQ(h.write(9, Le16(500)).payload, Le16(500));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(S8(h.read(10).payload, 0), 0) << "running, read " << i;
    EXPECT_GT(S8(h.read(10).payload, 0), 0);
    EXPECT_GT(S8(h.read(10).payload, 0), 0) << "the result stays";
    EXPECT_EQ(S16(h.read(4).payload, 23), 500) << "calibration gas taken over";
    EXPECT_EQ(S16(h.read(31).payload, 5), Today(h) + 180) << "next calibration due";
}

TEST(SimObjects, CalibrationCanFail)
{
    Scenario s = Quiet();
    s.calibrationReads = 1;
    s.calibrationFails = true;
    Harness h(s);
    h.write(9, Le16(0));
    EXPECT_TRUE(h.device.state().calibration.zero);
    EXPECT_EQ(S8(h.read(10).payload, 0), 0);
    EXPECT_LT(S8(h.read(10).payload, 0), 0);
    EXPECT_EQ(S16(h.read(4).payload, 23), 100) << "a failed calibration changes nothing";
}

TEST(SimObjects, BumpTestRunsThenReportsItsResult)
{
    Scenario s = Quiet();
    s.bump = "running";
    s.bumpReads = 2;
    Harness h(s);
    EXPECT_EQ(S8(h.read(5).payload, 0), 1);
    for (int i = 0; i < 2; ++i) {
        const Bytes p = h.read(6).payload;
        EXPECT_EQ(S16(p, 0), 0);
    }
    const Bytes done = h.read(6).payload;
    EXPECT_GT(S16(done, 0), 0);
    EXPECT_GT(S16(done, 2), 0);
    EXPECT_GT(S16(done, 4), 0);
    EXPECT_EQ(S8(h.read(5).payload, 0), 2);

    s.bump = "error";
    Harness failed(s);
    EXPECT_LT(S8(failed.read(5).payload, 0), 0);
    EXPECT_LT(S16(failed.read(6).payload, 0), 0);
    s.bump = "needcal";
    EXPECT_EQ(S8(Harness(s).read(5).payload, 0), 0);
}

TEST(SimObjects, HornSwitchesOnAndOff)
{
    Harness h;
    h.write(8, {1});
    EXPECT_TRUE(h.device.state().hornOn);
    h.write(8, {0});
    EXPECT_FALSE(h.device.state().hornOn);
    ExpectErrorReport(h.write(8, {2}), 8, ErrorReason::OutOfRange);
    EXPECT_EQ(h.device.state().hornSwitches, 2);
}

TEST(SimObjects, ServiceFunctions)
{
    Scenario s = Quiet();
    s.softwareVersion = 211;
    Harness h(s);
    // Default restores what the user changed.
    h.write(4, Bytes(29, 0));
    h.write(33, Bytes(10, 0));
    EXPECT_EQ(S16(h.read(4).payload, 8), 0);
    h.write(127, {4});
    EXPECT_EQ(S16(h.read(4).payload, 8), 30);
    EXPECT_EQ(S16(h.read(33).payload, 1), 1305);
    EXPECT_EQ(U8(h.read(33).payload, 7), 0x80);

    // 7 erases the data logger.
    EXPECT_EQ(U16(h.read(36).payload, 2), 6);
    h.write(127, {7});
    EXPECT_EQ(U16(h.read(36).payload, 2), 0);
    ExpectErrorReport(h.read(37, Le16(1)), 37, ErrorReason::OutOfRange);

    h.write(127, {2});
    EXPECT_TRUE(h.device.state().locked);
    h.write(127, {6});
    EXPECT_FALSE(h.device.state().locked);

    const int events = U16(h.read(35).payload, 2);
    h.write(127, {1});
    EXPECT_EQ(U16(h.read(35).payload, 2), events + 2);
    EXPECT_EQ(U8(h.read(34, Le16(events + 1)).payload, 2), 20);
    EXPECT_EQ(U8(h.read(34, Le16(events + 2)).payload, 2), 19);

    h.write(127, {3});
    h.write(127, {5});
    EXPECT_TRUE(h.device.state().updateRequested);
    ExpectErrorReport(h.write(127, {8}), 127, ErrorReason::OutOfRange);
    ExpectErrorReport(h.write(127, {0}), 127, ErrorReason::OutOfRange);
    EXPECT_EQ(h.device.state().serviceCalls, (std::vector<std::uint8_t>{4, 7, 2, 6, 1, 3, 5}));
}

TEST(SimObjects, RequestsItCannotServeGetErrorReports)
{
    Harness h;
    ExpectErrorReport(h.read(99), 99, ErrorReason::UnknownObject);
    ExpectErrorReport(h.read(2, {1}), 2, ErrorReason::WrongLength);
    ExpectErrorReport(h.write(4, Bytes(28, 0)), 4, ErrorReason::WrongLength);
    ExpectErrorReport(h.write(3, Bytes(5, 0)), 3, ErrorReason::WrongLength);
    ExpectErrorReport(h.read(34), 34, ErrorReason::WrongLength);
    ExpectErrorReport(h.read(9), 9, ErrorReason::NotAllowed);
    ExpectErrorReport(h.read(127), 127, ErrorReason::NotAllowed);
    ExpectErrorReport(h.write(7, Le16(0)), 7, ErrorReason::NotAllowed);
    ExpectErrorReport(h.read(34, Le16(0)), 34, ErrorReason::OutOfRange);
    ExpectErrorReport(h.read(34, Le16(25)), 34, ErrorReason::OutOfRange);
    ExpectErrorReport(h.read(38, {1}), 38, ErrorReason::OutOfRange); // no block selected yet
    h.read(37, Le16(1));
    ExpectErrorReport(h.read(38, {2}), 38, ErrorReason::OutOfRange);
    EXPECT_EQ(h.device.statistics().errorReports, 12);
}

TEST(SimObjects, EventLogHoldsRealisticEventsBeyondTheTableSize)
{
    Scenario s = Quiet();
    s.events = 600;
    Harness h(s);
    const Bytes props = h.read(35).payload;
    EXPECT_EQ(U16(props, 2), 600);
    EXPECT_GE(U16(props, 6), 600);

    const std::uint32_t now = static_cast<std::uint32_t>(h.device.instrumentSeconds());
    std::uint32_t previous = 0;
    std::set<int> types;
    int openAlarms = 0;
    for (int n = 1; n <= 600; ++n) {
        const r310::Frame f = h.read(34, Le16(n));
        ASSERT_EQ(f.flags, kData);
        ASSERT_EQ(f.payload.size(), 18u);
        const Bytes &p = f.payload;
        const int type = U8(p, 2);
        types.insert(type);
        const std::uint32_t time = U32(p, 4);
        EXPECT_GE(time, previous);
        EXPECT_LT(time, now);
        previous = time;
        if (type == 19 || type == 20) {
            EXPECT_GT(U8(p, 8), 0) << "battery at byte 8";
            EXPECT_EQ(U16(p, 9), 10301);
            EXPECT_EQ(U16(p, 11), 4711);
        } else {
            ASSERT_TRUE((type >= 1 && type <= 5) || (type >= 9 && type <= 13)) << type;
            ExpectFields(p, {{kU8, 8, 1}, {kU8, 9, 0} /* ppm */, {kS8, 10, 0}});
            EXPECT_GT(U8(p, 17), 0) << "battery at byte 17";
            if (type == 1) {
                EXPECT_GT(S16(p, 11), 30) << "A1 goes on above its limit";
            }
            openAlarms += type <= 5 ? 1 : -1;
            EXPECT_GE(openAlarms, 0) << "an alarm goes off only after it went on";
        }
    }
    EXPECT_TRUE(types.count(1) && types.count(9) && types.count(19) && types.count(20));
}

TEST(SimObjects, EventClearEmptiesTheLogAndTakesTheMaximum)
{
    Harness h;
    Bytes w(12, 0);
    w[6] = 0x2C;
    w[7] = 0x01; // 300
    EXPECT_EQ(h.write(35, w).payload, (Bytes{0, 0, 0, 0, 0, 0, 0x2C, 0x01}));
    const Bytes p = h.read(35).payload;
    EXPECT_EQ(U16(p, 2), 0);
    EXPECT_EQ(U16(p, 6), 300);
    ExpectErrorReport(h.read(34, Le16(1)), 34, ErrorReason::OutOfRange);
    ExpectErrorReport(h.write(35, Bytes(12, 0)), 35, ErrorReason::OutOfRange);
}

TEST(SimObjects, LoggerIntervalWriteAcceptsThirtyToThreeHundredSeconds)
{
    Harness h;
    const Bytes info = h.read(36).payload;
    ExpectFields(info, {{kU16, 0, 6}, {kU16, 2, 6}, {kU16, 4, 500}, {kU8, 6, 1}, {kU16, 12, 60}});
    for (const int interval : {30, 300}) {
        Bytes w = info;
        w[12] = static_cast<std::uint8_t>(interval & 0xFF);
        w[13] = static_cast<std::uint8_t>(interval >> 8);
        w[2] = 99; // not writable
        EXPECT_EQ(h.write(36, w).object, 36);
        const Bytes r = h.read(36).payload;
        EXPECT_EQ(U16(r, 12), interval);
        EXPECT_EQ(U16(r, 2), 6);
    }
    for (const int interval : {29, 301, 0}) {
        Bytes w = info;
        w[12] = static_cast<std::uint8_t>(interval & 0xFF);
        w[13] = static_cast<std::uint8_t>(interval >> 8);
        ExpectErrorReport(h.write(36, w), 36, ErrorReason::OutOfRange);
    }
    EXPECT_EQ(U16(h.read(36).payload, 12), 300);
}

TEST(SimObjects, DefaultLoggerBlocksAreContiguousWithOneGasPeak)
{
    Harness h;
    const std::uint32_t now = static_cast<std::uint32_t>(h.device.instrumentSeconds());
    std::uint32_t expectedStart = 0;
    for (int b = 1; b <= 6; ++b) {
        const Bytes head = h.read(37, Le16(b)).payload;
        ASSERT_EQ(head.size(), 17u);
        ExpectFields(head, {{kU16, 0, 1}, {kU16, 13, 60}, {kU8, 15, 15}, {kU8, 16, 1}});
        if (b > 1) {
            EXPECT_EQ(U32(head, 9), expectedStart);
        }
        expectedStart = U32(head, 9) + 15 * 60;
        const Bytes set = h.read(38, {1}).payload;
        ASSERT_EQ(set.size(), 39u);
        ExpectFields(set, {{kU8, 0, 1}, {kU8, 1, 1}, {kU8, 2, 0} /* ppm */, {kS8, 3, 0}});
        const int alarms = U16(set, 4);
        for (int i = 0; i < 15; ++i) {
            const int sample = S16(set, 8 + 2 * i);
            EXPECT_GE(sample, 0);
            EXPECT_EQ(bool(alarms & (1 << i)), sample >= 30) << "block " << b << " sample " << i;
        }
        EXPECT_EQ(alarms != 0, b == 3);
    }
    EXPECT_LE(expectedStart, now);
}

TEST(SimObjects, LoggerOverridesMakeBrokenAndShortBlocksAndGaps)
{
    Scenario s = Quiet();
    std::string error;
    ASSERT_TRUE(SetScenarioValue(s, "logger_blocks", "4", &error));
    ASSERT_TRUE(SetScenarioValue(s, "block2", "state=3", &error));
    ASSERT_TRUE(SetScenarioValue(s, "block3", "sets=5 samples=12 set_state=0", &error));
    ASSERT_TRUE(SetScenarioValue(s, "block4", "samples=20,gap=3600", &error)) << error;
    Harness h(s);
    EXPECT_EQ(U16(h.read(37, Le16(2)).payload, 0), 3);
    const Bytes b3 = h.read(37, Le16(3)).payload;
    EXPECT_EQ(U8(b3, 15), 12);
    EXPECT_EQ(U8(b3, 16), 5);
    const Bytes set5 = h.read(38, {5}).payload;
    EXPECT_EQ(U8(set5, 0), 0);
    EXPECT_TRUE(std::all_of(set5.begin() + 8 + 24, set5.begin() + 38, [](std::uint8_t b) { return b == 0; }))
        << "samples past the twelfth are empty";
    const Bytes b4 = h.read(37, Le16(4)).payload;
    EXPECT_EQ(U8(b4, 15), 20);
    EXPECT_EQ(U32(b4, 9), U32(b3, 9) + 12 * 60 + 3600);
}

TEST(SimObjects, LiveValueWandersNearTheBaseline)
{
    Scenario s = Quiet();
    s.value = 10;
    s.valueSwing = 3;
    Harness h(s);
    std::set<int> seen;
    for (int i = 0; i < 120; ++i) {
        const int v = S16(h.read(7).payload, 0); // 1/10000 of a 500 ppm span: 20 per ppm
        EXPECT_GE(v, (10 - 3 - 1) * 20);
        EXPECT_LE(v, (10 + 3 + 1) * 20);
        seen.insert(v);
        h.clock->advanceSeconds(1);
    }
    EXPECT_GT(seen.size(), 10u);

    Harness again(s);
    EXPECT_EQ(again.read(7).payload, Harness(s).read(7).payload) << "the same time gives the same value";
}

TEST(SimObjects, LiveValueIsAShareOfTheSpanThatTheDecoderScalesBack)
{
    // The configurator shows raw x (end - begin) / 10000 and adds nothing for
    // the range begin, so a range that does not start at 0 must not shift it.
    Scenario s = Quiet();
    s.rangeBegin = -100;
    s.rangeEnd = 400;
    s.value = 50;
    s.valueSwing = 0;
    const auto shown = [](const Scenario &scenario) {
        Harness h(scenario);
        return S16(h.read(7).payload, 0) * (scenario.rangeEnd - scenario.rangeBegin) / 10000.0;
    };
    EXPECT_NEAR(shown(s), 50.0, 0.5);

    s.value = -300;
    EXPECT_NEAR(shown(s), -100.0, 0.5) << "held at the range begin";
    s.value = 900;
    EXPECT_NEAR(shown(s), 400.0, 0.5) << "held at the range end";
}
