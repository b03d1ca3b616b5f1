#include "RecordStore.h"

#include "RecordSchema.h"

#include <DataLoggerExport.h>

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDateTime>
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
#include <unordered_map>
#include <unordered_set>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace r310::records {

namespace {

// An SQL statement that failed; `retry` when another writer held what it needed.
struct SqlFailure {
    QString text;
    bool retry = false;
};

bool IsConflict(const QSqlError &error, bool postgres)
{
    const QString code = error.nativeErrorCode();
    if (postgres)
        return code == QLatin1String("40001") || code == QLatin1String("40P01") || code == QLatin1String("23505");
    // SQLITE_BUSY, SQLITE_LOCKED
    return code == QLatin1String("5") || code == QLatin1String("6");
}

QString ErrorText(const QSqlError &error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

QSqlQuery Exec(QSqlDatabase &db, bool postgres, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!query.exec(sql))
            throw SqlFailure{ErrorText(query.lastError()), IsConflict(query.lastError(), postgres)};
        return query;
    }
    if (!query.prepare(sql))
        throw SqlFailure{ErrorText(query.lastError()), IsConflict(query.lastError(), postgres)};
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw SqlFailure{ErrorText(query.lastError()), IsConflict(query.lastError(), postgres)};
    return query;
}

QString Hex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex()); }

QByteArray Sha256(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// The hash a record carries: its content and the hash of the record before it.
QString RecordHash(const QString &previous, const QString &serial, qint64 seq, const StoredRecord &r,
                   const QString &bodyText, const QString &detailDigest)
{
    const QStringList parts{previous, serial, QString::number(seq), r.kind, r.recordedAt, r.host, r.user,
                            r.program, r.version, bodyText, detailDigest};
    return Hex(Sha256(parts.join(QChar(0x1f)).toUtf8()));
}

// A download's digest: of its layout, and of the rows it added in key order.
QString DetailDigest(const QByteArray &layout, const QByteArray &rowsDigest)
{
    return Hex(Sha256(Sha256(layout) + rowsDigest));
}

void PutU16(QByteArray &out, std::uint16_t v)
{
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>(v >> 8));
}

void PutI32(QByteArray &out, std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((u >> shift) & 0xff));
}

class Reader {
public:
    explicit Reader(const QByteArray &bytes) : bytes_(bytes) {}
    bool ok(int n) const { return pos_ + n <= bytes_.size(); }
    std::uint8_t u8() { return static_cast<std::uint8_t>(bytes_.at(pos_++)); }
    std::uint16_t u16()
    {
        const std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | (u8() << 8));
    }
    std::int32_t i32()
    {
        std::uint32_t v = 0;
        for (int shift = 0; shift < 32; shift += 8)
            v |= static_cast<std::uint32_t>(u8()) << shift;
        return static_cast<std::int32_t>(v);
    }
    bool atEnd() const { return pos_ >= bytes_.size(); }

private:
    const QByteArray &bytes_;
    int pos_ = 0;
};

QByteArray EventRowBytes(int number, int type, std::int32_t time, const QByteArray &bytes)
{
    QByteArray row;
    PutU16(row, static_cast<std::uint16_t>(number));
    row.append(static_cast<char>(type));
    PutI32(row, time);
    row.append(bytes);
    return row;
}

// One run of samples as its download's digest covers it.
QByteArray SampleRunBytes(int gas, int unit, std::int32_t time, int step, int count, int exponent, int alarm,
                          const QByteArray &raws)
{
    QByteArray row;
    row.append(static_cast<char>(gas));
    row.append(static_cast<char>(unit));
    PutI32(row, time);
    PutI32(row, step);
    row.append(static_cast<char>(count));
    row.append(static_cast<char>(exponent));
    PutU16(row, static_cast<std::uint16_t>(alarm));
    row.append(raws);
    return row;
}

const QString kRecordColumns = QStringLiteral(
    "r.id, r.seq, i.serial, r.kind, r.recorded_at, r.host, r.os_user, r.program, r.version, r.body, r.hash");

StoredRecord RecordFrom(const QSqlQuery &q, int first = 0)
{
    StoredRecord r;
    r.id = q.value(first).toLongLong();
    r.seq = q.value(first + 1).toLongLong();
    r.serial = q.value(first + 2).toString();
    r.kind = q.value(first + 3).toString();
    r.recordedAt = q.value(first + 4).toString();
    r.host = q.value(first + 5).toString();
    r.user = q.value(first + 6).toString();
    r.program = q.value(first + 7).toString();
    r.version = q.value(first + 8).toString();
    r.body = QJsonDocument::fromJson(q.value(first + 9).toString().toUtf8()).object();
    r.hash = q.value(first + 10).toString();
    return r;
}

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

// One write transaction: SQLite takes its write lock at once, so two
// writers never both read the same chain head.
class RecordStore::Transaction {
public:
    Transaction(QSqlDatabase &db, bool postgres) : db_(db), postgres_(postgres)
    {
        Exec(db_, postgres_, postgres_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~Transaction()
    {
        if (!done_) {
            QSqlQuery rollback(db_);
            rollback.exec(QStringLiteral("ROLLBACK"));
        }
    }
    void Commit()
    {
        Exec(db_, postgres_, QStringLiteral("COMMIT"));
        done_ = true;
    }

private:
    QSqlDatabase &db_;
    bool postgres_;
    bool done_ = false;
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

namespace {

// Inserts rows of `columns` values each, many in one statement.
class BulkInsert {
public:
    BulkInsert(QSqlDatabase &db, bool postgres, QString table, QStringList columns)
        : db_(db), postgres_(postgres), table_(std::move(table)), columns_(std::move(columns)),
          rowsPerStatement_((postgres ? 4000 : 900) / static_cast<int>(columns_.size()))
    {
    }
    void Add(const QVariantList &row)
    {
        values_.append(row);
        if (values_.size() >= rowsPerStatement_ * columns_.size())
            Flush();
    }
    void Flush()
    {
        const int rows = static_cast<int>(values_.size() / columns_.size());
        if (rows == 0)
            return;
        QSqlQuery &query = rows == rowsPerStatement_ ? full_ : last_;
        if (&query == &last_ || !fullPrepared_) {
            const QString one = QStringLiteral("(") + QStringList(columns_.size(), QStringLiteral("?")).join(u',') + u')';
            const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table_, columns_.join(u','))
                                + QStringList(rows, one).join(u',');
            query = QSqlQuery(db_);
            if (!query.prepare(sql))
                throw SqlFailure{ErrorText(query.lastError()), IsConflict(query.lastError(), postgres_)};
            if (&query == &full_)
                fullPrepared_ = true;
        }
        for (int i = 0; i < values_.size(); ++i)
            query.bindValue(i, values_.at(i));
        if (!query.exec())
            throw SqlFailure{ErrorText(query.lastError()), IsConflict(query.lastError(), postgres_)};
        values_.clear();
    }

private:
    QSqlDatabase &db_;
    bool postgres_;
    QString table_;
    QStringList columns_;
    qsizetype rowsPerStatement_;
    QVariantList values_;
    QSqlQuery full_;
    QSqlQuery last_;
    bool fullPrepared_ = false;
};

struct EventKey {
    int number;
    int type;
    std::int32_t time;
    bool operator<(const EventKey &o) const
    {
        return std::tie(number, type, time) < std::tie(o.number, o.type, o.time);
    }
};

} // namespace

AppendResult RecordStore::AppendEvents(const QString &serial, QJsonObject body, const logs::EventTable &table)
{
    body.insert(QStringLiteral("count"), table.size());
    body.insert(QStringLiteral("read"), table.filledCount());
    return AppendWith(serial, kind::kEvents, body, [&table](Pending &p) {
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

namespace {

// Samples of one gas and unit in a row, `step` seconds apart.
struct SampleRun {
    int gas = 0;
    int unit = 0;
    std::int32_t time = 0;
    int step = 0;
    int exponent = 0;
    int alarm = 0;
    QByteArray raws;
    int count() const { return static_cast<int>(raws.size() / 2); }
};

using GasUnit = std::pair<int, int>;

// The times of the samples on record for each gas and unit, within [first, last].
std::map<GasUnit, std::unordered_set<std::int32_t>> StoredTimes(QSqlDatabase &db, bool pg, qint64 instrument,
                                                                 const std::map<GasUnit, std::pair<std::int32_t, std::int32_t>> &spans)
{
    std::map<GasUnit, std::unordered_set<std::int32_t>> stored;
    for (const auto &[key, span] : spans) {
        std::unordered_set<std::int32_t> &times = stored[key];
        // A run starts at most 15 samples before its first time within the span.
        QSqlQuery q = Exec(db, pg,
                           QStringLiteral("SELECT time, step, count FROM r310_sample WHERE instrument_id = ? AND gas = ? "
                                          "AND unit = ? AND time <= ?"),
                           {instrument, key.first, key.second, span.second});
        while (q.next()) {
            const std::int64_t time = q.value(0).toLongLong();
            const std::int64_t step = q.value(1).toLongLong();
            const int count = q.value(2).toInt();
            if (time + step * (count - 1) < span.first)
                continue;
            for (int k = 0; k < count; ++k)
                times.insert(static_cast<std::int32_t>(time + step * k));
        }
    }
    return stored;
}

} // namespace

AppendResult RecordStore::AppendLogger(const QString &serial, QJsonObject body,
                                       const std::vector<logs::LoggerBlock> &blocks)
{
    return AppendWith(serial, kind::kDatalog, body, [&blocks](Pending &p) {
        std::map<GasUnit, std::pair<std::int32_t, std::int32_t>> spans;
        for (const logs::LoggerBlock &block : blocks) {
            const logs::LoggerBlockHeader &h = block.header;
            PutU16(p.layout, h.state);
            PutI32(p.layout, h.firstSampleTime);
            PutU16(p.layout, h.interval);
            p.layout.append(static_cast<char>(h.reportedSamples));
            p.layout.append(static_cast<char>(h.setCount));
            p.layout.append(static_cast<char>(block.sets.size()));
            for (const logs::LoggerSampleSet &set : block.sets) {
                p.layout.append(static_cast<char>(set.state));
                p.layout.append(static_cast<char>(set.gasCode));
                p.layout.append(static_cast<char>(set.unitCode));
                p.layout.append(static_cast<char>(set.exponent));
                PutU16(p.layout, set.alarmBits);
                if (!h.setsReadable() || !set.valid() || h.samplesPerSet() == 0)
                    continue;
                const std::int32_t first = logs::LoggerSampleTime(h, 0);
                const std::int32_t last = logs::LoggerSampleTime(h, h.samplesPerSet() - 1);
                const auto found = spans.find({set.gasCode, set.unitCode});
                if (found == spans.end())
                    spans[{set.gasCode, set.unitCode}] = {std::min(first, last), std::max(first, last)};
                else
                    found->second = {std::min({found->second.first, first, last}),
                                     std::max({found->second.second, first, last})};
            }
        }
        std::map<GasUnit, std::unordered_set<std::int32_t>> stored = StoredTimes(p.db, p.postgres, p.instrumentId, spans);
        // The samples not on record, in runs along each set.
        std::vector<SampleRun> runs;
        for (const logs::LoggerBlock &block : blocks) {
            const logs::LoggerBlockHeader &h = block.header;
            if (!h.setsReadable())
                continue;
            for (const logs::LoggerSampleSet &set : block.sets) {
                if (!set.valid())
                    continue;
                std::unordered_set<std::int32_t> &times = stored[{set.gasCode, set.unitCode}];
                bool open = false;
                for (int i = 0; i < h.samplesPerSet(); ++i) {
                    const std::int32_t time = logs::LoggerSampleTime(h, i);
                    if (!times.insert(time).second) {
                        open = false;
                        continue;
                    }
                    if (!open || h.interval == 0) {
                        runs.push_back({set.gasCode, set.unitCode, time, h.interval, set.exponent, 0, {}});
                        open = true;
                    }
                    SampleRun &run = runs.back();
                    if (set.inAlarm(i))
                        run.alarm |= 1 << run.count();
                    PutU16(run.raws, static_cast<std::uint16_t>(set.samples[static_cast<std::size_t>(i)]));
                    ++p.added;
                }
            }
        }
        std::sort(runs.begin(), runs.end(), [](const SampleRun &a, const SampleRun &b) {
            return std::tie(a.gas, a.unit, a.time) < std::tie(b.gas, b.unit, b.time);
        });
        QCryptographicHash rows(QCryptographicHash::Sha256);
        BulkInsert insert(p.db, p.postgres, QStringLiteral("r310_sample"),
                          {QStringLiteral("instrument_id"), QStringLiteral("gas"), QStringLiteral("unit"),
                           QStringLiteral("time"), QStringLiteral("step"), QStringLiteral("count"),
                           QStringLiteral("exponent"), QStringLiteral("alarm"), QStringLiteral("raws"),
                           QStringLiteral("added_seq")});
        for (const SampleRun &run : runs) {
            insert.Add({p.instrumentId, run.gas, run.unit, run.time, run.step, run.count(), run.exponent, run.alarm,
                        run.raws, p.seq});
            rows.addData(SampleRunBytes(run.gas, run.unit, run.time, run.step, run.count(), run.exponent, run.alarm,
                                        run.raws));
        }
        insert.Flush();
        p.rowsDigest = rows.result();
        p.extra.insert(QStringLiteral("added"), p.added);
        p.detailed = true;
        return true;
    });
}

std::optional<StoredRecord> RecordStore::Latest(const QString &serial, const QString &kind, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE i.serial = ? AND r.kind = ? ORDER BY r.seq DESC LIMIT 1")
                               .arg(kRecordColumns),
                           {serial, kind});
        if (q.next())
            return RecordFrom(q);
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

std::optional<StoredRecord> RecordStore::Record(qint64 id, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE r.id = ?")
                               .arg(kRecordColumns),
                           {id});
        if (q.next())
            return RecordFrom(q);
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

std::vector<InstrumentSummary> RecordStore::Instruments(QString *error)
{
    std::vector<InstrumentSummary> list;
    QSqlDatabase db = database();
    // One row per instrument: the fields of its latest records are columns of it.
    QStringList columns{QStringLiteral("serial")};
    for (const LatestKind &latest : LatestKinds()) {
        for (const LatestField &field : latest.fields)
            columns.append(QLatin1String(field.column));
    }
    try {
        QSqlQuery count = Exec(db, postgres(), QStringLiteral("SELECT COUNT(*) FROM r310_instrument"));
        if (count.next())
            list.reserve(static_cast<std::size_t>(count.value(0).toLongLong()));
        count.finish();
        QSqlQuery q = Exec(db, postgres(), QStringLiteral("SELECT %1 FROM r310_instrument").arg(columns.join(u',')));
        while (q.next()) {
            // In the order of LatestKinds().
            int column = 0;
            const auto text = [&q, &column] { return q.value(column++).toString(); };
            const auto number = [&q, &column]() -> std::optional<double> {
                const QVariant value = q.value(column++);
                return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
            };
            InstrumentSummary s;
            s.serial = text();
            s.lastSeen = text();
            s.customerId = text();
            s.softwareVersion = text();
            s.connectionGasUnit = text();
            s.settingsGasUnit = text();
            s.nextCalibration = text();
            s.nextBumpTest = text();
            s.bumpInterval = text();
            s.calibratedAt = text();
            s.calibrationKind = text();
            s.calibrationOutcome = text();
            s.bumpTestedAt = text();
            s.bumpA1 = number();
            s.bumpA2 = number();
            s.bumpT50 = number();
            s.bumpOutcome = text();
            s.bumpCylinder = text();
            s.spanCalibratedAt = text();
            s.bumpPassedAt = text();
            list.push_back(std::move(s));
        }
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    // Sorted here: the table read in its own order costs less than through the serial's index.
    std::sort(list.begin(), list.end(),
              [](const InstrumentSummary &a, const InstrumentSummary &b) { return a.serial < b.serial; });
    return list;
}

std::vector<StoredRecord> RecordStore::History(const QString &serial, const QString &since, QString *error)
{
    std::vector<StoredRecord> list;
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE i.serial = ? AND r.recorded_at >= ? ORDER BY r.seq")
                               .arg(kRecordColumns),
                           {serial, since.isEmpty() ? QStringLiteral("") : since});
        while (q.next())
            list.push_back(RecordFrom(q));
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return list;
}

std::optional<logs::EventTable> RecordStore::EventDownload(qint64 recordId, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery r = Exec(db, postgres(), QStringLiteral("SELECT instrument_id, detail FROM r310_record WHERE id = ? AND kind = ?"),
                           {recordId, kind::kEvents});
        if (!r.next())
            throw SqlFailure{QStringLiteral("no event download with record id %1").arg(recordId)};
        const qint64 instrument = r.value(0).toLongLong();
        const QByteArray layout = r.value(1).toByteArray();
        r.finish();
        std::map<EventKey, QByteArray> events;
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT number, type, time, bytes FROM r310_event WHERE instrument_id = ?"),
                           {instrument});
        while (q.next())
            events.emplace(EventKey{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt()}, q.value(3).toByteArray());
        Reader in(layout);
        if (!in.ok(4))
            throw SqlFailure{QStringLiteral("the download's record holds no layout")};
        logs::EventTable table;
        table.Prepare(in.i32());
        while (!in.atEnd() && in.ok(7)) {
            EventKey key{};
            key.number = in.u16();
            key.type = in.u8();
            key.time = in.i32();
            const auto found = events.find(key);
            if (found == events.end())
                throw SqlFailure{QStringLiteral("event %1 of the download is not on record").arg(key.number)};
            AnswerFrame frame;
            frame.object = kObjectEventRecord;
            frame.flags = kFlagsDataAnswer;
            frame.intact = true;
            frame.payload.assign(found->second.begin(), found->second.end());
            table.Fill(key.number - 1, frame);
        }
        return table;
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

std::optional<std::vector<logs::LoggerBlock>> RecordStore::LoggerDownload(qint64 recordId, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery r = Exec(db, postgres(), QStringLiteral("SELECT instrument_id, detail FROM r310_record WHERE id = ? AND kind = ?"),
                           {recordId, kind::kDatalog});
        if (!r.next())
            throw SqlFailure{QStringLiteral("no logger download with record id %1").arg(recordId)};
        const qint64 instrument = r.value(0).toLongLong();
        const QByteArray layout = r.value(1).toByteArray();
        r.finish();
        std::vector<logs::LoggerBlock> blocks;
        Reader in(layout);
        while (!in.atEnd()) {
            if (!in.ok(11))
                throw SqlFailure{QStringLiteral("the download's layout is cut short")};
            logs::LoggerBlock block;
            block.header.state = in.u16();
            block.header.firstSampleTime = in.i32();
            block.header.interval = in.u16();
            block.header.reportedSamples = in.u8();
            block.header.setCount = in.u8();
            const int sets = in.u8();
            for (int k = 0; k < sets && in.ok(6); ++k) {
                logs::LoggerSampleSet set;
                set.state = in.u8();
                set.gasCode = in.u8();
                set.unitCode = in.u8();
                set.exponent = static_cast<std::int8_t>(in.u8());
                set.alarmBits = in.u16();
                block.sets.push_back(set);
            }
            blocks.push_back(std::move(block));
        }
        // The samples of each gas and unit the download holds, by time.
        std::map<std::pair<int, int>, std::unordered_map<std::int32_t, std::int16_t>> samples;
        for (const logs::LoggerBlock &block : blocks) {
            for (const logs::LoggerSampleSet &set : block.sets)
                samples[{set.gasCode, set.unitCode}];
        }
        for (auto &[key, byTime] : samples) {
            QSqlQuery q = Exec(db, postgres(),
                               QStringLiteral("SELECT time, step, raws FROM r310_sample WHERE instrument_id = ? AND "
                                              "gas = ? AND unit = ?"),
                               {instrument, key.first, key.second});
            while (q.next()) {
                const std::int64_t time = q.value(0).toLongLong();
                const std::int64_t step = q.value(1).toLongLong();
                const QByteArray raws = q.value(2).toByteArray();
                Reader values(raws);
                for (int k = 0; values.ok(2); ++k)
                    byTime.emplace(static_cast<std::int32_t>(time + step * k), static_cast<std::int16_t>(values.u16()));
            }
        }
        for (logs::LoggerBlock &block : blocks) {
            if (!block.header.setsReadable())
                continue;
            for (logs::LoggerSampleSet &set : block.sets) {
                if (!set.valid())
                    continue;
                const auto &byTime = samples[{set.gasCode, set.unitCode}];
                for (int i = 0; i < block.header.samplesPerSet(); ++i) {
                    const auto found = byTime.find(logs::LoggerSampleTime(block.header, i));
                    if (found == byTime.end())
                        throw SqlFailure{QStringLiteral("a sample of the download is not on record")};
                    set.samples[static_cast<std::size_t>(i)] = found->second;
                }
            }
        }
        return blocks;
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

VerifyResult RecordStore::Verify()
{
    VerifyResult result;
    QSqlDatabase db = database();
    const bool pg = postgres();
    try {
        QSqlQuery orphans = Exec(db, pg, QStringLiteral("SELECT id, seq FROM r310_record WHERE instrument_id NOT IN "
                                                        "(SELECT id FROM r310_instrument) ORDER BY id LIMIT 1"));
        if (orphans.next()) {
            result.problem = QStringLiteral("record id %1 belongs to no instrument on record (changed)")
                                 .arg(orphans.value(0).toLongLong());
            return result;
        }
        orphans.finish();
        // The instrument's row: its chain's head, then for each kind it follows
        // the latest record's id and fields.
        QStringList columns{QStringLiteral("id"), QStringLiteral("serial"), QStringLiteral("head_seq"),
                            QStringLiteral("head_hash")};
        for (const LatestKind &latest : LatestKinds()) {
            columns.append(QLatin1String(latest.idColumn));
            for (const LatestField &field : latest.fields)
                columns.append(QLatin1String(field.column));
        }
        QSqlQuery instruments =
            Exec(db, pg, QStringLiteral("SELECT %1 FROM r310_instrument ORDER BY id").arg(columns.join(u',')));
        struct Head {
            qint64 id;
            QString serial;
            qint64 seq;
            QString hash;
            std::vector<qint64> latest;       // by LatestKinds(); 0 for none
            std::vector<QVariantList> fields; // by LatestKinds()
        };
        std::vector<Head> heads;
        while (instruments.next()) {
            Head h{instruments.value(0).toLongLong(), instruments.value(1).toString(),
                   instruments.value(2).toLongLong(), instruments.value(3).toString(), {}, {}};
            int column = 4;
            for (const LatestKind &latest : LatestKinds()) {
                h.latest.push_back(instruments.isNull(column) ? 0 : instruments.value(column).toLongLong());
                ++column;
                QVariantList values;
                for (std::size_t n = 0; n < latest.fields.size(); ++n)
                    values.append(instruments.value(column++));
                h.fields.push_back(values);
            }
            heads.push_back(std::move(h));
        }
        instruments.finish();
        for (const Head &h : heads) {
            const QString who = QStringLiteral("instrument %1").arg(h.serial);
            // The rows each download added, digested in key order.
            std::map<qint64, std::unique_ptr<QCryptographicHash>> rows;
            auto rowsOf = [&rows](qint64 seq) -> QCryptographicHash & {
                auto &slot = rows[seq];
                if (!slot)
                    slot = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
                return *slot;
            };
            QSqlQuery events = Exec(db, pg, QStringLiteral("SELECT number, type, time, bytes, added_seq FROM r310_event "
                                                           "WHERE instrument_id = ? ORDER BY number, type, time"),
                                    {h.id});
            while (events.next())
                rowsOf(events.value(4).toLongLong())
                    .addData(EventRowBytes(events.value(0).toInt(), events.value(1).toInt(), events.value(2).toInt(),
                                           events.value(3).toByteArray()));
            events.finish();
            QSqlQuery samples = Exec(db, pg, QStringLiteral("SELECT gas, unit, time, step, count, exponent, alarm, raws, "
                                                            "added_seq FROM r310_sample WHERE instrument_id = ? "
                                                            "ORDER BY gas, unit, time"),
                                     {h.id});
            while (samples.next())
                rowsOf(samples.value(8).toLongLong())
                    .addData(SampleRunBytes(samples.value(0).toInt(), samples.value(1).toInt(), samples.value(2).toInt(),
                                            samples.value(3).toInt(), samples.value(4).toInt(),
                                            samples.value(5).toInt(), samples.value(6).toInt(),
                                            samples.value(7).toByteArray()));
            samples.finish();

            QSqlQuery records = Exec(db, pg, QStringLiteral("SELECT id, seq, kind, recorded_at, host, os_user, program, "
                                                            "version, body, detail, prev_hash, hash FROM r310_record "
                                                            "WHERE instrument_id = ? ORDER BY seq"),
                                     {h.id});
            QString previous;
            qint64 expected = 1;
            // The newest record of each kind the row follows: its id, time and body.
            std::map<std::size_t, std::tuple<qint64, QString, QString>> newest; // by LatestKinds()
            std::set<qint64> downloads;
            while (records.next()) {
                const qint64 id = records.value(0).toLongLong();
                const qint64 seq = records.value(1).toLongLong();
                if (seq != expected) {
                    result.problem = QStringLiteral("record %1 of %2 was removed or reordered (record %3 follows "
                                                    "record %4)")
                                         .arg(expected).arg(who).arg(seq).arg(expected - 1);
                    return result;
                }
                StoredRecord r;
                r.kind = records.value(2).toString();
                r.recordedAt = records.value(3).toString();
                r.host = records.value(4).toString();
                r.user = records.value(5).toString();
                r.program = records.value(6).toString();
                r.version = records.value(7).toString();
                const QString body = records.value(8).toString();
                const QByteArray detail = records.value(9).toByteArray();
                QString digest;
                if (r.kind == kind::kEvents || r.kind == kind::kDatalog) {
                    const auto found = rows.find(seq);
                    const QByteArray rowsDigest = found == rows.end()
                                                      ? QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256)
                                                      : found->second->result();
                    digest = DetailDigest(detail, rowsDigest);
                    downloads.insert(seq);
                }
                if (records.value(10).toString() != previous) {
                    result.problem = QStringLiteral("record %1 of %2 (id %3) does not follow record %4: a record was "
                                                    "removed, reordered or changed")
                                         .arg(seq).arg(who).arg(id).arg(seq - 1);
                    return result;
                }
                const QString hash = RecordHash(previous, h.serial, seq, r, body, digest);
                if (hash != records.value(11).toString()) {
                    result.problem = QStringLiteral("record %1 of %2 (id %3, %4 of %5) was changed")
                                         .arg(seq).arg(who).arg(id).arg(r.kind, r.recordedAt);
                    return result;
                }
                if (FollowsKind(r.kind)) {
                    const QJsonObject parsed = QJsonDocument::fromJson(body.toUtf8()).object();
                    for (std::size_t n = 0; n < LatestKinds().size(); ++n) {
                        if (LatestKinds()[n].follows(r.kind, parsed))
                            newest[n] = {id, r.recordedAt, body};
                    }
                }
                previous = hash;
                ++expected;
                ++result.checked;
            }
            records.finish();
            for (const auto &entry : rows) {
                if (!downloads.count(entry.first)) {
                    result.problem = QStringLiteral("stored events or samples of %1 name record %2, which is no "
                                                    "download of it (changed)")
                                         .arg(who).arg(entry.first);
                    return result;
                }
            }
            if (h.seq != expected - 1 || h.hash != previous) {
                result.problem = QStringLiteral("the last records of %1 were removed or changed: the chain ends at "
                                                "record %2, its head names record %3")
                                     .arg(who).arg(expected - 1).arg(h.seq);
                return result;
            }
            for (std::size_t n = 0; n < LatestKinds().size(); ++n) {
                const LatestKind &latest = LatestKinds()[n];
                const auto found = newest.find(n);
                if ((found == newest.end() ? 0 : std::get<0>(found->second)) != h.latest[n]) {
                    result.problem = QStringLiteral("the latest %1 record that %2 names is not its newest (changed)")
                                         .arg(latest.kind, who);
                    return result;
                }
                const QVariantList wanted =
                    found == newest.end()
                        ? QVariantList(static_cast<qsizetype>(latest.fields.size()))
                        : LatestValues(latest, std::get<1>(found->second),
                                       QJsonDocument::fromJson(std::get<2>(found->second).toUtf8()).object());
                if (!SameLatestValues(latest, h.fields[n], wanted)) {
                    result.problem = QStringLiteral("what %1 keeps in its row of its latest %2 record differs from "
                                                    "that record (changed)")
                                         .arg(who, latest.kind);
                    return result;
                }
            }
        }
        result.ok = true;
    } catch (const SqlFailure &failure) {
        result.problem = failure.text;
    }
    return result;
}

} // namespace r310::records
