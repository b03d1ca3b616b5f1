#pragma once
// Test gas at the simulated sensor: applied for a span calibration or a
// bump test, its reading rises towards the concentration with a first-order
// response (t90: the time to 90 % of it) and falls back once the gas is
// taken away. What the instrument shows of it is the sensor's response
// times the gain its last span calibration set.
#include <cstdint>
#include <optional>

namespace r310::sim {

class TestGasModel {
public:
    // t90Seconds 0: the reading follows the gas at once.
    explicit TestGasModel(double t90Seconds = 0) : t90_(t90Seconds) {}

    void apply(double concentration, std::int64_t atMicros);
    // The gas is taken away; the reading falls with the same response.
    void remove(std::int64_t atMicros);
    bool applied() const { return applied_; }
    double concentration() const { return concentration_; }
    // Seconds since the gas was applied.
    double secondsApplied(std::int64_t nowMicros) const;

    // The sensor's raw reading of the gas now (0 without gas).
    double response(std::int64_t nowMicros) const;
    // The reading has come within 1 % of the gas (after 2 x t90).
    bool settled(std::int64_t nowMicros) const;
    // Seconds from applying the gas until the reading reaches `level`;
    // empty when a gas of this concentration never gets there.
    std::optional<double> secondsToReach(double level) const;

    double t90() const { return t90_; }

private:
    double timeConstant() const; // t90 / ln 10
    double t90_;
    bool applied_ = false;
    double concentration_ = 0;
    std::int64_t appliedAt_ = 0;
    std::int64_t removedAt_ = 0;
    double atRemoval_ = 0; // the response when the gas was taken away
};

} // namespace r310::sim
