// "Set &Limit": the alarm payload from typed values, the write as the
// instrument hears it followed by its read-back, and every way the command
// stops without a read-back.
#include "InstrumentRig.h"

#include "AlarmSettings.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace r310;
using namespace r310test;

namespace {

const QLocale kGerman(QLocale::German, QLocale::Germany);

AlarmSettingsTexts Texts(const QString &a1, const QString &calibrationGas = QStringLiteral("50"))
{
    AlarmSettingsTexts texts;
    texts.thresholds = {a1, QStringLiteral("40"), QStringLiteral("60"), QStringLiteral("25"), QStringLiteral("10")};
    texts.calibrationGas = calibrationGas;
    return texts;
}

AlarmSettingsValues Typed(const AlarmSettingsTexts &texts, std::int8_t exponent, const QLocale &locale = kGerman)
{
    const Conversion<AlarmSettingsValues> values = AlarmSettingsFromTexts(texts, exponent, locale);
    EXPECT_TRUE(values.ok()) << values.error.toStdString();
    return values.value.value_or(AlarmSettingsValues{});
}

TEST(AlarmPayload, TypedValuesBecomeTheTwentyNineBytes)
{
    AlarmSettingsTexts texts = Texts(QStringLiteral("20,5"));
    texts.flags[kAlarmStel] = AlarmFlags{false, true, true};
    texts.flags[kAlarmA1] = AlarmFlags{true, false, false};
    const std::vector<std::uint8_t> payload = AlarmSettingsPayload(Typed(texts, -2));
    ASSERT_EQ(payload.size(), 29u);
    EXPECT_EQ(payload[8], 0x02); // 2050
    EXPECT_EQ(payload[9], 0x08);
    EXPECT_EQ(payload[10], 0xA0); // 4000
    EXPECT_EQ(payload[11], 0x0F);
    EXPECT_EQ(payload[18], 0x01);
    EXPECT_EQ(payload[21], 0x06); // latching and horn off
    EXPECT_EQ(payload[22], 0x00); // no box ticked
    EXPECT_EQ(payload[23], 0x88); // 5000
    EXPECT_EQ(payload[24], 0x13);
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 25, 26, 27, 28})
        EXPECT_EQ(payload[static_cast<std::size_t>(i)], 0) << "byte " << i;

    // Negative thresholds are passed on as the instrument's signed values.
    const std::vector<std::uint8_t> negative = AlarmSettingsPayload(Typed(Texts(QStringLiteral("-1")), 0));
    EXPECT_EQ(negative[8], 0xFF);
    EXPECT_EQ(negative[9], 0xFF);
}

TEST(AlarmPayload, TheFirstFieldThatDoesNotConvertRefusesTheCommand)
{
    EXPECT_EQ(AlarmSettingsFromTexts(Texts(QStringLiteral("abc"), QString()), 0, kGerman).error,
              "'abc' is not a valid floating point value");
    EXPECT_EQ(AlarmSettingsFromTexts(Texts(QStringLiteral("20"), QString()), 0, kGerman).error,
              "'' is not a valid floating point value");
    EXPECT_EQ(AlarmSettingsFromTexts(Texts(QStringLiteral("1.000")), -1, kGerman).error,
              "'1.000' is not a valid floating point value");
    EXPECT_EQ(AlarmSettingsFromTexts(Texts(QStringLiteral("5000")), -1, kGerman).error,
              "A1: 5000 is outside the allowed range -3276,8 to 3276,7");
    EXPECT_EQ(AlarmSettingsFromTexts(Texts(QStringLiteral("20"), QStringLiteral("4000")), -1, kGerman).error,
              "CAL Gas: 4000 is outside the allowed range -3276,8 to 3276,7");
    EXPECT_FALSE(AlarmSettingsFromTexts(Texts(QStringLiteral("20")), -7, kGerman).ok());
}

TEST(AlarmWrite, TheInstrumentHearsTheWriteThenTheReadBackIsShown)
{
    sim::Scenario scenario = FastInstrument();
    scenario.exponent = -2;
    ConnectedRig rig(RigOptions::Settings(scenario));
    AlarmSettingsTexts texts = Texts(QStringLiteral("20,5"));
    texts.flags[kAlarmStel] = AlarmFlags{false, true, true};
    const AlarmSettingsValues values = Typed(texts, -2);

    rig.Mark();
    auto result = std::make_shared<SettingsWriteResult>();
    EXPECT_EQ(rig.Run(AlarmSettingsJob(values, result)), Outcome::Done);

    const std::vector<LineFrame> line = rig.Heard();
    // The identity is read first: the instrument is still the one.
    ASSERT_EQ(Names(line), (std::vector<std::string>{"R2", "A2", "W4", "A4", "R4", "A4"}));
    EXPECT_EQ(line[2].flags, 0x60);
    EXPECT_EQ(line[2].payload, AlarmSettingsPayload(values));
    EXPECT_EQ(line[2].payload[8], 0x02);
    EXPECT_EQ(line[2].payload[9], 0x08);
    EXPECT_EQ(line[2].payload[21], 0x06);
    EXPECT_TRUE(line[4].payload.empty());
    // The read-back carries what was written, with the instrument's own range bytes.
    EXPECT_EQ(line[5].payload[8], 0x02);
    EXPECT_EQ(line[5].payload[9], 0x08);
    EXPECT_EQ(static_cast<std::int8_t>(line[5].payload[7]), -2);

    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_EQ(result->sent, AlarmSettingsPayload(values));
    ASSERT_TRUE(result->readBack && result->readBack->range);
    EXPECT_EQ(result->readBack->range->limits[kAlarmA1].raw, 2050);
    EXPECT_EQ(result->readBack->unchangedGroup, SettingsGroup::Limits);
    // Only the read-back was shown, not the answer to the write.
    const std::vector<DecodedAnswer> shown = rig.ShownOf(kObjectRange);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].range->limits[kAlarmA1].text, "20.50");
    EXPECT_EQ(shown[0].range->limits[kAlarmStel].flags.toByte(), 0x06);

    const sim::DeviceState state = rig.InstrumentState();
    EXPECT_EQ(state.range.thresholds[0], 2050);
    EXPECT_EQ(state.range.calibrationGas, 5000);
    EXPECT_EQ(state.range.exponent, -2); // the zero bytes do not touch the range fields
    EXPECT_EQ(state.range.rangeEnd, scenario.rangeEnd);
    EXPECT_EQ(rig.lamp, LampColour::LimeGreen);
}

// Every way the write stops without a read-back: nothing stale is shown and
// the lamp is red. A closed port sends nothing and says so once; an unanswered
// write is sent five times, each after the identity was read again, each
// waiting its 20 ticks (10 ms here) rather than the 3 of a read; a read-back
// that fails and an error report to the write end it too.
TEST(AlarmWrite, EveryStopWithoutReadBack)
{
    struct Case {
        const char *name;
        std::function<void(Rig &)> fault;
        Outcome outcome;
        std::vector<std::string> heard;
        std::size_t shown; // answers shown: the error report counts
    };
    std::vector<std::string> fiveAttempts;
    for (int attempt = 0; attempt < 5; ++attempt)
        fiveAttempts.insert(fiveAttempts.end(), {"R2", "A2", "W4"});
    const Case cases[] = {
        {"closed port", [](Rig &rig) { rig.Close(); }, Outcome::PortClosed, {}, 0},
        {"no answer", [](Rig &rig) { rig.Silence({kObjectRange}); }, Outcome::NoAnswer, fiveAttempts, 0},
        {"read-back fails", [](Rig &rig) { rig.SilenceAfterWriteOf(kObjectRange); }, Outcome::ReadBackFailed,
         {"R2", "A2", "W4", "A4", "R4", "R4", "R4", "R4", "R4"}, 0},
        {"error report", [](Rig &rig) { rig.Refuse({kObjectRange}); }, Outcome::ErrorReport,
         {"R2", "A2", "W4", "AF0"}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ConnectedRig rig(RigOptions::Settings());
        c.fault(rig);
        rig.Mark();
        auto result = std::make_shared<SettingsWriteResult>();
        rig.Run(AlarmSettingsJob(Typed(Texts(QStringLiteral("21")), 0), result));

        EXPECT_EQ(result->outcome, c.outcome);
        EXPECT_FALSE(result->readBack);
        EXPECT_EQ(rig.HeardNames(), c.heard);
        ASSERT_EQ(rig.ShownSinceMark(), c.shown);
        if (c.outcome == Outcome::ErrorReport) {
            // The error report itself is shown (it counts); no settings answer is.
            EXPECT_TRUE(rig.answers.back().errorReport);
            EXPECT_FALSE(rig.answers.back().unchangedGroup);
            continue;
        }
        EXPECT_EQ(rig.lamp, LampColour::Red);
        if (c.outcome == Outcome::PortClosed) {
            EXPECT_TRUE(result->sent.empty());
            EXPECT_EQ(rig.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
            continue; // the instrument went with the port
        }
        EXPECT_EQ(rig.InstrumentState().range.thresholds[0], c.outcome == Outcome::ReadBackFailed ? 21 : 30);
        const std::vector<LineFrame> writes = Writes(rig.Heard());
        for (std::size_t i = 1; i < writes.size(); ++i)
            EXPECT_GE(writes[i].atMicros - writes[i - 1].atMicros, 190000) << "attempt " << i;
    }
}

} // namespace
