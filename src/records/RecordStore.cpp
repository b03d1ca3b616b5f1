#include "RecordStore.h"

#include "RecordChain.h"
#include "RecordLoggerRows.h"
#include "RecordSchema.h"
#include "RecordSql.h"

#include <DataLoggerExport.h>

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace r310::records {

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

// What a download's rows add to its record while it is being appended.
struct RecordStore::Pending {
    QSqlDatabase &db;
    bool postgres;
    qint64 instrumentId = 0;
    qint64 seq = 0;
    QByteArray layout;
    QByteArray rowsDigest;
    qint64 added = 0;
    bool detailed = false;
    QJsonObject extra; // added to the body
};

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
    store->key_ = WorkstationKey(&store->keyError_);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, store->connectionName_);
    if (pg) {
        db.setHostName(target.host);
        db.setPort(target.port);
        db.setUserName(target.user);
        db.setDatabaseName(target.database);
        // Bounded waits: a server that does not answer costs seconds, not minutes.
        db.setConnectOptions(QStringLiteral("connect_timeout=%1;options='-c statement_timeout=%2 -c lock_timeout=%2%3'")
                                 .arg(kConnectTimeoutSeconds)
                                 .arg(kStatementTimeoutMs)
                                 .arg(target.readOnly ? QStringLiteral(" -c default_transaction_read_only=on")
                                                      : QString()));
    } else {
        const QFileInfo file(target.path);
        if (target.readOnly && !file.exists()) {
            *error = QStringLiteral("no records file %1").arg(target.path);
            return nullptr;
        }
        if (!file.exists()) {
            // A new file is the user's alone: the records name people and places.
            QDir().mkpath(file.absolutePath());
            QFile created(target.path);
            if (created.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                created.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        db.setDatabaseName(target.path);
        // A file without any write permission is read only, for every user
        // (root's writes would pass the system's check).
        const QFileDevice::Permissions writable =
            QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
        const bool readOnly = target.readOnly || (file.exists() && !(file.permissions() & writable));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyWaitMs)
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
        if (target.readOnly) {
            *error = QStringLiteral("the records database has schema version %1, not %2; a program that records "
                                    "must open it first")
                         .arg(version)
                         .arg(kSchemaVersion);
            return nullptr;
        }
        Transaction transaction(db, pg);
        if (pg)
            Exec(db, pg, QStringLiteral("SELECT pg_advisory_xact_lock(310310)"));
        version = SchemaVersion(db, error); // another program may have been first
        const KeyPair *signer = store->key_ ? &*store->key_ : nullptr;
        if (version == 0 && !CreateSchema(db, pg, kSchemaVersion, error, signer))
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
            if (!MigrateSchema(db, pg, version, error, signer))
                return nullptr;
        }
        transaction.Commit();
    } catch (const SqlFailure &failure) {
        *error = failure.text;
        return nullptr;
    }
    return store;
}

void RecordStore::NoteKey()
{
    if (keyNoted_ || !key_)
        return;
    QSqlDatabase db = database();
    Exec(db, postgres(),
         QStringLiteral("INSERT INTO r310_key (key_id, public_key, host, os_user, added_at) VALUES (?, ?, ?, ?, ?) "
                        "ON CONFLICT (key_id) DO NOTHING"),
         {KeyId(key_->publicKey), PublicKeyText(key_->publicKey), origin_.host, origin_.user,
          QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)});
    keyNoted_ = true;
}

bool RecordStore::SignRow(const QByteArray &message, QString *signature, QString *keyId, QString *error)
{
    if (!key_) {
        *error = keyError_;
        return false;
    }
    try {
        NoteKey();
    } catch (const SqlFailure &failure) {
        *error = failure.text;
        return false;
    }
    *signature = SignText(*key_, message);
    *keyId = KeyId(key_->publicKey);
    return true;
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
    if (!key_) {
        result.error = keyError_;
        return result;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    for (int attempt = 0;; ++attempt) {
        try {
            NoteKey();
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
            r.recordedAt = recordedAt_.isEmpty() ? QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)
                                                 : recordedAt_;
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
            // The id is taken first, so that the signature covers it.
            QSqlQuery next = Exec(db, pg,
                                  pg ? QStringLiteral("SELECT nextval(pg_get_serial_sequence('r310_record', 'id'))")
                                     : QStringLiteral("SELECT COALESCE(MAX(id), 0) + 1 FROM r310_record"));
            if (!next.next())
                throw SqlFailure{QStringLiteral("no id for the record")};
            result.id = next.value(0).toLongLong();
            next.finish();
            Exec(db, pg,
                 QStringLiteral("INSERT INTO r310_record (id, instrument_id, seq, kind, recorded_at, host, os_user, "
                                "program, version, body, detail, prev_hash, hash, signature, key_id) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                 {result.id, pending.instrumentId, pending.seq, kind, r.recordedAt, r.host, r.user, r.program,
                  r.version, bodyText, pending.layout, previous, hash,
                  SignText(*key_, RecordSignedText(result.id, hash)), KeyId(key_->publicKey)});
            if (const std::vector<const LatestKind *> following = LatestKindsFollowing(kind, full); !following.empty()) {
                // The instrument's row follows its latest record of the kind.
                QString assignments = QStringLiteral("head_seq = ?, head_hash = ?");
                QVariantList values{pending.seq, hash};
                for (const LatestKind *latest : following) {
                    assignments += QStringLiteral(", %1 = ?").arg(QLatin1String(latest->idColumn));
                    for (const LatestField &field : latest->fields)
                        assignments += QStringLiteral(", %1 = ?").arg(QLatin1String(field.column));
                    values.append(result.id);
                    values += LatestValues(*latest, r.recordedAt, full);
                }
                values.append(pending.instrumentId);
                Exec(db, pg, QStringLiteral("UPDATE r310_instrument SET %1 WHERE id = ?").arg(assignments), values);
            } else {
                Exec(db, pg, QStringLiteral("UPDATE r310_instrument SET head_seq = ?, head_hash = ? WHERE id = ?"),
                     {pending.seq, hash, pending.instrumentId});
            }
            if (commitGuard_ && !commitGuard_())
                throw SqlFailure{QStringLiteral("the session stopped waiting for the records database")};
            transaction.Commit();
            result.ok = true;
            result.seq = pending.seq;
            result.added = pending.added;
            return result;
        } catch (const SqlFailure &failure) {
            if (!failure.retry || elapsed.elapsed() > kRetryBudgetMs) {
                result.error = failure.text;
                return result;
            }
            QThread::msleep(static_cast<unsigned long>(20 + 10 * attempt));
        }
    }
}

AppendResult RecordStore::AppendEvents(const QString &serial, QJsonObject body, const logs::EventTable &table,
                                       const QString &recordKind)
{
    body.insert(QStringLiteral("count"), table.size());
    body.insert(QStringLiteral("read"), table.filledCount());
    return AppendWith(serial, recordKind, body, [&table](Pending &p) {
        std::set<EventKey> stored;
        QSqlQuery existing = Exec(p.db, p.postgres,
                                  QStringLiteral("SELECT number, type, time FROM r310_event WHERE instrument_id = ?"),
                                  {p.instrumentId});
        while (existing.next())
            stored.insert({existing.value(0).toInt(), existing.value(1).toInt(), existing.value(2).toInt()});
        existing.finish();
        // The layout: the count, then number, type and time of every entry read.
        PutI32(p.layout, table.size());
        std::map<EventKey, QByteArray> added;
        for (int j = 0; j < table.size(); ++j) {
            const auto &event = table.at(j);
            if (!event)
                continue;
            const QByteArray bytes(reinterpret_cast<const char *>(event->data()), static_cast<int>(event->size()));
            const EventKey key{j + 1, (*event)[2], static_cast<std::int32_t>(Reader(bytes.mid(4, 4)).i32())};
            PutU16(p.layout, static_cast<std::uint16_t>(key.number));
            p.layout.append(static_cast<char>(key.type));
            PutI32(p.layout, key.time);
            if (!stored.count(key))
                added.emplace(key, bytes);
        }
        QCryptographicHash rows(QCryptographicHash::Sha256);
        BulkInsert insert(p.db, p.postgres, QStringLiteral("r310_event"),
                          {QStringLiteral("instrument_id"), QStringLiteral("number"), QStringLiteral("type"),
                           QStringLiteral("time"), QStringLiteral("bytes"), QStringLiteral("added_seq")});
        for (const auto &[key, bytes] : added) {
            insert.Add({p.instrumentId, key.number, key.type, key.time, bytes, p.seq});
            rows.addData(EventRowBytes(key.number, key.type, key.time, bytes));
        }
        insert.Flush();
        p.rowsDigest = rows.result();
        p.added = static_cast<qint64>(added.size());
        p.extra.insert(QStringLiteral("added"), p.added);
        p.detailed = true;
        return true;
    });
}

AppendResult RecordStore::AppendLogger(const QString &serial, QJsonObject body,
                                       const std::vector<logs::LoggerBlock> &blocks, const QString &recordKind)
{
    // Samples keyed by block, set and index (RecordLoggerRows.h).
    body.insert(detail::kSampleRowsKey, detail::kSampleRowsBySet);
    return AppendWith(serial, recordKind, body, [&blocks](Pending &p) {
        try {
            const detail::LoggerRowsAdded added = detail::StoreLoggerRows(p.db, p.postgres, p.instrumentId, p.seq, blocks);
            p.layout = added.layout;
            p.rowsDigest = added.rowsDigest;
            p.added = added.samples;
        } catch (const detail::RowsFailure &failure) {
            throw SqlFailure{failure.text, IsConflict(failure.error, p.postgres)};
        }
        p.extra.insert(QStringLiteral("added"), p.added);
        p.detailed = true;
        return true;
    });
}

} // namespace r310::records
