// A data logger download read back from the records: its layout from its
// record, every sample of its sets from the rows on record.
#include "RecordStore.h"

#include "RecordLoggerRows.h"

#include <QJsonDocument>
#include <QSqlQuery>

namespace r310::records {

std::optional<std::vector<logs::LoggerBlock>> RecordStore::LoggerDownload(qint64 recordId, QString *error)
{
    QSqlDatabase db = database();
    QSqlQuery r(db);
    r.prepare(QStringLiteral("SELECT instrument_id, detail, body FROM r310_record WHERE id = ? AND (kind = ? OR kind = ?)"));
    r.addBindValue(recordId);
    r.addBindValue(kind::kDatalog);
    r.addBindValue(kind::kDatalogUnfinished);
    const auto failed = [error](const QString &text) {
        if (error)
            *error = text;
        return std::nullopt;
    };
    if (!r.exec())
        return failed(r.lastError().text());
    if (!r.next())
        return failed(QStringLiteral("no logger download with record id %1").arg(recordId));
    const qint64 instrument = r.value(0).toLongLong();
    std::optional<std::vector<logs::LoggerBlock>> blocks = detail::BlocksOfLayout(r.value(1).toByteArray());
    const bool bySet = QJsonDocument::fromJson(r.value(2).toString().toUtf8()).object().value(detail::kSampleRowsKey).toInt()
                    >= detail::kSampleRowsBySet;
    r.finish();
    if (!blocks)
        return failed(QStringLiteral("the download's layout is cut short"));
    try {
        detail::FillSamples(db, postgres(), instrument, bySet, *blocks);
    } catch (const detail::RowsFailure &failure) {
        return failed(failure.text);
    }
    return blocks;
}

} // namespace r310::records
