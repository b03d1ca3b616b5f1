// Number and date texts in a German and an English locale.
#include "FixtureFrames.h"
#include "Formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace r310;
using fixtures::kEnglish;
using fixtures::kGerman;

namespace {

TEST(Formats, SerialVersionAndMkType)
{
    EXPECT_EQ(FormatSerialNumber(1234), "00001234");
    EXPECT_EQ(FormatSerialNumber(0), "00000000");
    EXPECT_EQ(FormatSerialNumber(123456789), "123456789");
    EXPECT_EQ(FormatSerialNumber(-5), "000000-5"); // zeros go in front of the sign
    EXPECT_EQ(FormatSoftwareVersion(210), "2.10");
    EXPECT_EQ(FormatSoftwareVersion(5), "0.05");
    EXPECT_EQ(FormatSoftwareVersion(0), "0.00");
    EXPECT_EQ(FormatSoftwareVersion(1234), "12.34");
    EXPECT_EQ(FormatMkType(12345), "123-45");
    EXPECT_EQ(FormatMkType(101), "001-01");
    EXPECT_EQ(FormatMkType(0), "000-00");
}

TEST(Formats, ExponentScalingAndDecimals)
{
    EXPECT_DOUBLE_EQ(ScaleByExponent(1050, -2), 10.5);
    EXPECT_DOUBLE_EQ(ScaleByExponent(5, 1), 50.0);
    EXPECT_DOUBLE_EQ(ScaleByExponent(-150, -2), -1.5);
    EXPECT_DOUBLE_EQ(ScaleByExponent(3, 2), 300.0);
    EXPECT_GT(ScaleByExponent(1, 127), 9e126);
    EXPECT_EQ(DecimalsForExponent(-2), 2);
    EXPECT_EQ(DecimalsForExponent(0), 0);
    EXPECT_EQ(DecimalsForExponent(3), 0);
    EXPECT_EQ(DecimalsForExponent(-128), 128);
}

TEST(Formats, IntegerDivisionRoundsHalfToEven)
{
    EXPECT_EQ(DivideRoundHalfEven(25000, 10000), 2);  // 2.5
    EXPECT_EQ(DivideRoundHalfEven(35000, 10000), 4);  // 3.5
    EXPECT_EQ(DivideRoundHalfEven(15000, 10000), 2);  // 1.5
    EXPECT_EQ(DivideRoundHalfEven(25001, 10000), 3);
    EXPECT_EQ(DivideRoundHalfEven(24999, 10000), 2);
    EXPECT_EQ(DivideRoundHalfEven(-25000, 10000), -2);
    EXPECT_EQ(DivideRoundHalfEven(-35000, 10000), -4);
    EXPECT_EQ(DivideRoundHalfEven(-25001, 10000), -3);
    EXPECT_EQ(DivideRoundHalfEven(-4999, 10000), 0);
}

TEST(Formats, ValueText)
{
    EXPECT_EQ(ValueText(1.2, 1, kGerman), "1,2");
    EXPECT_EQ(ValueText(1.2, 1, kEnglish), "1.2");
    EXPECT_EQ(ValueText(10.5, 2, kGerman), "10,50");
    EXPECT_EQ(ValueText(1050, 0, kGerman), "1050");
    EXPECT_EQ(ValueText(-12.34, 2, kGerman), "-12,34");
    EXPECT_EQ(ValueText(0, 2, kEnglish), "0.00");
    EXPECT_EQ(ValueText(-0.04, 1, kEnglish), "0.0"); // no "-0.0"
    // At most seven significant digits, further decimals are zeros.
    EXPECT_EQ(ValueText(1234567.8, 1, kEnglish), "1234568.0");
    EXPECT_EQ(ValueText(1.23456789, 8, kEnglish), "1.23456800");
    EXPECT_EQ(ValueText(0.00012345678, 9, kEnglish), "0.000123457");
    EXPECT_EQ(ValueText(9999999, 0, kEnglish), "9999999");
    // Beyond seven integer digits the value goes scientific.
    EXPECT_EQ(ValueText(12345678, 0, kEnglish), "1.234568E+7");
    EXPECT_EQ(ValueText(32767000, 0, kGerman), "3,276700E+7");
    EXPECT_EQ(ValueText(-99999996, 0, kEnglish), "-1.000000E+8");
    // A damaged exponent shows at most nine decimals, or goes scientific.
    EXPECT_EQ(ScaledValueText(1, -128, kEnglish), "0.000000000");
    EXPECT_EQ(ScaledValueText(-1500, -10, kGerman), "-0,000000150");
    EXPECT_EQ(ScaledValueText(30, 127, kEnglish), "3.000000E+128");
}

TEST(Formats, DateFormatsWidenTheYearAndDropTheTimeZone)
{
    EXPECT_EQ(ShortDateFormat(kGerman), "dd.MM.yyyy");
    EXPECT_EQ(ShortDateFormat(kEnglish), "M/d/yyyy");
    EXPECT_FALSE(LongTimeFormat(kGerman).contains(u't'));
    EXPECT_FALSE(LongTimeFormat(kEnglish).contains(u't'));
    EXPECT_EQ(ShortDateFormat(QLocale(QLocale::English, QLocale::UnitedKingdom)), "dd/MM/yyyy");
}

TEST(Formats, InstrumentSecondsAsDateAndTime)
{
    EXPECT_EQ(InstrumentSecondsText(0, kGerman), "01.01.1980 00:00:00");
    EXPECT_EQ(InstrumentSecondsText(631152000, kGerman), "01.01.2000 00:00:00");
    EXPECT_EQ(InstrumentSecondsText(631152000, kEnglish), "1/1/2000 12:00:00 AM");
    // 2008-12-24 13:45:10
    EXPECT_EQ(InstrumentSecondsText(914593510, kGerman), "24.12.2008 13:45:10");
    EXPECT_EQ(InstrumentSecondsText(914593510, kEnglish), "12/24/2008 1:45:10 PM");
    EXPECT_EQ(InstrumentSecondsText(-1, kGerman), "31.12.1979 23:59:59");
    EXPECT_EQ(InstrumentSecondsText(std::numeric_limits<std::int32_t>::max(), kGerman),
              "19.01.2048 03:14:07");
    EXPECT_EQ(InstrumentSecondsText(std::numeric_limits<std::int32_t>::min(), kGerman),
              "13.12.1911 20:45:52");
}

TEST(Formats, DayCountsAsDates)
{
    EXPECT_EQ(InstrumentDayText(0, kGerman), "01.01.1980");
    EXPECT_EQ(InstrumentDayText(366, kGerman), "01.01.1981"); // 1980 is a leap year
    EXPECT_EQ(InstrumentDayText(366, kEnglish), "1/1/1981");
    EXPECT_EQ(InstrumentDayText(-1, kEnglish), "12/31/1979");
    // Beyond 2048 a day count still gives its date.
    EXPECT_EQ(InstrumentDayText(32767, kGerman), "17.09.2069");
    EXPECT_EQ(DateTimeText(std::numeric_limits<double>::quiet_NaN(), kGerman), "");
}

} // namespace
