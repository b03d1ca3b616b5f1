#pragma once
// r310ctl doctor: follows the way from the USB adapter to the instrument one
// step at a time (adapter plugged in, driver bound and port created, port
// permitted, port free, instrument answering) and says in plain words what
// is wrong and what to do. Everything it looks at comes through DoctorSystem,
// so a test can present a device tree, processes and a user of its own.
#include "SerialPort.h"
#include "Subcommands.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace r310::cli {

// The user who runs the check, as the system reports it.
struct DoctorAccount {
    unsigned uid = 0;
    QString userName;
    std::vector<unsigned> sessionGroups; // groups this process runs with
    // Name of a group ("dialout"), or its number when it has none.
    std::function<QString(unsigned gid)> groupName;
    // Users the group database lists as members; a user joins a group there
    // and gets it in the sessions that start afterwards.
    std::function<QStringList(unsigned gid)> groupMembers;
};

struct DoctorSystem {
    QString sysRoot = QStringLiteral("/sys");
    QString devRoot = QStringLiteral("/dev");
    QString procRoot = QStringLiteral("/proc");
    // Where the package's udev rule for the adapter may lie.
    QStringList udevRuleDirectories;
    DoctorAccount account;
    // The kernel's verdict on opening a node for reading and writing (ACLs
    // such as the one udev's uaccess grants included); empty: decided from
    // the node's owner, group and mode for the account above.
    std::function<bool(const QString &node)> mayOpen;
    // The device the connect request goes through; empty: the serial port.
    SerialPort::BackendFactory link;
    qint64 ownProcessId = 0; // not counted as a program that holds the port
};

// This machine and the user running the program.
DoctorSystem LocalSystem();

// File name of the udev rule the package installs.
inline const QString kAdapterRuleFile = QStringLiteral("60-lumo-r310.rules");

// A USB device 0403:D189 as sysfs shows it.
struct UsbAdapter {
    QString name;         // "1-2": bus 1, port 2
    QString product;      // as the adapter names itself; may be empty
    QString serialNumber; // may be empty
    QStringList drivers;  // bound to its interfaces, e.g. "ftdi_sio"
    QStringList ports;    // its serial ports, e.g. "ttyUSB0"
};

std::vector<UsbAdapter> FindUsbAdapters(const DoctorSystem &system);

// The line "r310ctl ports" adds when an adapter is plugged in without a
// serial port of its own among the listed ports; empty otherwise.
QString AdapterWithoutPortHint(const std::vector<UsbAdapter> &adapters, bool adapterPortListed);

// The command with the given system; RunDoctor uses LocalSystem().
int RunDoctorWith(CtlContext &context, const DoctorSystem &system);

} // namespace r310::cli
