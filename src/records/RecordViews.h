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

// A serial number as typed, with or without its leading zeros ("1234",
// "00001234"), as the records keep it ("00001234"); other text as typed.
QString NormalizedSerial(const QString &typed);

struct InstrumentRow {
    QString serial;
    QString customerId;
    QString gasUnit;         // "ppm CO"
    QString softwareVersion;
    QString lastSeen;        // ISO 8601, UTC
    // The latest calibration of any kind.
    QString lastCalibrationDate;
    QString lastCalibrationKind;    // "zero", "span"
    QString lastCalibrationOutcome; // "passed", "failed", ...
    // The latest span calibration that passed: the one that counts.
    QString lastPassedSpanDate;
    // The latest bump test.
    QString lastBumpDate;
    QString lastBumpOutcome;  // "passed", "failed", "no result"
    QString lastBumpResult;   // "A1 28, A2 55, T50 12"; empty without values
    QString lastBumpCylinder; // its lot
    QString nextCalibration; // YYYY-MM-DD; empty when no settings are on record
    // The instrument's own next bump date, or a passed bump test's date plus
    // the bump interval when that is later.
    QString nextBumpTest;
    bool calibrationOverdue = false;
    bool bumpTestOverdue = false;
};

// A row per instrument; `today` decides what is overdue.
std::vector<InstrumentRow> InstrumentRows(const std::vector<InstrumentSummary> &instruments, const QDate &today);

QJsonObject InstrumentJson(const InstrumentRow &row);
// The list with a heading line, columns aligned.
QStringList InstrumentLines(const std::vector<InstrumentRow> &rows);

// The last calibration as the lists show it: "2026-12-09 span passed", or
// the latest one with ", no passed span" when no span calibration passed.
QString LastCalibrationText(const InstrumentRow &row);
// The last bump test: "2026-12-09 passed A1 28, A2 55, T50 12, cylinder L1".
QString LastBumpText(const InstrumentRow &row);

// One record: "2026-12-09T21:40:00.123Z  settings  a1=20 ...".
QString HistoryLine(const StoredRecord &record);
// A bump test's results: "A1 1, A2 1, T50 12".
QString BumpTestText(const QJsonValue &a1, const QJsonValue &a2, const QJsonValue &t50);
// What a record says, in a few words, without time and kind.
QString HistorySummary(const StoredRecord &record);
QJsonObject HistoryJson(const StoredRecord &record);

} // namespace r310::records
