#include "RecordedLogs.h"

#include "RecordExport.h"

#include <DataLoggerExport.h>

namespace r310::records {

namespace {

// The name the viewer shows: the instrument and the time of the download.
QString LogName(const StoredRecord &record)
{
    return QStringLiteral("%1 %2 %3 (records)").arg(record.serial, record.kind, record.recordedAt.left(16));
}

// The instrument's latest settings on record before `record`.
std::optional<StoredRecord> SettingsBefore(RecordStore &store, const StoredRecord &record, QString *error)
{
    std::optional<StoredRecord> settings;
    for (StoredRecord &r : store.History(record.serial, {}, error)) {
        if (r.seq > record.seq)
            break;
        if (r.kind == kind::kSettings)
            settings = std::move(r);
    }
    return settings;
}

} // namespace

logs::AlarmLevels AlarmLevelsOfSettings(const QJsonObject &settingsBody, int gasCode, int unitCode)
{
    logs::AlarmLevels levels;
    if (settingsBody.value(QStringLiteral("gasCode")).toInt(-1) != gasCode
        || settingsBody.value(QStringLiteral("unitCode")).toInt(-1) != unitCode)
        return levels;
    const QJsonObject settings = settingsBody.value(QStringLiteral("settings")).toObject();
    const std::pair<const char *, std::optional<double> *> keys[] = {
        {"a1", &levels.a1}, {"a2", &levels.a2}, {"a3", &levels.a3}, {"stel", &levels.stel}, {"twa", &levels.twa}};
    for (const auto &[key, level] : keys) {
        bool number = false;
        const double value = settings.value(QLatin1String(key)).toString().toDouble(&number);
        if (number)
            *level = value;
    }
    for (std::size_t k = 0; k < levels.falling.size(); ++k)
        levels.falling[k] = settings.value(QStringLiteral("a%1-fall-below").arg(k + 1)).toString() == QLatin1String("on");
    return levels;
}

std::optional<RecordedLog> RecordedLogOf(RecordStore &store, const StoredRecord &record, const QLocale &locale,
                                         const GasTextLookup &gasTexts, QString *error)
{
    RecordedLog recorded;
    recorded.serial = record.serial;
    if (record.kind == kind::kEvents) {
        const std::optional<QStringList> lines = DownloadExportLines(store, record, locale, gasTexts, error);
        if (!lines)
            return std::nullopt;
        recorded.log = std::make_shared<logs::LogFile>(logs::EventLogOfLines(*lines, locale, LogName(record)));
        return recorded;
    }
    const std::optional<logs::LoggerExportData> data = DownloadLoggerData(store, record, locale, gasTexts, error);
    if (!data)
        return std::nullopt;
    std::optional<std::pair<int, int>> firstSet; // gas and unit
    for (const logs::LoggerBlock &block : data->blocks) {
        for (const logs::LoggerSampleSet &set : block.sets) {
            if (set.valid() && !firstSet)
                firstSet = std::pair<int, int>(set.gasCode, set.unitCode);
        }
    }
    recorded.log = std::make_shared<logs::LogFile>(logs::LoggerLogOfDownload(*data, LogName(record)));
    QString settingsError;
    if (const std::optional<StoredRecord> settings = SettingsBefore(store, record, &settingsError);
        settings && firstSet)
        recorded.levels = AlarmLevelsOfSettings(settings->body, firstSet->first, firstSet->second);
    return recorded;
}

} // namespace r310::records
