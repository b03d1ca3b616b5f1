#pragma once
// What the records hold of an instrument's logs, for a download to read only
// what is new: the blocks or events of its newest download, complete or
// stopped (an unfinished one holds what was read before the stop).
#include "RecordStore.h"

#include <EventLog.h>
#include <LoggerRecords.h>

#include <memory>
#include <vector>

namespace r310::records {

// Null when none is on record (or the records cannot be read: *error).
std::shared_ptr<const std::vector<logs::LoggerBlock>> LoggerBlocksOnRecord(RecordStore &store, const QString &serial,
                                                                           QString *error = nullptr);
std::shared_ptr<const logs::EventTable> EventsOnRecord(RecordStore &store, const QString &serial,
                                                       QString *error = nullptr);

} // namespace r310::records
