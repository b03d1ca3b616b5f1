#pragma once
// The local spool of records that could not reach the database in time: a
// file in the user's data folder, readable by the user only, one signed
// entry a line. Each entry holds what its record needs to be appended
// later exactly as it would have been (its time, origin, body, and a
// download's events or samples); the next run that reaches the database
// delivers the entries in order and empties the spool.
#include "RecordStore.h"

#include <EventLog.h>
#include <LoggerRecords.h>

#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace r310::records {

struct SpoolEntry {
    QString target; // the records database it is for (RecordsTarget::text())
    QString serial;
    QString kind;
    QString recordedAt;
    RecordOrigin origin;
    QJsonObject body;
    std::optional<logs::EventTable> events;
    std::optional<std::vector<logs::LoggerBlock>> blocks;
};

// The spool file of this user: records-spool.jsonl beside the default records file.
QString SpoolPath();

// Appends the entry to the spool, signed with `key`; false with *error.
bool SpoolAppend(const QString &path, const KeyPair &key, const SpoolEntry &entry, QString *error);
// The number of entries waiting in the spool.
int SpoolCount(const QString &path);

struct SpoolDelivery {
    int delivered = 0;
    int waiting = 0; // left in the spool: the database failed, or an entry is not this user's
    QString error;
};
// Appends the spool's entries for the store's database, signed by its key,
// to it in order; what was delivered leaves the spool.
SpoolDelivery DeliverSpool(const QString &path, RecordStore &store);

} // namespace r310::records
