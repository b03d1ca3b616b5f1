#pragma once
// The tables of the service records, version by version, for SQLite and
// PostgreSQL. Version 1 kept the chains; version 2 adds to each instrument
// the rows of its latest connection, settings, calibration and bump test,
// so the instrument list reads one row per instrument; version 3 adds the
// register of test-gas cylinders; version 4 keeps those latest records'
// times and bodies in the instrument's row too (its "facts"), so the list
// reads nothing else; version 5 keeps instead only the fields the list shows
// of them, each in a column of its own, so the list parses nothing; version
// 6 keys logger samples by block, set and index, so no set is dropped;
// version 7 follows also the bump test's outcome and cylinder, the bump
// interval of the settings, and the latest passed span calibration and
// bump test; version 8 signs every record and cylinder row and keeps the
// keys that signed them.
#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <vector>

namespace r310::records {

struct KeyPair;

// A field of an instrument's row that follows its latest record of a kind.
struct LatestField {
    const char *column;
    const char *key; // in the record's body ("a.b" inside an object); null for the record's time
    bool number;     // a number (or none), else text
    int since = 5;   // the schema version that added the column
};

// What an instrument's row keeps of its latest record of a kind: the
// record's id, and the fields the instrument list shows.
struct LatestKind {
    QString kind;
    const char *idColumn;
    std::vector<LatestField> fields;
    // Only records whose body it accepts are followed; null: every record of the kind.
    bool (*accepts)(const QJsonObject &body) = nullptr;
    int since = 5; // the schema version that added the row's columns of this entry

    bool follows(const QString &recordKind, const QJsonObject &body) const
    {
        return recordKind == kind && (!accepts || accepts(body));
    }
};

// The connection, settings, calibration, bump test, passed span
// calibration and passed bump test, in this order, each with its fields in the order the
// instrument list reads them.
const std::vector<LatestKind> &LatestKinds();
// The entries that follow a record of `kind` with this body; empty for the
// kinds an instrument's row does not follow.
std::vector<const LatestKind *> LatestKindsFollowing(const QString &kind, const QJsonObject &body);
// Whether an instrument's row follows records of `kind` at all.
bool FollowsKind(const QString &kind);
// A calibration record that counts as the instrument's last calibration:
// a span calibration that passed (older records: that the instrument reported "OK").
bool PassedSpanCalibration(const QJsonObject &body);
// A bump test record whose outcome is "passed" (older records: all three values positive).
bool PassedBumpTest(const QJsonObject &body);
// The fields' values for a record of the kind: its time, the body's text
// (empty when it holds no text there), or its number (null when none).
QVariantList LatestValues(const LatestKind &latest, const QString &recordedAt, const QJsonObject &body);
// Whether the values read from an instrument's row are those of `expected`.
bool SameLatestValues(const LatestKind &latest, const QVariantList &stored, const QVariantList &expected);

// Creates the tables of `version` in an empty database and notes the
// version; false with *error on failure. Runs inside the caller's
// transaction. `signer` signs the records a migration finds unsigned.
bool CreateSchema(QSqlDatabase &db, bool postgres, int version, QString *error, const KeyPair *signer = nullptr);
// The version the database notes; 0 for a database without our tables.
int SchemaVersion(QSqlDatabase &db, QString *error);
// Takes the tables from `from` to the newest version, step by step.
bool MigrateSchema(QSqlDatabase &db, bool postgres, int from, QString *error, const KeyPair *signer = nullptr);

} // namespace r310::records
