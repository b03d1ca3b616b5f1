#pragma once
// Conversions between InstrumentSeconds (signed seconds since 1980-01-01 00:00
// local time, the instrument's clock and log time stamps) and the calendar
// date-time used for display (days since 1899-12-30 00:00, the time of day as
// the fraction). Both the configurator and the VykTool library use these.
#include <cstdint>
#include <optional>

namespace r310 {

constexpr std::int32_t kInstrumentEpochDay = 29221; // 1980-01-01 as a date-time
constexpr std::int32_t kSecondsPerDay = 86400;

// seconds / 86400 + 29221, computed in extended precision.
double SekToDateTime(std::int32_t seconds);

// (dateTime - 29221) * 86400 in extended precision, rounded to the nearest
// second with ties to the even count. Empty when the value cannot be rounded
// to a 64-bit integer (not a number, infinite, too large).
std::optional<std::int64_t> DateTimeToSek64(double dateTime);

// As DateTimeToSek64, folded into the instrument's 32-bit count: 0 when the
// date-time cannot be rounded, the low 32 bits when the count lies outside the
// signed 32-bit range.
std::int32_t DateTimeToSek(double dateTime);

// The current local date-time, including its milliseconds.
double NowDateTime();

// The current local time as InstrumentSeconds.
std::int32_t SysTimeSek();

// Rounds to the nearest integer, a tie going to the even neighbour, whatever
// the floating-point rounding mode. Empty outside the 64-bit integer range.
std::optional<std::int64_t> RoundHalfToEven(long double value);

// A local calendar date-time broken into its fields (month and day from 1).
struct DateTimeParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool operator==(const DateTimeParts &other) const;
    bool operator!=(const DateTimeParts &other) const { return !(*this == other); }
};

// Fields to date-time. Empty when a field is out of its range (year 1 to 9999,
// a day the month does not have, hour 24, ...).
std::optional<double> EncodeDateTime(const DateTimeParts &parts);

// Date-time to fields, rounded to the nearest millisecond. The day count is
// continuous (day -1.25 is 1899-12-28 18:00). Empty when the value is not
// finite or falls outside the years 1 to 9999.
std::optional<DateTimeParts> DecodeDateTime(double dateTime);

// InstrumentSeconds to fields, exactly (no floating point involved).
DateTimeParts SekToParts(std::int32_t seconds);

// Fields to InstrumentSeconds through the date-time, as typed dates are
// converted. Empty when the fields are invalid or the instant lies outside
// what a signed 32-bit count can hold (1911-12-13 20:45:52 to 2048-01-19 03:14:07).
std::optional<std::int32_t> PartsToSek(const DateTimeParts &parts);

} // namespace r310
