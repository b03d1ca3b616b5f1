#pragma once
// An instrument's page: what the fleet shows of it, its calibration
// certificates as PDF downloads, each data logger download as a chart with
// its alarm levels and exposure figures, and its whole history (connections,
// settings with the values written, old and new, calibrations, bump tests,
// downloads).
#include "RecordsSource.h"

#include <DecodeAnswer.h>
#include <RecordedLogs.h>

#include <QString>

#include <optional>

namespace r310::web {

struct InstrumentPageResult {
    bool found = false; // the instrument is on record
    QString error;      // the records could not be read
    QString body;
};

InstrumentPageResult InstrumentBody(records::RecordStore &store, const FleetSnapshot &fleet, const QString &serial,
                                    int soonDays, const GasTextLookup &gasTexts);

// A data logger download of the records, for its chart; empty with *error
// when `id` is none.
std::optional<records::RecordedLog> LoggerDownloadOf(records::RecordStore &store, qint64 id,
                                                     const GasTextLookup &gasTexts, QString *error);

} // namespace r310::web
