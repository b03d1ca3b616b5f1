#pragma once
// The serial port service: the one port object of the main window
// (the port). A thin layer over a SerialBackend that keeps the line
// settings, opens and closes the device, queues whole blocks for sending and
// hands received bytes to its owner one notification at a time.
#include "LineSettings.h"
#include "SerialBackend.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace r310 {

// A failure of the serial port: opening, writing, reading an empty buffer.
// Thrown from SetOpen(true), WriteBlock and ReadByte, and therefore from
// RunTransaction and every command built on it; the instrument connection
// ends the job it happened in and reports message() to the front end.
class PortError : public std::runtime_error {
public:
    explicit PortError(const QString &message);
    QString message() const { return message_; }

private:
    QString message_;
};

class SerialPort : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kInSize = 4096;  // receive buffer
    static constexpr qint64 kOutSize = 4096; // transmit buffer

    // Makes the device for one open from the port name and the line settings.
    using BackendFactory =
        std::function<std::unique_ptr<SerialBackend>(const QString &portName, const LineSettings &)>;

    // Opens real serial devices (QSerialPortBackend).
    explicit SerialPort(QObject *parent = nullptr);
    // Opens whatever the factory makes for each open.
    explicit SerialPort(BackendFactory factory, QObject *parent = nullptr);
    // Opens this one device every time, whatever the port name, e.g. the
    // simulated instrument's in-process link, which keeps its state between
    // opens. The device must outlive the port; it is closed, not deleted.
    explicit SerialPort(SerialBackend &device, QObject *parent = nullptr);
    ~SerialPort() override;

    // The device to open: a name from the port list (ttyUSB0, COM3) or a
    // device path (/dev/pts/7). Takes effect at the next open.
    void SetPortName(const QString &name);
    QString PortName() const { return portName_; }
    // Windows numbering: ComNumber n names the device COMn. ComNumber() is
    // the n of a COMn name and 0 for any other name.
    void SetComNumber(int number);
    int ComNumber() const;

    void SetBaud(qint32 baud) { settings_.Baud = baud; }
    qint32 Baud() const { return settings_.Baud; }
    void SetDataBits(QSerialPort::DataBits bits) { settings_.DataBits = bits; }
    QSerialPort::DataBits DataBits() const { return settings_.DataBits; }
    void SetStopBits(QSerialPort::StopBits bits) { settings_.StopBits = bits; }
    QSerialPort::StopBits StopBits() const { return settings_.StopBits; }
    void SetParity(QSerialPort::Parity parity) { settings_.Parity = parity; }
    QSerialPort::Parity Parity() const { return settings_.Parity; }
    const LineSettings &Settings() const { return settings_; }

    // True from a successful open until the close.
    bool Open() const;
    // true: opens the device with the stored settings; on failure throws
    // PortError with a readable message and stays closed. Opening an open port
    // does nothing. false: stops notifications, releases the device and
    // discards buffered data; closing a closed port does nothing.
    void SetOpen(bool open);

    // Queues the whole block and returns at once. Throws PortError when the
    // port is closed, when the block does not fit into the free space of the
    // transmit buffer (nothing of it is queued) or when the device refuses it.
    void WriteBlock(const std::uint8_t *data, std::uint16_t length);
    // The next received byte. Throws PortError when none is waiting.
    std::uint8_t ReadByte();
    // Received bytes waiting to be read.
    qint64 BytesWaiting() const { return received_.size() - readPosition_; }
    // Bytes queued for sending that have not left yet.
    qint64 BytesQueued() const;

signals:
    // count received bytes are waiting and may be read with ReadByte now.
    // Every received byte is announced exactly once, on the owner's thread.
    void BytesAvailable(quint16 count);
    // The open device failed (unplugged, I/O error). The port is closed by then.
    void PortFailed(const QString &message);

private:
    void takeReceivedBytes();
    void deviceFailed(const QString &message);
    void release(bool deferDelete = false);

    BackendFactory factory_;
    SerialBackend *shared_ = nullptr; // the one device of every open, not owned
    std::unique_ptr<SerialBackend> owned_;
    SerialBackend *backend_ = nullptr; // the open device: shared_ or owned_
    QString portName_;
    LineSettings settings_;
    QByteArray received_;
    qint64 readPosition_ = 0;
};

} // namespace r310
