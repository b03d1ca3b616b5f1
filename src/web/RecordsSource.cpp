#include "RecordsSource.h"

#include <algorithm>

namespace r310::web {

namespace {

// The store of this thread, and the source it belongs to.
struct ThreadStore {
    const RecordsSource *owner = nullptr;
    std::unique_ptr<records::RecordStore> store;
};
thread_local ThreadStore threadStore;

} // namespace

QString FleetText(const records::FleetRow &row, FleetColumn column)
{
    const records::InstrumentRow &i = row.instrument;
    switch (column) {
    case FleetColumn::Serial: return i.serial;
    case FleetColumn::Customer: return i.customerId;
    case FleetColumn::Gas: return i.gasUnit;
    case FleetColumn::LastSeen: return i.lastSeen;
    case FleetColumn::Calibrated: return i.lastPassedSpanDate.isEmpty() ? i.lastCalibrationDate : i.lastPassedSpanDate;
    case FleetColumn::BumpTested: return i.lastBumpDate;
    case FleetColumn::NextCalibration: return i.nextCalibration;
    case FleetColumn::NextBumpTest: return i.nextBumpTest;
    }
    return {};
}

std::shared_ptr<const std::vector<int>> FleetSnapshot::Order(FleetColumn column) const
{
    const auto slot = static_cast<std::size_t>(column);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (orders_[slot])
            return orders_[slot];
    }
    // Sorted without the lock, so requests for other orders need not wait;
    // two requests for the same new order both sort, and the first one is kept.
    std::vector<int> order(rows_.size());
    for (std::size_t n = 0; n < order.size(); ++n)
        order[n] = static_cast<int>(n);
    std::vector<QString> keys(rows_.size());
    for (std::size_t n = 0; n < rows_.size(); ++n)
        keys[n] = FleetText(rows_[n], column).toCaseFolded();
    std::stable_sort(order.begin(), order.end(), [this, &keys](int a, int b) {
        const auto ia = static_cast<std::size_t>(a), ib = static_cast<std::size_t>(b);
        const int byColumn = keys[ia].compare(keys[ib]);
        return byColumn != 0 ? byColumn < 0 : rows_[ia].instrument.serial < rows_[ib].instrument.serial;
    });
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!orders_[slot])
        orders_[slot] = std::make_shared<const std::vector<int>>(std::move(order));
    return orders_[slot];
}

const records::FleetRow *FleetSnapshot::Find(const QString &serial) const
{
    // The store lists the instruments by serial number.
    const auto it =
        std::lower_bound(rows_.begin(), rows_.end(), serial,
                         [](const records::FleetRow &row, const QString &s) { return row.instrument.serial < s; });
    if (it != rows_.end() && it->instrument.serial == serial)
        return &*it;
    const auto linear = std::find_if(rows_.begin(), rows_.end(), [&serial](const records::FleetRow &row) {
        return row.instrument.serial == serial;
    });
    return linear == rows_.end() ? nullptr : &*linear;
}

RecordsSource::RecordsSource(records::RecordsTarget target, std::chrono::seconds refresh,
                             std::chrono::minutes verifyEvery)
    : target_(std::move(target)),
      refresh_(refresh),
      verifyEvery_(verifyEvery)
{
    target_.readOnly = true;
}

RecordsSource::~RecordsSource()
{
    {
        const std::lock_guard<std::mutex> lock(verifyMutex_);
        stopping_ = true;
    }
    verifyWake_.notify_all();
    if (verifier_.joinable())
        verifier_.join();
}

bool RecordsSource::Check(QString *error) const { return records::RecordStore::Open(target_, error) != nullptr; }

records::RecordStore *RecordsSource::Store(QString *error)
{
    if (threadStore.owner != this || !threadStore.store) {
        threadStore.store.reset();
        threadStore.store = records::RecordStore::Open(target_, error);
        threadStore.owner = this;
    }
    return threadStore.store.get();
}

void RecordsSource::Drop()
{
    if (threadStore.owner == this)
        threadStore.store.reset();
}

std::shared_ptr<const FleetSnapshot> RecordsSource::Fleet(QString *error)
{
    const QDate today = QDate::currentDate();
    {
        const std::lock_guard<std::mutex> lock(fleetMutex_);
        const bool fresh =
            fleet_ && std::chrono::steady_clock::now() - fleetRead_ < refresh_ && fleet_->today() == today;
        // While one request reads the fleet again, the others show the last one.
        if (fresh || (fleet_ && refreshing_))
            return fleet_;
        refreshing_ = true;
    }
    std::shared_ptr<const FleetSnapshot> read;
    QString problem;
    if (records::RecordStore *store = Store(&problem)) {
        const std::vector<records::InstrumentSummary> instruments = store->Instruments(&problem);
        if (problem.isEmpty())
            read = std::make_shared<const FleetSnapshot>(records::FleetRows(instruments, today), today,
                                                         QDateTime::currentDateTimeUtc());
        else
            Drop();
    }
    const std::lock_guard<std::mutex> lock(fleetMutex_);
    refreshing_ = false;
    if (!read) {
        *error = problem;
        return fleet_;
    }
    fleet_ = std::move(read);
    fleetRead_ = std::chrono::steady_clock::now();
    return fleet_;
}

void RecordsSource::StartVerifying()
{
    verifier_ = std::thread([this] { VerifyLoop(); });
}

VerifyStatus RecordsSource::Verification() const
{
    const std::lock_guard<std::mutex> lock(verifyMutex_);
    return status_;
}

void RecordsSource::VerifyLoop()
{
    std::unique_lock<std::mutex> lock(verifyMutex_);
    while (!stopping_) {
        status_.running = true;
        lock.unlock();
        VerifyStatus found;
        QString error;
        if (std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target_, &error)) {
            const records::VerifyResult result = store->Verify();
            found.ok = result.ok;
            found.checked = result.checked;
            found.problem = result.problem;
        } else {
            found.problem = QStringLiteral("the records cannot be read: %1").arg(error);
        }
        found.finishedAt = QDateTime::currentDateTimeUtc();
        lock.lock();
        status_ = found;
        verifyWake_.wait_for(lock, verifyEvery_, [this] { return stopping_; });
    }
}

} // namespace r310::web
