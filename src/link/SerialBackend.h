#pragma once
// The byte transport under the serial port service. A real or pseudo-terminal
// serial device is one implementation; the simulated instrument's in-process
// link is another, so the same transaction code runs against both.
#include <QByteArray>
#include <QObject>
#include <QString>

namespace r310 {

class SerialBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialBackend() override;

    // Opens the device with the instrument's line settings (9600 8N1, no flow
    // control, DTR on). On failure returns false; errorString() says why.
    virtual bool open() = 0;
    // Releases the device and discards buffered data. Closing a closed device does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Queues the whole block for transmission and returns at once.
    // Returns false (errorString() says why) when the device refuses it.
    virtual bool write(const QByteArray &bytes) = 0;
    // Takes every received byte that is waiting.
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesAvailable() const = 0;
    // Bytes written but not yet handed to the line.
    virtual qint64 bytesToWrite() const = 0;

    // RTS line, for RS485-style direction switching. Returns false where the
    // device has no such line (a pseudo-terminal, the in-process link).
    virtual bool setRequestToSend(bool) { return false; }

    virtual QString errorString() const = 0;

signals:
    // Received bytes are waiting. Delivered on the thread that owns the backend.
    void readyRead();
    // Bytes left the transmit buffer.
    void bytesWritten(qint64 count);
    // The device failed while open (unplugged, I/O error).
    void failed(const QString &message);
};

} // namespace r310
