#include "TestGasModel.h"

#include <algorithm>
#include <cmath>

namespace r310::sim {

double TestGasModel::timeConstant() const { return t90_ / std::log(10.0); }

void TestGasModel::apply(double concentration, std::int64_t atMicros)
{
    atRemoval_ = response(atMicros);
    applied_ = true;
    concentration_ = concentration;
    appliedAt_ = atMicros;
}

void TestGasModel::remove(std::int64_t atMicros)
{
    if (!applied_)
        return;
    atRemoval_ = response(atMicros);
    applied_ = false;
    removedAt_ = atMicros;
}

double TestGasModel::secondsApplied(std::int64_t nowMicros) const
{
    return applied_ ? static_cast<double>(nowMicros - appliedAt_) / 1e6 : 0;
}

double TestGasModel::response(std::int64_t nowMicros) const
{
    const double tau = timeConstant();
    if (applied_) {
        const double t = static_cast<double>(nowMicros - appliedAt_) / 1e6;
        if (tau <= 0 || t <= 0)
            return tau <= 0 ? concentration_ : atRemoval_;
        // From what was at the sensor when the gas came, towards the gas.
        return concentration_ + (atRemoval_ - concentration_) * std::exp(-t / tau);
    }
    const double t = static_cast<double>(nowMicros - removedAt_) / 1e6;
    if (tau <= 0)
        return 0;
    return atRemoval_ * std::exp(-std::max(0.0, t) / tau);
}

bool TestGasModel::settled(std::int64_t nowMicros) const
{
    return applied_ && secondsApplied(nowMicros) >= 2 * t90_;
}

std::optional<double> TestGasModel::secondsToReach(double level) const
{
    if (level <= 0)
        return 0.0;
    if (concentration_ <= level)
        return std::nullopt;
    return timeConstant() * std::log(concentration_ / (concentration_ - level));
}

} // namespace r310::sim
