#pragma once
// A stored download as the log viewer shows it: the data logger's samples
// (one series per sample set's gas and unit, each run with the logging
// interval of its blocks) or the event log, read back from the records,
// with the alarm levels A1 to A3, STEL and TWA of the instrument's settings
// on record at the download.
#include "RecordStore.h"

#include <DecodeAnswer.h>
#include <Exposure.h>
#include <LogFileReader.h>

#include <QLocale>

#include <memory>
#include <optional>

namespace r310::records {

struct RecordedLog {
    QString serial;
    std::shared_ptr<const logs::LogFile> log;
    // Known for a data logger whose gas and unit are those of the settings on record.
    logs::AlarmLevels levels;
};

// The download `record` ("events" or "datalog") for the viewer; empty with
// *error when it is no download or its rows are not all on record.
std::optional<RecordedLog> RecordedLogOf(RecordStore &store, const StoredRecord &record, const QLocale &locale,
                                         const GasTextLookup &gasTexts, QString *error);

// The alarm levels of a settings record's body (keys a1, a2, a3, stel, twa
// in the instrument's unit), for samples of gas `gasCode` in unit `unitCode`;
// none when the settings are of another gas or unit.
logs::AlarmLevels AlarmLevelsOfSettings(const QJsonObject &settingsBody, int gasCode, int unitCode);

} // namespace r310::records
