#include "CommandRequest.h"

namespace r310 {

namespace {

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
    transaction.RunTransaction(frame, request.wait, request.attempts);
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
