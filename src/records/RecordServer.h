#pragma once
// A PostgreSQL server that holds the service records append-only: the
// schema, and two roles the database administrator grants to the login
// roles of people and programs. r310_writer may read and add records but
// not change or remove them; r310_reader may only read. Privileges say so,
// and triggers refuse an UPDATE, DELETE or TRUNCATE of the records tables
// to anyone, the tables' owner too. The instrument rows (their chain heads)
// and the cylinder register may change only forward: a head never goes
// back, a retired cylinder never returns, no row is removed.
#include "RecordStore.h"

#include <QString>

namespace r310::records {

inline const QString kWriterRole = QStringLiteral("r310_writer");
inline const QString kReaderRole = QStringLiteral("r310_reader");

// Sets up the store's PostgreSQL database (opened by its owner, which
// created the schema); false with *error. Running it again changes nothing.
bool SetUpServer(RecordStore &store, QString *error);

} // namespace r310::records
