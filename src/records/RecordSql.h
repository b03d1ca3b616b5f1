#pragma once
// The SQL plumbing the service records share: statements that throw on
// failure, the write transaction, many-row inserts, and the little-endian
// bytes the chain's digests cover.
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

namespace r310::records {

// An SQL statement that failed; `retry` when another writer held what it needed.
struct SqlFailure {
    QString text;
    bool retry = false;
};


bool IsConflict(const QSqlError &error, bool postgres);
QString ErrorText(const QSqlError &error);
// Runs `sql` with `values` bound in order; throws SqlFailure on failure.
QSqlQuery Exec(QSqlDatabase &db, bool postgres, const QString &sql, const QVariantList &values = {});

inline QString Hex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex()); }
inline QByteArray Sha256(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

void PutU16(QByteArray &out, std::uint16_t v);
void PutI32(QByteArray &out, std::int32_t v);

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

// One write transaction: SQLite takes its write lock at once, so two
// writers never both read the same chain head.
class Transaction {
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

} // namespace r310::records
