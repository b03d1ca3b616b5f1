#pragma once
// "Show…" in the records window: a stored download opened in a log viewer
// of its own, with the alarm levels of the instrument's settings on record.
#include <QString>

class QWidget;

namespace r310 {
class GasTable;
namespace records {
class RecordStore;
} // namespace records
} // namespace r310

namespace r310::ui {

class LogViewer;

// Opens a viewer (a top-level window owned by `parent`) on the download
// `recordId`; null with *error when it cannot be read from the records.
LogViewer *ShowRecordedLog(records::RecordStore &store, qint64 recordId, const GasTable *gasTable, QWidget &parent,
                           QString *error);

} // namespace r310::ui
