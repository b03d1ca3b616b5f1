#pragma once
// The records of one session, written on a thread of their own so that the
// database never holds up the instrument: each call waits for the records
// thread at most what is left of the session's budget (5 s in all), and an
// interruption ends a wait at once. What is not written in time, or fails,
// goes to the user's spool (RecordSpool.h), signed, for the next run. A
// records thread stuck in a database that stopped answering is left
// behind; RecordsLink::Stuck() tells the program to end without waiting
// for it.
#include "RecordSpool.h"
#include "RecordStore.h"

#include <EventLog.h>
#include <LoggerRecords.h>

#include <QJsonObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace r310::records {

// The most a queued link's look-up waits, and the most it waits for its
// queue before what the user asked for reads the records.
constexpr int kQueuedLookupMs = 300;
constexpr int kQueuedDrainMs = 1000;

// The most a session waits for the database, in all: under 5 s with what
// ending the session costs.
constexpr int kSessionBudgetMs = 4500;

class RecordsLink {
public:
    // Opens the store on the records thread and delivers the spool there.
    RecordsLink(const RecordsTarget &target, const RecordOrigin &origin, QString spoolPath = SpoolPath(),
                int budgetMs = kSessionBudgetMs);
    ~RecordsLink();
    RecordsLink(const RecordsLink &) = delete;
    RecordsLink &operator=(const RecordsLink &) = delete;

    // Queued: an append never waits (for a window, whose every click is
    // answered at once); it is written when the records thread gets to it,
    // and spooled when that fails or the thread has been stuck longer than
    // the budget. A look-up waits at most kQueuedLookupMs.
    void setQueued(bool queued) { queued_ = queued; }
    // Records not written yet: queued, or in the spool from this session.
    // Also spools what a stuck records thread holds.
    int waiting();
    // Waits until nothing is queued, at most `ms` (nothing when not queued).
    void Drain(int ms);
    // A wait ends at once when this says so (Ctrl+C, SIGTERM).
    void setInterrupted(std::function<bool()> interrupted) { interrupted_ = std::move(interrupted); }

    // As RecordStore's; a record not written in time is spooled, and the
    // result says so (ok false, `spooled` true).
    AppendResult Append(const QString &serial, const QString &kind, const QJsonObject &body);
    AppendResult AppendEvents(const QString &serial, const QJsonObject &body, const logs::EventTable &table);
    AppendResult AppendLogger(const QString &serial, const QJsonObject &body, const std::vector<logs::LoggerBlock> &blocks);
    std::optional<StoredRecord> Latest(const QString &serial, const QString &kind);

    // Records of this session in the spool.
    int spooled() const { return spooled_; }
    // Records of earlier sessions the records thread delivered from the spool (once known).
    int delivered() const;
    // Why the last record was not written; empty while all were.
    const QString &problem() const { return problem_; }
    // Whether a records thread of this program is stuck in the database.
    static bool Stuck();

private:
    struct Shared;
    template <typename T> std::optional<T> Call(std::function<T(RecordStore &)> job);
    AppendResult Queue(SpoolEntry entry);
    void SpoolStuck();
    AppendResult Spool(SpoolEntry entry, const QString &why);
    AppendResult Write(SpoolEntry entry);

    std::shared_ptr<Shared> shared_;
    QString spoolPath_;
    RecordOrigin origin_;
    QString target_;
    std::optional<KeyPair> key_;
    int budgetMs_;
    qint64 waitedMs_ = 0;
    bool stalled_ = false;
    int spooled_ = 0;
    QString problem_;
    std::function<bool()> interrupted_;
    bool queued_ = false;
    // Queued appends by number, not written yet, and since when.
    std::map<qint64, std::pair<SpoolEntry, qint64>> pending_;
    qint64 queuedCount_ = 0;
};

} // namespace r310::records
