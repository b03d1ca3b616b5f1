#include "RecordsLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

namespace r310::records {

QString RecordsTarget::text() const
{
    switch (kind) {
    case Kind::Sqlite:
        return QDir::toNativeSeparators(path);
    case Kind::Postgres:
        return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
    case Kind::None:
        break;
    }
    return QStringLiteral("no records");
}

QString DefaultRecordsPath()
{
    // The window's data folder (its application name), so the window and
    // r310ctl keep one file.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(data).filePath(QStringLiteral("R310Conf/records.sqlite"));
}

QString WithoutPassword(const QString &url)
{
    // Whatever stands between "user:" and the last '@' of the address part.
    static const QRegularExpression password(QStringLiteral("^([A-Za-z]+://[^/@:?#]*):[^?#]*@"));
    QString text = url;
    return text.replace(password, QStringLiteral("\\1:***@"));
}

RecordsChoice ParseRecordsUrl(const QString &url)
{
    RecordsChoice choice;
    const QString text = url.trimmed();
    if (text.isEmpty()) {
        choice.error = QStringLiteral("no records database given");
        return choice;
    }
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"))) {
        const QUrl parsed(text, QUrl::StrictMode);
        RecordsTarget &t = choice.target;
        t.kind = RecordsTarget::Kind::Postgres;
        t.user = parsed.userName();
        t.host = parsed.host();
        t.port = parsed.port(5432);
        t.database = parsed.path().mid(1);
        const QUrlQuery query(parsed);
        if (query.hasQueryItem(QStringLiteral("host")))
            t.host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
        if (!parsed.isValid() || t.database.isEmpty() || t.database.contains(u'/'))
            choice.error = QStringLiteral("\"%1\" names no PostgreSQL database: postgresql://USER@HOST:PORT/DB")
                               .arg(WithoutPassword(text));
        if (!parsed.password().isEmpty() || WithoutPassword(text) != text)
            choice.error = QStringLiteral("a password does not belong in the records URL: use ~/.pgpass or "
                                          "PGPASSWORD");
        if (t.host.isEmpty())
            t.host = QStringLiteral("localhost");
        return choice;
    }
    QString path = text;
    if (path.startsWith(QLatin1String("sqlite:")))
        path = path.mid(7);
    if (path.isEmpty()) {
        choice.error = QStringLiteral("sqlite: needs a file name");
        return choice;
    }
    choice.target.kind = RecordsTarget::Kind::Sqlite;
    choice.target.path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    return choice;
}

RecordsChoice ChooseRecords(const QString &option, bool noRecords, const QString &setting)
{
    if (noRecords)
        return {};
    if (!option.isEmpty())
        return ParseRecordsUrl(option);
    const QString variable = qEnvironmentVariable(kRecordsVariable);
    if (!variable.isEmpty())
        return ParseRecordsUrl(variable);
    if (!setting.isEmpty())
        return ParseRecordsUrl(setting);
    RecordsChoice choice;
    choice.target.kind = RecordsTarget::Kind::Sqlite;
    choice.target.path = DefaultRecordsPath();
    return choice;
}

QString DemoRecordsPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return QDir(runtime).filePath(QStringLiteral("r310-demo-records.sqlite"));
    return QDir::temp().filePath(QStringLiteral("r310-demo-records-%1.sqlite").arg(qEnvironmentVariable("USER")));
}

} // namespace r310::records
