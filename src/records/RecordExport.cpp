#include "RecordExport.h"

#include <DataLoggerExport.h>
#include <EventLog.h>

namespace r310::records {

std::optional<QStringList> DownloadExportLines(RecordStore &store, const StoredRecord &record, const QLocale &locale,
                                               const GasTextLookup &gasTexts, QString *error)
{
    if (record.kind == kind::kEvents) {
        const std::optional<logs::EventTable> table = store.EventDownload(record.id, error);
        if (!table)
            return std::nullopt;
        return logs::EventExportLines(*table, logs::EventLineFormat{locale, gasTexts});
    }
    const std::optional<logs::LoggerExportData> data = DownloadLoggerData(store, record, locale, gasTexts, error);
    if (!data)
        return std::nullopt;
    return logs::LoggerExportLines(*data);
}

std::optional<logs::LoggerExportData> DownloadLoggerData(RecordStore &store, const StoredRecord &record,
                                                         const QLocale &locale, const GasTextLookup &gasTexts,
                                                         QString *error)
{
    if (record.kind != kind::kDatalog) {
        *error = QStringLiteral("record %1 is no download").arg(record.id);
        return std::nullopt;
    }
    std::optional<std::vector<logs::LoggerBlock>> blocks = store.LoggerDownload(record.id, error);
    if (!blocks)
        return std::nullopt;
    logs::LoggerExportData data;
    data.blocks = std::move(*blocks);
    data.locale = locale;
    for (const logs::LoggerBlock &block : data.blocks) {
        for (const logs::LoggerSampleSet &set : block.sets) {
            if (set.valid())
                data.gasTexts.emplace(logs::GasTextKey(set.unitCode, set.gasCode),
                                      gasTexts ? gasTexts(set.unitCode, set.gasCode) : QString());
        }
    }
    return data;
}

} // namespace r310::records
