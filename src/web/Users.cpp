#include "Users.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <sodium.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace r310::web {

namespace {

constexpr int kMinPassword = 8;

QByteArray Hash(const QByteArray &password)
{
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.constData(), static_cast<unsigned long long>(password.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        return {};
    return QByteArray(out);
}

std::string ReadLine(bool echo)
{
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal && !echo) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal && !echo) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

bool ValidUserName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

const std::map<QString, QByteArray> &UserFile::Current()
{
    const QFileInfo info(path_);
    if (!info.exists()) {
        users_.clear();
        readSize_ = -1;
        return users_;
    }
    if (info.lastModified() == readModified_ && info.size() == readSize_)
        return users_;
    QFile file(path_);
    std::map<QString, QByteArray> users;
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd()) {
            const QByteArray line = file.readLine(4096).trimmed();
            const int colon = line.indexOf(':');
            const QString name = QString::fromUtf8(line.left(colon));
            if (colon > 0 && ValidUserName(name))
                users[name] = line.mid(colon + 1);
        }
    }
    users_ = std::move(users);
    readModified_ = info.lastModified();
    readSize_ = info.size();
    return users_;
}

UserFileResult UserFile::Write(const std::map<QString, QByteArray> &users)
{
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return {false, QStringLiteral("cannot write %1: %2").arg(path_, file.errorString())};
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const auto &[name, hash] : users)
        file.write(name.toUtf8() + ':' + hash + '\n');
    if (!file.commit())
        return {false, QStringLiteral("cannot write %1: %2").arg(path_, file.errorString())};
    readSize_ = -1;
    return {true, {}};
}

UserFileResult UserFile::Add(const QString &name, const QByteArray &password)
{
    if (!ValidUserName(name))
        return {false, QStringLiteral("a user name has 1 to 64 letters, digits, '.', '_' or '-'")};
    if (password.size() < kMinPassword)
        return {false, QStringLiteral("a password needs at least %1 characters").arg(kMinPassword)};
    const QByteArray hash = Hash(password);
    if (hash.isEmpty())
        return {false, QStringLiteral("not enough memory to hash the password")};
    const std::lock_guard<std::mutex> lock(mutex_);
    std::map<QString, QByteArray> users = Current();
    users[name] = hash;
    return Write(users);
}

UserFileResult UserFile::Remove(const QString &name)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    std::map<QString, QByteArray> users = Current();
    if (users.erase(name) == 0)
        return {false, QStringLiteral("no user %1 in %2").arg(name, path_)};
    return Write(users);
}

QStringList UserFile::Names()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    QStringList names;
    for (const auto &entry : Current())
        names.append(entry.first);
    return names;
}

bool UserFile::Has(const QString &name)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return Current().count(name) > 0;
}

bool UserFile::Check(const QString &name, const QByteArray &password)
{
    QByteArray hash;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto &users = Current();
        const auto it = users.find(name);
        if (it != users.end())
            hash = it->second;
    }
    if (hash.isEmpty()) {
        // The same work for an unknown name, so the time does not tell names apart.
        Hash(password);
        return false;
    }
    return crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                    static_cast<unsigned long long>(password.size()))
           == 0;
}

QByteArray ReadNewPassword(QString *error)
{
    const bool terminal = isatty(STDIN_FILENO);
    if (terminal)
        std::cerr << "Password: " << std::flush;
    const std::string first = ReadLine(false);
    if (terminal) {
        std::cerr << "Password again: " << std::flush;
        if (ReadLine(false) != first) {
            *error = QStringLiteral("the passwords differ");
            return {};
        }
    }
    if (first.empty())
        *error = QStringLiteral("no password given");
    return QByteArray::fromStdString(first);
}

} // namespace r310::web
