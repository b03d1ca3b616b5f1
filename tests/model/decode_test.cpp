// The answer decoder on captured-style frames: identity, clock, measured value,
// status objects, error reports, and the answers it must leave alone.
#include "DecodeAnswer.h"
#include "FixtureFrames.h"

#include <gtest/gtest.h>

using namespace r310;
using namespace fixtures;

namespace {

Bytes IdentityPayload(std::uint16_t version)
{
    Bytes p = PayloadOf(kIdentity);
    PutU16(p, 8, version);
    return p;
}

TEST(DecodeIdentity, ShowsTheInstrumentsIdentity)
{
    for (const QLocale &locale : {kGerman, kEnglish}) {
        InstrumentRecord record;
        ReceiveBuffer buffer = Received(kIdentity);
        const DecodedAnswer a = Decoder(locale).DecodeAnswer(buffer, record);
        ASSERT_TRUE(a.identity);
        EXPECT_TRUE(a.evaluated);
        EXPECT_EQ(a.identity->serialNumberText, "00001234");
        EXPECT_EQ(a.identity->softwareVersionText, "2.10");
        EXPECT_EQ(a.identity->mkTypeText, "123-45");
        EXPECT_EQ(a.identity->mkSerialNumberText, "4711");
        EXPECT_EQ(a.identity->customerId, "WERK-07");
        EXPECT_EQ(a.identity->batteryText, "85");
        EXPECT_EQ(record.SoftwareVersion, 210);
        EXPECT_EQ(a.unchangedGroup, SettingsGroup::CustomerId);
        EXPECT_EQ(buffer.count, 0);
    }
}

TEST(DecodeIdentity, CustomerIdEndsAtTheFirstZeroOrAfterTenCharacters)
{
    InstrumentRecord record;
    Bytes p = IdentityPayload(210);
    for (int i = 0; i < 10; ++i)
        p[10 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>('A' + i);
    ReceiveBuffer full = Answer(2, p);
    EXPECT_EQ(Decoder().DecodeAnswer(full, record).identity->customerId, "ABCDEFGHIJ");

    p[10] = 0;
    ReceiveBuffer empty = Answer(2, p);
    EXPECT_EQ(Decoder().DecodeAnswer(empty, record).identity->customerId, "");
}

TEST(DecodeIdentity, FeatureGatesFollowTheSoftwareVersion)
{
    struct Case {
        std::uint16_t version;
        bool eventTab, loggerTab, maxEvents, safety, displayMode;
    };
    const Case cases[] = {
        {0, false, false, false, false, false},   {209, false, false, false, false, false},
        {210, true, false, false, false, false},  {211, true, true, true, false, false},
        {219, true, true, true, false, false},    {220, true, true, true, true, false},
        {221, true, true, true, true, true},      {65535, true, true, true, true, true},
    };
    for (const Case &c : cases) {
        InstrumentRecord record;
        ReceiveBuffer buffer = Answer(2, IdentityPayload(c.version));
        const FeatureGates g = Decoder().DecodeAnswer(buffer, record).identity->gates;
        SCOPED_TRACE(c.version);
        EXPECT_EQ(g.eventPropertiesTabVisible, c.eventTab);
        EXPECT_EQ(g.dataloggingTabVisible, c.loggerTab);
        EXPECT_EQ(g.maxEventsEditable, c.maxEvents);
        EXPECT_EQ(g.safetyOptionsEnabled, c.safety);
        EXPECT_EQ(g.displayModeEnabled, c.displayMode);
        EXPECT_EQ(record.SoftwareVersion, c.version);
    }
}

TEST(DecodeClock, ShowsInstrumentAndPcTime)
{
    InstrumentRecord record;
    ReceiveBuffer buffer = Received(kClock);
    const DecodedAnswer de = Decoder(kGerman).DecodeAnswer(buffer, record);
    ASSERT_TRUE(de.clock);
    EXPECT_EQ(de.clock->instrumentSeconds, 631152000);
    EXPECT_EQ(de.clock->rawSeconds, 631152000u);
    EXPECT_EQ(de.clock->instrumentText, "01.01.2000 00:00:00");
    EXPECT_EQ(de.clock->pcText, "05.03.2024 14:07:09");

    ReceiveBuffer again = Received(kClock);
    const DecodedAnswer en = Decoder(kEnglish).DecodeAnswer(again, record);
    EXPECT_EQ(en.clock->instrumentText, "1/1/2000 12:00:00 AM");
    EXPECT_EQ(en.clock->pcText, "3/5/2024 2:07:09 PM");
}

TEST(DecodeClock, TopBitSetReadsAsLargeUnsignedCount)
{
    InstrumentRecord record;
    ReceiveBuffer buffer = Answer(3, {0x00, 0x00, 0x00, 0x80});
    const DecodedAnswer a = Decoder().DecodeAnswer(buffer, record);
    EXPECT_EQ(a.clock->rawSeconds, 0x80000000u);
    EXPECT_EQ(a.clock->instrumentSeconds, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(a.clock->instrumentText, "13.12.1911 20:45:52");
}

TEST(DecodeValue, ScalesBySpanAndExponentRoundingHalfToEven)
{
    struct Case {
        std::int16_t raw;
        std::int32_t begin, end;
        std::int8_t exponent;
        const char *german, *english;
    };
    const Case cases[] = {
        {5000, 0, 1000, 0, "500", "500"},
        {1234, 0, 100, -1, "1,2", "1.2"}, // 12.34 -> 12 -> 1.2
        {25, 0, 1000, 0, "2", "2"},       // 2.5 rounds to even
        {35, 0, 1000, 0, "4", "4"},       // 3.5 rounds to even
        {-25, 0, 1000, 0, "-2", "-2"},
        {5000, -100, 100, 0, "100", "100"},
        {10000, 0, 250, -2, "2,50", "2.50"},
        {-32768, -32768, 32767, 0, "-214745", "-214745"}, // widest span, no overflow
        {1, 0, 10000, 3, "1000", "1000"},
        {1234, 0, 0, 0, "0", "0"}, // range not read yet
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.raw);
        InstrumentRecord record;
        record.RangeBegin = c.begin;
        record.RangeEnd = c.end;
        record.DecimalExponent = c.exponent;
        const Bytes payload = {static_cast<std::uint8_t>(c.raw & 0xFF),
                               static_cast<std::uint8_t>((c.raw >> 8) & 0xFF)};
        ReceiveBuffer de = Answer(7, payload);
        ReceiveBuffer en = Answer(7, payload);
        EXPECT_EQ(Decoder(kGerman).DecodeAnswer(de, record).value->text, c.german);
        EXPECT_EQ(Decoder(kEnglish).DecodeAnswer(en, record).value->text, c.english);
    }
}

TEST(DecodeValue, UsesTheRangeOfTheLastRangeAnswer)
{
    InstrumentRecord record;
    const AnswerDecoder decoder = Decoder(kEnglish);
    ReceiveBuffer value = Received(kValue);
    EXPECT_EQ(decoder.DecodeAnswer(value, record).value->text, "0");

    ReceiveBuffer range = Received(kRange); // 0..5000, exponent -1
    decoder.DecodeAnswer(range, record);
    EXPECT_EQ(record.RangeBegin, 0);
    EXPECT_EQ(record.RangeEnd, 5000);
    EXPECT_EQ(record.DecimalExponent, -1);

    value = Received(kValue); // 1234 x 5000 / 10000 = 617
    const MeasuredValue v = *decoder.DecodeAnswer(value, record).value;
    EXPECT_EQ(v.rangeValue, 617);
    EXPECT_EQ(v.decimals, 1);
    EXPECT_EQ(v.text, "61.7");
}

TEST(DecodeStatus, RunningAnswersMakeTheResultFieldBlink)
{
    InstrumentRecord record;
    record.CalibrationRunning = true;
    StatusBackground shown = StatusBackground::Window;
    std::vector<StatusBackground> seen;
    for (int i = 0; i < 3; ++i) {
        ReceiveBuffer buffer = Received(kCalibrationRunning);
        const DecodedAnswer a = Decoder().DecodeAnswer(buffer, record);
        ASSERT_TRUE(a.status);
        EXPECT_EQ(a.status->text, "Running");
        shown = NextBackground(shown, a.status->background);
        seen.push_back(shown);
    }
    EXPECT_EQ(seen, (std::vector<StatusBackground>{StatusBackground::Yellow, StatusBackground::Window,
                                                   StatusBackground::Yellow}));
    EXPECT_TRUE(record.CalibrationRunning);
    // From any colour but the window colour, running goes back to it.
    EXPECT_EQ(NextBackground(StatusBackground::Red, StatusBackground::Blink), StatusBackground::Window);
    EXPECT_EQ(NextBackground(StatusBackground::Yellow, StatusBackground::Red), StatusBackground::Red);
}

TEST(DecodeStatus, ResultFieldAndRunningFlags)
{
    struct Case {
        std::uint8_t object;
        Bytes payload;
        const char *text; // nullptr: the field stays as it is
        StatusBackground background;
        bool calibrationAfter, bumpAfter; // both flags start set
    };
    const Case cases[] = {
        {10, {0x05}, "OK", StatusBackground::LimeGreen, false, true},
        {10, {0xFE}, "Error", StatusBackground::Red, false, true},
        {5, {1}, "Running", StatusBackground::Blink, true, true},
        {5, {2}, nullptr, StatusBackground::Window, true, true},
        {5, {0}, "NEED CAL", StatusBackground::Red, true, false},
        {5, {0x80}, "Error", StatusBackground::Red, true, false},
        {6, {0, 0, 0xFF, 0xFF, 5, 0}, "Running", StatusBackground::Blink, true, true}, // zero first
        {6, {3, 0, 0xFF, 0xFF, 5, 0}, "Error", StatusBackground::Red, true, false},
        {6, Hex(kBumpResult), "ok A1:12 A2:34 T50:56", StatusBackground::LimeGreen, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.object) << " " << (c.text ? c.text : "-"));
        InstrumentRecord record;
        record.CalibrationRunning = record.BumpTestRunning = true;
        ReceiveBuffer buffer = c.payload.size() > 6 ? Received(c.payload) : Answer(c.object, c.payload);
        const DecodedAnswer a = Decoder().DecodeAnswer(buffer, record);
        ASSERT_EQ(a.status.has_value(), c.text != nullptr);
        if (c.text) {
            EXPECT_EQ(a.status->text, c.text);
            EXPECT_EQ(a.status->background, c.background);
        }
        EXPECT_EQ(record.CalibrationRunning, c.calibrationAfter);
        EXPECT_EQ(record.BumpTestRunning, c.bumpAfter);
    }
}

TEST(DecodeErrorReport, CountsEveryReportWhateverItsFlags)
{
    InstrumentRecord record;
    ReceiveBuffer first = Received(kErrorReport);
    DecodedAnswer a = Decoder().DecodeAnswer(first, record);
    EXPECT_TRUE(a.errorReport);
    EXPECT_EQ(a.errorCountText, "ERROR Count= 1");
    EXPECT_FALSE(a.clock); // the report's bytes are no clock value
    EXPECT_FALSE(a.evaluated);
    EXPECT_EQ(first.count, 0);

    ReceiveBuffer second = Answer(0xF0, {}, 0x80);
    a = Decoder().DecodeAnswer(second, record);
    EXPECT_EQ(a.errorCountText, "ERROR Count= 2");
    EXPECT_EQ(record.ErrorAnswerCount, 2);

    // The count survives a cleared connection.
    record.ClearConnectionValues();
    EXPECT_EQ(record.ErrorAnswerCount, 2);
}

TEST(DecodeCommonSteps, OtherFlagsAndObjectsWithoutBranchOnlyEmptyTheBuffer)
{
    InstrumentRecord record;
    record.SoftwareVersion = 199;
    ReceiveBuffer buffer = Received(kIdentityFlags80);
    DecodedAnswer a = Decoder().DecodeAnswer(buffer, record);
    EXPECT_EQ(buffer.count, 0);
    EXPECT_EQ(a.flags, 0x80);
    EXPECT_FALSE(a.evaluated || a.identity || a.unchangedGroup);
    EXPECT_EQ(record.SoftwareVersion, 199);

    for (std::uint8_t object : {1, 8, 9, 30, 34, 35, 36, 37, 38, 127}) {
        ReceiveBuffer other = Answer(object, Bytes(20, 0x42));
        a = Decoder().DecodeAnswer(other, record);
        EXPECT_EQ(other.count, 0);
        EXPECT_FALSE(a.evaluated || a.shortPayload) << int(object);
    }
    const ReceiveBuffer snapshot = Received(kIdentity);
    EXPECT_TRUE(Decoder().Decode(snapshot, record).identity);
    EXPECT_EQ(snapshot.count, 30);
}

TEST(DecodeCommonSteps, ShortDataAnswersAreNotEvaluated)
{
    // Bytes left behind by an earlier frame must never show as values.
    InstrumentRecord record;
    ReceiveBuffer buffer = Received(kIdentity);
    const Bytes shortClock = EncodeFrame(3, 0xC0, Bytes{0x01, 0x02, 0x03});
    buffer.count = 0;
    for (std::uint8_t b : shortClock)
        AssembleByte(b, buffer);
    DecodedAnswer a = Decoder().DecodeAnswer(buffer, record);
    EXPECT_TRUE(a.shortPayload);
    EXPECT_FALSE(a.evaluated);
    EXPECT_FALSE(a.clock);
    EXPECT_EQ(buffer.count, 0);

    const std::pair<std::uint8_t, int> objects[] = {{2, 21}, {3, 4}, {4, 29}, {5, 1}, {6, 6},
                                                    {7, 2},  {10, 1}, {31, 16}, {33, 10}};
    for (const auto &[object, size] : objects) {
        SCOPED_TRACE(object);
        record = InstrumentRecord{};
        ReceiveBuffer cut = Answer(object, Bytes(static_cast<std::size_t>(size - 1), 0x11));
        a = Decoder().DecodeAnswer(cut, record);
        EXPECT_TRUE(a.shortPayload);
        EXPECT_FALSE(a.evaluated);
        EXPECT_EQ(record.SoftwareVersion, 0);
        EXPECT_EQ(record.RangeEnd, 0);
        ReceiveBuffer whole = Answer(object, Bytes(static_cast<std::size_t>(size) + 3, 0x11));
        EXPECT_TRUE(Decoder().DecodeAnswer(whole, record).evaluated); // longer is fine
    }
}

TEST(DecodeCommonSteps, RemainsOfAFailedExchangeAreNotEvaluated)
{
    // After a timed-out exchange the buffer still holds the last answer: an
    // error report decoded again must not be counted again.
    InstrumentRecord record;
    ReceiveBuffer buffer = Received(kErrorReport);
    Decoder().DecodeAnswer(buffer, record);
    DecodedAnswer a = Decoder().DecodeAnswer(buffer, record);
    EXPECT_EQ(record.ErrorAnswerCount, 1);
    EXPECT_FALSE(a.errorReport || a.evaluated);
    EXPECT_FALSE(a.frameIntact);

    // A damaged identity shows nothing and leaves the software version alone.
    Bytes damaged = Hex(kIdentity);
    damaged[7 + 8] = 0x02; // version 2.10 turned into 0.02
    ReceiveBuffer bad;
    std::int32_t status = 0;
    for (std::uint8_t b : damaged)
        status = AssembleByte(b, bad);
    ASSERT_EQ(status, kAssembleBadCrc);
    record.SoftwareVersion = 221;
    a = Decoder().DecodeAnswer(bad, record);
    EXPECT_FALSE(a.identity || a.evaluated || a.unchangedGroup);
    EXPECT_EQ(record.SoftwareVersion, 221);
    EXPECT_EQ(bad.count, 0);

    // Half an identity over the bytes of an earlier range answer.
    ReceiveBuffer partial = Received(kRange);
    partial.count = 0;
    const Bytes identity = Hex(kIdentity);
    for (std::size_t i = 0; i < 12; ++i)
        AssembleByte(identity[i], partial);
    a = Decoder().DecodeAnswer(partial, record);
    EXPECT_FALSE(a.identity || a.evaluated);
    EXPECT_EQ(record.SoftwareVersion, 221);
}

TEST(DecodeBranches, LaterObjectsPlugIntoTheDecoder)
{
    AnswerDecoder decoder = Decoder();
    std::vector<Bytes> seen;
    EXPECT_TRUE(decoder.setBranch(35, [&](const AnswerFrame &frame, InstrumentRecord &) {
        seen.push_back(frame.payload);
    }));
    EXPECT_FALSE(decoder.setBranch(2, {}));
    EXPECT_FALSE(decoder.setBranch(0xF0, {}));

    InstrumentRecord record;
    ReceiveBuffer data = Answer(35, {1, 0, 2, 0, 3, 0, 192, 0});
    EXPECT_TRUE(decoder.DecodeAnswer(data, record).evaluated);
    ReceiveBuffer notData = Answer(35, {9, 9}, 0x80);
    EXPECT_FALSE(decoder.DecodeAnswer(notData, record).evaluated);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (Bytes{1, 0, 2, 0, 3, 0, 192, 0}));
    EXPECT_EQ(data.count, 0);
}

} // namespace
