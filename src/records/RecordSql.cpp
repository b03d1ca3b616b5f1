#include "RecordSql.h"

namespace r310::records {

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

} // namespace r310::records
