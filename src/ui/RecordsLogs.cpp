#include "RecordsLogs.h"

#include "LogViewer.h"

#include <GasTable.h>
#include <RecordStore.h>
#include <RecordedLogs.h>

#include <QTabWidget>

namespace r310::ui {

LogViewer *ShowRecordedLog(records::RecordStore &store, qint64 recordId, const GasTable *gasTable, QWidget &parent,
                           QString *error)
{
    const std::optional<records::StoredRecord> record = store.Record(recordId, error);
    if (!record)
        return nullptr;
    GasTextLookup gasTexts;
    if (gasTable)
        gasTexts = [gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable->GasTexts(unit, gas); };
    const QLocale locale = QLocale::system();
    std::optional<records::RecordedLog> recorded = records::RecordedLogOf(store, *record, locale, gasTexts, error);
    if (!recorded)
        return nullptr;
    auto *viewer = new LogViewer(locale, &parent);
    const bool logger = record->kind == records::kind::kDatalog;
    if (logger) {
        const QString gas = recorded->log->series.empty() ? QString() : recorded->log->series.front().gas;
        viewer->SetInstrument(InstrumentText(recorded->serial, gas));
        viewer->ShowLogger(std::move(recorded->log), recorded->levels);
    } else {
        viewer->ShowEvents(std::move(recorded->log));
    }
    viewer->tabs().setCurrentIndex(logger ? 0 : 1);
    viewer->show();
    viewer->raise();
    return viewer;
}

} // namespace r310::ui
