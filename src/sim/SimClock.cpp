#include "SimClock.h"

#include <chrono>
#include <ctime>

namespace r310::sim {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

const std::int64_t kDays1980 = DaysFromCivil(1980, 1, 1);

} // namespace

std::int64_t InstrumentSecondsFromCivil(int year, int month, int day, int hour, int minute, int second)
{
    return (DaysFromCivil(year, month, day) - kDays1980) * 86400 + hour * 3600 + minute * 60 + second;
}

std::int64_t SystemClock::nowMicros() const
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::localSeconds() const
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return InstrumentSecondsFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                      local.tm_min, local.tm_sec);
}

std::shared_ptr<const Clock> SystemClock::shared()
{
    static const auto clock = std::make_shared<const SystemClock>();
    return clock;
}

ManualClock::ManualClock(std::int64_t localSecondsAtStart) : localBase_(localSecondsAtStart) {}

std::int64_t ManualClock::localSeconds() const
{
    return localBase_ + (micros_ - microsAtBase_) / 1000000;
}

void ManualClock::setLocalSeconds(std::int64_t seconds)
{
    localBase_ = seconds;
    microsAtBase_ = micros_;
}

} // namespace r310::sim
