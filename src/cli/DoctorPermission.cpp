// r310ctl doctor: who may open the port, and how a user gets the right.
#include "DoctorSteps.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace r310::cli::doctor {

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

} // namespace r310::cli::doctor
