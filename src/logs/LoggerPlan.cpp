#include "LoggerPlan.h"

#include <map>

namespace r310::logs {

namespace {

// The header reads of one plan, each block read once.
class Headers {
public:
    explicit Headers(const LoggerHeaderRead &read) : read_(read) {}
    const LoggerBlockHeader *at(int number)
    {
        const auto found = headers_.find(number);
        if (found != headers_.end())
            return &found->second;
        const std::optional<LoggerBlockHeader> header = read_(number);
        ++reads_;
        if (!header) {
            failed_ = true;
            return nullptr;
        }
        return &headers_.emplace(number, *header).first->second;
    }
    bool failed() const { return failed_; }
    int reads() const { return reads_; }

private:
    const LoggerHeaderRead &read_;
    std::map<int, LoggerBlockHeader> headers_;
    int reads_ = 0;
    bool failed_ = false;
};

// The block holding first-sample time `time`, by binary search; 0 when none does.
int FindBlock(Headers &headers, int blockCount, std::int32_t time)
{
    int low = 1;
    int high = blockCount;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const LoggerBlockHeader *header = headers.at(middle);
        if (!header)
            return 0;
        if (header->firstSampleTime == time)
            return middle;
        if (header->firstSampleTime < time)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return 0;
}

// The newest block on record, now at `number`: still the same, or the same
// block with more samples since (it was being filled).
bool Grew(const LoggerBlockHeader &onRecord, const LoggerBlockHeader &now)
{
    return now.state == onRecord.state && now.firstSampleTime == onRecord.firstSampleTime
        && now.interval == onRecord.interval && now.setCount == onRecord.setCount
        && onRecord.samplesPerSet() < kSamplesPerSet && now.reportedSamples > onRecord.reportedSamples;
}

} // namespace

bool SameBlockHeader(const LoggerBlockHeader &a, const LoggerBlockHeader &b)
{
    return a.state == b.state && a.firstSampleTime == b.firstSampleTime && a.interval == b.interval
        && a.reportedSamples == b.reportedSamples && a.setCount == b.setCount;
}

LoggerPlan PlanLoggerDownload(const std::vector<LoggerBlock> &onRecord, int blockCount, const LoggerHeaderRead &read,
                              const std::function<int(int, int)> &random)
{
    LoggerPlan plan;
    const int stored = static_cast<int>(onRecord.size());
    if (stored == 0 || blockCount == 0)
        return plan;
    if (blockCount < stored) {
        plan.readAllBecause = QStringLiteral("the logger holds fewer blocks than on record");
        return plan;
    }
    Headers headers(read);
    const auto finish = [&plan, &headers](const QString &why) {
        plan.headersRead = headers.reads();
        plan.stopped = headers.failed();
        if (!why.isEmpty() || plan.stopped) {
            plan.kept = 0;
            plan.firstOnRecord = 0;
            plan.readAllBecause = why;
        }
        return plan;
    };
    const LoggerBlockHeader &newest = onRecord.back().header;
    const int at = FindBlock(headers, blockCount, newest.firstSampleTime);
    if (headers.failed())
        return finish({});
    if (at == 0 || at > stored)
        return finish(QStringLiteral("the newest block on record is no longer in the logger"));
    // Instrument block n is block stored - at + n - 1 (0-based) on record.
    const std::size_t offset = static_cast<std::size_t>(stored - at);
    const LoggerBlockHeader *now = headers.at(at);
    if (!now)
        return finish({});
    const bool same = SameBlockHeader(*now, newest);
    if (!same && !Grew(newest, *now))
        return finish(QStringLiteral("block %1 changed since it was put on record").arg(at));
    std::vector<int> checks{1};
    if (at > 2) {
        checks.push_back(random(2, at - 1));
        checks.push_back(random(2, at - 1));
    }
    for (const int n : checks) {
        if (n == at)
            continue;
        const LoggerBlockHeader *header = headers.at(n);
        if (!header)
            return finish({});
        if (!SameBlockHeader(*header, onRecord[offset + static_cast<std::size_t>(n) - 1].header))
            return finish(QStringLiteral("block %1 changed since it was put on record").arg(n));
    }
    plan.kept = same ? at : at - 1;
    plan.firstOnRecord = offset;
    return finish({});
}

} // namespace r310::logs
