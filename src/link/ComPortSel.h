#pragma once
// Serial port discovery and the connection: the list of ports with the
// instrument's USB adapter or the remembered port preselected, and opening and
// remembering the chosen port.
#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

namespace r310 {

class SerialPort;

// The instrument's USB serial adapter: FTDI vendor 0403, product D189.
constexpr quint16 kAdapterVendorId = 0x0403;
constexpr quint16 kAdapterProductId = 0xD189;

// Entry 0 of the port list: no port at all.
inline const QString kNoPortEntry = QStringLiteral("<none>");

// How ports are named and opened.
enum class PortNaming {
    ComNumbers,  // Windows: COMn, opened by number n, compared without case
    DeviceNames, // elsewhere: ttyUSB0, ttyACM0 or a device path, opened by name
};
#ifdef Q_OS_WIN
constexpr PortNaming kHostPortNaming = PortNaming::ComNumbers;
#else
constexpr PortNaming kHostPortNaming = PortNaming::DeviceNames;
#endif

// One serial port as the system reports it.
struct SerialPortDescription {
    QString name; // what the list shows and the port service opens
    bool hasUsbIds = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
};

// The system's serial ports in its enumeration order.
QList<SerialPortDescription> SystemSerialPorts();

// Replaces list by "<none>" followed by the port names.
void ListSerialPorts(QStringList &list, const QList<SerialPortDescription> &ports);

// Fills list with ListSerialPorts and returns the index of the port of the
// adapter with the given USB ids, or -1. With several adapters the last wins.
int FindAdapterPort(QStringList &list, const QList<SerialPortDescription> &ports,
                    quint16 vendorId = kAdapterVendorId, quint16 productId = kAdapterProductId);

// The port list as the window shows it at start.
struct PortChoice {
    QStringList entries; // "<none>", then the port names
    int selected = 0;
};

class ComPortSel {
public:
    // settings: the per-user store of the remembered port (the front ends
    // pass UserPortSettings()).
    explicit ComPortSel(std::unique_ptr<QSettings> settings,
                        PortNaming naming = kHostPortNaming);
    ~ComPortSel();

    // The remembered port, as read at start or stored by the last open.
    const QString &SavedPort() const { return savedPort_; }

    // The port part of window creation: reads the remembered port, lists the
    // ports and preselects the adapter's port; a remembered port in the list
    // wins over it, and a device from the command line (added to the list
    // when missing) wins over both.
    PortChoice PreparePortList(const QList<SerialPortDescription> &ports,
                               const QString &commandLinePort = {});

    enum class OpenResult {
        NothingSelected, // "<none>": nothing happens at all
        InvalidEntry,    // the entry names no port; the caller selects "<none>"
        Opened,          // port open and remembered; the read sequences take over
    };
    // The device an entry of the list opens: on Windows COMn by the number in
    // characters 4 to 6 (COM1234 opens COM123), elsewhere the entry itself.
    // Opened only with the result Opened; portName receives the device.
    OpenResult PortToOpen(int selectedIndex, const QString &entryText, QString *portName) const;
    // Opens portName (from PortToOpen) with 9600 8N1. Throws PortError when
    // the port cannot be opened; it then stays closed.
    void OpenPort(SerialPort &port, const QString &portName) const;
    // Remembers the entry of a port that was opened and stores it.
    void RememberPort(const QString &entryText);

    // Stores SavedPort() as "Port". Returns false when the store could not be
    // written; the connection goes on regardless.
    bool SavePortSetting();

private:
    void loadSavedPort();
    bool remembered(const QString &entry) const;

    std::unique_ptr<QSettings> settings_;
    PortNaming naming_;
    QString savedPort_;
};

} // namespace r310
