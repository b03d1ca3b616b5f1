#pragma once
// The records as people read them: the instrument list and an instrument's
// history, as lines of text and as JSON (dates YYYY-MM-DD, times ISO 8601
// in UTC, numbers as JSON numbers in the instrument's unit). The window and
// r310ctl show the same.
#include "RecordStore.h"

#include <QDate>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <vector>

namespace r310::records {

struct InstrumentRow {
    QString serial;
    QString customerId;
    QString gasUnit;         // "ppm CO"
    QString softwareVersion;
    QString lastSeen;        // ISO 8601, UTC
    QString lastCalibrationDate;
    QString lastCalibrationKind;    // "zero", "span"
    QString lastCalibrationOutcome; // "OK", "Error", ...
    QString nextCalibration; // YYYY-MM-DD; empty when no settings are on record
    QString nextBumpTest;
    bool calibrationOverdue = false;
    bool bumpTestOverdue = false;
};

// A row per instrument; `today` decides what is overdue.
std::vector<InstrumentRow> InstrumentRows(const std::vector<InstrumentSummary> &instruments, const QDate &today);

QJsonObject InstrumentJson(const InstrumentRow &row);
// The list with a heading line, columns aligned.
QStringList InstrumentLines(const std::vector<InstrumentRow> &rows);

// One record: "2026-12-09T21:40:00.123Z  settings  a1=20 ...".
QString HistoryLine(const StoredRecord &record);
// A bump test's results: "A1 1, A2 1, T50 12".
QString BumpTestText(const QJsonValue &a1, const QJsonValue &a2, const QJsonValue &t50);
// What a record says, in a few words, without time and kind.
QString HistorySummary(const StoredRecord &record);
QJsonObject HistoryJson(const StoredRecord &record);

} // namespace r310::records
