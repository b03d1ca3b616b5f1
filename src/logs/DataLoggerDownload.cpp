#include "DataLoggerDownload.h"

#include "LoggerPlan.h"

#include <DecodedValues.h>
#include <ReadSequences.h>
#include <Transaction.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>

namespace r310::logs {

namespace {

// Every logger read arms the response timer with 2 ticks; the transaction's
// per-attempt wait governs.
constexpr std::int32_t kLoggerArmTicks = 2;

std::int64_t AttemptMilliseconds(const Transaction &transaction)
{
    return std::chrono::milliseconds(transaction.TickLength()).count() * Transaction::kAttemptTicks;
}

// An exchange that needed more than one attempt may still have an answer on
// its way (the first attempt's, arriving late). Blocks and sets carry no
// number of their own, so such an answer must not be taken for the next
// request's: the line is given one attempt's time to go quiet, and what
// arrives meanwhile is passed over by the transaction, which holds its answer.
void LetLateAnswerPass(JobContext &job, std::int64_t exchangeMilliseconds)
{
    const std::int64_t attempt = AttemptMilliseconds(job.transaction());
    if (exchangeMilliseconds <= attempt)
        return;
    QElapsedTimer quiet;
    quiet.start();
    // The 100 ms tick keeps this loop waking up.
    while (quiet.elapsed() < attempt && !job.cancelled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

LoggerAnswer Exchange(JobContext &job, const RequestBuffer &request, std::uint8_t object, std::size_t payloadSize)
{
    LoggerAnswer answer;
    Transaction &transaction = job.transaction();
    const bool portOpen = job.port().Open();
    QElapsedTimer took;
    took.start();
    transaction.ArmResponseTimer(kLoggerArmTicks);
    transaction.RunTransaction(request);
    const TransactionResult result = transaction.Result();
    if (!portOpen || result.Cancelled || result.Failed()) {
        job.view().SetLamp(LampColour::Red);
        answer.failure = !portOpen ? Outcome::PortClosed
                       : result.Cancelled ? Outcome::Cancelled
                       : result.ResponseStatus == kAssembleBadCrc ? Outcome::Damaged
                                          : Outcome::NoAnswer;
        return answer;
    }
    answer.frame = AnswerFrameFromBuffer(transaction.Received());
    const DecodedAnswer decoded = job.sequences().DecodeAnswer();
    LetLateAnswerPass(job, took.elapsed());
    if (decoded.errorReport)
        answer.failure = Outcome::ErrorReport;
    else if (answer.frame.object != object || answer.frame.flags != kFlagsDataAnswer
             || answer.frame.payload.size() < payloadSize)
        answer.failure = Outcome::WrongAnswer;
    return answer;
}

// Looks up the texts of the sets' gas and unit codes while the gas table is
// at hand (the engine's decoder holds it).
void AddGasTexts(JobContext &job, const LoggerBlock &block, LoggerExportData &data)
{
    const GasTextLookup &lookup = job.decoder().environment().gasTexts;
    for (const LoggerSampleSet &set : block.sets) {
        const std::uint16_t key = GasTextKey(set.unitCode, set.gasCode);
        if (set.valid() && !data.gasTexts.count(key))
            data.gasTexts.emplace(key, lookup ? lookup(set.unitCode, set.gasCode) : QString());
    }
}

class Download {
public:
    Download(JobContext &job, LoggerDownloadResult &result, const std::vector<LoggerBlock> *onRecord)
        : job_(job), result_(result), onRecord_(onRecord)
    {
    }

    void run()
    {
        result_.data.locale = job_.decoder().environment().locale;
        const LoggerAnswer info = ReadLoggerInfo(job_);
        if (!info.ok()) {
            fail(info.failure);
            return;
        }
        result_.info = LoggerInfoFromAnswer(info.frame);
        // The count is unsigned: 32768 blocks and more are read as well.
        result_.blockCount = result_.info->blockCount();
        result_.data.blocks.reserve(static_cast<std::size_t>(result_.blockCount));
        job_.reportProgress(0, result_.blockCount, LoggerProgressText(0, result_.blockCount));
        if (onRecord_ && !onRecord_->empty() && !takeFromRecords())
            return;
        for (int b = result_.onRecord + 1; b <= result_.blockCount; ++b) {
            result_.currentBlock = b;
            if (job_.cancelled()) {
                fail(Outcome::Cancelled);
                return;
            }
            if (!readBlock(b))
                return;
        }
        result_.outcome = Outcome::Done;
    }

private:
    // Finds which blocks are on record and takes them; false when a header
    // read failed.
    bool takeFromRecords()
    {
        Outcome failure = Outcome::Done;
        const LoggerHeaderRead read = [this, &failure](int number) -> std::optional<LoggerBlockHeader> {
            result_.currentBlock = number;
            if (job_.cancelled()) {
                failure = Outcome::Cancelled;
                return std::nullopt;
            }
            const LoggerAnswer answer = ReadLoggerBlock(job_, static_cast<std::uint16_t>(number));
            if (!answer.ok()) {
                failure = answer.failure;
                return std::nullopt;
            }
            return LoggerBlockHeaderFromAnswer(answer.frame);
        };
        const LoggerPlan plan = PlanLoggerDownload(*onRecord_, result_.blockCount, read, [](int low, int high) {
            return QRandomGenerator::global()->bounded(low, high + 1);
        });
        if (plan.stopped)
            return fail(failure);
        result_.readAllBecause = plan.readAllBecause;
        result_.onRecord = plan.kept;
        const auto first = onRecord_->begin() + static_cast<std::ptrdiff_t>(plan.firstOnRecord);
        result_.data.blocks.assign(first, first + plan.kept);
        for (const LoggerBlock &block : result_.data.blocks)
            AddGasTexts(job_, block, result_.data);
        job_.reportProgress(plan.kept, result_.blockCount,
                            LoggerProgressText(plan.kept, result_.blockCount, plan.kept));
        return true;
    }

    bool readBlock(int b)
    {
        const LoggerAnswer answer = ReadLoggerBlock(job_, static_cast<std::uint16_t>(b));
        if (!answer.ok())
            return fail(answer.failure);
        LoggerBlock block;
        block.header = *LoggerBlockHeaderFromAnswer(answer.frame);
        job_.reportProgress(b, result_.blockCount, LoggerProgressText(b, result_.blockCount, result_.onRecord));
        if (block.header.setsReadable()) {
            block.sets.reserve(block.header.setCount);
            for (int k = 1; k <= block.header.setCount; ++k) {
                const LoggerAnswer set = ReadLoggerSampleSet(job_, static_cast<std::uint8_t>(k));
                if (!set.ok())
                    return fail(set.failure);
                block.sets.push_back(*LoggerSampleSetFromAnswer(set.frame));
            }
        }
        AddGasTexts(job_, block, result_.data);
        result_.data.blocks.push_back(std::move(block));
        return true;
    }

    bool fail(Outcome failure)
    {
        result_.outcome = failure;
        // Nothing of a failed download is kept for saving; what was read
        // whole goes to the records as unfinished.
        result_.unfinished = std::move(result_.data.blocks);
        result_.data.blocks = {};
        return false;
    }

    JobContext &job_;
    LoggerDownloadResult &result_;
    const std::vector<LoggerBlock> *onRecord_;
};

} // namespace

QString LoggerDownloadResult::failureText(const QString &givenReason) const
{
    const QString where = currentBlock == 0 ? QStringLiteral("reading the logger information")
                                            : QStringLiteral("at block %1 of %2").arg(currentBlock).arg(blockCount);
    const QString reason = !givenReason.isEmpty() ? givenReason
                         : OutcomeText(outcome);
    // Damaged answers are no silence: the line works, but not well enough.
    if (givenReason.isEmpty() && outcome == Outcome::Damaged)
        return QStringLiteral("Data logger download stopped: %1 %2. Nothing was saved").arg(reason, where);
    return QStringLiteral("Data logger download stopped %1: %2. Nothing was saved").arg(where, reason);
}

ConnectionJob DataLoggerDownloadJob(std::shared_ptr<LoggerDownloadResult> result,
                                    std::shared_ptr<const std::vector<LoggerBlock>> onRecord)
{
    return [result, onRecord](JobContext &job) {
        *result = LoggerDownloadResult();
        Download(job, *result, onRecord.get()).run();
    };
}

QString LoggerProgressText(int block, int blocks, int onRecord)
{
    const QString text = QStringLiteral("Block %1 of %2").arg(block).arg(blocks);
    return onRecord > 0 ? text + QStringLiteral(" \u2014 %1 already on record").arg(onRecord) : text;
}

LoggerAnswer ReadLoggerInfo(JobContext &job)
{
    RequestBuffer request{};
    BuildReadRequest(kObjectLoggerInfo, request);
    return Exchange(job, request, kObjectLoggerInfo, kLoggerInfoSize);
}

LoggerAnswer ReadLoggerBlock(JobContext &job, std::uint16_t block)
{
    RequestBuffer request{};
    request[kOffsetPayload] = static_cast<std::uint8_t>(block & 0xFF);
    request[kOffsetPayload + 1] = static_cast<std::uint8_t>(block >> 8);
    BuildSelectReadRequest(kObjectLoggerBlock, 2, request);
    return Exchange(job, request, kObjectLoggerBlock, kLoggerBlockHeaderSize);
}

LoggerAnswer ReadLoggerSampleSet(JobContext &job, std::uint8_t set)
{
    RequestBuffer request{};
    request[kOffsetPayload] = set;
    BuildSelectReadRequest(kObjectLoggerSampleSet, 1, request);
    return Exchange(job, request, kObjectLoggerSampleSet, kLoggerSampleSetSize);
}

} // namespace r310::logs
