// The serial port service: opening and its error texts, whole-block writes,
// received-byte notifications, and RTS as a transmitter switch.
#include "SerialPort.h"
#include "LinkTestSupport.h"
#include "QSerialPortBackend.h"
#include "Rs485Direction.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QThread>

#include <grp.h>
#include <unistd.h>

using namespace r310;
using namespace linktest;
using namespace std::chrono_literals;

namespace {

// A port over an in-memory device the test can reach.
struct MemoryPort {
    MemoryPort()
        : port([this](const QString &, const LineSettings &) {
              auto device = std::make_unique<MemoryDevice>();
              device->refuseOpen = refuseOpen;
              device->error = QStringLiteral("refused for the test");
              this->device = device.get();
              return device;
          })
    {
        EnsureApplication();
        port.SetPortName(QStringLiteral("ttyUSB0"));
    }

    SerialPort port;
    MemoryDevice *device = nullptr;
    bool refuseOpen = false;
};

// Reads every announced byte, the way the transaction's handler does.
struct Reader {
    explicit Reader(SerialPort &port) : port(port)
    {
        QObject::connect(&port, &SerialPort::BytesAvailable, [this](quint16 count) {
            counts.push_back(count);
            for (quint16 i = 0; i < std::min<quint16>(count, limit); ++i)
                bytes.push_back(this->port.ReadByte());
        });
    }
    SerialPort &port;
    quint16 limit = 0xFFFF;
    std::vector<quint16> counts;
    Bytes bytes;
};

QString OpenError(SerialPort &port)
{
    try {
        port.SetOpen(true);
    } catch (const PortError &error) {
        return error.message();
    }
    return {};
}

TEST(PortOpen, OneInjectedDeviceServesEveryOpenAndOutlivesThePort)
{
    EnsureApplication();
    MemoryDevice device;
    {
        SerialPort port(device);
        Reader reader(port);
        port.SetOpen(true);
        port.SetOpen(true); // opening an open port does nothing
        port.SetOpen(false);
        port.SetOpen(false);
        port.SetOpen(true);
        EXPECT_TRUE(device.isOpen());
        device.receive("ab");
        EXPECT_EQ(reader.bytes, (Bytes{'a', 'b'}));
    }
    EXPECT_FALSE(device.isOpen()) << "closed, not deleted, with the port";
    device.receive("c"); // nobody listens any more
}

TEST(PortOpen, RefusedDeviceRaisesItsMessageAndStaysClosed)
{
    MemoryPort m;
    m.refuseOpen = true;
    EXPECT_EQ(OpenError(m.port), "refused for the test");
    EXPECT_FALSE(m.port.Open());
}

TEST(PortOpen, MissingDeviceSaysSo)
{
    EnsureApplication();
    SerialPort port;
    port.SetPortName(QStringLiteral("/dev/ttyR310-not-there"));
    EXPECT_EQ(OpenError(port), "Serial port /dev/ttyR310-not-there does not exist");
    EXPECT_FALSE(port.Open());
}

TEST(PortOpen, DeviceInUseSaysSo)
{
    EnsureApplication();
    PtyInstrument instrument;
    SerialPort first;
    first.SetPortName(instrument.devicePath());
    first.SetOpen(true);
    SerialPort second;
    second.SetPortName(instrument.devicePath());
    EXPECT_EQ(OpenError(second), QStringLiteral("Serial port %1 is in use by another program").arg(instrument.devicePath()));
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(first.Open());
}

TEST(PortOpen, MissingPermissionNamesTheGroupThatGrantsIt)
{
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyUSB7"));
    QFile file(device);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const group *dialout = getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : getgid();
    const QString groupName = dialout ? QStringLiteral("dialout") : QString::fromLocal8Bit(getgrgid(gid)->gr_name);
    ASSERT_EQ(chown(QFile::encodeName(device).constData(), static_cast<uid_t>(-1), gid), 0);

    const QString text = NoPermissionText(QStringLiteral("ttyUSB7"), device);

    EXPECT_TRUE(text.startsWith("No permission to use serial port ttyUSB7")) << text.toStdString();
    EXPECT_TRUE(text.contains("\"" + groupName + "\"")) << text.toStdString();
}

TEST(PortWrite, BlockIsQueuedWholeOrRefusedWhole)
{
    MemoryPort m;
    EXPECT_THROW(m.port.WriteBlock(Bytes(9).data(), 9), PortError) << "closed port";
    m.port.SetOpen(true);

    const Bytes full(SerialPort::kOutSize, 0x55);
    m.port.WriteBlock(full.data(), static_cast<std::uint16_t>(full.size()));
    ASSERT_EQ(m.device->writes.size(), 1);
    EXPECT_EQ(m.device->writes[0].size(), SerialPort::kOutSize);

    const Bytes tooLong(SerialPort::kOutSize + 1, 0x55);
    EXPECT_THROW(m.port.WriteBlock(tooLong.data(), static_cast<std::uint16_t>(tooLong.size())), PortError);
    m.device->unsent = SerialPort::kOutSize - 8;
    const Bytes frame(9, 0xAA);
    EXPECT_THROW(m.port.WriteBlock(frame.data(), 9), PortError) << "8 bytes free for 9";
    EXPECT_EQ(m.device->writes.size(), 1) << "nothing of a refused block is queued";
    m.port.WriteBlock(frame.data(), 8); // exactly fits
    EXPECT_EQ(m.device->writes.size(), 2);

    m.device->unsent = 0;
    m.device->refuseWrite = true;
    EXPECT_THROW(m.port.WriteBlock(frame.data(), 9), PortError);
}

TEST(PortReceive, EveryByteIsAnnouncedOnceAndReadInOrder)
{
    MemoryPort m;
    Reader reader(m.port);
    m.port.SetOpen(true);

    m.device->receive("VYK");
    m.device->receive("4\x02");
    m.device->receive(QByteArray(70000, 'x'));

    EXPECT_EQ(reader.counts, (std::vector<quint16>{3, 2, 65535, 70000 - 65535}));
    ASSERT_EQ(reader.bytes.size(), 5u + 70000u);
    EXPECT_EQ(Bytes(reader.bytes.begin(), reader.bytes.begin() + 5), (Bytes{'V', 'Y', 'K', '4', 2}));
    EXPECT_EQ(m.port.BytesWaiting(), 0);
    EXPECT_THROW(m.port.ReadByte(), PortError) << "nothing is waiting";
}

TEST(PortReceive, BytesNotReadInTheirNotificationWaitAndCloseDiscardsThem)
{
    MemoryPort m;
    Reader reader(m.port);
    reader.limit = 1;
    m.port.SetOpen(true);

    m.device->receive("abc");
    m.device->receive("d");

    EXPECT_EQ(reader.counts, (std::vector<quint16>{3, 1})) << "old bytes are not announced again";
    EXPECT_EQ(reader.bytes, (Bytes{'a', 'b'}));
    EXPECT_EQ(m.port.BytesWaiting(), 2);
    EXPECT_EQ(m.port.ReadByte(), 'c');
    m.port.SetOpen(false);
    EXPECT_EQ(m.port.BytesWaiting(), 0);
}

TEST(PortReceive, BytesArrivingWhileTheOwnerIsBusyAreNotLost)
{
    EnsureApplication();
    PtyInstrument instrument;
    SerialPort port;
    Reader reader(port);
    port.SetPortName(instrument.devicePath());
    port.SetOpen(true);

    Bytes sent;
    for (std::uint8_t chunk = 0; chunk < 5; ++chunk) {
        const Bytes bytes(300, chunk);
        instrument.send(bytes);
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        QThread::msleep(5); // the owner handles no events meanwhile
    }
    SpinUntil([&] { return reader.bytes.size() >= sent.size(); }, 2s);

    EXPECT_EQ(reader.bytes, sent);
}

TEST(PortFailure, FailingDeviceClosesThePortAndReportsIt)
{
    MemoryPort m;
    QString reported;
    QObject::connect(&m.port, &SerialPort::PortFailed, [&](const QString &text) { reported = text; });
    m.port.SetOpen(true);

    emit m.device->failed(QStringLiteral("Serial port ttyUSB0 failed: unplugged"));

    EXPECT_FALSE(m.port.Open());
    EXPECT_EQ(reported, "Serial port ttyUSB0 failed: unplugged");
    SpinFor(5ms); // the device is deleted once its signal has returned
}

TEST(PortFailure, DeviceThatGoesAwaySaysSoRatherThanALeftOverSystemError)
{
    EnsureApplication();
    auto instrument = std::make_unique<PtyInstrument>();
    SerialPort port;
    QString reported;
    QObject::connect(&port, &SerialPort::PortFailed, [&](const QString &text) { reported = text; });
    port.SetPortName(instrument->devicePath());
    port.SetOpen(true);
    // Sending asks for RTS, which a pseudo-terminal refuses with a system error.
    const std::uint8_t frame[] = {0x56, 0x59, 0x4B, 0x34, 0x02, 0x00, 0x00, 0xF7, 0xE5};
    port.WriteBlock(frame, sizeof frame);
    SpinFor(20ms);

    instrument.reset();
    ASSERT_TRUE(SpinUntil([&] { return !reported.isEmpty(); }, 2s));

    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(reported.contains(QStringLiteral("unplugged"))) << reported.toStdString();
    SpinFor(5ms);
}

// RTS driven through a recorded line and a settable transmit queue.
struct Line {
    Rs485Direction direction{[this](bool raised) {
                                 changes.push_back(raised);
                                 return hasRts;
                             },
                             [this] { return pending; }, 0.002};
    bool hasRts = true;
    qint64 pending = 0;
    std::vector<bool> changes;
};

TEST(RtsDirection, RaisedWhileSendingDroppedOnceTheLastByteHasLeft)
{
    EnsureApplication();
    Line line;
    line.direction.blockQueued();
    line.pending = 9;
    line.direction.bytesMoved();
    EXPECT_TRUE(line.direction.raised());

    SpinFor(10ms);
    EXPECT_TRUE(line.direction.raised()) << "bytes still queued";
    line.direction.blockQueued(); // a second block while the first is on its way
    line.pending = 0;
    line.direction.bytesMoved();
    EXPECT_TRUE(line.direction.raised()) << "the last character may still be shifting out";
    EXPECT_TRUE(SpinUntil([&] { return !line.direction.raised(); }, 500ms));
    EXPECT_EQ(line.changes, (std::vector<bool>{true, false})) << "one raise, one drop";
}

TEST(RtsDirection, DeviceWithoutTheLineIsNotAskedAgain)
{
    EnsureApplication();
    Line line;
    line.hasRts = false;
    line.direction.blockQueued();
    line.direction.bytesMoved();
    line.direction.blockQueued();
    line.direction.reset();

    EXPECT_FALSE(line.direction.supported());
    EXPECT_FALSE(line.direction.raised());
    EXPECT_EQ(line.changes.size(), 1u);
}

TEST(RtsDirection, ClosingDropsARaisedLine)
{
    EnsureApplication();
    Line line;
    line.direction.blockQueued();
    line.pending = 50;
    line.direction.bytesMoved();
    line.direction.reset();
    EXPECT_FALSE(line.direction.raised());
    EXPECT_EQ(line.changes, (std::vector<bool>{true, false}));
}

} // namespace
