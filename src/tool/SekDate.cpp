#include "SekDate.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

namespace r310 {

namespace {

// 1970-01-01 as a date-time (days since 1899-12-30).
constexpr std::int64_t kUnixEpochDay = 25569;
constexpr std::int64_t kMillisecondsPerDay = 86400000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b)
{
    return a - FloorDiv(a, b) * b;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, DateTimeParts &parts)
{
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153; // March = 0
    parts.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    parts.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    parts.year = static_cast<int>(yearOfEra + era * 400 + (parts.month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValid(const DateTimeParts &p)
{
    return p.year >= 1 && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1
           && p.day <= DaysInMonth(p.year, p.month) && p.hour >= 0 && p.hour < 24
           && p.minute >= 0 && p.minute < 60 && p.second >= 0 && p.second < 60
           && p.millisecond >= 0 && p.millisecond < 1000;
}

// The signed 32-bit value with the same low 32 bits, without relying on how
// the compiler narrows out-of-range integers.
std::int32_t LowWord32(std::int64_t value)
{
    const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(value));
    return low <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
               ? static_cast<std::int32_t>(low)
               : static_cast<std::int32_t>(static_cast<std::int64_t>(low) - (std::int64_t{1} << 32));
}

std::tm LocalCalendarTime(std::time_t t, bool &ok)
{
    std::tm local{};
#if defined(_WIN32)
    ok = localtime_s(&local, &t) == 0;
#else
    ok = localtime_r(&t, &local) != nullptr;
#endif
    return local;
}

} // namespace

bool DateTimeParts::operator==(const DateTimeParts &o) const
{
    return year == o.year && month == o.month && day == o.day && hour == o.hour
           && minute == o.minute && second == o.second && millisecond == o.millisecond;
}

std::optional<std::int64_t> RoundHalfToEven(long double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const long double below = std::floor(value);
    const long double fraction = value - below; // exact
    long double rounded = below;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(below, 2.0L) != 0))
        rounded = below + 1;
    const long double limit = std::ldexp(1.0L, 63);
    if (rounded < -limit || rounded >= limit)
        return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

double SekToDateTime(std::int32_t seconds)
{
    return static_cast<double>(static_cast<long double>(seconds) / kSecondsPerDay
                               + kInstrumentEpochDay);
}

std::optional<std::int64_t> DateTimeToSek64(double dateTime)
{
    return RoundHalfToEven((static_cast<long double>(dateTime) - kInstrumentEpochDay)
                           * kSecondsPerDay);
}

std::int32_t DateTimeToSek(double dateTime)
{
    const auto seconds = DateTimeToSek64(dateTime);
    return seconds ? LowWord32(*seconds) : 0;
}

double NowDateTime()
{
    using namespace std::chrono;
    const std::int64_t sinceEpoch =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const auto t = static_cast<std::time_t>(FloorDiv(sinceEpoch, 1000));
    bool ok = false;
    const std::tm local = LocalCalendarTime(t, ok);
    if (!ok) // no time zone information: count the universal time as local
        return static_cast<double>(kUnixEpochDay
                                   + static_cast<long double>(sinceEpoch) / kMillisecondsPerDay);
    DateTimeParts parts;
    parts.year = local.tm_year + 1900;
    parts.month = local.tm_mon + 1;
    parts.day = local.tm_mday;
    parts.hour = local.tm_hour;
    parts.minute = local.tm_min;
    parts.second = local.tm_sec < 60 ? local.tm_sec : 59; // a leap second counts as :59
    parts.millisecond = static_cast<int>(FloorMod(sinceEpoch, 1000));
    return EncodeDateTime(parts).value_or(0.0);
}

std::int32_t SysTimeSek()
{
    return DateTimeToSek(NowDateTime());
}

std::optional<double> EncodeDateTime(const DateTimeParts &p)
{
    if (!IsValid(p))
        return std::nullopt;
    const std::int64_t day = DaysFromCivil(p.year, p.month, p.day) + kUnixEpochDay;
    const std::int64_t msOfDay =
        ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
    return static_cast<double>(static_cast<long double>(day)
                               + static_cast<long double>(msOfDay) / kMillisecondsPerDay);
}

std::optional<DateTimeParts> DecodeDateTime(double dateTime)
{
    const auto totalMs = RoundHalfToEven(static_cast<long double>(dateTime) * kMillisecondsPerDay);
    if (!totalMs)
        return std::nullopt;
    const std::int64_t day = FloorDiv(*totalMs, kMillisecondsPerDay);
    const std::int64_t msOfDay = FloorMod(*totalMs, kMillisecondsPerDay);
    // Years 1 to 9999; checked on the day count so the calendar sums stay small.
    if (day < DaysFromCivil(1, 1, 1) + kUnixEpochDay || day > DaysFromCivil(9999, 12, 31) + kUnixEpochDay)
        return std::nullopt;
    DateTimeParts parts;
    CivilFromDays(day - kUnixEpochDay, parts);
    parts.hour = static_cast<int>(msOfDay / 3600000);
    parts.minute = static_cast<int>(msOfDay / 60000 % 60);
    parts.second = static_cast<int>(msOfDay / 1000 % 60);
    parts.millisecond = static_cast<int>(msOfDay % 1000);
    return parts;
}

DateTimeParts SekToParts(std::int32_t seconds)
{
    DateTimeParts parts;
    CivilFromDays(FloorDiv(seconds, kSecondsPerDay) + kInstrumentEpochDay - kUnixEpochDay, parts);
    const auto secondOfDay = static_cast<int>(FloorMod(seconds, kSecondsPerDay));
    parts.hour = secondOfDay / 3600;
    parts.minute = secondOfDay / 60 % 60;
    parts.second = secondOfDay % 60;
    parts.millisecond = 0;
    return parts;
}

std::optional<std::int32_t> PartsToSek(const DateTimeParts &parts)
{
    const auto dateTime = EncodeDateTime(parts);
    if (!dateTime)
        return std::nullopt;
    const auto seconds = DateTimeToSek64(*dateTime);
    if (!seconds || *seconds < std::numeric_limits<std::int32_t>::min()
        || *seconds > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(*seconds);
}

} // namespace r310
