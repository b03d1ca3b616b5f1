// r310ctl doctor: why the instrument cannot be reached, step by step.
#include "cmd_doctor.h"

#include "ExitCodes.h"
#include "LinkUi.h"
#include "QSerialPortBackend.h"
#include "R310_typ.h"
#include "SignalWatcher.h"
#include "Transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <optional>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace r310::cli {

namespace {

const QString kVendorId = QStringLiteral("0403");
const QString kProductId = QStringLiteral("d189");
const QString kFtdiDriver = QStringLiteral("ftdi_sio");
const QString kStableLinkPrefix = QStringLiteral("lumo-r310");
const QString kTriggerCommand = QStringLiteral(
    "sudo udevadm trigger --action=add --subsystem-match=usb --attr-match=idVendor=0403 --attr-match=idProduct=d189");
const QString kBindByHandCommand = QStringLiteral(
    "sudo modprobe ftdi_sio && echo 0403 d189 | sudo tee /sys/bus/usb-serial/drivers/ftdi_sio/new_id");
// Ticks each connect request waits for its answer, as the search does.
constexpr std::int32_t kConnectArmTicks = 3;
constexpr int kLineWidth = 79;
constexpr int kDetailIndent = 7;

// --- what the system shows ---------------------------------------------------

QString ReadAttribute(const QString &directory, const QString &name)
{
    QFile file(QDir(directory).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

QStringList SubdirectoryNames(const QString &directory, const QStringList &patterns = {})
{
    return QDir(directory).entryList(patterns, QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

// The serial ports below a USB interface: ttyUSB0 directly under it (usb
// serial drivers) or inside its "tty" class folder (ACM devices).
QStringList TtyNames(const QString &interfacePath)
{
    QStringList names;
    for (const QString &entry : SubdirectoryNames(interfacePath, {QStringLiteral("tty*")})) {
        if (entry == QLatin1String("tty"))
            names << SubdirectoryNames(QDir(interfacePath).filePath(entry));
        else
            names << entry;
    }
    return names;
}

QString BoundDriver(const QString &interfacePath)
{
    const QFileInfo driver(QDir(interfacePath).filePath(QStringLiteral("driver")));
    return driver.isSymLink() ? QFileInfo(driver.symLinkTarget()).fileName() : QString();
}

void AppendNew(QStringList &list, const QStringList &more)
{
    for (const QString &item : more) {
        if (!item.isEmpty() && !list.contains(item))
            list << item;
    }
}

UsbAdapter DescribeAdapter(const QString &name, const QString &path)
{
    UsbAdapter adapter;
    adapter.name = name;
    adapter.product = ReadAttribute(path, QStringLiteral("product"));
    adapter.serialNumber = ReadAttribute(path, QStringLiteral("serial"));
    for (const QString &interface : SubdirectoryNames(path, {name + QStringLiteral(":*")})) {
        const QString interfacePath = QDir(path).filePath(interface);
        AppendNew(adapter.drivers, {BoundDriver(interfacePath)});
        AppendNew(adapter.ports, TtyNames(interfacePath));
    }
    return adapter;
}

QString UsbDevicesPath(const DoctorSystem &system)
{
    return system.sysRoot + QStringLiteral("/bus/usb/devices");
}

QString FtdiDriverPath(const DoctorSystem &system)
{
    return system.sysRoot + QStringLiteral("/bus/usb-serial/drivers/") + kFtdiDriver;
}

// The device node of a port name: a path stays a path, a name lies in /dev.
QString NodeFor(const DoctorSystem &system, const QString &port)
{
    return port.startsWith(QLatin1Char('/')) ? port : QDir(system.devRoot).filePath(port);
}

// The node itself when it is no link, or a missing node as named.
QString RealNode(const QString &node)
{
    const QString canonical = QFileInfo(node).canonicalFilePath();
    return canonical.isEmpty() ? node : canonical;
}

// The stable names the adapter's udev rule gives the port.
QStringList StableLinksTo(const DoctorSystem &system, const QString &node)
{
    QStringList links;
    const QDir dev(system.devRoot);
    for (const QString &entry : dev.entryList({kStableLinkPrefix + QLatin1Char('*')}, QDir::System | QDir::Files,
                                              QDir::Name)) {
        if (RealNode(dev.filePath(entry)) == RealNode(node))
            links << dev.filePath(entry);
    }
    return links;
}

QString InstalledRule(const DoctorSystem &system)
{
    for (const QString &directory : system.udevRuleDirectories) {
        const QString path = QDir(directory).filePath(kAdapterRuleFile);
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

// A program that has the port open.
struct Holder {
    qint64 pid = 0;
    QString name;
};

struct HolderSearch {
    std::vector<Holder> holders;
    int hiddenProcesses = 0; // their open files are not visible to this user
};

bool HoldsNode(const QString &fdDirectory, const QString &node)
{
    const QDir fds(fdDirectory);
    const QStringList entries = fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    return std::any_of(entries.begin(), entries.end(), [&](const QString &fd) {
        return QFileInfo(fds.filePath(fd)).symLinkTarget() == node;
    });
}

HolderSearch FindHolders(const DoctorSystem &system, const QString &node)
{
    HolderSearch search;
    const QString target = RealNode(node);
    const QDir proc(system.procRoot);
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == system.ownProcessId)
            continue;
        const QString fdDirectory = proc.filePath(entry + QStringLiteral("/fd"));
        if (!QFileInfo(fdDirectory).isReadable()) {
            ++search.hiddenProcesses;
            continue;
        }
        if (HoldsNode(fdDirectory, target))
            search.holders.push_back({pid, ReadAttribute(proc.filePath(entry), QStringLiteral("comm"))});
    }
    return search;
}

QString HolderList(const std::vector<Holder> &holders)
{
    QStringList names;
    for (const Holder &holder : holders)
        names << QStringLiteral("%1 (process %2)").arg(holder.name.isEmpty() ? QStringLiteral("?") : holder.name)
                     .arg(holder.pid);
    return names.join(QStringLiteral(", "));
}

bool IsPseudoTerminal(const QString &node)
{
    return RealNode(node).startsWith(QLatin1String("/dev/pts/"));
}

// --- permission ----------------------------------------------------------------

struct NodeStatus {
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned mode = 0; // permission bits
    QString modeText;  // "crw-rw----"
};

std::optional<NodeStatus> StatusOf(const QString &node)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(node).constData(), &info) != 0)
        return std::nullopt;
    NodeStatus status;
    status.uid = info.st_uid;
    status.gid = info.st_gid;
    status.mode = info.st_mode & 0777;
    status.modeText = S_ISCHR(info.st_mode) ? QStringLiteral("c") : S_ISDIR(info.st_mode) ? QStringLiteral("d")
                                                                                           : QStringLiteral("-");
    const char *const letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        status.modeText += (status.mode & (0400u >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return status;
#else
    Q_UNUSED(node);
    return std::nullopt;
#endif
}

bool InSessionGroup(const DoctorAccount &account, unsigned gid)
{
    return std::find(account.sessionGroups.begin(), account.sessionGroups.end(), gid) != account.sessionGroups.end();
}

// Read and write as owner, group and mode grant them to the account.
bool ModeGrants(const NodeStatus &status, const DoctorAccount &account)
{
    if (account.uid == 0)
        return true;
    if (status.uid == account.uid)
        return (status.mode & 0600) == 0600;
    if (InSessionGroup(account, status.gid))
        return (status.mode & 0060) == 0060;
    return (status.mode & 0006) == 0006;
}

QString GroupName(const DoctorAccount &account, unsigned gid)
{
    return account.groupName ? account.groupName(gid) : QString::number(gid);
}

QString Why(const NodeStatus &status, const DoctorAccount &account)
{
    if (account.uid == 0)
        return QStringLiteral("as root");
    if (status.uid == account.uid)
        return QStringLiteral("as its owner");
    if (InSessionGroup(account, status.gid) && (status.mode & 0060) == 0060)
        return QStringLiteral("as a member of the group %1").arg(GroupName(account, status.gid));
    if ((status.mode & 0006) == 0006)
        return QStringLiteral("it is open to everyone");
    return QStringLiteral("granted to the user at this PC's screen (udev's uaccess)");
}

QStringList PermissionAdvice(const NodeStatus &status, const DoctorAccount &account, bool adapterPort)
{
    const QString group = GroupName(account, status.gid);
    if ((status.mode & 0060) != 0060 && adapterPort)
        return {QStringLiteral("Its group may not use it either: the adapter's udev rule did not set its permissions. "
                               "Unplug the adapter and plug it in again; if that does not help, reinstall the "
                               "r310conf package.")};
    if ((status.mode & 0060) != 0060)
        return {QStringLiteral("Only its owner may use it, no group: open it as that user, or ask the "
                               "administrator for access.")};
    const QStringList members = account.groupMembers ? account.groupMembers(status.gid) : QStringList();
    if (!account.userName.isEmpty() && members.contains(account.userName))
        return {QStringLiteral("You were added to the group %1, but this session started before that: log out and in "
                               "again (or, in this terminal only: newgrp %1).")
                    .arg(group)};
    return {QStringLiteral("Join the group %2, which may use it: sudo adduser %1 %2 - then log out and in again.")
                .arg(account.userName.isEmpty() ? QStringLiteral("$USER") : account.userName, group),
            QStringLiteral("(At the PC's own screen the adapter's udev rule also gives the logged-in user access; "
                           "remote sessions need the group.)")};
}

// --- the connect request -------------------------------------------------------

class QuietLinkUi : public LinkUi {
public:
    void setStatusText(int, const QString &) override {}
    void repaint() override {}
    void showError(const QString &text) override { message = text; }

    QString message;
};

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

// The port under the serial port service, with every byte recorded.
class RecordedDevice : public SerialBackend {
public:
    RecordedDevice(std::unique_ptr<SerialBackend> device, LineRecord &record)
        : device_(std::move(device)), record_(record)
    {
        connect(device_.get(), &SerialBackend::readyRead, this, &SerialBackend::readyRead);
        connect(device_.get(), &SerialBackend::bytesWritten, this, &SerialBackend::bytesWritten);
        connect(device_.get(), &SerialBackend::failed, this, &SerialBackend::failed);
    }

    bool open() override { return device_->open(); }
    void close() override { device_->close(); }
    bool isOpen() const override { return device_->isOpen(); }
    bool write(const QByteArray &bytes) override
    {
        record_.Sent(bytes);
        return device_->write(bytes);
    }
    QByteArray readAll() override
    {
        const QByteArray bytes = device_->readAll();
        record_.Received(bytes);
        return bytes;
    }
    qint64 bytesAvailable() const override { return device_->bytesAvailable(); }
    qint64 bytesToWrite() const override { return device_->bytesToWrite(); }
    bool setRequestToSend(bool raised) override { return device_->setRequestToSend(raised); }
    QString errorString() const override { return device_->errorString(); }

private:
    std::unique_ptr<SerialBackend> device_;
    LineRecord &record_;
};

std::unique_ptr<SerialBackend> MakeDevice(const DoctorSystem &system, const QString &node,
                                          const LineSettings &settings)
{
    if (system.link)
        return system.link(node, settings);
    return std::make_unique<QSerialPortBackend>(node, settings);
}

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
                                   LineRecord &record)
{
    ConnectOutcome outcome;
    QuietLinkUi ui;
    ApdComPort port([&](const QString &name, const LineSettings &settings) {
        return std::make_unique<RecordedDevice>(MakeDevice(system, name, settings), record);
    });
    port.SetPortName(node);
    try {
        port.SetOpen(true);
    } catch (const PortError &error) {
        outcome.portError = error.message();
        return outcome;
    }
    Transaction transaction(port, ui);
    transaction.SetTickLength(context.environment.tick);
    QObject::connect(&port, &ApdComPort::PortFailed, &transaction, [&](const QString &message) {
        outcome.portError = message;
        transaction.Cancel();
    });
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    QObject::connect(&bound, &QTimer::timeout, &transaction, &Transaction::Cancel);
    if (context.options.timeoutSeconds > 0)
        bound.start(std::chrono::seconds(context.options.timeoutSeconds));
    std::unique_ptr<SignalWatcher> interruption;
    if (context.environment.handleSignals) {
        interruption = std::make_unique<SignalWatcher>();
        QObject::connect(interruption.get(), &SignalWatcher::signalled, &transaction, [&] {
            outcome.interrupted = true;
            transaction.Cancel();
        });
    }

    RequestBuffer request{};
    BuildConnectRequest(request);
    while (!transaction.Cancelled() && port.Open()) {
        transaction.ArmResponseTimer(kConnectArmTicks);
        try {
            transaction.RunTransaction(request);
        } catch (const PortError &error) {
            outcome.portError = error.message();
            break;
        }
        if (transaction.Result().ResponseStatus == kAssembleGood) {
            outcome.answered = true;
            outcome.errorReport = transaction.Received().bytes[kOffsetObject] == kObjectErrorReport;
            break;
        }
    }
    outcome.seconds = record.Seconds();
    port.SetOpen(false);
    return outcome;
}

// --- the report ----------------------------------------------------------------

QStringList Wrapped(const QString &text, int width)
{
    QStringList lines;
    QString line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

enum class Verdict { Ok, Fail, Note, Skipped };

void PrintStep(QTextStream &out, Verdict verdict, const QString &finding, const QStringList &details = {})
{
    const char *const marker = verdict == Verdict::Ok     ? "[ ok ] "
                               : verdict == Verdict::Fail ? "[FAIL] "
                               : verdict == Verdict::Note ? "[note] "
                                                          : "[ -- ] ";
    const QString indent(kDetailIndent, QLatin1Char(' '));
    const QStringList head = Wrapped(finding, kLineWidth - kDetailIndent);
    for (int i = 0; i < head.size(); ++i)
        out << (i == 0 ? QString::fromLatin1(marker) : indent) << head.at(i) << '\n';
    for (const QString &detail : details)
        for (const QString &line : Wrapped(detail, kLineWidth - kDetailIndent))
            out << indent << line << '\n';
    out.flush();
}

QString AdapterText(const UsbAdapter &adapter)
{
    QStringList about;
    if (!adapter.product.isEmpty())
        about << QStringLiteral("\"%1\"").arg(adapter.product);
    if (!adapter.serialNumber.isEmpty())
        about << QStringLiteral("serial number %1").arg(adapter.serialNumber);
    return QStringLiteral("USB %1%2").arg(adapter.name, about.isEmpty() ? QString()
                                                                        : QStringLiteral(", ") + about.join(QStringLiteral(", ")));
}

// One run of the checks, top to bottom; each step either lets the next one
// run or ends the run with its exit code.
class DoctorRun {
public:
    DoctorRun(CtlContext &context, const DoctorSystem &system)
        : context_(context), system_(system), out_(context.out()), namedPort_(context.options.port)
    {
    }

    int Run()
    {
        out_ << "Checking the way to the instrument: USB adapter 0403:D189, driver, serial port, "
                "permission, instrument.\n\n";
        adapters_ = FindUsbAdapters(system_);
        for (const auto step : {&DoctorRun::CheckAdapter, &DoctorRun::CheckDriverAndPort, &DoctorRun::CheckPermission,
                                &DoctorRun::CheckPortFree}) {
            if (const std::optional<int> code = (this->*step)())
                return *code;
        }
        return CheckInstrument();
    }

private:
    using StepResult = std::optional<int>; // empty: go on

    const UsbAdapter *Adapter() const { return adapters_.empty() ? nullptr : &adapters_.front(); }

    StepResult CheckAdapter()
    {
        if (const UsbAdapter *adapter = Adapter()) {
            QStringList details;
            if (adapters_.size() > 1) {
                QStringList names;
                for (const UsbAdapter &each : adapters_)
                    names << each.name;
                details << QStringLiteral("%1 adapters are plugged in (USB %2); checking the first. --port picks "
                                          "another one's port.")
                               .arg(adapters_.size())
                               .arg(names.join(QStringLiteral(", ")));
            }
            PrintStep(out_, Verdict::Ok, QStringLiteral("USB adapter: plugged in, %1.").arg(AdapterText(*adapter)),
                      details);
            return std::nullopt;
        }
        const bool usbVisible = QFileInfo(UsbDevicesPath(system_)).isDir();
        const QString missing = usbVisible
            ? QStringLiteral("no USB device 0403:D189 is plugged in.")
            : QStringLiteral("this system shows no USB devices (%1 is missing).").arg(UsbDevicesPath(system_));
        if (!namedPort_.isEmpty()) {
            PrintStep(out_, Verdict::Skipped,
                      QStringLiteral("USB adapter: %1 Checking the port you named instead.").arg(missing));
            return std::nullopt;
        }
        QStringList advice;
        if (usbVisible)
            advice << QStringLiteral("Plug the instrument's USB adapter cable into this PC and the instrument into "
                                     "the cable.")
                   << QStringLiteral("If it is plugged in, try another USB socket: \"lsusb\" must list ID "
                                     "0403:d189. Other FTDI cables have other product ids and do not reach the "
                                     "instrument.");
        else
            advice << QStringLiteral("In a container or virtual machine, pass the adapter through to it; on a PC, "
                                     "sysfs belongs on /sys.");
        advice << QStringLiteral("For a port that is not on the adapter (another adapter, the simulator): "
                                 "r310ctl doctor --port DEVICE");
        PrintStep(out_, Verdict::Fail, QStringLiteral("USB adapter: %1").arg(missing), advice);
        return kExitPortUnavailable;
    }

    // The adapter has no serial port: which part of binding it is missing.
    QStringList NoDriverAdvice() const
    {
        QStringList advice{QStringLiteral("The kernel's FTDI driver (ftdi_sio) does not know the adapter's product "
                                          "id D189 by itself; the udev rule of the r310conf package tells it when "
                                          "the adapter is plugged in.")};
        const QString rule = InstalledRule(system_);
        const QString knownIds = ReadAttribute(FtdiDriverPath(system_), QStringLiteral("new_id"));
        if (knownIds.split(QLatin1Char('\n')).contains(kVendorId + QLatin1Char(' ') + kProductId))
            advice << QStringLiteral("ftdi_sio is loaded and knows the id, yet did not take the adapter: unplug it "
                                     "and plug it in again; \"sudo dmesg\" says why it failed.");
        else if (!rule.isEmpty())
            advice << QStringLiteral("The rule %1 is installed but has not run for this adapter: unplug the adapter "
                                     "and plug it in again, or run: %2")
                          .arg(rule, kTriggerCommand);
        else
            advice << QStringLiteral("The rule %1 is not installed: install the r310conf package, then unplug the "
                                     "adapter and plug it in again.")
                          .arg(kAdapterRuleFile);
        advice << QStringLiteral("Until then, for this plug-in only: %1").arg(kBindByHandCommand);
        return advice;
    }

    // The adapter's driver and port; empty when it has a port.
    std::optional<std::pair<QString, QStringList>> AdapterProblem(const UsbAdapter &adapter) const
    {
        if (adapter.drivers.isEmpty())
            return std::make_pair(QStringLiteral("Driver: no driver has taken the adapter, so it has no serial port."),
                                  NoDriverAdvice());
        if (adapter.ports.isEmpty())
            return std::make_pair(
                QStringLiteral("Driver: %1 has taken the adapter, but it has no serial port.")
                    .arg(adapter.drivers.join(QStringLiteral(", "))),
                QStringList{adapter.drivers.contains(kFtdiDriver)
                                ? QStringLiteral("Unplug the adapter and plug it in again; \"sudo dmesg\" says why "
                                                 "the port was not made.")
                                : QStringLiteral("Another driver than ftdi_sio holds it. Unplug the adapter, make "
                                                 "sure the r310conf package is installed, and plug it in again.")});
        return std::nullopt;
    }

    // The node is an adapter's port, by its name or by what it links to (/dev/lumo-r310).
    bool NamesAdapterPort(const QString &node) const
    {
        const QStringList names{QFileInfo(node).fileName(), QFileInfo(RealNode(node)).fileName()};
        return std::any_of(adapters_.begin(), adapters_.end(), [&](const UsbAdapter &adapter) {
            return adapter.ports.contains(names[0]) || adapter.ports.contains(names[1]);
        });
    }

    StepResult CheckDriverAndPort()
    {
        const UsbAdapter *adapter = Adapter();
        if (namedPort_.isEmpty()) {
            if (const auto problem = AdapterProblem(*adapter)) {
                PrintStep(out_, Verdict::Fail, problem->first, problem->second);
                return kExitPortUnavailable;
            }
            node_ = NodeFor(system_, adapter->ports.first());
            return CheckAdapterNode(*adapter);
        }
        node_ = NodeFor(system_, namedPort_);
        if (adapter && !NamesAdapterPort(node_)) {
            if (const auto problem = AdapterProblem(*adapter))
                PrintStep(out_, Verdict::Note, problem->first, problem->second);
        }
        return CheckNamedNode();
    }

    StepResult CheckAdapterNode(const UsbAdapter &adapter)
    {
        if (!QFileInfo::exists(node_)) {
            PrintStep(out_, Verdict::Fail,
                      QStringLiteral("Port: the kernel made the port %1, but %2 is missing.")
                          .arg(adapter.ports.first(), node_),
                      {QStringLiteral("udev makes the device nodes: is systemd-udevd running? Unplug the adapter "
                                      "and plug it in again.")});
            return kExitPortUnavailable;
        }
        const QStringList links = StableLinksTo(system_, node_);
        QStringList details;
        if (links.isEmpty())
            details << QStringLiteral("%1/%2 is missing: the adapter's udev rule (r310conf package) has not run for "
                                      "this port; the port works all the same.")
                           .arg(system_.devRoot, kStableLinkPrefix);
        PrintStep(out_, Verdict::Ok,
                  QStringLiteral("Driver and port: %1 has taken the adapter; its serial port is %2%3.")
                      .arg(adapter.drivers.join(QStringLiteral(", ")), node_,
                           links.isEmpty() ? QString()
                                           : QStringLiteral(" (also %1)").arg(links.join(QStringLiteral(", ")))),
                  details);
        return std::nullopt;
    }

    StepResult CheckNamedNode()
    {
        if (!QFileInfo::exists(node_)) {
            QStringList details;
            const UsbAdapter *adapter = Adapter();
            if (adapter && !adapter->ports.isEmpty())
                details << QStringLiteral("The adapter's port is %1.").arg(NodeFor(system_, adapter->ports.first()));
            details << QStringLiteral("\"r310ctl ports\" lists the serial ports there are.");
            PrintStep(out_, Verdict::Fail, QStringLiteral("Port: %1 does not exist.").arg(node_), details);
            return kExitPortUnavailable;
        }
        QString kind;
        if (NamesAdapterPort(node_))
            kind = QStringLiteral(", the adapter's serial port");
        else if (IsPseudoTerminal(node_))
            kind = QStringLiteral(", a pseudo-terminal (such as the simulator's)");
        PrintStep(out_, Verdict::Ok, QStringLiteral("Port: %1 is there%2.").arg(node_, kind));
        return std::nullopt;
    }

    StepResult CheckPermission()
    {
        const std::optional<NodeStatus> status = StatusOf(node_);
        if (!status) // nothing to judge by; opening the port tells
            return std::nullopt;
        const DoctorAccount &account = system_.account;
        const bool permitted = system_.mayOpen ? system_.mayOpen(node_) : ModeGrants(*status, account);
        const QString user = account.userName.isEmpty() ? QStringLiteral("you") : QStringLiteral("you (%1)").arg(account.userName);
        const QString owners = QStringLiteral("%1, group %2").arg(status->modeText, GroupName(account, status->gid));
        if (permitted) {
            QStringList details;
            if (account.uid == 0 && (status->mode & 0060) == 0060)
                details << QStringLiteral("Other users need the group %1 (sudo adduser USER %1, then log in again), "
                                          "or to be logged in at this PC's screen.")
                               .arg(GroupName(account, status->gid));
            PrintStep(out_, Verdict::Ok,
                      QStringLiteral("Permission: %1 may open %2 (%3): %4.").arg(user, node_, owners, Why(*status, account)),
                      details);
            return std::nullopt;
        }
        PrintStep(out_, Verdict::Fail, QStringLiteral("Permission: %1 may not open %2 (%3).").arg(user, node_, owners),
                  PermissionAdvice(*status, account, NamesAdapterPort(node_)));
        return kExitPortUnavailable;
    }

    StepResult CheckPortFree()
    {
        const HolderSearch search = FindHolders(system_, node_);
        const std::unique_ptr<SerialBackend> device = MakeDevice(system_, node_, LineSettings{});
        if (!device->open()) {
            QStringList details;
            if (!search.holders.empty())
                details << QStringLiteral("It is open in: %1. Close that program (or end it: kill PID), then try "
                                          "again.")
                               .arg(HolderList(search.holders));
            if (std::any_of(search.holders.begin(), search.holders.end(),
                            [](const Holder &holder) { return holder.name == QLatin1String("ModemManager"); }))
                details << QStringLiteral("ModemManager probes new serial ports; the adapter's udev rule tells it to "
                                          "leave this one alone. Unplug and plug in the adapter, or: sudo systemctl "
                                          "stop ModemManager");
            if (search.holders.empty() && search.hiddenProcesses > 0)
                details << QStringLiteral("Programs of other users are not visible to you; as root: sudo fuser -v %1")
                               .arg(node_);
            PrintStep(out_, Verdict::Fail, QStringLiteral("Opening the port: %1.").arg(device->errorString()), details);
            return kExitPortUnavailable;
        }
        device->close();
        if (search.holders.empty()) {
            PrintStep(out_, Verdict::Ok, QStringLiteral("Opening the port: %1 opens, no other program has it open.").arg(node_));
        } else if (IsPseudoTerminal(node_) && !NamesAdapterPort(node_)) {
            PrintStep(out_, Verdict::Ok,
                      QStringLiteral("Opening the port: %1 opens; %2 serves the pseudo-terminal.")
                          .arg(node_, HolderList(search.holders)));
        } else {
            PrintStep(out_, Verdict::Note,
                      QStringLiteral("Opening the port: %1 opens, but is open in %2 as well.")
                          .arg(node_, HolderList(search.holders)),
                      {QStringLiteral("That program may take the instrument's answers: close it.")});
        }
        return std::nullopt;
    }

    int CheckInstrument()
    {
        const bool trace = context_.options.trace;
        if (trace)
            out_ << QString(kDetailIndent, QLatin1Char(' '))
                 << "Trace: seconds since the port opened, -> to the instrument, <- from it\n";
        LineRecord record(out_, trace);
        const ConnectOutcome outcome = SendConnectRequests(context_, system_, node_, record);
        if (outcome.interrupted)
            return context_.Fail(kExitInterrupted, QStringLiteral("interrupted"));
        if (!outcome.portError.isEmpty()) {
            PrintStep(out_, Verdict::Fail, QStringLiteral("Instrument: %1.").arg(outcome.portError));
            return kExitPortUnavailable;
        }
        if (outcome.answered) {
            PrintStep(out_, Verdict::Ok,
                      QStringLiteral("Instrument: answered the connect request after %1 s%2.")
                          .arg(outcome.seconds, 0, 'f', 2)
                          .arg(outcome.errorReport ? QStringLiteral(", with an error report") : QString()));
            out_ << '\n'
                 << Wrapped(QStringLiteral("The instrument answers on %1: \"r310ctl --port %1 info\" reads it; in "
                                           "R310Conf pick the port and press \"Open Port\".")
                                .arg(node_),
                            kLineWidth)
                        .join(QLatin1Char('\n'))
                 << '\n';
            return kExitOk;
        }
        PrintStep(out_, Verdict::Fail,
                  QStringLiteral("Instrument: no answer to the connect request within %1 s (%2 requests sent).")
                      .arg(context_.options.timeoutSeconds)
                      .arg(record.requests()),
                  NoAnswerAdvice(record, trace));
        return kExitNoInstrument;
    }

    static QStringList NoAnswerAdvice(const LineRecord &record, bool traced)
    {
        QStringList advice;
        if (record.received().isEmpty())
            advice << QStringLiteral("Nothing came back. Switch the instrument on and make sure it sits firmly on the "
                                     "adapter's cable; a low battery also silences it.");
        else if (record.OnlyEcho())
            advice << QStringLiteral("Only the requests themselves came back (an echo): this cable or device joins "
                                     "its send and receive lines; use the instrument's own adapter cable.");
        else
            advice << QStringLiteral("%1 bytes came back, but never a complete answer with a correct check sum: "
                                     "another device is on this port, or the line is disturbed.")
                          .arg(record.received().size());
        if (!traced)
            advice << QStringLiteral("\"r310ctl doctor --trace\" shows every byte.");
        return advice;
    }

    CtlContext &context_;
    const DoctorSystem &system_;
    QTextStream &out_;
    const QString namedPort_;
    std::vector<UsbAdapter> adapters_;
    QString node_;
};

#ifdef Q_OS_UNIX
QString LocalGroupName(unsigned gid)
{
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group *found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

QStringList LocalGroupMembers(unsigned gid)
{
    std::vector<char> buffer(65536);
    struct group entry {};
    struct group *found = nullptr;
    QStringList members;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        for (char **member = found->gr_mem; member && *member; ++member)
            members << QString::fromLocal8Bit(*member);
    }
    return members;
}

DoctorAccount LocalAccount()
{
    DoctorAccount account;
    account.uid = ::geteuid();
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd *found = nullptr;
    if (getpwuid_r(account.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        account.userName = QString::fromLocal8Bit(found->pw_name);
    account.sessionGroups.push_back(::getegid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, groups.data());
        for (int i = 0; i < got; ++i)
            account.sessionGroups.push_back(groups[static_cast<std::size_t>(i)]);
    }
    account.groupName = &LocalGroupName;
    account.groupMembers = &LocalGroupMembers;
    return account;
}
#endif

} // namespace

const char *const kDoctorHelp = R"(Usage: r310ctl doctor [--port DEVICE] [--timeout-s N] [--trace]

Follows the way from the instrument's USB adapter (USB 0403:D189) to the
instrument one step at a time and says what is wrong and what to do:
  1. the adapter is plugged in
  2. a driver has taken it and made its serial port (/dev/ttyUSB0)
  3. you may open the port (else: the group that may, and how to join it)
  4. the port opens and no other program has it open
  5. an instrument answers the connect request (within --timeout-s, 10 s)
It stops at the first step that fails. --port DEVICE checks that port,
also one that is not on the adapter (the simulator's pseudo-terminal);
--trace shows every byte sent and received while asking the instrument.
Nothing is written to the instrument.

Exit codes: 0 an instrument answered; 4 no adapter, no port, no permission,
or the port does not open; 3 no instrument answered; 130 Ctrl+C.
)";

std::vector<UsbAdapter> FindUsbAdapters(const DoctorSystem &system)
{
    std::vector<UsbAdapter> adapters;
    const QDir devices(UsbDevicesPath(system));
    for (const QString &name : SubdirectoryNames(devices.path())) {
        const QString path = devices.filePath(name);
        if (ReadAttribute(path, QStringLiteral("idVendor")).compare(kVendorId, Qt::CaseInsensitive) == 0
            && ReadAttribute(path, QStringLiteral("idProduct")).compare(kProductId, Qt::CaseInsensitive) == 0)
            adapters.push_back(DescribeAdapter(name, path));
    }
    return adapters;
}

QString AdapterWithoutPortHint(const std::vector<UsbAdapter> &adapters, bool adapterPortListed)
{
    if (adapters.empty() || adapterPortListed)
        return {};
    return QStringLiteral("The instrument's USB adapter (0403:D189) is plugged in but has no serial port here: "
                          "\"r310ctl doctor\" finds out why.");
}

DoctorSystem LocalSystem()
{
    DoctorSystem system;
    system.udevRuleDirectories = {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
                                  QStringLiteral("/lib/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d")};
#ifdef Q_OS_UNIX
    system.account = LocalAccount();
    system.mayOpen = [](const QString &node) {
        return ::access(QFile::encodeName(node).constData(), R_OK | W_OK) == 0;
    };
#endif
    system.ownProcessId = QCoreApplication::applicationPid();
    return system;
}

int RunDoctorWith(CtlContext &context, const DoctorSystem &system)
{
    return DoctorRun(context, system).Run();
}

int RunDoctor(CtlContext &context)
{
#ifdef Q_OS_LINUX
    return RunDoctorWith(context, LocalSystem());
#else
    return context.Fail(kExitFailure, QStringLiteral("doctor checks the adapter's way on Linux; on Windows the "
                                                     "Device Manager shows the adapter and its COM port"));
#endif
}

} // namespace r310::cli
