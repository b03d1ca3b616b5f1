#include "Rs485Direction.h"

#include <algorithm>
#include <cmath>

namespace r310 {

namespace {

// Whole milliseconds covering the given time, at least one.
int CoveringMilliseconds(double seconds)
{
    return std::max(1, static_cast<int>(std::ceil(seconds * 1000.0)));
}

} // namespace

Rs485Direction::Rs485Direction(SetLine setLine, PendingBytes pending, double characterSeconds,
                               QObject *parent)
    : QObject(parent),
      setLine_(std::move(setLine)),
      pending_(std::move(pending)),
      characterSeconds_(characterSeconds)
{
    drainTimer_.setSingleShot(true);
    drainTimer_.setTimerType(Qt::PreciseTimer);
    connect(&drainTimer_, &QTimer::timeout, this, &Rs485Direction::checkDrained);
}

void Rs485Direction::blockQueued()
{
    if (!supported_)
        return;
    drainTimer_.stop();
    lastCharacter_ = false;
    if (!raised_)
        drive(true);
}

void Rs485Direction::bytesMoved()
{
    if (raised_ && !drainTimer_.isActive())
        checkDrained();
}

void Rs485Direction::reset()
{
    drainTimer_.stop();
    lastCharacter_ = false;
    if (raised_)
        drive(false);
}

void Rs485Direction::checkDrained()
{
    if (!raised_)
        return;
    const qint64 pending = pending_();
    if (pending > 0) {
        // Look again when those bytes should be out.
        lastCharacter_ = false;
        drainTimer_.start(CoveringMilliseconds(pending * characterSeconds_));
        return;
    }
    if (!lastCharacter_) {
        // The driver's queue is empty; the last character may still be in the
        // transmitter's shift register.
        lastCharacter_ = true;
        drainTimer_.start(CoveringMilliseconds(characterSeconds_));
        return;
    }
    lastCharacter_ = false;
    drive(false);
}

bool Rs485Direction::drive(bool raised)
{
    if (!setLine_(raised)) {
        // A device without modem lines (a pseudo-terminal): carry on without RTS.
        supported_ = false;
        raised_ = false;
        return false;
    }
    raised_ = raised;
    return true;
}

} // namespace r310
