#pragma once
// The in-process link to a simulated instrument: an in-memory pipe that the
// serial port service uses like a real port. Bytes written reach the device
// model at once; its answers become readable when the line would have
// delivered them (or at once with pacing off), announced by readyRead on the
// thread that owns the backend. No threads: a single-shot QTimer paces delivery.
#include "Device.h"
#include "Scenario.h"
#include "SimClock.h"

#include <SerialBackend.h>

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

namespace r310::sim {

class SimBackend : public r310::SerialBackend {
    Q_OBJECT
public:
    explicit SimBackend(const Scenario &scenario = Scenario(), QObject *parent = nullptr);
    SimBackend(const Scenario &scenario, std::shared_ptr<const Clock> clock, QObject *parent = nullptr);
    ~SimBackend() override;

    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override { return received_.size(); }
    qint64 bytesToWrite() const override;
    QString errorString() const override { return error_; }

    // Line pacing at 9600 baud with the scenario's turnaround; off for fast tests.
    void setPacing(bool on) { device_.setPacing(on); }
    bool pacing() const { return device_.pacing(); }

    // The instrument behind the link, to inspect or alter its state and faults.
    Device &device() { return device_; }
    const Device &device() const { return device_; }

    // Answers still on their way to the client.
    int pendingEmissions() const { return static_cast<int>(pending_.size()); }

    // The adapter is pulled out: failed() is emitted, the link closes, and
    // open() fails until plugIn().
    void unplug();
    void plugIn() { unplugged_ = false; }

private:
    void deliverDue();
    void armTimer();

    std::shared_ptr<const Clock> clock_;
    Device device_;
    QTimer deliveryTimer_;
    std::deque<Emission> pending_;
    QByteArray received_;
    QString error_;
    bool open_ = false;
    bool unplugged_ = false;
};

} // namespace r310::sim
