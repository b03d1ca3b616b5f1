#pragma once
// Time as the simulated instrument sees it. Two readings: a monotonic count
// that drives the serial line and the instrument's own processes, and the
// PC's local wall-clock time, from which the instrument clock runs at an
// offset. Tests inject a ManualClock and get exact, repeatable answers.
#include <cstdint>
#include <memory>

namespace r310::sim {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds; only differences matter.
    virtual std::int64_t nowMicros() const = 0;
    // The PC's local date and time as seconds since 1980-01-01 00:00 local time.
    virtual std::int64_t localSeconds() const = 0;
};

// The real clocks of the machine.
class SystemClock final : public Clock {
public:
    std::int64_t nowMicros() const override;
    std::int64_t localSeconds() const override;
    static std::shared_ptr<const Clock> shared();
};

// A clock that moves only when told to. Local time advances with the
// monotonic time, whole seconds counted from the start value.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t localSecondsAtStart = kDefaultLocalSeconds);
    std::int64_t nowMicros() const override { return micros_; }
    std::int64_t localSeconds() const override;

    void advanceMicros(std::int64_t micros) { micros_ += micros; }
    void advanceMillis(std::int64_t millis) { micros_ += millis * 1000; }
    void advanceSeconds(std::int64_t seconds) { micros_ += seconds * 1000000; }
    // Moves the PC's wall clock without touching the monotonic time.
    void setLocalSeconds(std::int64_t seconds);

    // 2024-03-15 10:00:00 in seconds since 1980-01-01.
    static constexpr std::int64_t kDefaultLocalSeconds = 1394964000;

private:
    std::int64_t micros_ = 0;
    std::int64_t localBase_ = 0;
    std::int64_t microsAtBase_ = 0;
};

// Seconds since 1980-01-01 00:00 for a calendar date and time (no time zone).
std::int64_t InstrumentSecondsFromCivil(int year, int month, int day, int hour, int minute, int second);

} // namespace r310::sim
