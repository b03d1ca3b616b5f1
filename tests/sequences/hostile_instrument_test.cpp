// The connect sequence, the tab reads, the idle poll and the decoder against
// a hostile instrument: every value at the edge of its field, a clock that
// stands at 0 or 2^32 - 1 and ignores writes, answers shorter than their
// object and answers filled up to the longest payload a frame carries. Each
// ends in bounded time with texts that fit a field and hold nothing but
// printable characters.
#include "SequenceRig.h"

#include <Formats.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <string>

using namespace r310;
using namespace seqtest;
using namespace std::chrono_literals;

namespace {

class HostileInstrument : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
};

const QLocale kGerman(QLocale::German, QLocale::Germany);

sim::Scenario Hostile(const std::string &text)
{
    sim::Scenario scenario = FastScenario();
    scenario.softwareVersion = 221;
    scenario.valueSwing = 0;
    std::string error;
    EXPECT_TRUE(sim::ParseScenarioText(text, scenario, &error)) << error;
    return scenario;
}

// Every text the decoder produced for the front ends, with where it came from.
struct ShownText {
    std::string where;
    QString text;
};

std::vector<ShownText> TextsOf(const DecodedAnswer &a)
{
    std::vector<ShownText> texts;
    const auto add = [&texts](const std::string &where, const QString &text) { texts.push_back({where, text}); };
    if (a.identity) {
        add("serial number", a.identity->serialNumberText);
        add("MK type", a.identity->mkTypeText);
        add("MK serial number", a.identity->mkSerialNumberText);
        add("software version", a.identity->softwareVersionText);
        add("battery", a.identity->batteryText);
    }
    if (a.clock) {
        add("instrument time", a.clock->instrumentText);
        add("PC time", a.clock->pcText);
    }
    if (a.value)
        add("value", a.value->text);
    if (a.status)
        add("result", a.status->text);
    if (a.errorCountText)
        add("error count", *a.errorCountText);
    if (a.range) {
        for (std::size_t i = 0; i < a.range->limits.size(); ++i)
            add("limit " + std::to_string(i + 1), a.range->limits[i].text);
        add("range end", a.range->rangeEndText);
        add("gas", a.range->gasText);
        add("calibration gas", a.range->calibrationGasText);
        add("U-ZP", a.range->zeroPointVoltageText);
        add("U-FS", a.range->fullScaleVoltageText);
    }
    if (a.signalSettings) {
        add("bleep interval", a.signalSettings->bleepIntervalText);
        add("next bump", a.signalSettings->nextBumpDateText);
        add("next calibration", a.signalSettings->nextCalibrationDateText);
        add("bump interval", a.signalSettings->bumpIntervalText);
        add("calibration interval", a.signalSettings->calibrationIntervalText);
        add("bump info", a.signalSettings->bumpInfoText);
    }
    if (a.hardware) {
        add("zero point", a.hardware->zeroPointText);
        add("gain", a.hardware->gainText);
        add("reference voltage", a.hardware->referenceVoltageText);
    }
    return texts;
}

// A text a field can show: not empty, at most 24 characters, printable only.
void ExpectClean(const std::vector<DecodedAnswer> &answers)
{
    for (const DecodedAnswer &answer : answers) {
        for (const ShownText &shown : TextsOf(answer)) {
            if (shown.where == "gas")
                continue; // the rig has no gas table
            EXPECT_FALSE(shown.text.isEmpty()) << shown.where;
            EXPECT_LE(shown.text.size(), 24) << shown.where << ": " << shown.text.toStdString();
            for (const QChar c : shown.text)
                EXPECT_TRUE(c.isPrint() && c != QChar::ReplacementCharacter)
                    << shown.where << ": U+" << std::hex << c.unicode() << " in " << shown.text.toStdString();
        }
    }
}

template <typename Pick>
const DecodedAnswer *Last(const std::vector<DecodedAnswer> &answers, Pick pick)
{
    for (auto it = answers.rbegin(); it != answers.rend(); ++it) {
        if (pick(*it))
            return &*it;
    }
    return nullptr;
}

// Connects, then reads every tab's objects as a click on each tab would.
void ConnectAndReadEveryTab(SequenceRig &rig)
{
    ASSERT_TRUE(rig.OpenAndConnect());
    for (const InstrumentTab tab : {InstrumentTab::Range, InstrumentTab::Signals, InstrumentTab::Hardware,
                                    InstrumentTab::EventProperties, InstrumentTab::General}) {
        rig.view.tab = tab;
        rig.sequences.ReadSelectedTab();
    }
}

} // namespace

TEST_F(HostileInstrument, ValuesAtTheEdgesOfTheirFieldsShowAsNumbersThatFit)
{
    for (const char *exponent : {"-128", "127"}) {
        SequenceRig rig(Hostile(std::string("serial = -2147483648\nmk_type = 65535\nmk_serial = 65535\n"
                                            "battery = 255\nsoftware = 65535\nrange_begin = -32768\n"
                                            "range_end = 32767\nvalue = 32767\na1 = -32768\na2 = 32767\n"
                                            "cal_gas = -1\nu_zero = -32768\nu_full = 32767\nhw_zero = -32768\n"
                                            "hw_gain = 32767\nhw_reference = -1\nbleep_interval = 255\n"
                                            "bump_interval = -32768\ncal_interval = 32767\n"
                                            "next_bump_in = -10000\nnext_cal_in = 10000\nexponent = ")
                                + exponent));
        rig.decoder.setLocale(kGerman);
        ConnectAndReadEveryTab(rig);
        ExpectClean(rig.view.answers);

        const DecodedAnswer *identity = Last(rig.view.answers, [](const DecodedAnswer &a) { return a.identity.has_value(); });
        ASSERT_NE(identity, nullptr);
        EXPECT_EQ(identity->identity->serialNumberText, QStringLiteral("-2147483648"));
        EXPECT_EQ(identity->identity->mkTypeText, QStringLiteral("655-35"));
        EXPECT_EQ(identity->identity->softwareVersionText, QStringLiteral("655.35"));
        EXPECT_EQ(identity->identity->batteryText, QStringLiteral("255"));

        const DecodedAnswer *range = Last(rig.view.answers, [](const DecodedAnswer &a) { return a.range.has_value(); });
        ASSERT_NE(range, nullptr);
        EXPECT_EQ(rig.record.DecimalExponent, std::stoi(exponent));
        if (rig.record.DecimalExponent < 0) {
            // 10^-128: nine decimals at most, all of them zero.
            EXPECT_EQ(range->range->limits[0].text, QStringLiteral("0,000000000"));
            EXPECT_EQ(range->range->calibrationGasText, QStringLiteral("0,000000000"));
            EXPECT_EQ(range->range->decimals, kMaxShownDecimals);
        } else {
            EXPECT_EQ(range->range->limits[0].text, QStringLiteral("-3,276800E+131"));
            EXPECT_EQ(range->range->limits[1].text, QStringLiteral("3,276700E+131"));
            EXPECT_EQ(range->range->rangeEndText, QStringLiteral("3,276700E+131"));
        }
        EXPECT_EQ(range->range->zeroPointVoltageText, QStringLiteral("-327,68"));
        EXPECT_EQ(range->range->fullScaleVoltageText, QStringLiteral("327,67"));

        const DecodedAnswer *value = Last(rig.view.answers, [](const DecodedAnswer &a) { return a.value.has_value(); });
        ASSERT_NE(value, nullptr);
        EXPECT_LE(value->value->decimals, kMaxShownDecimals);

        const DecodedAnswer *hardware = Last(rig.view.answers, [](const DecodedAnswer &a) { return a.hardware.has_value(); });
        ASSERT_NE(hardware, nullptr);
        EXPECT_EQ(hardware->hardware->zeroPointText, QStringLiteral("-3276,8"));
        EXPECT_EQ(hardware->hardware->gainText, QStringLiteral("327,67"));
        EXPECT_EQ(hardware->hardware->referenceVoltageText, QStringLiteral("-0,1"));
    }
}

TEST_F(HostileInstrument, ACustomerIdOfTenCharactersWithoutItsZeroEndsAtTheTenth)
{
    // Ten characters and no zero; the battery byte behind them is 0x41 ("A").
    SequenceRig rig(Hostile("customer_id = \"\\x01AB\\x7f\\xff\\x0aC#DE\"\nbattery = 65"));
    ConnectAndReadEveryTab(rig);
    const DecodedAnswer *identity = Last(rig.view.answers, [](const DecodedAnswer &a) { return a.identity.has_value(); });
    ASSERT_NE(identity, nullptr);
    const QString expected = QString::fromLatin1("\x01" "AB\x7f\xff\x0a" "C#DE", 10);
    EXPECT_EQ(identity->identity->customerId, expected);
    EXPECT_EQ(identity->identity->batteryText, QStringLiteral("65"));

    // A long answer puts further bytes behind it: still ten characters.
    sim::Scenario filled = Hostile("customer_id = ABCDEFGHIJ\nlong_answer = always\nlong_answer_fill = 0x41");
    SequenceRig longRig(filled);
    ConnectAndReadEveryTab(longRig);
    identity = Last(longRig.view.answers, [](const DecodedAnswer &a) { return a.identity.has_value(); });
    ASSERT_NE(identity, nullptr);
    EXPECT_EQ(identity->identity->customerId, QStringLiteral("ABCDEFGHIJ"));
}

TEST_F(HostileInstrument, AClockStandingAtZeroOrAtTheTopIsWrittenThreeTimesThenLeftAlone)
{
    struct Case {
        const char *stopped;
        QString shown;
    } const cases[] = {{"0", QStringLiteral("01.01.1980 00:00:00")},
                       {"4294967295", QStringLiteral("31.12.1979 23:59:59")},
                       {"2147483648", QStringLiteral("13.12.1911 20:45:52")}};
    for (const Case &c : cases) {
        SequenceRig rig(Hostile(std::string("clock_stopped_at = ") + c.stopped));
        rig.decoder.setLocale(kGerman);
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(rig.OpenAndConnect()) << c.stopped;
        EXPECT_EQ(rig.clockWrites(), ReadSequences::kMaxClockWrites) << c.stopped;
        EXPECT_EQ(rig.view.clockNotTaken, 1) << c.stopped;

        // The poll goes on reading clock and value, without writing again.
        rig.forgetHeard();
        rig.poll.Install();
        EXPECT_TRUE(SpinUntil([&rig] { return rig.heardCount() >= 6; }, 10s));
        rig.poll.Uninstall();
        EXPECT_EQ(rig.clockWrites(), 0) << c.stopped;
        EXPECT_EQ(rig.view.clockNotTaken, 1);
        EXPECT_LT(took.elapsed(), 20000) << "bounded, however the clock stands";

        const DecodedAnswer *clock = Last(rig.view.answers, [](const DecodedAnswer &a) { return a.clock.has_value(); });
        ASSERT_NE(clock, nullptr);
        if (!c.shown.isEmpty()) {
            EXPECT_EQ(clock->clock->instrumentText, c.shown);
        }
        ExpectClean(rig.view.answers);
    }
}

TEST_F(HostileInstrument, AnswersShorterThanTheirObjectAreNotEvaluated)
{
    // Each object in turn one byte short, then all of them with no payload at all.
    const char *objects[] = {"2", "3", "4", "7", "31", "33"};
    for (const std::string bytes : {"1", "64"}) {
        for (const char *object : objects) {
            SequenceRig rig(Hostile("short_answer = always\nshort_answer_bytes = " + bytes +
                                    "\nfault_objects = " + object));
            rig.decoder.setLocale(kGerman);
            ConnectAndReadEveryTab(rig);
            const int number = std::stoi(object);
            int shortOnes = 0;
            for (const DecodedAnswer &answer : rig.view.answers) {
                if (answer.object != number)
                    continue;
                EXPECT_TRUE(answer.shortPayload) << object;
                EXPECT_FALSE(answer.evaluated) << object;
                EXPECT_FALSE(answer.identity || answer.clock || answer.value || answer.range || answer.signalSettings
                             || answer.hardware)
                    << object;
                ++shortOnes;
            }
            EXPECT_GT(shortOnes, 0) << object;
            ExpectClean(rig.view.answers);
            if (number == kObjectIdentity) {
                // Without a whole identity the version is unknown: no tab beyond the first ones.
                EXPECT_EQ(rig.record.SoftwareVersion, 0);
            }
            if (number == kObjectRange) {
                EXPECT_EQ(rig.record.DecimalExponent, 0);
                EXPECT_EQ(rig.record.RangeEnd, 0);
            }
            if (number == kObjectClock) {
                // Nothing to compare: no clock write on a clock that was not read.
                EXPECT_EQ(rig.clockWrites(), 0);
            }
        }
    }
}

TEST_F(HostileInstrument, AnswersFilledUpToTheLongestPayloadShowWhatTheObjectHolds)
{
    const std::string shape = "exponent = -2\nrange_end = 30000\nclock_offset = 0\n";
    SequenceRig plain(Hostile(shape));
    SequenceRig filled(Hostile(shape + "long_answer = always\nlong_answer_fill = 0xFF"));
    for (SequenceRig *rig : {&plain, &filled}) {
        rig->decoder.setLocale(kGerman);
        ConnectAndReadEveryTab(*rig);
        ExpectClean(rig->view.answers);
    }
    EXPECT_EQ(filled.clockWrites(), 0) << "the bytes behind the clock are not part of it";
    const auto lastTexts = [](const SequenceRig &rig, auto pick) {
        const DecodedAnswer *answer = Last(rig.view.answers, pick);
        std::vector<QString> texts;
        if (answer) {
            for (const ShownText &shown : TextsOf(*answer))
                texts.push_back(shown.text);
        }
        return texts;
    };
    const auto identity = [](const DecodedAnswer &a) { return a.identity.has_value(); };
    const auto range = [](const DecodedAnswer &a) { return a.range.has_value(); };
    const auto signalSettings = [](const DecodedAnswer &a) { return a.signalSettings.has_value(); };
    const auto hardware = [](const DecodedAnswer &a) { return a.hardware.has_value(); };
    EXPECT_EQ(lastTexts(filled, identity), lastTexts(plain, identity));
    EXPECT_EQ(lastTexts(filled, range), lastTexts(plain, range));
    EXPECT_EQ(lastTexts(filled, signalSettings), lastTexts(plain, signalSettings));
    EXPECT_EQ(lastTexts(filled, hardware), lastTexts(plain, hardware));
    EXPECT_FALSE(lastTexts(filled, range).empty());
    EXPECT_EQ(filled.record.SoftwareVersion, 221);
}
