#include "SerialPort.h"

#include "QSerialPortBackend.h"

#include <algorithm>
#include <limits>

namespace r310 {

PortError::PortError(const QString &message)
    : std::runtime_error(message.toStdString()), message_(message)
{
}

namespace {

std::unique_ptr<SerialBackend> MakeDeviceBackend(const QString &portName, const LineSettings &settings)
{
    return std::make_unique<QSerialPortBackend>(portName, settings);
}

const QString kComPrefix = QStringLiteral("COM");

} // namespace

SerialPort::SerialPort(QObject *parent) : SerialPort(MakeDeviceBackend, parent) {}

SerialPort::SerialPort(BackendFactory factory, QObject *parent)
    : QObject(parent), factory_(std::move(factory))
{
}

SerialPort::SerialPort(SerialBackend &device, QObject *parent) : QObject(parent), shared_(&device) {}

SerialPort::~SerialPort()
{
    release();
}

void SerialPort::SetPortName(const QString &name)
{
    portName_ = name;
}

void SerialPort::SetComNumber(int number)
{
    portName_ = kComPrefix + QString::number(number);
}

int SerialPort::ComNumber() const
{
    if (!portName_.startsWith(kComPrefix, Qt::CaseInsensitive))
        return 0;
    bool ok = false;
    const int number = portName_.mid(kComPrefix.size()).toInt(&ok);
    return ok ? number : 0;
}

bool SerialPort::Open() const
{
    return backend_ && backend_->isOpen();
}

qint64 SerialPort::BytesQueued() const
{
    return backend_ ? backend_->bytesToWrite() : 0;
}

void SerialPort::SetOpen(bool open)
{
    if (open == Open())
        return;
    release();
    if (!open)
        return;
    std::unique_ptr<SerialBackend> made;
    SerialBackend *device = shared_;
    if (!device) {
        if (portName_.isEmpty())
            throw PortError(tr("No serial port selected"));
        made = factory_(portName_, settings_);
        device = made.get();
    }
    if (!device)
        throw PortError(tr("Serial port %1 cannot be used").arg(portName_));
    if (!device->open())
        throw PortError(device->errorString());
    connect(device, &SerialBackend::readyRead, this, &SerialPort::takeReceivedBytes);
    connect(device, &SerialBackend::failed, this, &SerialPort::deviceFailed);
    owned_ = std::move(made);
    backend_ = device;
    // Bytes that were waiting before the connection was made are announced too.
    if (backend_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SerialPort::takeReceivedBytes, Qt::QueuedConnection);
}

void SerialPort::release(bool deferDelete)
{
    received_.clear();
    readPosition_ = 0;
    if (!backend_)
        return;
    backend_->disconnect(this);
    backend_->close();
    backend_ = nullptr;
    if (deferDelete && owned_)
        owned_.release()->deleteLater(); // it may still be emitting the signal that got us here
    else
        owned_.reset();
}

void SerialPort::WriteBlock(const std::uint8_t *data, std::uint16_t length)
{
    if (!Open())
        throw PortError(tr("Serial port %1 is not open").arg(portName_));
    const qint64 freeSpace = kOutSize - backend_->bytesToWrite();
    if (length > freeSpace)
        throw PortError(tr("Transmit buffer of serial port %1 is full: %2 bytes do not fit into %3 free")
                            .arg(portName_)
                            .arg(length)
                            .arg(std::max<qint64>(freeSpace, 0)));
    const QByteArray block(reinterpret_cast<const char *>(data), length);
    if (!backend_->write(block))
        throw PortError(tr("Writing to serial port %1 failed: %2").arg(portName_, backend_->errorString()));
}

std::uint8_t SerialPort::ReadByte()
{
    if (BytesWaiting() <= 0)
        throw PortError(tr("No received byte is waiting on serial port %1").arg(portName_));
    return static_cast<std::uint8_t>(received_.at(readPosition_++));
}

void SerialPort::takeReceivedBytes()
{
    if (!Open())
        return;
    const QByteArray bytes = backend_->readAll();
    if (bytes.isEmpty())
        return;
    // Drop what has been read before appending, so the buffer does not grow.
    received_.remove(0, readPosition_);
    readPosition_ = 0;
    received_.append(bytes);

    constexpr qint64 kMaxAnnounce = std::numeric_limits<quint16>::max();
    qint64 unannounced = bytes.size();
    while (unannounced > 0 && Open()) {
        const auto count = static_cast<quint16>(std::min(unannounced, kMaxAnnounce));
        unannounced -= count;
        emit BytesAvailable(count);
    }
}

void SerialPort::deviceFailed(const QString &message)
{
    release(true);
    emit PortFailed(message);
}

} // namespace r310
