// r310ctl doctor: what the system shows of the adapter, its driver, its
// port, the programs that hold the port, and the user who asks.
#include "DoctorSteps.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace r310::cli {

namespace doctor {

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

} // namespace doctor

namespace {

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

using namespace doctor;

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

} // namespace r310::cli
