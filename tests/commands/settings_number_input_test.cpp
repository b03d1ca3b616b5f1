// Typed numbers -> raw instrument values: exact decimal reading, ties to
// even, the user's decimal separator, no group separators, and the refusals
// of values the instrument cannot hold.
#include "NumberInput.h"

#include <gtest/gtest.h>

using namespace r310;

namespace {

const QLocale kGerman(QLocale::German, QLocale::Germany);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

std::int16_t Raw(const Conversion<std::int16_t> &c)
{
    EXPECT_TRUE(c.ok()) << c.error.toStdString();
    return c.value.value_or(-1);
}

TEST(NumberInput, GasValuesScaleByTheExponentAndRoundTiesToEven)
{
    EXPECT_EQ(Raw(GasValueToRaw("A1", "20,5", -2, kGerman)), 2050);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "20.5", -2, kEnglish)), 2050);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "12,5", -1, kGerman)), 125);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "0,25", -1, kGerman)), 2);   // tie 2.5 -> 2
    EXPECT_EQ(Raw(GasValueToRaw("A1", "0,35", -1, kGerman)), 4);   // tie 3.5 -> 4
    EXPECT_EQ(Raw(GasValueToRaw("A1", "0,251", -1, kGerman)), 3);  // above the tie
    EXPECT_EQ(Raw(GasValueToRaw("A1", "-0,25", -1, kGerman)), -2); // ties to even below zero too
    EXPECT_EQ(Raw(GasValueToRaw("A1", "-0,35", -1, kGerman)), -4);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "1,005", -2, kGerman)), 100); // exact: no binary drift
    EXPECT_EQ(Raw(GasValueToRaw("A1", "30", 0, kGerman)), 30);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "2,5", 0, kGerman)), 2);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "1000", 2, kGerman)), 10);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "1050", 2, kGerman)), 10); // 10.5 -> 10
    EXPECT_EQ(Raw(GasValueToRaw("A1", "1150", 2, kGerman)), 12); // 11.5 -> 12
    EXPECT_EQ(Raw(GasValueToRaw("A1", "0,00004", 4, kGerman)), 0);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "3,2767", -4, kGerman)), 32767);
    EXPECT_EQ(Raw(GasValueToRaw("CAL gas", " 50 ", -1, kGerman)), 500); // blanks around are ignored
    EXPECT_EQ(Raw(GasValueToRaw("A1", "+5", 0, kGerman)), 5);
    EXPECT_EQ(Raw(GasValueToRaw("A1", ",5", -1, kGerman)), 5);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "5,", -1, kGerman)), 50);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "1,5E1", -1, kGerman)), 150);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "25e-1", 0, kGerman)), 2);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "0000000000000000000012", 0, kGerman)), 12);
    EXPECT_EQ(Raw(GasValueToRaw("A1", "0,00000000000000000000001", -1, kGerman)), 0);
    EXPECT_EQ(Raw(GasValueToRawDot("a1", "20.5", -2)), 2050);
}

TEST(NumberInput, TextThatIsNoNumberGetsTheRuntimeText)
{
    const char *const bad[] = {"", " ", "abc", "1.000", "1.5", "12a", "1 000", "--5", "-", ",", "1e", "1e12345", "0x10"};
    for (const char *text : bad) {
        const Conversion<std::int16_t> c = GasValueToRaw("A1", text, -1, kGerman);
        EXPECT_FALSE(c.ok()) << text;
        EXPECT_EQ(c.error, QStringLiteral("'%1' is not a valid floating point value").arg(text)) << text;
    }
    EXPECT_TRUE(GasValueToRaw("A1", "1,5", -1, kGerman).ok());
    EXPECT_EQ(GasValueToRaw("A1", "1,000", -1, kEnglish).error, "'1,000' is not a valid floating point value");
    EXPECT_EQ(GasValueToRawDot("a1", "1,5", -1).error, "'1,5' is not a valid floating point value");
    EXPECT_EQ(FixedPointToRaw("Zero point", "13O,5", 1, kGerman).error,
              "'13O,5' is not a valid floating point value");
}

TEST(NumberInput, ValuesBeyondSixteenBitsAndWideExponentsAreRefusedNotCut)
{
    const Conversion<std::int16_t> tooBig = GasValueToRaw("A1", "5000", -1, kGerman);
    EXPECT_FALSE(tooBig.ok());
    EXPECT_EQ(tooBig.error, "A1: 5000 is outside the allowed range -3276,8 to 3276,7");
    EXPECT_EQ(GasValueToRaw("STEL", "-3276,9", -1, kGerman).error,
              "STEL: -3276,9 is outside the allowed range -3276,8 to 3276,7");
    EXPECT_EQ(Raw(GasValueToRaw("STEL", "-3276,8", -1, kGerman)), -32768);
    EXPECT_EQ(Raw(GasValueToRaw("STEL", "3276,74", -1, kGerman)), 32767);
    EXPECT_FALSE(GasValueToRaw("STEL", "3276,75", -1, kGerman).ok()); // rounds to 32768
    EXPECT_EQ(GasValueToRaw("TWA", "3300000", 2, kEnglish).error,
              "TWA: 3300000 is outside the allowed range -3276800 to 3276700");
    EXPECT_FALSE(GasValueToRaw("A1", "1e300", 0, kGerman).ok());
    EXPECT_FALSE(GasValueToRaw("A1", "99999999999999999999999", 0, kGerman).ok());

    const Conversion<std::int16_t> wide = GasValueToRaw("A1", "1", -5, kGerman);
    EXPECT_FALSE(wide.ok());
    EXPECT_EQ(wide.error, "A1: the instrument's decimal exponent -5 is outside -4 to 4; the value cannot be converted");
    EXPECT_FALSE(GasValueToRaw("A1", "1", 5, kGerman).ok());
    EXPECT_TRUE(GasValueToRaw("A1", "1", 4, kGerman).ok());
}

TEST(NumberInput, FixedPointValuesOfTheHardwareFields)
{
    EXPECT_EQ(Raw(FixedPointToRaw("Zero point", "130,5", 1, kGerman)), 1305);
    EXPECT_EQ(Raw(FixedPointToRaw("Gain", "7,50", 2, kGerman)), 750);
    EXPECT_EQ(Raw(FixedPointToRaw("Reference voltage", "1899,5", 1, kGerman)), 18995);
    EXPECT_EQ(Raw(FixedPointToRawDot("zero-point", "130.25", 1)), 1302);
    EXPECT_EQ(FixedPointToRaw("Gain", "400", 2, kGerman).error,
              "Gain: 400 is outside the allowed range -327,68 to 327,67");
}

TEST(NumberInput, IntegersAndTheirRanges)
{
    EXPECT_EQ(IntegerValue("14").value, 14);
    EXPECT_EQ(IntegerValue(" -7 ").value, -7);
    EXPECT_EQ(IntegerValue("+7").value, 7);
    EXPECT_EQ(IntegerValue("2147483647").value, 2147483647);
    EXPECT_EQ(IntegerValue("-2147483648").value, -2147483647 - 1);
    EXPECT_EQ(IntegerValue("000000000000012").value, 12);
    for (const char *text : {"", "abc", "1,5", "1.5", "2147483648", "99999999999", "1e3", "- 3"}) {
        const Conversion<std::int32_t> c = IntegerValue(text);
        EXPECT_FALSE(c.ok()) << text;
        EXPECT_EQ(c.error, QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    EXPECT_EQ(IntegerInRange("Bleep interval", "255", 0, 255).value, 255);
    EXPECT_EQ(IntegerInRange("Bleep interval", "300", 0, 255).error,
              "Bleep interval: 300 is outside the allowed range 0 to 255");
    EXPECT_EQ(IntegerInRange("Bump info", "-1", 0, 3).error, "Bump info: -1 is outside the allowed range 0 to 3");
    EXPECT_EQ(IntegerInRange("Bump info", "x", 0, 3).error, "'x' is not a valid integer value");
}

TEST(NumberInput, GasValueTextsForTheCommandLine)
{
    EXPECT_EQ(GasValueTextDot(2050, -2), "20.50");
    EXPECT_EQ(GasValueTextDot(-5, -1), "-0.5");
    EXPECT_EQ(GasValueTextDot(10, 2), "1000");
}

} // namespace
