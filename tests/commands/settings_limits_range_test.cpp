// Alarm limits the instrument can act on: typed values its scale cannot hold
// exactly are refused with the two nearest it can hold, limits outside the
// measuring range are refused naming the field, the value and the range, and
// the settings keys and profiles refuse both before anything is written.
#include <AlarmSettings.h>
#include <SettingsKeys.h>

#include <QLocale>

#include <gtest/gtest.h>

namespace {

using namespace r310;

TEST(ExactGasValue, RefusesWhatTheScaleCannotHoldAndNamesTheNearestValues)
{
    struct Case {
        const char *text;
        std::int8_t exponent;
        std::optional<std::int16_t> raw; // accepted raw value
        const char *refusal;             // else the refusal
    };
    const Case cases[] = {
        {"35", 0, 35, nullptr},
        {"35.0", 0, 35, nullptr},
        {"35.5", 0, std::nullopt, "A1: 35.5 does not fit the instrument's scale; the nearest values it can hold are 35 and 36"},
        {"-4.5", 0, std::nullopt, "A1: -4.5 does not fit the instrument's scale; the nearest values it can hold are -5 and -4"},
        {"0.05", 0, std::nullopt, "A1: 0.05 does not fit the instrument's scale; the nearest values it can hold are 0 and 1"},
        {"20.5", -1, 205, nullptr},
        {"20.55", -1, std::nullopt, "A1: 20.55 does not fit the instrument's scale; the nearest values it can hold are 20.5 and 20.6"},
        {"350", 1, 35, nullptr},
        {"355", 1, std::nullopt, "A1: 355 does not fit the instrument's scale; the nearest values it can hold are 350 and 360"},
        {"1e1", 0, 10, nullptr},
    };
    for (const Case &c : cases) {
        const Conversion<std::int16_t> got = ExactGasValueToRawDot(QStringLiteral("A1"), QString::fromLatin1(c.text), c.exponent);
        if (c.raw) {
            ASSERT_TRUE(got.ok()) << c.text << ": " << got.error.toStdString();
            EXPECT_EQ(*got.value, *c.raw) << c.text;
        } else {
            EXPECT_EQ(got.error.toStdString(), c.refusal) << c.text;
        }
    }
    // The plain conversion still rounds (the calibration tab's own field).
    EXPECT_EQ(*GasValueToRawDot(QStringLiteral("A1"), QStringLiteral("35.5"), 0).value, 36);
}

RangeAlarmSettings Range0To500()
{
    RangeAlarmSettings range;
    range.rangeBegin = 0;
    range.rangeEnd = 500;
    range.exponent = 0;
    range.limits[0].raw = 30;
    range.limits[1].raw = 60;
    range.limits[2].raw = 150;
    range.limits[3].raw = 100;
    range.limits[4].raw = 30;
    range.calibrationGas = 100;
    return range;
}

TEST(LimitsInRange, EachOfTheSixValuesMustLieWithinTheMeasuringRange)
{
    const RangeAlarmSettings range = Range0To500();
    const AlarmSettingsValues held = AlarmSettingsValues::FromDecoded(range);
    const MeasuringRange measuring = MeasuringRange::FromDecoded(range);
    EXPECT_EQ(LimitsOutsideRangeRefusal(held, measuring, WindowAlarmFieldNames(), QLocale::c()), QString());

    struct Case {
        int field; // 0-4 the thresholds, 5 the calibration gas
        std::int16_t raw;
        const char *refusal;
    };
    const Case cases[] = {
        {0, 600, "A1: 600 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {1, -5, "A2: -5 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {4, 501, "TWA: 501 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {5, 900, "CAL Gas: 900 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {3, 500, ""},
        {2, 0, ""},
    };
    for (const Case &c : cases) {
        AlarmSettingsValues values = held;
        (c.field < 5 ? values.thresholds[static_cast<std::size_t>(c.field)] : values.calibrationGas) = c.raw;
        EXPECT_EQ(LimitsOutsideRangeRefusal(values, measuring, WindowAlarmFieldNames(), QLocale::c()).toStdString(),
                  c.refusal);
    }
    // The range in the instrument's unit, with its decimals.
    MeasuringRange tenths = measuring;
    tenths.exponent = -1;
    AlarmSettingsValues high = held;
    high.thresholds[0] = 501;
    EXPECT_EQ(LimitsOutsideRangeRefusal(high, tenths, WindowAlarmFieldNames(), QLocale::c()),
              QStringLiteral("A1: 50.1 is outside the instrument's measuring range 0.0 to 50.0; nothing was sent"));
}

TEST(LimitsInRange, SetKeysAndTheLimitsGroupRefuseBeforeAnythingIsWritten)
{
    const RangeAlarmSettings range = Range0To500();
    const SettingsGroupCommand *limits = FindSettingsGroup(SettingsGroup::Limits);
    ASSERT_NE(limits, nullptr);
    struct Case {
        const char *assignment;
        const char *refusal; // of the key (apply) or of the group's payload
    };
    const Case cases[] = {
        {"a1=600", "a1: 600 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {"a2=-5", "a2: -5 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {"cal-gas=501", "cal-gas: 501 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {"a1=35.5", "a1: 35.5 does not fit the instrument's scale; the nearest values it can hold are 35 and 36"},
        {"a2=61", ""},
    };
    for (const Case &c : cases) {
        QString parseRefusal;
        const std::vector<SettingAssignment> assignments =
            ParseSettingAssignments({QString::fromLatin1(c.assignment)}, &parseRefusal);
        ASSERT_TRUE(parseRefusal.isEmpty()) << c.assignment;
        SettingsDraft draft = SettingsDraft::FromDecoded(221, &range, nullptr, nullptr);
        QString refusal = ApplySettingAssignments(draft, assignments);
        if (refusal.isEmpty())
            refusal = limits->payload(draft).refusal;
        EXPECT_EQ(refusal.toStdString(), c.refusal) << c.assignment;
    }
}

} // namespace
