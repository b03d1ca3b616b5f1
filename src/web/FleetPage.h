#pragma once
// The fleet page: every instrument on record, a filter over its texts,
// sorting by any column and 100 rows a page; due dates already past in
// red, those within the chosen days in amber.
#include "RecordsSource.h"

#include <QString>

#include <functional>
#include <vector>

namespace r310::web {

constexpr int kFleetPageRows = 100;

struct FleetQuery {
    QString filter;
    FleetColumn column = FleetColumn::Serial;
    bool descending = false;
    int page = 1; // from 1
};
// From the page's query values (q, sort, order, page); unknown values fall back to the defaults.
FleetQuery ParseFleetQuery(const std::function<QString(const char *)> &value);

struct FleetSelection {
    std::vector<const records::FleetRow *> rows; // the page's
    int matching = 0;                            // rows the filter keeps
    int pages = 1;
    int page = 1; // within 1..pages
};
FleetSelection SelectFleet(const FleetSnapshot &fleet, const FleetQuery &query);

// How a due date stands: past, within `soonDays`, or neither.
enum class DueState { None, Soon, Overdue };
DueState DueStateOf(const QString &date, const QDate &today, int soonDays);

// The page's content (between the layout's header and end).
QString FleetBody(const FleetSnapshot &fleet, const FleetQuery &query, int soonDays);

} // namespace r310::web
