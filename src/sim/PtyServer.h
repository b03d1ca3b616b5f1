#pragma once
// Serves a simulated instrument on a pseudo-terminal: the client opens the
// slave device like any serial port. The server keeps a slave descriptor of
// its own, so clients may open and close the device as often as they like
// without the master seeing a hang-up.
#include "Device.h"
#include "Scenario.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

namespace r310::sim {

class PtyServer : public QObject {
    Q_OBJECT
public:
    explicit PtyServer(const Scenario &scenario, QObject *parent = nullptr);
    ~PtyServer() override;

    // Opens the pseudo-terminal in raw mode. False with a message on failure.
    bool start(QString *error);
    // Path of the slave device, e.g. /dev/pts/5; empty before start().
    QString slavePath() const { return slavePath_; }

    Device &device() { return device_; }

    // Writes each request and answer as a line of hex to the given sink.
    void setLog(std::function<void(const QString &)> sink);

private:
    void readRequests();
    void deliverDue();
    void armTimer();
    void closeAll();

    Device device_;
    int master_ = -1;
    int ownSlave_ = -1;
    QString slavePath_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    QTimer deliveryTimer_;
    std::deque<Emission> pending_;
};

} // namespace r310::sim
