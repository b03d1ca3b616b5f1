#include "SimBackend.h"

#include <algorithm>

namespace r310::sim {

SimBackend::SimBackend(const Scenario &scenario, QObject *parent)
    : SimBackend(scenario, SystemClock::shared(), parent)
{
}

SimBackend::SimBackend(const Scenario &scenario, std::shared_ptr<const Clock> clock, QObject *parent)
    : SerialBackend(parent), clock_(std::move(clock)), device_(scenario, clock_)
{
    deliveryTimer_.setSingleShot(true);
    deliveryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deliveryTimer_, &QTimer::timeout, this, &SimBackend::deliverDue);
}

SimBackend::~SimBackend() = default;

bool SimBackend::open()
{
    if (unplugged_) {
        error_ = QStringLiteral("The simulated adapter is unplugged");
        return false;
    }
    open_ = true;
    error_.clear();
    return true;
}

void SimBackend::close()
{
    open_ = false;
    deliveryTimer_.stop();
    pending_.clear();
    received_.clear();
}

bool SimBackend::write(const QByteArray &bytes)
{
    if (!open_) {
        error_ = QStringLiteral("The link is not open");
        return false;
    }
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    std::vector<Emission> emissions = device_.receive(data, static_cast<std::size_t>(bytes.size()));
    for (Emission &e : emissions) {
        const auto at = std::upper_bound(pending_.begin(), pending_.end(), e.atMicros,
                                         [](std::int64_t t, const Emission &p) { return t < p.atMicros; });
        pending_.insert(at, std::move(e));
    }
    // The block has left the transmit buffer once its last byte is on the line.
    const std::int64_t leftAt = device_.receiveLineIdleAt();
    const auto delayMillis = static_cast<int>(std::max<std::int64_t>(0, (leftAt - clock_->nowMicros() + 999) / 1000));
    const qint64 count = bytes.size();
    QTimer::singleShot(delayMillis, this, [this, count] {
        if (open_)
            emit bytesWritten(count);
    });
    armTimer();
    return true;
}

QByteArray SimBackend::readAll()
{
    QByteArray out;
    out.swap(received_);
    return out;
}

qint64 SimBackend::bytesToWrite() const
{
    const std::int64_t left = device_.receiveLineIdleAt() - clock_->nowMicros();
    if (!device_.pacing() || left <= 0)
        return 0;
    return (left + LineMicros(1) - 1) / LineMicros(1);
}

void SimBackend::unplug()
{
    unplugged_ = true;
    const bool wasOpen = open_;
    close();
    if (wasOpen)
        emit failed(QStringLiteral("The simulated adapter was unplugged"));
}

void SimBackend::deliverDue()
{
    const std::int64_t now = clock_->nowMicros();
    bool delivered = false;
    while (!pending_.empty() && pending_.front().atMicros <= now) {
        const Bytes &bytes = pending_.front().bytes;
        received_.append(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        pending_.pop_front();
        delivered = true;
    }
    armTimer();
    if (delivered)
        emit readyRead();
}

void SimBackend::armTimer()
{
    if (pending_.empty()) {
        deliveryTimer_.stop();
        return;
    }
    const std::int64_t wait = pending_.front().atMicros - clock_->nowMicros();
    deliveryTimer_.start(static_cast<int>(std::clamp<std::int64_t>((wait + 999) / 1000, 0, 1 << 30)));
}

} // namespace r310::sim
