#include "CommandRequest.h"

#include <QTimer>

#include <algorithm>

namespace r310 {

namespace {

const QString kNoResponseText = QStringLiteral("No Response from device");

// Ticks one attempt of the request waits in the transaction.
std::int32_t TicksPerAttempt(const CommandRequest &request)
{
    if (request.write && request.wait == Transaction::AttemptWait::Armed)
        return std::max(Transaction::kAttemptTicks, request.armTicks);
    return Transaction::kAttemptTicks;
}

// Ends the transaction's wait half a tick before it would send the request
// once more than the request allows. The transaction knows only its five
// attempts; ending the wait early is how a write that must not be repeated
// soon is sent fewer times. The cancel is this object's own and is lifted
// again, unless the user cancelled as well.
class AttemptLimit {
public:
    AttemptLimit(Transaction &transaction, const CommandRequest &request) : transaction_(transaction)
    {
        if (request.attempts >= Transaction::kMaxAttempts)
            return;
        const int attempts = std::max(1, request.attempts);
        const auto tick = transaction.TickLength();
        // An attempt ends on its last tick; the next send follows at once.
        const auto limit = tick * (TicksPerAttempt(request) * attempts) - tick / 2;
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            if (transaction_.Cancelled())
                return;
            ended_ = true;
            transaction_.Cancel();
        });
        timer_.start(limit);
    }

    // Call after the transaction returned: true when the limit ended the wait.
    bool Lift()
    {
        timer_.stop();
        if (ended_)
            transaction_.ClearCancel();
        return ended_;
    }

private:
    Transaction &transaction_;
    QTimer timer_;
    bool ended_ = false;
};

RequestBuffer BuildRequest(const CommandRequest &request)
{
    RequestBuffer frame{};
    if (!request.write) {
        BuildReadRequest(request.object, frame);
        return frame;
    }
    return WriteRequestFrame(request.object, request.payload);
}

} // namespace

QString WriteOutcomeText(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::NotRun:
        return QStringLiteral("the request was not sent");
    case WriteOutcome::PortClosed:
        return QStringLiteral("the port is not open; nothing was sent");
    case WriteOutcome::NoAnswer:
        return QStringLiteral("the instrument did not answer");
    case WriteOutcome::Cancelled:
        return QStringLiteral("cancelled before the instrument answered");
    case WriteOutcome::ErrorReport:
        return QStringLiteral("the instrument answered with an error report");
    case WriteOutcome::Accepted:
        return QStringLiteral("the instrument accepted it");
    }
    return {};
}

WriteOutcome RunCommandRequest(JobContext &job, const CommandRequest &request, DecodedAnswer *answer,
                               std::vector<std::uint8_t> *answerPayload)
{
    const RequestBuffer frame = BuildRequest(request);
    // With the port closed the transaction shows its message and sends
    // nothing; its result then still describes an earlier exchange.
    const bool portOpen = job.port().Open();
    Transaction &transaction = job.transaction();
    transaction.ArmResponseTimer(request.armTicks);
    {
        AttemptLimit limit(transaction, request);
        transaction.RunTransaction(frame, request.wait);
        if (limit.Lift())
            job.view().setStatusText(kStatusPanelExchange, kNoResponseText);
    }
    const TransactionResult result = transaction.Result();
    WriteOutcome outcome = WriteOutcome::Accepted;
    if (!portOpen)
        outcome = WriteOutcome::PortClosed;
    else if (result.Cancelled)
        outcome = WriteOutcome::Cancelled;
    else if (result.Failed())
        outcome = WriteOutcome::NoAnswer;
    if (outcome != WriteOutcome::Accepted) {
        job.view().SetLamp(LampColour::Red);
        return outcome;
    }
    if (answerPayload)
        *answerPayload = AnswerFrameFromBuffer(transaction.Received()).payload;
    const DecodedAnswer decoded = job.sequences().DecodeAnswer();
    if (answer)
        *answer = decoded;
    return decoded.errorReport ? WriteOutcome::ErrorReport : WriteOutcome::Accepted;
}

} // namespace r310
