#pragma once
// The service records in one database: SQLite on this PC or PostgreSQL for a
// fleet, through Qt SQL.
//
// Every record belongs to one instrument (by serial number) and is only
// ever appended: a record of kind "connection", "settings", "write",
// "calibration", "horn-check", "bump-test", "events" or "datalog" (or a
// download that stopped: "events-unfinished", "datalog-unfinished"), its time
// (UTC), the workstation, the operating-system user, the program and its
// version, and a body of JSON. Each instrument's records form a chain: a
// record carries the hash of its content and of the record before it, and
// the instrument's row holds the chain's head and what the instrument list
// shows of its latest connection, settings, calibration and bump test, each
// field in a column of its own (records verify checks both). Downloaded
// events and logger samples are kept once per instrument, each row tagged
// with the download that first brought it; that download's hash covers them.
// Events are keyed by number, type and time; logger samples by their block's
// first-sample time, their set's number in the block and their index.
//
// Every record is signed with this workstation user's key (RecordKeys.h)
// over its id and hash; the instrument's row keeps the chain's length and
// newest hash, which a head printed on a paper pins (records verify --head).
//
// Appending takes the chain's head under a lock (a write transaction in
// SQLite, SELECT ... FOR UPDATE in PostgreSQL) and retries on a conflict,
// so several programs and workstations can record at once.
#include "RecordKeys.h"
#include "RecordsLocation.h"

#include <EventLog.h>
#include <LoggerRecords.h>

#include <QByteArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace r310::records {

// The schema this program writes; an older one is migrated on opening.
constexpr int kSchemaVersion = 8;

// The bounded waits of the database: PostgreSQL's connection and
// statements, SQLite's wait for another program's lock, and the time an
// append keeps retrying a conflict.
constexpr int kConnectTimeoutSeconds = 2;
constexpr int kStatementTimeoutMs = 3000;
constexpr int kBusyWaitMs = 1500;
constexpr int kRetryBudgetMs = 3000;

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
// What a download that stopped had read: kept so the next one goes on from
// there, never shown or exported as a complete download.
inline const QString kEventsUnfinished = QStringLiteral("events-unfinished");
inline const QString kDatalogUnfinished = QStringLiteral("datalog-unfinished");
} // namespace kind

// What a span calibration's record and certificate say without a cylinder.
inline const QString kTestGasNotRecorded = QStringLiteral("test gas not recorded");

struct AppendResult {
    bool ok = false;
    qint64 id = 0;    // the record's row
    qint64 seq = 0;   // its place in the instrument's chain, from 1
    qint64 added = 0; // a download's events or samples not stored before
    QString error;
    bool spooled = false; // not written in time: kept in the spool for the next run
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
    QString signature; // base64; empty on a record kept unsigned
    QString keyId;
};

// A place in an instrument's chain as a paper prints it:
// "SERIAL:SEQ:HASH" (the first 16 hex digits of that record's hash).
struct ChainHead {
    QString serial;
    qint64 seq = 0;
    QString hash;
    QString text() const;
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
    // The head of its record chain when the list was read.
    ChainHead head;
};

// The head a text names; empty for a text that names none.
std::optional<ChainHead> ParseChainHead(const QString &text);

// What records verify checks besides the chains.
struct VerifyOptions {
    // The keys whose signatures count; without a list each record's
    // signature is checked against the key the database names.
    std::optional<std::vector<TrustedKey>> trusted;
    std::vector<ChainHead> heads; // each must still be on its chain
};

// How many records (and cylinder rows) a key signed.
struct KeySigned {
    QString keyId;
    QString host; // where the database says the key was first used
    QString user;
    qint64 count = 0;
    QString trustedAs; // its name in the trusted list; empty when not trusted
};

// How the chains were found.
struct VerifyResult {
    bool ok = false;
    qint64 checked = 0; // records whose hashes were recomputed
    QString problem;    // the first record changed, removed, reordered or not signed
    std::vector<KeySigned> signers;
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
    // The time (ISO 8601, UTC) the next records carry, for records
    // delivered later from the spool; empty: the time of appending.
    void setRecordedAt(const QString &recordedAt) { recordedAt_ = recordedAt; }
    // Asked before each append commits: false leaves the record unwritten
    // (its session gave up waiting and spooled it).
    void setCommitGuard(std::function<bool()> guard) { commitGuard_ = std::move(guard); }

    // Appends a record to the instrument's chain.
    AppendResult Append(const QString &serial, const QString &kind, const QJsonObject &body);
    // An event download: the record, and each event read that is not on
    // record yet (by its number, type and time), in one transaction.
    // recordKind: kEvents, or kEventsUnfinished for a download that stopped.
    AppendResult AppendEvents(const QString &serial, QJsonObject body, const logs::EventTable &table,
                              const QString &recordKind = kind::kEvents);
    // A logger download: the record, and each sample of the valid sets that
    // is not on record yet (by its block's first-sample time, its set's
    // number and its index). recordKind: kDatalog or kDatalogUnfinished.
    AppendResult AppendLogger(const QString &serial, QJsonObject body, const std::vector<logs::LoggerBlock> &blocks,
                              const QString &recordKind = kind::kDatalog);

    // The newest record of a kind, if any.
    std::optional<StoredRecord> Latest(const QString &serial, const QString &kind, QString *error = nullptr);
    // Every instrument, by serial number.
    std::vector<InstrumentSummary> Instruments(QString *error = nullptr);
    // An instrument's records in chain order, from `since` (ISO date or time) on.
    std::vector<StoredRecord> History(const QString &serial, const QString &since, QString *error = nullptr);
    // A record of the instrument by its id.
    std::optional<StoredRecord> Record(qint64 id, QString *error = nullptr);
    // The record of a kind whose hash starts with `hashStart`; empty (with
    // *error when two match or the database fails) when none does.
    std::optional<StoredRecord> RecordOfHash(const QString &hashStart, const QString &kind, QString *error);

    // What a stored download read, to write its export file again.
    std::optional<logs::EventTable> EventDownload(qint64 recordId, QString *error = nullptr);
    std::optional<std::vector<logs::LoggerBlock>> LoggerDownload(qint64 recordId, QString *error = nullptr);

    // Walks every chain and the cylinder register; the first record
    // changed, removed, reordered or not signed as `options` want it.
    VerifyResult Verify(const VerifyOptions &options = {});
    // The instrument's head now; empty when it is not on record.
    std::optional<ChainHead> Head(const QString &serial, QString *error = nullptr);

    // This user's key, made on first use; empty with keyError() when it cannot be read or made.
    const std::optional<KeyPair> &key() const { return key_; }
    const QString &keyError() const { return keyError_; }
    // The signature and key id of a row that `message` stands for, the key
    // noted in the database first; false with *error without a key.
    bool SignRow(const QByteArray &message, QString *signature, QString *keyId, QString *error);

    QSqlDatabase database() const;

private:
    RecordStore(const RecordsTarget &target, QString connectionName);
    bool postgres() const { return target_.kind == RecordsTarget::Kind::Postgres; }
    void NoteKey(); // throws SqlFailure
    struct Pending;
    AppendResult AppendWith(const QString &serial, const QString &kind, const QJsonObject &body,
                            const std::function<bool(Pending &)> &details);

    RecordsTarget target_;
    QString connectionName_;
    RecordOrigin origin_;
    QString recordedAt_;
    std::function<bool()> commitGuard_;
    std::optional<KeyPair> key_;
    QString keyError_;
    bool keyNoted_ = false;
};

} // namespace r310::records
