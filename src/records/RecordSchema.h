#pragma once
// The tables of the service records, version by version, for SQLite and
// PostgreSQL. Version 1 kept the chains; version 2 adds to each instrument
// the rows of its latest connection, settings, calibration and bump test,
// so the instrument list reads one row per instrument; version 3 adds the
// register of test-gas cylinders; version 4 keeps those latest records'
// times and bodies in the instrument's row too (its "facts"), so the list
// reads nothing else.
#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>

namespace r310::records {

// Creates the tables of `version` (1 to 4) in an empty database and notes
// the version; false with *error on failure. Runs inside the caller's
// transaction.
bool CreateSchema(QSqlDatabase &db, bool postgres, int version, QString *error);
// The version the database notes; 0 for a database without our tables.
int SchemaVersion(QSqlDatabase &db, QString *error);
// Takes the tables from `from` to the newest version, step by step.
bool MigrateSchema(QSqlDatabase &db, bool postgres, int from, QString *error);

// One entry of an instrument's facts: a latest record's id, time and body
// (as stored, parsed).
QJsonObject LatestFact(qint64 id, const QString &recordedAt, const QString &bodyText);

} // namespace r310::records
