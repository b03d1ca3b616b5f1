// What a calibration's and a bump test's readings mean, which alarm orders
// are unusual, the serial numbers the records take, and the simulated
// sensor's response to test gas.
#include <AlarmSettings.h>
#include <BumpTestOperation.h>
#include <CalibrationOperation.h>
#include <RecordViews.h>
#include <TestGasModel.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace r310;
using namespace r310::operations;

CalibrationPlan Plan(CalibrationKind kind, const char *concentration, std::optional<double> tolerance = {})
{
    CalibrationInput input;
    input.kind = kind;
    input.concentration = QString::fromLatin1(concentration);
    input.tolerancePercent = tolerance;
    auto prepared = CalibrationOperation::Prepare(input, nullptr, std::nullopt, QDate::currentDate());
    EXPECT_TRUE(std::holds_alternative<CalibrationPlan>(prepared));
    return std::get<CalibrationPlan>(prepared);
}

TEST(CalibrationOperation, PassesOnlyWhenTheInstrumentSaysOkAndAsLeftIsWithinTheTolerance)
{
    InstrumentRecord record;
    record.RangeEnd = 500;
    struct Case {
        CalibrationKind kind;
        const char *concentration;
        std::optional<double> tolerance;
        CalibrationState reported;
        std::optional<double> asLeft;
        const char *stoppedBy;
        const char *verdict;
        const char *reason;
    } cases[] = {
        {CalibrationKind::Span, "50", {}, CalibrationState::Succeeded, 52, "", "passed", ""},
        {CalibrationKind::Span, "50", {}, CalibrationState::Succeeded, 31, "", "failed", "as left 31 ppm outside 45–55 ppm"},
        {CalibrationKind::Span, "50", 50, CalibrationState::Succeeded, 31, "", "passed", ""},
        {CalibrationKind::Span, "50", {}, CalibrationState::Failed, 50, "", "failed", "the instrument reported Error"},
        {CalibrationKind::Span, "50", {}, CalibrationState::Succeeded, {}, "", "failed", "no reading as left"},
        {CalibrationKind::Zero, "", {}, CalibrationState::Succeeded, 9, "", "passed", ""},
        {CalibrationKind::Zero, "", {}, CalibrationState::Succeeded, -11, "", "failed", "as left -11 ppm outside -10–10 ppm"},
        {CalibrationKind::Span, "50", {}, CalibrationState::Succeeded, 50, "cancelled", "cancelled", ""},
    };
    for (const Case &c : cases) {
        CalibrationSeen seen;
        seen.reported = c.reported;
        seen.asLeft = c.asLeft;
        seen.stoppedBy = QString::fromLatin1(c.stoppedBy);
        const OperationReport report =
            CalibrationOperation::Finish(Plan(c.kind, c.concentration, c.tolerance), seen, record, QStringLiteral("ppm"));
        EXPECT_EQ(report.verdict, QLatin1String(c.verdict)) << c.concentration << " " << c.asLeft.value_or(-1);
        EXPECT_EQ(report.record.value(QStringLiteral("outcome")).toString(), QLatin1String(c.verdict));
        EXPECT_EQ(report.record.value(QStringLiteral("reason")).toString(), QString::fromUtf8(c.reason));
    }
}

TEST(CalibrationOperation, RefusesABadToleranceAndAZeroWithACylinder)
{
    CalibrationInput input;
    input.tolerancePercent = 0;
    EXPECT_TRUE(std::holds_alternative<Refusal>(CalibrationOperation::Prepare(input, nullptr, {}, QDate())));
    input.tolerancePercent.reset();
    input.cylinderLot = QStringLiteral("L1");
    EXPECT_TRUE(std::holds_alternative<Refusal>(CalibrationOperation::Prepare(input, nullptr, {}, QDate())));
    EXPECT_EQ(Plan(CalibrationKind::Zero, "").instruction, QStringLiteral("Apply zero air"));
}

TEST(BumpTestOperation, AResultCountsOnlyAfterTheTestWasSeenRunning)
{
    using State = BumpTestOperation::State;
    using R = BumpTestResult;
    struct Case {
        std::vector<R> reads;
        State state;
        const char *verdict; // Finish("no result") when it did not end
    } cases[] = {
        {{R{28, 55, 12}}, State::Waiting, "no result"}, // the last test's result
        {{R{0, 0, 0}, R{28, 55, 12}}, State::Passed, "passed"},
        {{R{28, 55, 12}, R{0, 0, 0}, R{0, 0, 0}, R{30, -1, 12}}, State::Failed, "failed"},
        {{R{0, 0, 0}, R{0, 0, 0}}, State::Running, "no result"},
    };
    for (const Case &c : cases) {
        BumpTestOperation bump(BumpTestPlan{});
        for (const R &r : c.reads)
            bump.Take(BumpRead{Outcome::Done, r, QString()});
        EXPECT_EQ(bump.state(), c.state) << c.reads.size();
        const OperationReport report = bump.Finish(bump.ended() ? QString() : QStringLiteral("no result"));
        EXPECT_EQ(report.verdict, QLatin1String(c.verdict));
        EXPECT_EQ(report.record.contains(QStringLiteral("a1")), bump.ended());
    }
}

TEST(AlarmOrder, RisingLevelsGoUpFallingOnesDownAndNoneRisesFromZero)
{
    const auto values = [](std::array<std::int16_t, 3> levels, bool falling) {
        AlarmSettingsValues v;
        for (std::size_t i = 0; i < 3; ++i) {
            v.thresholds[i] = levels[i];
            v.flags[i].fallBelow = falling;
        }
        return v;
    };
    struct Case {
        std::array<std::int16_t, 3> levels;
        bool falling;
        const char *problem; // empty: usual
    } cases[] = {
        {{30, 60, 150}, false, ""},      {{30, 30, 150}, false, ""},
        {{70, 60, 150}, false, "A1 70 lies above A2 60"}, {{0, 60, 150}, false, "A1 0 alarms at 0"},
        {{195, 170, 0}, true, ""},       {{170, 195, 100}, true, "A1 170 lies below A2 195"},
    };
    for (const Case &c : cases) {
        const QString problem = UnusualAlarmOrder(values(c.levels, c.falling), 0, WindowAlarmFieldNames(), QLocale::c());
        EXPECT_TRUE(*c.problem ? problem.startsWith(QLatin1String(c.problem)) : problem.isEmpty())
            << c.levels[0] << " " << c.levels[1] << ": " << problem.toStdString();
    }
}

TEST(RecordsSerial, TakesTheSerialWithOrWithoutItsLeadingZeros)
{
    const std::pair<const char *, const char *> cases[] = {
        {"1234", "00001234"}, {"00001234", "00001234"}, {" 000001234 ", "00001234"}, {"ABC", "ABC"}, {"", ""}};
    for (const auto &[typed, kept] : cases)
        EXPECT_EQ(records::NormalizedSerial(QString::fromLatin1(typed)), QLatin1String(kept)) << typed;
}

TEST(TestGasModel, RisesToNinetyPercentInT90AndFallsWhenTakenAway)
{
    sim::TestGasModel gas(20);
    gas.apply(100, 0);
    EXPECT_NEAR(gas.response(20'000'000), 90, 0.01);
    EXPECT_FALSE(gas.settled(20'000'000));
    EXPECT_TRUE(gas.settled(40'000'000));
    EXPECT_NEAR(*gas.secondsToReach(50), 20 * std::log(2.0) / std::log(10.0), 0.01);
    EXPECT_FALSE(gas.secondsToReach(100));
    gas.remove(40'000'000);
    EXPECT_NEAR(gas.response(60'000'000), 9.9, 0.01);
    sim::TestGasModel instant;
    instant.apply(50, 0);
    EXPECT_EQ(instant.response(0), 50);
}

} // namespace
