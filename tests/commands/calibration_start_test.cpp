// Zero and span calibration: the raw concentration and its refusals, the
// start on the simulated instrument (scaled even before the alarm settings
// were shown), and the calibration followed to "OK" and to "Error" by
// reading object 10, in a loop of our own and by the idle poll.
#include "InstrumentRig.h"

#include "Calibration.h"

using namespace r310;
using namespace r310test;

namespace {

std::int16_t Raw(const QString &text, std::int8_t exponent, const std::optional<QLocale> &locale = std::nullopt)
{
    const Conversion<std::int16_t> raw = SpanCalibrationRaw(text, exponent, locale);
    EXPECT_TRUE(raw.ok()) << text.toStdString() << ": " << raw.error.toStdString();
    return raw.value.value_or(0);
}

QString Refusal(const QString &text, std::int8_t exponent)
{
    const Conversion<std::int16_t> raw = SpanCalibrationRaw(text, exponent, std::nullopt);
    EXPECT_FALSE(raw.ok()) << text.toStdString() << " at " << int(exponent);
    return raw.error;
}

TEST(SpanCalibrationRaw, ScalesByTheExponentAndRoundsHalfToEven)
{
    EXPECT_EQ(Raw(QStringLiteral("50"), -1), 500);
    EXPECT_EQ(CalibrationStartPayload(500), (Bytes{0xF4, 0x01}));
    EXPECT_EQ(CalibrationStartPayload(0), (Bytes{0x00, 0x00}));
    EXPECT_EQ(CalibrationStartPayload(-2), (Bytes{0xFE, 0xFF}));
    EXPECT_EQ(Raw(QStringLiteral("50"), 0), 50);
    EXPECT_EQ(Raw(QStringLiteral("0.25"), -1), 2);
    EXPECT_EQ(Raw(QStringLiteral("0.35"), -1), 4);
    EXPECT_EQ(Raw(QStringLiteral("250"), 1), 25);
    EXPECT_EQ(Raw(QStringLiteral("1.2345"), -4), 12345);
    EXPECT_EQ(Raw(QStringLiteral("2,5"), -1, QLocale(QLocale::German)), 25);
}

TEST(SpanCalibrationRaw, RefusesWhatDoesNotFit)
{
    EXPECT_EQ(Refusal(QStringLiteral("0"), 0), kNoCalibrationGasText);
    EXPECT_EQ(Refusal(QStringLiteral("0.04"), -1), kNoCalibrationGasText);
    EXPECT_TRUE(Refusal(QStringLiteral("-5"), 0).contains(QStringLiteral("negative")));
    EXPECT_TRUE(Refusal(QStringLiteral("3276.8"), -1).contains(QStringLiteral("outside")));
    EXPECT_TRUE(Refusal(QStringLiteral("40000"), 0).contains(QStringLiteral("outside")));
    EXPECT_TRUE(Refusal(QStringLiteral("5"), 5).contains(QStringLiteral("exponent")));
    EXPECT_TRUE(Refusal(QStringLiteral("5"), -5).contains(QStringLiteral("exponent")));
    EXPECT_EQ(Refusal(QStringLiteral("abc"), 0), QStringLiteral("'abc' is not a valid floating point value"));
    // Only "." with r310ctl; the window reads the user's separator.
    EXPECT_EQ(Refusal(QStringLiteral("2,5"), 0), QStringLiteral("'2,5' is not a valid floating point value"));
}

RigOptions InstrumentWithExponent(std::int8_t exponent)
{
    RigOptions options;
    options.scenario.exponent = exponent;
    options.scenario.calibrationReads = 3;
    return options;
}

CalibrationRequest Span(const QString &text)
{
    CalibrationRequest request;
    request.kind = CalibrationKind::Span;
    request.concentration = text;
    return request;
}

TEST(CalibrationStart, SpanBeforeTheRangeWasReadStillSendsTheScaledValue)
{
    // The General tab is in front: the alarm settings are not read on connecting.
    ConnectedRig rig(InstrumentWithExponent(-1));
    rig.Settle();
    ASSERT_FALSE(AlarmSettingsKnown(rig.connection.record()));
    rig.Mark();
    auto result = std::make_shared<CalibrationStartResult>();
    rig.Run(CalibrationStartJob(Span(QStringLiteral("50")), result));
    std::vector<Heard> heard = rig.Heard();
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R4", "R2", "W9"}));
    EXPECT_EQ(heard[2].payload, (Bytes{0xF4, 0x01}));
    EXPECT_TRUE(result->alarmSettingsRead);
    EXPECT_FALSE(result->alarmSettingsMissing);
    EXPECT_TRUE(result->accepted());
    EXPECT_EQ(result->exponent, -1);
    rig.Settle();
    EXPECT_TRUE(rig.connection.record().CalibrationRunning);
    EXPECT_EQ(rig.InstrumentState().calibration.gas, 500);

    // Known now: the next start reads nothing first.
    rig.Mark();
    rig.Run(CalibrationStartJob(Span(QStringLiteral("25.5")), result));
    heard = rig.Heard();
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R2", "W9"}));
    EXPECT_EQ(heard[1].payload, (Bytes{0xFF, 0x00}));
    EXPECT_FALSE(result->alarmSettingsRead);
}

TEST(CalibrationStart, ZeroSendsZeroWithoutReadingAnything)
{
    ConnectedRig rig(InstrumentWithExponent(-2));
    rig.Mark();
    auto result = std::make_shared<CalibrationStartResult>();
    CalibrationRequest zero;
    zero.concentration = QStringLiteral("not read");
    rig.Run(CalibrationStartJob(zero, result));
    const std::vector<Heard> heard = rig.Heard();
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R2", "W9"}));
    EXPECT_EQ(heard[1].payload, (Bytes{0x00, 0x00}));
    EXPECT_TRUE(result->accepted());
    EXPECT_TRUE(rig.InstrumentState().calibration.zero);
}

TEST(CalibrationStart, RefusalsSendNoStart)
{
    ConnectedRig rig(InstrumentWithExponent(0));
    auto result = std::make_shared<CalibrationStartResult>();
    struct Case {
        QString text;
        bool noGas;
    };
    for (const Case &c : {Case{QStringLiteral("0"), true}, Case{QStringLiteral("0.4"), true},
                          Case{QStringLiteral("-3"), false}, Case{QStringLiteral("32768"), false},
                          Case{QStringLiteral("x1"), false}}) {
        rig.Run(CalibrationStartJob(Span(c.text), result));
        EXPECT_TRUE(result->refused()) << c.text.toStdString();
        EXPECT_EQ(result->noCalibrationGas, c.noGas) << c.text.toStdString();
        EXPECT_EQ(result->outcome, Outcome::NotRun);
    }
    rig.Settle();
    for (const Heard &heard : rig.HeardSince(0))
        EXPECT_NE(heard.name(), "W9");
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);
}

TEST(CalibrationStart, AlarmSettingsThatCannotBeReadStopTheSpanStart)
{
    ConnectedRig rig(InstrumentWithExponent(-1));
    rig.Silence({kObjectRange});
    rig.Mark();
    auto result = std::make_shared<CalibrationStartResult>();
    rig.Run(CalibrationStartJob(Span(QStringLiteral("50")), result));
    EXPECT_TRUE(result->refused());
    EXPECT_TRUE(result->refusal.contains(QStringLiteral("alarm settings"))) << result->refusal.toStdString();
    EXPECT_TRUE(result->alarmSettingsMissing);
    EXPECT_EQ(rig.HeardNames(), std::vector<std::string>(5, "R4"));
    rig.Settle();
    EXPECT_EQ(rig.lamp, LampColour::Red);
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);

    // An error report in place of the alarm settings does not give an exponent either.
    sim::FaultPlan refusing;
    refusing.errorReport.probability = 1.0;
    refusing.objects = {kObjectRange};
    rig.SetFaults(refusing);
    rig.Run(CalibrationStartJob(Span(QStringLiteral("50")), result));
    EXPECT_TRUE(result->refused());
    for (const Heard &heard : rig.Heard())
        EXPECT_NE(heard.name(), "W9");
}

TEST(CalibrationStart, FailedOrRefusedStartLeavesTheCalibrationNotRunning)
{
    ConnectedRig rig;
    auto result = std::make_shared<CalibrationStartResult>();
    sim::FaultPlan refusing;
    refusing.errorReport.next = 1;
    refusing.objects = {kObjectCalibrationStart};
    rig.SetFaults(refusing);
    rig.Run(CalibrationStartJob(CalibrationRequest{}, result));
    EXPECT_EQ(result->outcome, Outcome::ErrorReport);
    rig.Settle();
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);

    rig.Silence({kObjectCalibrationStart});
    rig.Run(CalibrationStartJob(CalibrationRequest{}, result));
    EXPECT_EQ(result->outcome, Outcome::NoAnswer);
    EXPECT_TRUE(result->sent());
    rig.Settle();
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);
    EXPECT_EQ(rig.lamp, LampColour::Red);
}

// Starts a zero calibration and reads object 10 until it ends, as r310ctl does.
std::vector<CalibrationState> FollowToTheEnd(Rig &rig)
{
    auto result = std::make_shared<CalibrationStartResult>();
    rig.Run(CalibrationStartJob(CalibrationRequest{}, result));
    EXPECT_TRUE(result->accepted());
    std::vector<CalibrationState> states;
    for (int i = 0; i < 20; ++i) {
        CalibrationStatusRead status;
        rig.Run([&status](JobContext &job) { status = ReadCalibrationStatus(job); });
        EXPECT_EQ(status.outcome, Outcome::Done);
        if (!status.state)
            break;
        states.push_back(*status.state);
        if (*status.state != CalibrationState::Running)
            break;
    }
    rig.Settle();
    return states;
}

TEST(CalibrationFollow, RunsToOkAndClearsTheFlag)
{
    ConnectedRig rig(InstrumentWithExponent(0));
    const std::vector<CalibrationState> states = FollowToTheEnd(rig);
    EXPECT_EQ(states, (std::vector<CalibrationState>{CalibrationState::Running, CalibrationState::Running,
                                                     CalibrationState::Running, CalibrationState::Succeeded}));
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);
    ASSERT_TRUE(rig.answers.back().status.has_value());
    EXPECT_EQ(rig.answers.back().status->text, QStringLiteral("OK"));
}

TEST(CalibrationFollow, RunsToErrorWhenTheInstrumentFails)
{
    RigOptions options = InstrumentWithExponent(0);
    options.scenario.calibrationFails = true;
    ConnectedRig rig(options);
    const std::vector<CalibrationState> states = FollowToTheEnd(rig);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.size(), 4U);
    EXPECT_EQ(states.back(), CalibrationState::Failed);
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);
    ASSERT_TRUE(rig.answers.back().status.has_value());
    EXPECT_EQ(rig.answers.back().status->text, QStringLiteral("Error"));
}

TEST(CalibrationFollow, TheIdlePollFollowsAnAcceptedStart)
{
    RigOptions options = InstrumentWithExponent(0);
    options.idlePoll = true;
    ConnectedRig rig(options);
    rig.Mark();
    const std::size_t answersBefore = rig.answers.size();
    rig.Run(CalibrationStartJob(CalibrationRequest{}, nullptr));
    ASSERT_TRUE(r310test::SpinUntil([&] {
        for (std::size_t i = answersBefore; i < rig.answers.size(); ++i)
            if (rig.answers[i].status && rig.answers[i].status->text == QStringLiteral("OK"))
                return true;
        return false;
    }, 5s));
    EXPECT_FALSE(rig.connection.record().CalibrationRunning);
    std::vector<std::string> heard = rig.HeardNames();
    ASSERT_GE(heard.size(), 6U);
    EXPECT_EQ(std::vector<std::string>(heard.begin(), heard.begin() + 6),
              (std::vector<std::string>{"R2", "W9", "R10", "R10", "R10", "R10"}));
}

} // namespace
