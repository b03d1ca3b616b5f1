#pragma once
// The service records in one database: SQLite on this PC or PostgreSQL for a
// fleet, through Qt SQL.
//
// Every record belongs to one instrument (by serial number) and is only
// ever appended: a record of kind "connection", "settings", "write",
// "calibration", "horn-check", "bump-test", "events" or "datalog", its time
// (UTC), the workstation, the operating-system user, the program and its
// version, and a body of JSON. Each instrument's records form a chain: a
// record carries the hash of its content and of the record before it, and
// the instrument's row holds the chain's head and what the instrument list
// shows of its latest connection, settings, calibration and bump test, each
// field in a column of its own (records verify checks both). Downloaded
// events and logger samples are kept once per instrument, each row tagged
// with the download that first brought it; that download's hash covers them.
//
// Appending takes the chain's head under a lock (a write transaction in
// SQLite, SELECT ... FOR UPDATE in PostgreSQL) and retries on a conflict,
// so several programs and workstations can record at once.
#include "RecordsLocation.h"

#include <EventLog.h>
#include <LoggerRecords.h>

#include <QByteArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310::records {

// The schema this program writes; an older one is migrated on opening.
constexpr int kSchemaVersion = 7;

// Who made the records of a program run.
struct RecordOrigin {
    QString host;
    QString user;
    QString program;
    QString version;
};
// This workstation, the logged-in user, the given program and this build's version.
RecordOrigin CurrentOrigin(const QString &program);

namespace kind {
inline const QString kConnection = QStringLiteral("connection");
inline const QString kSettings = QStringLiteral("settings");
inline const QString kWrite = QStringLiteral("write");
inline const QString kCalibration = QStringLiteral("calibration");
inline const QString kHornCheck = QStringLiteral("horn-check");
inline const QString kBumpTest = QStringLiteral("bump-test");
inline const QString kEvents = QStringLiteral("events");
inline const QString kDatalog = QStringLiteral("datalog");
} // namespace kind

// What a span calibration's record and certificate say without a cylinder.
inline const QString kTestGasNotRecorded = QStringLiteral("test gas not recorded");

struct AppendResult {
    bool ok = false;
    qint64 id = 0;    // the record's row
    qint64 seq = 0;   // its place in the instrument's chain, from 1
    qint64 added = 0; // a download's events or samples not stored before
    QString error;
};

// A stored record as the history shows it.
struct StoredRecord {
    qint64 id = 0;
    qint64 seq = 0;
    QString serial;
    QString kind;
    QString recordedAt; // ISO 8601, UTC
    QString host;
    QString user;
    QString program;
    QString version;
    QJsonObject body;
    QString hash;
};

// One line of the instrument list: what its latest records of each kind
// say, as the instrument's row keeps it (empty text, no number, where no
// such record is on record).
struct InstrumentSummary {
    QString serial;
    // The latest connection: its time (ISO 8601, UTC) and what the instrument told.
    QString lastSeen;
    QString customerId;
    QString softwareVersion;
    QString connectionGasUnit; // "ppm CO"
    // The latest settings.
    QString settingsGasUnit;
    QString nextCalibration; // YYYY-MM-DD
    QString nextBumpTest;
    // The latest calibration: its time, "zero" or "span", "OK", "Error", ...
    QString calibratedAt;
    QString calibrationKind;
    QString calibrationOutcome;
    // The latest bump test: its time and the results the instrument reported.
    QString bumpTestedAt;
    std::optional<double> bumpA1;
    std::optional<double> bumpA2;
    std::optional<double> bumpT50;
    QString bumpOutcome;  // "passed", "failed", "no result", ...; empty in older records
    QString bumpCylinder; // the lot of its test gas
    // The bump interval in days of the latest settings.
    QString bumpInterval;
    // The latest span calibration that passed: its time.
    QString spanCalibratedAt;
    // The latest bump test that passed: its time.
    QString bumpPassedAt;
};

// How the chains were found.
struct VerifyResult {
    bool ok = false;
    qint64 checked = 0; // records whose hashes were recomputed
    QString problem;    // the first record changed, removed or reordered
};

class RecordStore {
public:
    // Opens the database, creating the schema on first use and migrating an
    // older one in place (a SQLite file is copied aside first). Null with
    // *error when the database cannot be opened or has a newer schema.
    static std::unique_ptr<RecordStore> Open(const RecordsTarget &target, QString *error);
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    const RecordsTarget &target() const { return target_; }
    void setOrigin(const RecordOrigin &origin) { origin_ = origin; }
    const RecordOrigin &origin() const { return origin_; }

    // Appends a record to the instrument's chain.
    AppendResult Append(const QString &serial, const QString &kind, const QJsonObject &body);
    // An event download: the record, and each event read that is not on
    // record yet (by its number, type and time), in one transaction.
    AppendResult AppendEvents(const QString &serial, QJsonObject body, const logs::EventTable &table);
    // A logger download: the record, and each sample of the valid sets that
    // is not on record yet (by its set's gas and unit and its time).
    AppendResult AppendLogger(const QString &serial, QJsonObject body, const std::vector<logs::LoggerBlock> &blocks);

    // The newest record of a kind, if any.
    std::optional<StoredRecord> Latest(const QString &serial, const QString &kind, QString *error = nullptr);
    // Every instrument, by serial number.
    std::vector<InstrumentSummary> Instruments(QString *error = nullptr);
    // An instrument's records in chain order, from `since` (ISO date or time) on.
    std::vector<StoredRecord> History(const QString &serial, const QString &since, QString *error = nullptr);
    // A record of the instrument by its id.
    std::optional<StoredRecord> Record(qint64 id, QString *error = nullptr);

    // What a stored download read, to write its export file again.
    std::optional<logs::EventTable> EventDownload(qint64 recordId, QString *error = nullptr);
    std::optional<std::vector<logs::LoggerBlock>> LoggerDownload(qint64 recordId, QString *error = nullptr);

    // Walks every chain; the first record changed, removed or reordered.
    VerifyResult Verify();

    QSqlDatabase database() const;

private:
    RecordStore(const RecordsTarget &target, QString connectionName);
    bool postgres() const { return target_.kind == RecordsTarget::Kind::Postgres; }
    class Transaction;
    struct Pending;
    AppendResult AppendWith(const QString &serial, const QString &kind, const QJsonObject &body,
                            const std::function<bool(Pending &)> &details);

    RecordsTarget target_;
    QString connectionName_;
    RecordOrigin origin_;
};

} // namespace r310::records
