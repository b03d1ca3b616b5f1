#pragma once
// The parts of r310ctl doctor, a file for each job: what the system shows of
// the adapter and its port (DoctorSystem.cpp), who may open the port
// (DoctorPermission.cpp) and the connect request on the line
// (DoctorProbe.cpp). cmd_doctor.cpp runs the steps and prints the report.
#include "cmd_doctor.h"

#include <LineSettings.h>
#include <SerialBackend.h>

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310::cli::doctor {

inline const QString kVendorId = QStringLiteral("0403");
inline const QString kProductId = QStringLiteral("d189");
inline const QString kFtdiDriver = QStringLiteral("ftdi_sio");
inline const QString kStableLinkPrefix = QStringLiteral("lumo-r310");
inline const QString kTriggerCommand = QStringLiteral(
    "sudo udevadm trigger --action=add --subsystem-match=usb --attr-match=idVendor=0403 --attr-match=idProduct=d189");
inline const QString kBindByHandCommand = QStringLiteral(
    "sudo modprobe ftdi_sio && echo 0403 d189 | sudo tee /sys/bus/usb-serial/drivers/ftdi_sio/new_id");
// Ticks each connect request waits for its answer, as the search does.
inline constexpr std::int32_t kConnectArmTicks = 3;
inline constexpr int kLineWidth = 79;
inline constexpr int kDetailIndent = 7;

// What the system shows.
QString ReadAttribute(const QString &directory, const QString &name);
QString UsbDevicesPath(const DoctorSystem &system);
QString FtdiDriverPath(const DoctorSystem &system);
// The device node of a port name: a path stays a path, a name lies in /dev.
QString NodeFor(const DoctorSystem &system, const QString &port);
// The node itself when it is no link, or a missing node as named.
QString RealNode(const QString &node);
// The stable names the adapter's udev rule gives the port.
QStringList StableLinksTo(const DoctorSystem &system, const QString &node);
QString InstalledRule(const DoctorSystem &system);

// A program that has the port open.
struct Holder {
    qint64 pid = 0;
    QString name;
};

struct HolderSearch {
    std::vector<Holder> holders;
    int hiddenProcesses = 0; // their open files are not visible to this user
};

HolderSearch FindHolders(const DoctorSystem &system, const QString &node);
QString HolderList(const std::vector<Holder> &holders);
bool IsPseudoTerminal(const QString &node);

// Who may open the port.
struct NodeStatus {
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned mode = 0; // permission bits
    QString modeText;  // "crw-rw----"
};

std::optional<NodeStatus> StatusOf(const QString &node);
// Read and write as owner, group and mode grant them to the account.
bool ModeGrants(const NodeStatus &status, const DoctorAccount &account);
QString GroupName(const DoctorAccount &account, unsigned gid);
QString Why(const NodeStatus &status, const DoctorAccount &account);
QStringList PermissionAdvice(const NodeStatus &status, const DoctorAccount &account, bool adapterPort);

// The connect request on the line.
// What went over the line, for the verdict and for --trace.
class LineRecord {
public:
    LineRecord(QTextStream &out, bool trace) : out_(out), trace_(trace) { clock_.start(); }

    void Sent(const QByteArray &bytes)
    {
        sent_ += bytes;
        ++requests_;
        Show(QStringLiteral("->"), bytes);
    }
    void Received(const QByteArray &bytes)
    {
        received_ += bytes;
        Show(QStringLiteral("<-"), bytes);
    }

    int requests() const { return requests_; }
    const QByteArray &received() const { return received_; }
    // Everything that came back is what was sent: the line echoes.
    bool OnlyEcho() const { return !received_.isEmpty() && sent_.startsWith(received_); }
    double Seconds() const { return static_cast<double>(clock_.elapsed()) / 1000.0; }

private:
    void Show(const QString &direction, const QByteArray &bytes)
    {
        if (!trace_ || bytes.isEmpty())
            return;
        out_ << QString(kDetailIndent + 2, QLatin1Char(' '))
             << QStringLiteral("%1 s  %2  %3").arg(Seconds(), 7, 'f', 3).arg(direction,
                                                                           QString::fromLatin1(bytes.toHex(' ').toUpper()))
             << Qt::endl;
    }

    QTextStream &out_;
    bool trace_;
    QElapsedTimer clock_;
    QByteArray sent_;
    QByteArray received_;
    int requests_ = 0;
};

std::unique_ptr<SerialBackend> MakeDevice(const DoctorSystem &system, const QString &node,
                                          const LineSettings &settings);

struct ConnectOutcome {
    bool answered = false;
    bool errorReport = false; // the answer was the instrument's error report
    bool interrupted = false;
    QString portError;        // the port could not be opened or failed
    double seconds = 0;       // until the answer, or until giving up
};

// Repeats the connect request, as the search does, until the instrument
// answers, the time-out ends it, Ctrl+C or the port fails.
ConnectOutcome SendConnectRequests(const CtlContext &context, const DoctorSystem &system, const QString &node,
                                   LineRecord &record);

} // namespace r310::cli::doctor
