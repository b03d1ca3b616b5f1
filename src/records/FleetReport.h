#pragma once
// What falls due across the fleet, and the fleet report: every instrument
// on record with its last calibration and bump test and its next due
// dates, as the last stored settings hold them.
#include "RecordViews.h"

#include <QDate>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace r310::records {

// One calibration or bump test that falls due.
struct DueItem {
    QString serial;
    QString customerId;
    QString what; // "calibration", "bump test"
    QDate due;
    int daysOverdue = 0; // 0 on the day itself, negative while still ahead
};

// The calibrations and bump tests due on or before today + withinDays,
// by date, then serial.
std::vector<DueItem> DueItems(const std::vector<InstrumentRow> &rows, const QDate &today, int withinDays);
QJsonObject DueJson(const DueItem &item);
// A heading line and a line per item, columns aligned.
QStringList DueLines(const std::vector<DueItem> &items);
// The CSV file: a heading and a line per item, fields quoted where needed.
QStringList DueCsvLines(const std::vector<DueItem> &items);

// One row of the fleet report.
struct FleetRow {
    InstrumentRow instrument;
    // The place and head of the instrument's record chain the row was made
    // from ("SERIAL:SEQ:HASH16"), which records verify --head checks.
    QString head;
};

std::vector<FleetRow> FleetRows(const std::vector<InstrumentSummary> &instruments, const QDate &today);
// The table's heading and cells, the same for the PDF and for tests.
QStringList FleetHeadings();
QStringList FleetCells(const FleetRow &row);

} // namespace r310::records
