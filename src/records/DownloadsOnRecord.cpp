#include "DownloadsOnRecord.h"

#include <optional>

namespace r310::records {

namespace {

// The newer of the instrument's latest records of the two kinds.
std::optional<StoredRecord> NewestOf(RecordStore &store, const QString &serial, const QString &complete,
                                     const QString &unfinished, QString *error)
{
    std::optional<StoredRecord> a = store.Latest(serial, complete, error);
    std::optional<StoredRecord> b = store.Latest(serial, unfinished, error);
    if (!a || (b && b->seq > a->seq))
        return b;
    return a;
}

} // namespace

std::shared_ptr<const std::vector<logs::LoggerBlock>> LoggerBlocksOnRecord(RecordStore &store, const QString &serial,
                                                                           QString *error)
{
    const std::optional<StoredRecord> newest =
        NewestOf(store, serial, kind::kDatalog, kind::kDatalogUnfinished, error);
    if (!newest)
        return nullptr;
    std::optional<std::vector<logs::LoggerBlock>> blocks = store.LoggerDownload(newest->id, error);
    if (!blocks || blocks->empty())
        return nullptr;
    return std::make_shared<const std::vector<logs::LoggerBlock>>(std::move(*blocks));
}

std::shared_ptr<const logs::EventTable> EventsOnRecord(RecordStore &store, const QString &serial, QString *error)
{
    const std::optional<StoredRecord> newest = NewestOf(store, serial, kind::kEvents, kind::kEventsUnfinished, error);
    if (!newest)
        return nullptr;
    std::optional<logs::EventTable> table = store.EventDownload(newest->id, error);
    if (!table || table->filledCount() == 0)
        return nullptr;
    return std::make_shared<const logs::EventTable>(std::move(*table));
}

} // namespace r310::records
