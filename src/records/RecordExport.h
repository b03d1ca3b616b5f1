#pragma once
// A stored download's export file again: the lines the window and r310ctl
// wrote when the events or samples came in, rebuilt from the records, in
// the given regional settings.
#include "RecordStore.h"

#include <DataLoggerExport.h>
#include <DecodeAnswer.h>

#include <QLocale>
#include <QStringList>

#include <optional>

namespace r310::records {

// The lines of the download `record` ("events" or "datalog"); empty with
// *error when its rows are not all on record.
std::optional<QStringList> DownloadExportLines(RecordStore &store, const StoredRecord &record, const QLocale &locale,
                                               const GasTextLookup &gasTexts, QString *error);

// The blocks of the data logger download `record`, with the gas texts of
// their sample sets, as its export and the log viewer take them; empty with
// *error when the record is no data logger download or its rows are not all
// on record.
std::optional<logs::LoggerExportData> DownloadLoggerData(RecordStore &store, const StoredRecord &record,
                                                         const QLocale &locale, const GasTextLookup &gasTexts,
                                                         QString *error);

} // namespace r310::records
