#pragma once
// The people who may log in, in a file of their own: a line per user,
// "NAME:HASH", the password hashed with Argon2id through libsodium. The
// file is written whole (or left as it was) and readable by its owner only.
// The server reads it again whenever it changes, so a user added or removed
// counts at the next request.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <mutex>

namespace r310::web {

// A name of 1 to 64 letters, digits, '.', '_' or '-'.
bool ValidUserName(const QString &name);

struct UserFileResult {
    bool ok = false;
    QString error;
};

class UserFile {
public:
    explicit UserFile(QString path) : path_(std::move(path)) {}

    const QString &path() const { return path_; }
    // Adds the user or gives a known one a new password.
    UserFileResult Add(const QString &name, const QByteArray &password);
    UserFileResult Remove(const QString &name);
    QStringList Names();
    // True when the name is on file and the password is its own.
    bool Check(const QString &name, const QByteArray &password);
    bool Has(const QString &name);

private:
    // Reads the file again when it changed; the users by name.
    const std::map<QString, QByteArray> &Current();
    UserFileResult Write(const std::map<QString, QByteArray> &users);

    QString path_;
    std::mutex mutex_;
    std::map<QString, QByteArray> users_;
    QDateTime readModified_;
    qint64 readSize_ = -1;
};

// The password of "user add": twice without echo from a terminal, else
// the first line of standard input. Empty with *error when none was given.
QByteArray ReadNewPassword(QString *error);

} // namespace r310::web
