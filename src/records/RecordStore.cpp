#include "RecordStore.h"

#include "RecordSchema.h"
#include "RecordSql.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSysInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace r310::records {

using namespace detail;

namespace {

QString SystemUser()
{
#ifdef Q_OS_UNIX
    if (const passwd *entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    const QString user = qEnvironmentVariable("USERNAME");
    return user.isEmpty() ? qEnvironmentVariable("USER") : user;
}

QString NewConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("r310records-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

RecordOrigin CurrentOrigin(const QString &program)
{
    return {QSysInfo::machineHostName(), SystemUser(), program, QStringLiteral(R310_PROGRAM_VERSION)};
}


RecordStore::RecordStore(const RecordsTarget &target, QString connectionName)
    : target_(target), connectionName_(std::move(connectionName)), origin_(CurrentOrigin(QStringLiteral("r310ctl")))
{
}

RecordStore::~RecordStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

QSqlDatabase RecordStore::database() const { return QSqlDatabase::database(connectionName_, false); }

std::unique_ptr<RecordStore> RecordStore::Open(const RecordsTarget &target, QString *error)
{
    const bool pg = target.kind == RecordsTarget::Kind::Postgres;
    if (!target.enabled()) {
        *error = QStringLiteral("no records database chosen");
        return nullptr;
    }
    const QString driver = pg ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(driver);
        return nullptr;
    }
    std::unique_ptr<RecordStore> store(new RecordStore(target, NewConnectionName()));
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, store->connectionName_);
    if (pg) {
        db.setHostName(target.host);
        db.setPort(target.port);
        db.setUserName(target.user);
        db.setDatabaseName(target.database);
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    } else {
        const QFileInfo file(target.path);
        if (!file.exists())
            QDir().mkpath(file.absolutePath());
        db.setDatabaseName(target.path);
        // A file without any write permission is read only, for every user
        // (root's writes would pass the system's check).
        const QFileDevice::Permissions writable =
            QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
        const bool readOnly = file.exists() && !(file.permissions() & writable);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000")
                             + (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    }
    if (!db.open()) {
        *error = ErrorText(db.lastError());
        return nullptr;
    }
    try {
        if (!pg) {
            // A read-only file keeps its journal mode: reading still works.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
            // A page cache large enough for a fleet's instrument rows and a
            // download's samples. Pages are read, not mapped: mapping the few
            // scattered pages the instrument list needs costs more than reading them.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size=-65536"));
        }
        int version = SchemaVersion(db, error);
        if (version < 0)
            return nullptr;
        if (version > kSchemaVersion) {
            *error = QStringLiteral("the records database has schema version %1, newer than this program's (%2); "
                                    "update the program")
                         .arg(version)
                         .arg(kSchemaVersion);
            return nullptr;
        }
        if (version == kSchemaVersion)
            return store;
        Transaction transaction(db, pg);
        if (pg)
            Exec(db, pg, QStringLiteral("SELECT pg_advisory_xact_lock(310310)"));
        version = SchemaVersion(db, error); // another program may have been first
        if (version == 0 && !CreateSchema(db, pg, kSchemaVersion, error))
            return nullptr;
        if (version > 0 && version < kSchemaVersion) {
            if (!pg) {
                // The file as it was, beside it, before anything changes.
                QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                const QString aside = QStringLiteral("%1.schema%2").arg(target.path).arg(version);
                QFile::remove(aside);
                if (!QFile::copy(target.path, aside)) {
                    *error = QStringLiteral("cannot copy the records file aside before updating it: %1").arg(aside);
                    return nullptr;
                }
            }
            if (!MigrateSchema(db, pg, version, error))
                return nullptr;
        }
        transaction.Commit();
    } catch (const SqlFailure &failure) {
        *error = failure.text;
        return nullptr;
    }
    return store;
}

AppendResult RecordStore::Append(const QString &serial, const QString &kind, const QJsonObject &body)
{
    return AppendWith(serial, kind, body, {});
}

AppendResult RecordStore::AppendWith(const QString &serial, const QString &kind, const QJsonObject &body,
                                     const std::function<bool(Pending &)> &details)
{
    AppendResult result;
    QSqlDatabase db = database();
    const bool pg = postgres();
    for (int attempt = 0;; ++attempt) {
        try {
            Transaction transaction(db, pg);
            Exec(db, pg, QStringLiteral("INSERT INTO r310_instrument (serial, head_seq, head_hash) VALUES (?, 0, '') "
                                        "ON CONFLICT (serial) DO NOTHING"),
                 {serial});
            QSqlQuery head = Exec(db, pg,
                                  QStringLiteral("SELECT id, head_seq, head_hash FROM r310_instrument WHERE serial = ?")
                                      + (pg ? QStringLiteral(" FOR UPDATE") : QString()),
                                  {serial});
            if (!head.next())
                throw SqlFailure{QStringLiteral("the instrument's row cannot be read")};
            Pending pending{db, pg, 0, 0, {}, {}, 0, false, {}};
            pending.instrumentId = head.value(0).toLongLong();
            pending.seq = head.value(1).toLongLong() + 1;
            const QString previous = head.value(2).toString();
            head.finish();
            if (details)
                details(pending);

            StoredRecord r;
            r.kind = kind;
            r.recordedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
            r.host = origin_.host;
            r.user = origin_.user;
            r.program = origin_.program;
            r.version = origin_.version;
            QJsonObject full = body;
            for (auto it = pending.extra.begin(); it != pending.extra.end(); ++it)
                full.insert(it.key(), it.value());
            const QString bodyText = QString::fromUtf8(QJsonDocument(full).toJson(QJsonDocument::Compact));
            const QString digest = pending.detailed ? DetailDigest(pending.layout, pending.rowsDigest) : QString();
            const QString hash = RecordHash(previous, serial, pending.seq, r, bodyText, digest);
            QSqlQuery inserted = Exec(
                db, pg,
                QStringLiteral("INSERT INTO r310_record (instrument_id, seq, kind, recorded_at, host, os_user, program, "
                               "version, body, detail, prev_hash, hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                               "RETURNING id"),
                {pending.instrumentId, pending.seq, kind, r.recordedAt, r.host, r.user, r.program, r.version, bodyText,
                 pending.layout, previous, hash});
            if (!inserted.next())
                throw SqlFailure{QStringLiteral("the record's row cannot be read back")};
            result.id = inserted.value(0).toLongLong();
            inserted.finish();
            if (const LatestKind *latest = FindLatestKind(kind)) {
                // The instrument's row follows its latest record of the kind.
                QString assignments = QStringLiteral("head_seq = ?, head_hash = ?, %1 = ?").arg(QLatin1String(latest->idColumn));
                for (const LatestField &field : latest->fields)
                    assignments += QStringLiteral(", %1 = ?").arg(QLatin1String(field.column));
                QVariantList values{pending.seq, hash, result.id};
                values += LatestValues(*latest, r.recordedAt, full);
                values.append(pending.instrumentId);
                Exec(db, pg, QStringLiteral("UPDATE r310_instrument SET %1 WHERE id = ?").arg(assignments), values);
            } else {
                Exec(db, pg, QStringLiteral("UPDATE r310_instrument SET head_seq = ?, head_hash = ? WHERE id = ?"),
                     {pending.seq, hash, pending.instrumentId});
            }
            transaction.Commit();
            result.ok = true;
            result.seq = pending.seq;
            result.added = pending.added;
            return result;
        } catch (const SqlFailure &failure) {
            if (!failure.retry || attempt >= 20) {
                result.error = failure.text;
                return result;
            }
            QThread::msleep(static_cast<unsigned long>(20 + 10 * attempt));
        }
    }
}

} // namespace r310::records
