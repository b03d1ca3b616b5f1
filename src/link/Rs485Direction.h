#pragma once
// RTS as a transmitter switch: raised when a block is queued, dropped once the
// last byte has left the line. The device is reached through two callbacks, so
// the timing rules work the same on any device.
#include <QObject>
#include <QTimer>

#include <functional>

namespace r310 {

class Rs485Direction : public QObject {
    Q_OBJECT
public:
    // Sets RTS; false when the device has no such line.
    using SetLine = std::function<bool(bool raised)>;
    // Bytes queued but not yet on the wire (application and driver buffers).
    using PendingBytes = std::function<qint64()>;

    Rs485Direction(SetLine setLine, PendingBytes pending, double characterSeconds,
                   QObject *parent = nullptr);

    // Before a block is queued: raise RTS.
    void blockQueued();
    // Bytes were handed on; drops RTS once everything has left.
    void bytesMoved();
    // The device closes: drop RTS, stop watching.
    void reset();

    bool raised() const { return raised_; }
    // False once the device refused the line; it is not asked again.
    bool supported() const { return supported_; }

private:
    void checkDrained();
    bool drive(bool raised);

    SetLine setLine_;
    PendingBytes pending_;
    double characterSeconds_;
    QTimer drainTimer_;
    bool raised_ = false;
    bool supported_ = true;
    bool lastCharacter_ = false;
};

} // namespace r310
