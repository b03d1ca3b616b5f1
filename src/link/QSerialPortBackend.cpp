#include "QSerialPortBackend.h"

#include "Rs485Direction.h"

#include <QFile>

#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace r310 {

namespace {

// Where a port name lives in the file system (a path stays a path).
QString DevicePath(const QString &portName)
{
#ifdef Q_OS_UNIX
    if (portName.startsWith(QLatin1Char('/')))
        return portName;
    return QStringLiteral("/dev/") + portName;
#else
    return portName;
#endif
}

#ifdef Q_OS_UNIX
// The name of the group that owns the device, or its number.
QString OwningGroup(const struct stat &info)
{
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group *found = nullptr;
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(info.st_gid);
}
#endif

} // namespace

QString NoPermissionText(const QString &portName, const QString &device)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) == 0)
        return QObject::tr("No permission to use serial port %1: add your user to the group \"%2\" "
                           "that owns %3, then log in again")
            .arg(portName, OwningGroup(info), device);
#else
    Q_UNUSED(device);
#endif
    return QObject::tr("No permission to use serial port %1").arg(portName);
}

QString OpenFailureText(const QString &portName, const QString &device,
                        QSerialPort::SerialPortError qtError, const QString &qtText)
{
#ifdef Q_OS_UNIX
    // Ask the file system again: Qt reports a missing permission and a device
    // locked by another program alike.
    const QByteArray path = QFile::encodeName(device);
    if (::access(path.constData(), F_OK) != 0 && errno == ENOENT)
        return QObject::tr("Serial port %1 does not exist").arg(portName);
    if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return NoPermissionText(portName, device);
#endif
    switch (qtError) {
    case QSerialPort::DeviceNotFoundError:
        return QObject::tr("Serial port %1 does not exist").arg(portName);
    case QSerialPort::PermissionError:
        return QObject::tr("Serial port %1 is in use by another program").arg(portName);
    case QSerialPort::OpenError:
        return QObject::tr("Serial port %1 is already open").arg(portName);
    default:
        return QObject::tr("Serial port %1 cannot be opened: %2").arg(portName, qtText);
    }
}

QSerialPortBackend::QSerialPortBackend(const QString &portName, const LineSettings &settings,
                                       QObject *parent)
    : SerialBackend(parent), portName_(portName), settings_(settings)
{
    port_.setPortName(portName);
    direction_ = std::make_unique<Rs485Direction>(
        [this](bool raised) { return setRequestToSend(raised); },
        [this] { return port_.bytesToWrite() + bytesInDriver(); }, CharacterSeconds(settings_));
    connect(&port_, &QSerialPort::readyRead, this, &SerialBackend::readyRead);
    connect(&port_, &QSerialPort::bytesWritten, this, [this](qint64 count) {
        direction_->bytesMoved();
        emit bytesWritten(count);
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QSerialPortBackend::deviceError);
}

QSerialPortBackend::~QSerialPortBackend()
{
    close();
}

bool QSerialPortBackend::open()
{
    if (port_.isOpen())
        return true;
    error_.clear();
    port_.setBaudRate(settings_.Baud);
    port_.setDataBits(settings_.DataBits);
    port_.setParity(settings_.Parity);
    port_.setStopBits(settings_.StopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        error_ = OpenFailureText(portName_, DevicePath(portName_), port_.error(), port_.errorString());
        port_.clearError();
        return false;
    }
    // Modem lines: DTR on, RTS only while sending. A pseudo-terminal has
    // neither, which is no reason to refuse the port.
    port_.setDataTerminalReady(true);
    port_.clearError();
    direction_->reset();
    if (!setRequestToSend(false))
        port_.clearError();
    return true;
}

void QSerialPortBackend::close()
{
    if (!port_.isOpen())
        return;
    direction_->reset();
    port_.close();
    port_.clearError();
}

bool QSerialPortBackend::isOpen() const
{
    return port_.isOpen();
}

bool QSerialPortBackend::write(const QByteArray &bytes)
{
    direction_->blockQueued();
    const qint64 queued = port_.write(bytes);
    if (queued != bytes.size()) {
        error_ = port_.errorString();
        port_.clearError();
        direction_->bytesMoved();
        return false;
    }
    return true;
}

QByteArray QSerialPortBackend::readAll()
{
    return port_.readAll();
}

qint64 QSerialPortBackend::bytesAvailable() const
{
    return port_.bytesAvailable();
}

qint64 QSerialPortBackend::bytesToWrite() const
{
    return port_.bytesToWrite();
}

bool QSerialPortBackend::setRequestToSend(bool raised)
{
    if (!port_.isOpen())
        return false;
    if (port_.setRequestToSend(raised))
        return true;
    port_.clearError();
    return false;
}

QString QSerialPortBackend::errorString() const
{
    return error_.isEmpty() ? port_.errorString() : error_;
}

bool QSerialPortBackend::requestToSendRaised() const
{
    return direction_->raised();
}

qint64 QSerialPortBackend::bytesInDriver() const
{
#ifdef Q_OS_UNIX
    int queued = 0;
    if (port_.isOpen() && ::ioctl(port_.handle(), TIOCOUTQ, &queued) == 0)
        return queued;
#endif
    return 0;
}

bool QSerialPortBackend::lineHungUp() const
{
#ifdef Q_OS_UNIX
    struct pollfd line {};
    line.fd = port_.handle();
    line.events = POLLIN;
    if (line.fd >= 0 && ::poll(&line, 1, 0) > 0)
        return (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
    return false;
}

void QSerialPortBackend::deviceError(QSerialPort::SerialPortError error)
{
    // Only a failure of the open device ends the connection; a refused modem
    // line or an open failure is reported where it happens.
    const bool fatal = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
        || error == QSerialPort::WriteError;
    if (!fatal || !port_.isOpen())
        return;
    // A device that went away (adapter unplugged, pseudo-terminal closed)
    // often comes with a system error text left over from an earlier call,
    // such as the refused RTS line of a pseudo-terminal; say what happened.
    error_ = error == QSerialPort::ResourceError || lineHungUp()
        ? tr("Serial port %1 is gone: the adapter was unplugged or the device was closed").arg(portName_)
        : tr("Serial port %1 failed: %2").arg(portName_, port_.errorString());
    emit failed(error_);
}

} // namespace r310
