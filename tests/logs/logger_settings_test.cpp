// The data logger's interval command and its erase, against the simulated
// instrument: what is refused before anything is sent, what goes on the
// wire, and the read-back that shows the instrument's new state.
#include "InstrumentRig.h"

#include "LoggerSettings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

using namespace r310;
using namespace r310::logs;
using namespace r310test;
using Refusal = LoggerIntervalInput::Refusal;

namespace {

// Logger information bytes the instrument holds beyond its counters, all
// different from what a fresh record would have.
void GiveLoggerUnusualSettings(Rig &rig, std::array<std::uint8_t, 4> objects)
{
    rig.OnInstrument([objects](sim::Device &device) {
        sim::LoggerInfo &info = device.state().logger.info;
        info.objects = objects;
        info.reserved10 = {0xA5, 0x5A};
        info.reserved14 = {0x01, 0x80, 0xFE, 0x7F};
    });
}

std::vector<std::uint8_t> InstrumentInfoBytes(Rig &rig)
{
    std::vector<std::uint8_t> bytes;
    rig.OnInstrument([&bytes](sim::Device &device) {
        const sim::DataLogger &logger = device.state().logger;
        bytes = sim::EncodeLoggerInfo(logger.info, static_cast<std::uint16_t>(logger.blocks.size()));
    });
    return bytes;
}

std::shared_ptr<LoggerCommandResult> SetInterval(Rig &rig, std::uint16_t seconds)
{
    auto result = std::make_shared<LoggerCommandResult>();
    rig.Run(SetLoggerIntervalJob(seconds, result));
    return result;
}

} // namespace

TEST(LoggerIntervalInput, ThirtyToThreeHundredSecondsAreTaken)
{
    for (const auto &[text, seconds] : std::vector<std::pair<QString, int>>{
             {QStringLiteral("30"), 30}, {QStringLiteral("300"), 300}, {QStringLiteral(" 120 "), 120},
             {QStringLiteral("+60"), 60}}) {
        const LoggerIntervalInput input = LoggerIntervalFromText(text);
        ASSERT_TRUE(input.ok()) << text.toStdString();
        EXPECT_EQ(*input.seconds, seconds);
        EXPECT_EQ(input.refusal, Refusal::None);
    }
}

TEST(LoggerIntervalInput, OtherNumbersAndTextAreRefusedWithTheirMessages)
{
    for (const QString &text : {QStringLiteral("29"), QStringLiteral("301"), QStringLiteral("65566"),
                                QStringLiteral("0"), QStringLiteral("-30")}) {
        const LoggerIntervalInput input = LoggerIntervalFromText(text);
        EXPECT_FALSE(input.ok()) << text.toStdString();
        EXPECT_EQ(input.refusal, Refusal::OutOfRange) << text.toStdString();
        EXPECT_EQ(input.message, QStringLiteral("Error! from 30 to 300 allowed"));
    }
    for (const QString &text : {QStringLiteral("abc"), QString(), QStringLiteral("60s"), QStringLiteral("1.5"),
                                QStringLiteral("99999999999")}) {
        const LoggerIntervalInput input = LoggerIntervalFromText(text);
        EXPECT_FALSE(input.ok()) << text.toStdString();
        EXPECT_EQ(input.refusal, Refusal::NotAnInteger) << text.toStdString();
        EXPECT_EQ(input.message, QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
}

TEST(LoggerInterval, WritesTheRecordAsTheInstrumentHoldsItWithOnlyTheIntervalChanged)
{
    ConnectedRig rig;
    GiveLoggerUnusualSettings(rig, {9, 8, 7, 6});
    std::vector<std::uint8_t> expected = InstrumentInfoBytes(rig);
    expected[12] = 0x2C; // 300 seconds, little-endian
    expected[13] = 0x01;

    rig.Mark();
    const auto result = SetInterval(rig, 300);
    const std::vector<Heard> heard = rig.Heard();
    EXPECT_EQ(Names(heard), (std::vector<std::string>{"R36", "R2", "W36", "R36"}));
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[2].flags, kFlagsWrite);
    EXPECT_EQ(heard[2].payload, expected);

    EXPECT_TRUE(result->accepted()) << result->failureText(QStringLiteral("Set Paramet")).toStdString();
    ASSERT_TRUE(result->infoAfter.has_value());
    EXPECT_EQ(result->infoAfter->interval(), 300);
    EXPECT_EQ(result->infoAfter->obj1(), 9);
    EXPECT_EQ(result->infoAfter->obj2(), 8);
    EXPECT_EQ(result->infoAfter->obj3(), 6);
    EXPECT_EQ(rig.InstrumentState().logger.info.interval, 300);
}

TEST(LoggerInterval, NeverSendsARecordOfAnEarlierState)
{
    ConnectedRig rig;
    GiveLoggerUnusualSettings(rig, {1, 2, 3, 4});
    ASSERT_TRUE(SetInterval(rig, 30)->accepted());
    // The instrument's record changes behind the configurator's back (another
    // instrument on the same port would do the same).
    GiveLoggerUnusualSettings(rig, {40, 50, 60, 70});
    rig.Mark();
    ASSERT_TRUE(SetInterval(rig, 90)->accepted());
    const std::vector<Heard> heard = rig.Heard();
    ASSERT_EQ(heard.size(), 4u);
    const std::vector<std::uint8_t> written = heard[2].payload;
    ASSERT_EQ(written.size(), 18u);
    EXPECT_EQ((std::vector<std::uint8_t>(written.begin() + 6, written.begin() + 10)),
              (std::vector<std::uint8_t>{40, 50, 60, 70}));
    EXPECT_EQ(written[12], 90);
}

TEST(LoggerInterval, ARecordThatCannotBeReadIsNotWritten)
{
    ConnectedRig rig;
    rig.Silence({kObjectLoggerInfo});
    rig.Mark();
    const auto result = SetInterval(rig, 120);
    for (const Heard &h : rig.Heard())
        EXPECT_FALSE(h.write()) << h.name();
    EXPECT_EQ(result->infoRead, Outcome::NoAnswer);
    EXPECT_EQ(result->outcome, Outcome::NotRun);
    EXPECT_EQ(result->failureText(QStringLiteral("Set Paramet")),
              QStringLiteral("Set Paramet: nothing was sent, the logger information could not be read "
                             "(the instrument did not answer)"));
    EXPECT_EQ(rig.InstrumentState().logger.info.interval, 60);
}

TEST(LoggerInterval, IntervalsOutsideThirtyToThreeHundredSendNothing)
{
    ConnectedRig rig;
    for (const std::uint16_t seconds : {std::uint16_t{29}, std::uint16_t{301}, std::uint16_t{0}}) {
        rig.Mark();
        const auto result = SetInterval(rig, seconds);
        EXPECT_TRUE(rig.Heard().empty()) << seconds;
        EXPECT_TRUE(result->intervalRefused);
        EXPECT_FALSE(result->accepted());
    }
}

TEST(LoggerInterval, AnUnansweredWriteIsNotReadBack)
{
    ConnectedRig rig;
    // The read before the write is answered, the line then goes: the write
    // goes out once, and not again without an identity read that is answered.
    sim::FaultPlan silent;
    silent.lineDropAfter = 1;
    rig.SetFaults(silent);
    rig.Mark();
    const auto result = SetInterval(rig, 120);
    rig.Settle();
    EXPECT_EQ(result->outcome, Outcome::NoAnswer);
    EXPECT_FALSE(result->infoAfter.has_value());
    EXPECT_EQ(rig.lamp, LampColour::Red);
    const std::vector<std::string> names = rig.HeardNames();
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names[0], "R36");
    EXPECT_EQ(names[1], "R2");
    EXPECT_EQ(names[2], "W36");
    EXPECT_EQ(std::count(names.begin(), names.end(), "W36"), 1);
    EXPECT_EQ(std::find(names.begin() + 3, names.end(), "R36"), names.end()) << "no read-back";
}

TEST(LoggerClear, ErasesWithServiceFunctionSevenThenShowsTheNewCounters)
{
    RigOptions options;
    options.scenario.loggerBlocks = 12;
    ConnectedRig rig(options);
    rig.Mark();
    auto result = std::make_shared<LoggerCommandResult>();
    rig.Run(ClearDataLoggerJob(result));
    const std::vector<Heard> heard = rig.Heard();
    EXPECT_EQ(Names(heard), (std::vector<std::string>{"R2", "W127", "R36"}));
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[1].payload, std::vector<std::uint8_t>{7});
    EXPECT_TRUE(result->accepted());
    ASSERT_TRUE(result->infoAfter.has_value());
    EXPECT_EQ(result->infoAfter->blockCount(), 0);
    EXPECT_TRUE(rig.InstrumentState().logger.blocks.empty());
}

TEST(LoggerClear, ASilentInstrumentIsNotReadBack)
{
    ConnectedRig rig;
    rig.Silence();
    rig.Mark();
    auto result = std::make_shared<LoggerCommandResult>();
    rig.Run(ClearDataLoggerJob(result));
    // Nobody answers the identity read, so nothing is written either.
    for (const Heard &h : rig.Heard())
        EXPECT_EQ(h.name(), "R2");
    EXPECT_EQ(result->outcome, Outcome::NoAnswer);
    EXPECT_EQ(result->failureText(QStringLiteral("Clear")), QStringLiteral("Clear: the instrument did not answer"));
}
