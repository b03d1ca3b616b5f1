#include "EventLogJobs.h"

#include "DecodedValues.h"
#include "Transaction.h"

#include <QElapsedTimer>

#include <algorithm>
#include <utility>

namespace r310::logs {

namespace {

// Ticks each exchange arms the response timer with; the transaction's
// per-attempt wait governs reads, the armed ticks a write.
constexpr std::int32_t kEventReadTicks = 2;
constexpr std::int32_t kClearWriteTicks = 20;
constexpr std::int32_t kClearReadBackTicks = 5;

void PlainEventRecordBranch(const AnswerFrame &, InstrumentRecord &) {}

void EventPropertiesBranch(const AnswerFrame &, InstrumentRecord &)
{
    // The counters change nothing the engine keeps; the front ends show
    // them from the answer (DecodeEventProperties).
}

enum class Exchange { Answered, NoAnswer, NotSent };

// One request and its answer; the answer stays in the receive buffer for the
// decoder. `resent` tells whether the first attempt's wait ran out, so the
// request went out again and an answer to it may still be on its way.
Exchange RunExchange(JobContext &job, const RequestBuffer &request, std::int32_t ticks,
                     Transaction::AttemptWait wait = Transaction::AttemptWait::Standard, bool *resent = nullptr)
{
    const bool portOpen = job.port().Open();
    Transaction &transaction = job.transaction();
    transaction.ArmResponseTimer(ticks);
    QElapsedTimer clock;
    clock.start();
    // With the port closed this shows "Comport nicht geöffnet!" and sends nothing.
    transaction.RunTransaction(request, wait);
    if (resent)
        *resent = clock.elapsed() >= Transaction::kAttemptTicks * transaction.TickLength().count();
    const TransactionResult result = transaction.Result();
    Exchange outcome = Exchange::Answered;
    if (!portOpen)
        outcome = Exchange::NotSent;
    else if (result.Failed() || result.Cancelled)
        outcome = Exchange::NoAnswer;
    if (outcome != Exchange::Answered)
        job.view().SetLamp(LampColour::Red);
    return outcome;
}

// Decodes the answer in the receive buffer and returns it as received too.
std::pair<DecodedAnswer, AnswerFrame> DecodeReceived(JobContext &job)
{
    AnswerFrame frame = AnswerFrameFromBuffer(job.transaction().Received());
    DecodedAnswer answer = job.sequences().DecodeAnswer();
    return {std::move(answer), std::move(frame)};
}

QString ProgressText(int number, int count, int onRecord)
{
    const QString text = QStringLiteral("Reading event %1 of %2").arg(number).arg(count);
    return onRecord > 0 ? text + QStringLiteral(" \u2014 %1 already on record").arg(onRecord) : text;
}

void FinishDownload(JobContext &job, EventDownload &result)
{
    result.outcome = Outcome::Done;
    result.missing = result.table.MissingIndices();
    const DecodeEnvironment &environment = job.decoder().environment();
    result.lines = EventExportLines(result.table, EventLineFormat{environment.locale, environment.gasTexts});
    job.reportProgress(result.count, result.count,
                       QStringLiteral("%1 of %2 events read").arg(result.table.filledCount()).arg(result.count));
}

// Answers to an event request that are still on their way would be taken
// for the next event's (every event answer looks alike). Reading another
// object lets them pass: the instrument answers in order, and the
// transaction passes over answers of other objects until its own comes.
bool LetLateAnswersPass(JobContext &job)
{
    return job.sequences().ReadEventProperties();
}

// Event `number` as the instrument holds it now, in the result's table;
// false when it could not be read (the download stops as a failed read would).
bool ReadOne(JobContext &job, EventDownload &result, EventCapture &capture, int number)
{
    result.lastAsked = number;
    const EventRead read = ReadEventRecord(job, static_cast<std::uint16_t>(number), capture);
    if (read.answerMayFollow && !job.cancelled())
        LetLateAnswersPass(job);
    return read.outcome == Outcome::Done;
}

// Takes events 1 to n from the records when event 1 and the newest event on
// record (n) still match what the instrument holds at their numbers; returns n.
int TakeFromRecords(JobContext &job, EventDownload &result, EventCapture &capture, const EventTable &onRecord)
{
    int newest = onRecord.size();
    while (newest > 0 && !onRecord.at(newest - 1))
        --newest;
    if (newest == 0 || !onRecord.at(0))
        return 0;
    if (newest > result.count) {
        result.readAllBecause = QStringLiteral("the log holds fewer events than on record");
        return 0;
    }
    const std::vector<int> checks = newest == 1 ? std::vector<int>{1} : std::vector<int>{1, newest};
    for (const int number : checks) {
        if (job.cancelled() || !ReadOne(job, result, capture, number))
            return 0;
        if (result.table.at(number - 1) != onRecord.at(number - 1)) {
            result.readAllBecause = QStringLiteral("event %1 changed since it was put on record").arg(number);
            return 0;
        }
    }
    for (int j = 1; j < newest - 1; ++j)
        result.table.Take(j, onRecord.at(j));
    return newest;
}

void RunDownload(JobContext &job, EventDownload &result, int count, const EventTable *onRecord)
{
    result.count = std::clamp(count, 0, EventTable::kMaxEntries);
    result.table.Prepare(result.count);
    EventCapture capture(job.decoder(), result.table);
    if (onRecord)
        result.onRecord = TakeFromRecords(job, result, capture, *onRecord);
    // Exchanges in a row that got no answer.
    int unanswered = 0;
    const auto answered = [&unanswered](bool yes) { unanswered = yes ? 0 : unanswered + 1; };
    for (int number = result.onRecord + 1; number <= result.count; ++number) {
        if (job.cancelled()) {
            result.outcome = Outcome::Cancelled;
            return;
        }
        job.reportProgress(number - 1, result.count, ProgressText(number, result.count, result.onRecord));
        result.lastAsked = number;
        const EventRead read = ReadEventRecord(job, static_cast<std::uint16_t>(number), capture);
        if (read.outcome == Outcome::PortClosed) {
            result.outcome = Outcome::PortClosed;
            return;
        }
        // A refused event is missing, but the instrument is there.
        answered(read.outcome != Outcome::NoAnswer);
        // Answers with a wrong checksum are no silence: the line works, but not well enough.
        const bool damaged = read.outcome == Outcome::NoAnswer
                          && job.transaction().Result().ResponseStatus == kAssembleBadCrc;
        if (read.outcome == Outcome::ErrorReport)
            result.refusals = true;
        if (read.answerMayFollow && unanswered < kMaxConsecutiveUnanswered && !job.cancelled())
            answered(LetLateAnswersPass(job));
        if (job.cancelled()) {
            result.outcome = Outcome::Cancelled;
            return;
        }
        if (unanswered >= kMaxConsecutiveUnanswered) {
            result.outcome = damaged ? Outcome::Damaged : Outcome::LineLost;
            return;
        }
    }
    FinishDownload(job, result);
}

void RunClear(JobContext &job, EventClear &result, std::uint16_t maxEvents)
{
    result.maxEvents = maxEvents;
    RequestBuffer request{};
    const auto payload = EventClearPayload(maxEvents);
    std::copy(payload.begin(), payload.end(), request.begin() + kOffsetPayload);
    BuildWriteRequest(kObjectEventProperties, kEventClearSize, request);
    if (RunExchange(job, request, kClearWriteTicks, Transaction::AttemptWait::Armed) != Exchange::Answered)
        return;
    result.written = true;
    result.refused = DecodeReceived(job).first.errorReport;
    if (job.cancelled())
        return;

    RequestBuffer readBack{};
    BuildReadRequest(kObjectEventProperties, readBack);
    if (RunExchange(job, readBack, kClearReadBackTicks) != Exchange::Answered)
        return;
    const auto [answer, frame] = DecodeReceived(job);
    result.properties = DecodeEventProperties(frame);
    result.readBack = result.properties.has_value();
    if (answer.errorReport)
        result.refused = true;
    if (job.cancelled())
        return;
    // The data logger's counters share the instrument's log memory.
    job.sequences().ReadLoggerInfo();
}

} // namespace

void InstallEventLogDecoders(AnswerDecoder &decoder)
{
    decoder.setBranch(kObjectEventRecord, &PlainEventRecordBranch);
    decoder.setBranch(kObjectEventProperties, &EventPropertiesBranch);
}

struct EventCapture::State {
    EventTable *table = nullptr;
    int expected = -1;
    bool stored = false;
};

EventCapture::EventCapture(AnswerDecoder &decoder, EventTable &table)
    : decoder_(decoder), state_(std::make_shared<State>())
{
    state_->table = &table;
    decoder_.setBranch(kObjectEventRecord, [state = state_](const AnswerFrame &frame, InstrumentRecord &) {
        if (state->expected < 0)
            return;
        state->stored = state->table->Fill(state->expected, frame);
        // One answer per request: a second one cannot overwrite another entry.
        state->expected = -1;
    });
}

EventCapture::~EventCapture()
{
    decoder_.setBranch(kObjectEventRecord, &PlainEventRecordBranch);
}

void EventCapture::Expect(int index)
{
    state_->expected = index;
    state_->stored = false;
    // Emptied before the read: a failed read leaves nothing behind.
    state_->table->Empty(index);
}

bool EventCapture::Stored() const
{
    return state_->stored;
}

EventRead ReadEventRecord(JobContext &job, std::uint16_t number, EventCapture &capture)
{
    capture.Expect(number - 1);
    RequestBuffer request{};
    request[kOffsetPayload] = static_cast<std::uint8_t>(number & 0xFF);
    request[kOffsetPayload + 1] = static_cast<std::uint8_t>(number >> 8);
    BuildSelectReadRequest(kObjectEventRecord, kEventSelectorSize, request);
    bool resent = false;
    switch (RunExchange(job, request, kEventReadTicks, Transaction::AttemptWait::Standard, &resent)) {
    case Exchange::NotSent:
        return {Outcome::PortClosed, false};
    case Exchange::NoAnswer:
        return {Outcome::NoAnswer, true};
    case Exchange::Answered:
        break;
    }
    job.sequences().DecodeAnswer();
    return {capture.Stored() ? Outcome::Done : Outcome::ErrorReport, resent};
}

ConnectionJob EventDownloadJob(int count, std::shared_ptr<EventDownload> result,
                               std::shared_ptr<const EventTable> onRecord)
{
    return [count, result = std::move(result), onRecord = std::move(onRecord)](JobContext &job) {
        RunDownload(job, *result, count, onRecord.get());
    };
}

ConnectionJob EventClearJob(std::uint16_t maxEvents, std::shared_ptr<EventClear> result)
{
    return [maxEvents, result = std::move(result)](JobContext &job) { RunClear(job, *result, maxEvents); };
}

} // namespace r310::logs
