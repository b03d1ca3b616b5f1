#pragma once
// The records as the server reads them. Qt SQL keeps a connection to one
// thread, so every thread of the server opens its own store (read-only) on
// first use. The fleet is read whole at most every few seconds and shared
// by every request as one snapshot; sorted orders of it are made once per
// column. A thread of its own checks every record chain at start and then
// periodically, for the pages' banner.
#include <FleetReport.h>
#include <RecordStore.h>

#include <QDate>
#include <QDateTime>

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace r310::web {

// The fleet's columns, in the order the page shows them.
enum class FleetColumn { Serial, Customer, Gas, LastSeen, Calibrated, BumpTested, NextCalibration, NextBumpTest };
constexpr int kFleetColumns = 8;

class FleetSnapshot {
public:
    FleetSnapshot(std::vector<records::FleetRow> rows, const QDate &today, const QDateTime &readAt)
        : rows_(std::move(rows)),
          today_(today),
          readAt_(readAt)
    {}
    const std::vector<records::FleetRow> &rows() const { return rows_; }
    const QDate &today() const { return today_; }
    const QDateTime &readAt() const { return readAt_; }
    // Row indexes by the column's text, then by serial number (ascending).
    std::shared_ptr<const std::vector<int>> Order(FleetColumn column) const;
    // The row of a serial number, if on record.
    const records::FleetRow *Find(const QString &serial) const;

private:
    std::vector<records::FleetRow> rows_;
    QDate today_;
    QDateTime readAt_;
    mutable std::mutex mutex_;
    mutable std::array<std::shared_ptr<const std::vector<int>>, kFleetColumns> orders_;
};

// A column's text of a row, as the fleet sorts and filters it.
QString FleetText(const records::FleetRow &row, FleetColumn column);

struct VerifyStatus {
    bool running = false;
    QDateTime finishedAt; // invalid before the first check ended
    bool ok = false;
    qint64 checked = 0;
    QString problem; // the first changed record, or why the records could not be read
};

class RecordsSource {
public:
    RecordsSource(records::RecordsTarget target, std::chrono::seconds refresh, std::chrono::minutes verifyEvery);
    ~RecordsSource();
    RecordsSource(const RecordsSource &) = delete;
    RecordsSource &operator=(const RecordsSource &) = delete;

    // Opens the records once, to tell at start whether they can be read.
    bool Check(QString *error) const;
    // Starts the periodic verification.
    void StartVerifying();
    VerifyStatus Verification() const;

    // This thread's store; null with *error when it cannot be opened.
    records::RecordStore *Store(QString *error);
    // Forgets this thread's store after a failure, so the next request opens it again.
    void Drop();
    // The fleet as read at most `refresh` ago; null with *error.
    std::shared_ptr<const FleetSnapshot> Fleet(QString *error);

private:
    void VerifyLoop();

    records::RecordsTarget target_;
    std::chrono::seconds refresh_;
    std::chrono::minutes verifyEvery_;

    std::mutex fleetMutex_;
    std::shared_ptr<const FleetSnapshot> fleet_;
    std::chrono::steady_clock::time_point fleetRead_;
    bool refreshing_ = false;

    mutable std::mutex verifyMutex_;
    std::condition_variable verifyWake_;
    bool stopping_ = false;
    VerifyStatus status_;
    std::thread verifier_;
};

} // namespace r310::web
