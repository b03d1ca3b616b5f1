#pragma once
// The plumbing the record store's parts share: statements that throw on
// failure, the chain's hashes, the bytes a download's digest covers, and
// many rows inserted in one statement. Only the store's own files use it.
#include "RecordStore.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <tuple>

namespace r310::records::detail {

// An SQL statement that failed; `retry` when another writer held what it needed.
struct SqlFailure {
    QString text;
    bool retry = false;
};

bool IsConflict(const QSqlError &error, bool postgres);
QString ErrorText(const QSqlError &error);
// Runs `sql` (prepared, when it has values); throws SqlFailure.
QSqlQuery Exec(QSqlDatabase &db, bool postgres, const QString &sql, const QVariantList &values = {});

QString Hex(const QByteArray &bytes);
QByteArray Sha256(const QByteArray &bytes);

// The hash a record carries: its content and the hash of the record before it.
QString RecordHash(const QString &previous, const QString &serial, qint64 seq, const StoredRecord &r,
                   const QString &bodyText, const QString &detailDigest);
// A download's digest: of its layout, and of the rows it added in key order.
QString DetailDigest(const QByteArray &layout, const QByteArray &rowsDigest);

void PutU16(QByteArray &out, std::uint16_t v);
void PutI32(QByteArray &out, std::int32_t v);

// Little-endian fields read one after the other.
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

QByteArray EventRowBytes(int number, int type, std::int32_t time, const QByteArray &bytes);

// One run of samples as its download's digest covers it.
QByteArray SampleRunBytes(int gas, int unit, std::int32_t time, int step, int count, int exponent, int alarm,
                          const QByteArray &raws);

extern const QString kRecordColumns;
StoredRecord RecordFrom(const QSqlQuery &q, int first = 0);

// Inserts rows of `columns` values each, many in one statement.
class BulkInsert {
public:
    BulkInsert(QSqlDatabase &db, bool postgres, QString table, QStringList columns);
    void Add(const QVariantList &row);
    void Flush();

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

} // namespace r310::records::detail

namespace r310::records {

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
        detail::Exec(db_, postgres_, postgres_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
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
        detail::Exec(db_, postgres_, QStringLiteral("COMMIT"));
        done_ = true;
    }

private:
    QSqlDatabase &db_;
    bool postgres_;
    bool done_ = false;
};

} // namespace r310::records
