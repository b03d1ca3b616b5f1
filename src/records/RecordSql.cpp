#include "RecordSql.h"

#include <QJsonDocument>

namespace r310::records::detail {

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

QSqlQuery Exec(QSqlDatabase &db, bool postgres, const QString &sql, const QVariantList &values)
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

extern const QString kRecordColumns;
const QString kRecordColumns = QStringLiteral(
    "r.id, r.seq, i.serial, r.kind, r.recorded_at, r.host, r.os_user, r.program, r.version, r.body, r.hash");

StoredRecord RecordFrom(const QSqlQuery &q, int first)
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

BulkInsert::BulkInsert(QSqlDatabase &db, bool postgres, QString table, QStringList columns)
    : db_(db), postgres_(postgres), table_(std::move(table)), columns_(std::move(columns)),
      rowsPerStatement_((postgres ? 4000 : 900) / static_cast<int>(columns_.size()))
{
}

void BulkInsert::Add(const QVariantList &row)
{
    values_.append(row);
    if (values_.size() >= rowsPerStatement_ * columns_.size())
        Flush();
}

void BulkInsert::Flush()
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

} // namespace r310::records::detail
