#include "RecordsLink.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace r310::records {

namespace {

std::atomic<int> stuckThreads{0};

} // namespace

// What the records thread and the session share; the thread keeps it alive
// when the session leaves it behind.
struct RecordsLink::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stop = false;
    std::unique_ptr<RecordStore> store; // the records thread's alone
    QString openError;
    std::atomic<int> delivered{-1};
    bool done = false; // the records thread ended
    std::set<qint64> written; // queued appends the records thread finished (written or failed)
    std::vector<std::pair<qint64, QString>> failed; // and those of them that failed, with why
    std::atomic<bool> abandoned{false}; // the session stopped waiting: nothing more is committed
};

RecordsLink::RecordsLink(const RecordsTarget &target, const RecordOrigin &origin, QString spoolPath, int budgetMs)
    : shared_(std::make_shared<Shared>()), spoolPath_(std::move(spoolPath)), origin_(origin), target_(target.text()),
      budgetMs_(budgetMs)
{
    QString keyError;
    key_ = WorkstationKey(&keyError);
    std::thread([shared = shared_, target, origin, spool = spoolPath_] {
        {
            QString error;
            std::unique_ptr<RecordStore> store = RecordStore::Open(target, &error);
            if (store) {
                store->setOrigin(origin);
                store->setCommitGuard([raw = shared.get()] { return !raw->abandoned.load(); });
                shared->delivered = DeliverSpool(spool, *store).delivered;
            }
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->store = std::move(store);
            shared->openError = error;
        }
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(shared->mutex);
                shared->wake.wait(lock, [&shared] { return shared->stop || !shared->jobs.empty(); });
                if (shared->jobs.empty())
                    break;
                job = std::move(shared->jobs.front());
                shared->jobs.pop_front();
            }
            job();
        }
        shared->store.reset();
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->done = true;
        shared->wake.notify_all();
    }).detach();
}

RecordsLink::~RecordsLink()
{
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        shared_->stop = true;
        shared_->wake.notify_all();
        // What is left of the budget, for the records already on their way.
        const auto left = std::chrono::milliseconds(stalled_ ? 0 : std::max<qint64>(0, budgetMs_ - waitedMs_));
        done = shared_->wake.wait_for(lock, left, [this] { return shared_->done; });
        if (!done) {
            shared_->abandoned = true;
            shared_->jobs.clear();
            ++stuckThreads;
        }
    }
    SpoolStuck(); // what failed on the way
    for (auto &[number, queued] : pending_)
        Spool(queued.first, QStringLiteral("the records database did not answer in time"));
}

bool RecordsLink::Stuck() { return stuckThreads.load() > 0; }

int RecordsLink::delivered() const { return shared_->delivered.load(); }

template <typename T> std::optional<T> RecordsLink::Call(std::function<T(RecordStore &)> job)
{
    if (stalled_)
        return std::nullopt;
    const qint64 limit = queued_ ? kQueuedLookupMs : budgetMs_ - waitedMs_;
    auto task = std::make_shared<std::packaged_task<std::optional<T>()>>([shared = shared_, job]() -> std::optional<T> {
        if (!shared->store)
            return std::nullopt;
        return job(*shared->store);
    });
    std::future<std::optional<T>> result = task->get_future();
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->jobs.emplace_back([task] { (*task)(); });
        shared_->wake.notify_all();
    }
    QElapsedTimer waited;
    waited.start();
    // Waits in short steps, so that an interruption ends the wait at once.
    while (result.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (waited.elapsed() >= limit || (interrupted_ && interrupted_())) {
            if (queued_)
                return std::nullopt; // a look-up given up; the thread is judged by its appends
            waitedMs_ += waited.elapsed();
            stalled_ = true;
            shared_->abandoned = true;
            return std::nullopt;
        }
    }
    waitedMs_ += waited.elapsed();
    return result.get();
}

AppendResult RecordsLink::Spool(SpoolEntry entry, const QString &why)
{
    AppendResult result;
    result.spooled = true;
    QString error;
    if (!key_ || !SpoolAppend(spoolPath_, *key_, entry, &error)) {
        result.error = key_ ? error : QStringLiteral("no records key to sign the spool");
        problem_ = result.error;
        return result;
    }
    ++spooled_;
    result.error = QStringLiteral("%1; records waiting: %2 (kept for the next run)").arg(why).arg(spooled_);
    problem_ = result.error;
    return result;
}

AppendResult RecordsLink::Queue(SpoolEntry entry)
{
    SpoolStuck();
    if (stalled_)
        return Spool(entry, QStringLiteral("the records database does not answer"));
    const qint64 number = ++queuedCount_;
    pending_.emplace(number, std::make_pair(entry, QDateTime::currentMSecsSinceEpoch()));
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->jobs.emplace_back([shared = shared_, entry, number] {
        QString why = shared->openError;
        if (shared->store) {
            RecordStore &store = *shared->store;
            store.setRecordedAt(entry.recordedAt);
            const AppendResult result = entry.events   ? store.AppendEvents(entry.serial, entry.body, *entry.events)
                                        : entry.blocks ? store.AppendLogger(entry.serial, entry.body, *entry.blocks)
                                                       : store.Append(entry.serial, entry.kind, entry.body);
            store.setRecordedAt(QString());
            why = result.ok ? QString() : result.error;
        }
        const std::lock_guard<std::mutex> done(shared->mutex);
        shared->written.insert(number);
        if (!why.isEmpty())
            shared->failed.emplace_back(number, why);
    });
    shared_->wake.notify_all();
    AppendResult result;
    result.ok = true;
    return result;
}

void RecordsLink::SpoolStuck()
{
    std::vector<std::pair<qint64, QString>> failed;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        for (const qint64 number : shared_->written) {
            if (std::none_of(shared_->failed.begin(), shared_->failed.end(),
                             [number](const auto &f) { return f.first == number; }))
                pending_.erase(number);
        }
        shared_->written.clear();
        failed.swap(shared_->failed);
    }
    for (const auto &[number, why] : failed) {
        const auto found = pending_.find(number);
        if (found != pending_.end()) {
            Spool(found->second.first, why);
            pending_.erase(found);
        }
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (pending_.empty() || now - pending_.begin()->second.second < budgetMs_)
        return;
    // The records thread has been stuck on the oldest longer than the budget:
    // everything queued waits in the spool instead, and is never committed.
    stalled_ = true;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->abandoned = true;
        shared_->jobs.clear();
    }
    for (auto &[number, queued] : pending_)
        Spool(queued.first, QStringLiteral("the records database did not answer in time"));
    pending_.clear();
}

int RecordsLink::waiting()
{
    SpoolStuck();
    return spooled_ + static_cast<int>(pending_.size());
}

void RecordsLink::Drain(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (queued_ && waiting() > spooled_ && waited.elapsed() < ms && !(interrupted_ && interrupted_()))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

AppendResult RecordsLink::Write(SpoolEntry entry)
{
    entry.recordedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    entry.origin = origin_;
    entry.target = target_;
    if (queued_)
        return Queue(entry);
    const SpoolEntry copy = entry;
    const std::optional<AppendResult> written = Call<AppendResult>([copy](RecordStore &store) {
        store.setRecordedAt(copy.recordedAt);
        const AppendResult result = copy.events   ? store.AppendEvents(copy.serial, copy.body, *copy.events)
                                    : copy.blocks ? store.AppendLogger(copy.serial, copy.body, *copy.blocks)
                                                  : store.Append(copy.serial, copy.kind, copy.body);
        store.setRecordedAt(QString());
        return result;
    });
    if (!written) {
        QString openError;
        {
            const std::lock_guard<std::mutex> lock(shared_->mutex);
            openError = shared_->openError;
        }
        return Spool(entry, !openError.isEmpty() ? openError
                                                 : QStringLiteral("the records database did not answer in time"));
    }
    if (!written->ok)
        return Spool(entry, written->error);
    problem_.clear();
    return *written;
}

AppendResult RecordsLink::Append(const QString &serial, const QString &kind, const QJsonObject &body)
{
    return Write({{}, serial, kind, {}, {}, body, std::nullopt, std::nullopt});
}

AppendResult RecordsLink::AppendEvents(const QString &serial, const QJsonObject &body, const logs::EventTable &table)
{
    return Write({{}, serial, kind::kEvents, {}, {}, body, table, std::nullopt});
}

AppendResult RecordsLink::AppendLogger(const QString &serial, const QJsonObject &body,
                                       const std::vector<logs::LoggerBlock> &blocks)
{
    return Write({{}, serial, kind::kDatalog, {}, {}, body, std::nullopt, blocks});
}

std::optional<StoredRecord> RecordsLink::Latest(const QString &serial, const QString &kind)
{
    const std::optional<std::optional<StoredRecord>> found =
        Call<std::optional<StoredRecord>>([serial, kind](RecordStore &store) { return store.Latest(serial, kind); });
    return found ? *found : std::nullopt;
}

} // namespace r310::records
