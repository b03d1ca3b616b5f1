#pragma once
// A real serial device (USB adapter, on-board port, pseudo-terminal) under the
// serial port service, driven by QSerialPort. RTS follows the transmitter: it
// is raised when a block is queued and dropped once the last byte has left.
#include "LineSettings.h"
#include "SerialBackend.h"

#include <QSerialPort>
#include <QString>

#include <memory>

namespace r310 {

class Rs485Direction;

class QSerialPortBackend : public SerialBackend {
    Q_OBJECT
public:
    QSerialPortBackend(const QString &portName, const LineSettings &settings,
                       QObject *parent = nullptr);
    ~QSerialPortBackend() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    bool write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool setRequestToSend(bool raised) override;
    QString errorString() const override;

    // Whether RTS is raised now; always false on a device without modem lines.
    bool requestToSendRaised() const;

private:
    void deviceError(QSerialPort::SerialPortError error);
    qint64 bytesInDriver() const;
    // The device reports a hang-up: it is no longer there.
    bool lineHungUp() const;

    QSerialPort port_;
    QString portName_; // as the user named it; QSerialPort shortens device paths
    LineSettings settings_;
    std::unique_ptr<Rs485Direction> direction_;
    QString error_;
};

// A readable reason why the device could not be opened. device is the path,
// qtError what QSerialPort reported; the device is examined once more to tell
// a missing device, a missing permission (naming the group that grants
// access) and a device in use apart.
QString OpenFailureText(const QString &portName, const QString &device,
                        QSerialPort::SerialPortError qtError, const QString &qtText);

// The message for a device the user may not open, naming the group that owns
// it (on Linux usually "dialout"), since joining that group grants access.
QString NoPermissionText(const QString &portName, const QString &device);

} // namespace r310
