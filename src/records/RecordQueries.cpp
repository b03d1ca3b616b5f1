#include "RecordStore.h"

#include "RecordSchema.h"
#include "RecordSql.h"

#include <algorithm>

namespace r310::records {

using namespace detail;

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
            s.calibratedAt = text();
            s.calibrationKind = text();
            s.calibrationOutcome = text();
            s.bumpTestedAt = text();
            s.bumpA1 = number();
            s.bumpA2 = number();
            s.bumpT50 = number();
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

} // namespace r310::records
