#pragma once
// Number and date texts of the instrument's values. Numbers and dates follow
// the QLocale passed in (decimal separator, short date, long time), so the
// same values read the same way in the window, the command-line tool, the
// exported logs and the tests.
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

#include <cstdint>

namespace r310 {

// Decimal text of n, zero-padded to at least 8 characters (zeros go in front
// of a minus sign): 1234 -> "00001234".
QString FormatSerialNumber(std::int32_t n);

// Digits of n zero-padded to at least 3, a "." before the last two:
// 210 -> "2.10", 5 -> "0.05".
QString FormatSoftwareVersion(std::int32_t n);

// Digits of n zero-padded to at least 5, a "-" before the last two:
// 12345 -> "123-45", 101 -> "001-01".
QString FormatMkType(std::int32_t n);

// v x 10^e, the factor built by repeated multiplication or division by 10.
double ScaleByExponent(std::int32_t v, std::int8_t e);

// Decimals of a value with exponent e: -e for a negative e, else 0.
int DecimalsForExponent(std::int8_t e);

// The most decimals a gas value is shown with. No instrument stores its
// values below 10^-9; an exponent of -128 (a damaged answer) would otherwise
// give texts of 130 characters that no field can show. The logs' export
// files use the same bound.
constexpr int kMaxShownDecimals = 9;
// DecimalsForExponent(e), at most kMaxShownDecimals.
int ShownDecimalsForExponent(std::int8_t e);

// p / divisor rounded to the nearest integer, a tie going to the even one.
// divisor must be positive.
std::int64_t DivideRoundHalfEven(std::int64_t p, std::int64_t divisor);

// Value text: fixed point with `decimals` decimals and at most 7 significant
// digits (further decimals are zeros); a value whose integer part has more
// than 7 digits is shown in scientific notation ("3,276700E+7" in German).
// Uses the locale's decimal separator and minus sign, never group separators.
QString ValueText(double value, int decimals, const QLocale &locale);

// Value text of raw x 10^e with ShownDecimalsForExponent(e) decimals.
QString ScaledValueText(std::int32_t raw, std::int8_t e, const QLocale &locale);

// A calendar date-time as days since 1899-12-30, the time of day as fraction
// (1980-01-01 00:00 is 29221), resolved to whole milliseconds. Invalid when
// the value is no date of the years 1 to 9999.
QDateTime DateTimeFromDays(double days);

// The locale's short date format, with a two-digit year widened to four:
// instrument dates span 1911 to 2048, where two digits are ambiguous.
QString ShortDateFormat(const QLocale &locale);
// The locale's long time format without a time-zone part (instrument and PC
// times are local wall-clock times).
QString LongTimeFormat(const QLocale &locale);

QString DateText(const QDate &date, const QLocale &locale);
QString TimeText(const QTime &time, const QLocale &locale);
// Short date, one blank, long time.
QString DateTimeText(const QDateTime &dateTime, const QLocale &locale);
QString DateTimeText(double days, const QLocale &locale);
// Date and time of an instrument second count.
QString InstrumentSecondsText(std::int32_t seconds, const QLocale &locale);
// Date of a day count since 1980-01-01 (the service dates of the signals object).
QString InstrumentDayText(std::int32_t days, const QLocale &locale);

} // namespace r310
