#include "CommandRequest.h"

#include "ReadSequences.h"

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

CommandRequest ReadRequest(std::uint8_t object)
{
    CommandRequest request;
    request.object = object;
    request.write = false;
    request.armTicks = ReadSequences::kReadArmTicks;
    request.wait = Transaction::AttemptWait::Standard;
    return request;
}

Outcome RunExchange(JobContext &job, const RequestBuffer &frame, std::int32_t armTicks, Transaction::AttemptWait wait,
                    int attempts)
{
    // With the port closed the transaction shows its message and sends
    // nothing; its result then still describes an earlier exchange.
    const bool portOpen = job.port().Open();
    Transaction &transaction = job.transaction();
    transaction.ArmResponseTimer(armTicks);
    transaction.RunTransaction(frame, wait, attempts);
    const TransactionResult result = transaction.Result();
    Outcome outcome = Outcome::Done;
    if (!portOpen)
        outcome = Outcome::PortClosed;
    else if (result.Cancelled)
        outcome = Outcome::Cancelled;
    else if (result.Failed())
        outcome = Outcome::NoAnswer;
    if (outcome != Outcome::Done)
        job.view().SetLamp(LampColour::Red);
    return outcome;
}

Outcome RunCommandRequest(JobContext &job, const CommandRequest &request, DecodedAnswer *answer,
                          std::vector<std::uint8_t> *answerPayload)
{
    const Outcome exchanged = RunExchange(job, BuildRequest(request), request.armTicks, request.wait, request.attempts);
    if (exchanged != Outcome::Done)
        return exchanged;
    if (answerPayload)
        *answerPayload = AnswerFrameFromBuffer(job.transaction().Received()).payload;
    const DecodedAnswer decoded = job.sequences().DecodeAnswer();
    if (answer)
        *answer = decoded;
    return decoded.errorReport ? Outcome::ErrorReport : Outcome::Done;
}

} // namespace r310
