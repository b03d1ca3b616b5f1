// The configurator's date routines: rounding, the calendar fields the window
// shows, and the local clock.
#include "SekDate.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

using r310::DateTimeParts;

namespace {

DateTimeParts Parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return DateTimeParts{y, mo, d, h, mi, s, ms};
}

std::string Show(const std::optional<DateTimeParts> &p)
{
    if (!p)
        return "none";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p->year, p->month, p->day,
                  p->hour, p->minute, p->second, p->millisecond);
    return text;
}

} // namespace

TEST(SekDate, RoundsHalfToEvenInEveryRoundingMode)
{
    const struct { long double value; std::int64_t rounded; } cases[] = {
        {0.5L, 0}, {1.5L, 2}, {2.5L, 2}, {-0.5L, 0}, {-1.5L, -2}, {-2.5L, -2}, {2.4999L, 2},
        {-2.5001L, -3}, {9007199254740993.5L, 9007199254740994}};
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        for (const auto &c : cases)
            EXPECT_EQ(r310::RoundHalfToEven(c.value), c.rounded) << static_cast<double>(c.value) << " mode " << mode;
    }
    std::fesetround(FE_TONEAREST);
    EXPECT_FALSE(r310::RoundHalfToEven(9.3e18L));
    EXPECT_EQ(r310::RoundHalfToEven(-9223372036854775808.0L), INT64_MIN);
}

TEST(SekDate, CalendarFieldsOfTheInstrumentRange)
{
    EXPECT_EQ(Show(r310::SekToParts(INT32_MIN)), "1911-12-13 20:45:52.000");
    EXPECT_EQ(Show(r310::SekToParts(INT32_MAX)), "2048-01-19 03:14:07.000");
    EXPECT_EQ(Show(r310::SekToParts(-1)), "1979-12-31 23:59:59.000");
    EXPECT_EQ(r310::PartsToSek(Parts(1911, 12, 13, 20, 45, 52)), INT32_MIN);
    EXPECT_EQ(r310::PartsToSek(Parts(2048, 1, 19, 3, 14, 7)), INT32_MAX);
    EXPECT_FALSE(r310::PartsToSek(Parts(1911, 12, 13, 20, 45, 51)));
    EXPECT_FALSE(r310::PartsToSek(Parts(2048, 1, 19, 3, 14, 8)));
    EXPECT_EQ(r310::PartsToSek(Parts(2000, 1, 1)), 631152000);
    // Exact field arithmetic and the date-time path agree everywhere.
    for (std::int64_t s = INT32_MIN; s <= INT32_MAX; s += 99991) {
        const auto seconds = static_cast<std::int32_t>(s);
        const DateTimeParts parts = r310::SekToParts(seconds);
        ASSERT_EQ(Show(r310::DecodeDateTime(r310::SekToDateTime(seconds))), Show(parts)) << s;
        ASSERT_EQ(r310::PartsToSek(parts), seconds) << Show(parts);
    }
}

TEST(SekDate, EncodesAndDecodesDateTimes)
{
    EXPECT_EQ(r310::EncodeDateTime(Parts(1899, 12, 30)), 0.0);
    EXPECT_EQ(r310::EncodeDateTime(Parts(1980, 1, 1)), 29221.0);
    EXPECT_EQ(r310::EncodeDateTime(Parts(2000, 2, 29, 18)), 36585.75);
    for (const auto &bad : {Parts(1900, 2, 29), Parts(2023, 4, 31), Parts(2023, 13, 1), Parts(0, 1, 1),
                            Parts(2023, 1, 1, 24), Parts(2023, 1, 1, 0, 60), Parts(2023, 1, 1, 0, 0, 0, 1000)})
        EXPECT_FALSE(r310::EncodeDateTime(bad)) << Show(bad);
    EXPECT_EQ(Show(r310::DecodeDateTime(36585.75)), "2000-02-29 18:00:00.000");
    EXPECT_EQ(Show(r310::DecodeDateTime(-1.25)), "1899-12-28 18:00:00.000");
    // Just short of midnight rounds into the next day, not to 24:00.
    EXPECT_EQ(Show(r310::DecodeDateTime(29221.0 - 0.4 / 86400000)), "1980-01-01 00:00:00.000");
    EXPECT_EQ(Show(r310::DecodeDateTime(29221.0 + 1234.567 / 86400)), "1980-01-01 00:20:34.567");
    EXPECT_EQ(Show(r310::DecodeDateTime(std::nan(""))), "none");
    EXPECT_EQ(Show(r310::DecodeDateTime(3e6)), "none"); // beyond the year 9999
}

#if !defined(_WIN32)
TEST(SekDate, CurrentTimeIsLocalTime)
{
    const char *old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    constexpr std::int64_t kUnixTimeOf1980 = 315532800;
    // POSIX zone strings need no zone database: "UTC-5" is five hours east.
    for (const auto &[zone, offset] : {std::pair{"UTC-5", 5 * 3600}, std::pair{"UTC+3", -3 * 3600}}) {
        setenv("TZ", zone, 1);
        tzset();
        const std::int64_t before = std::time(nullptr) - kUnixTimeOf1980 + offset;
        const std::int32_t now = r310::SysTimeSek();
        const std::int64_t after = std::time(nullptr) - kUnixTimeOf1980 + offset;
        EXPECT_GE(now, before) << zone;
        EXPECT_LE(now, after + 1) << zone;
        EXPECT_NEAR(r310::NowDateTime(), r310::SekToDateTime(now), 1.0 / 86400) << zone;
    }
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}
#endif
