#include "SettingsWrite.h"

namespace r310 {

namespace {

SettingsWriteOutcome OutcomeOf(ExchangeOutcome exchange)
{
    switch (exchange) {
    case ExchangeOutcome::PortClosed:
        return SettingsWriteOutcome::PortClosed;
    case ExchangeOutcome::Cancelled:
        return SettingsWriteOutcome::Cancelled;
    case ExchangeOutcome::NoAnswer:
        return SettingsWriteOutcome::NoAnswer;
    case ExchangeOutcome::Answered:
        break;
    }
    return SettingsWriteOutcome::Done;
}

} // namespace

QString SettingsWriteOutcomeText(SettingsWriteOutcome outcome)
{
    switch (outcome) {
    case SettingsWriteOutcome::NotRun:
        return QStringLiteral("nothing was sent");
    case SettingsWriteOutcome::Refused:
        return QStringLiteral("refused; nothing was sent");
    case SettingsWriteOutcome::PortClosed:
        return QStringLiteral("the port is not open; nothing was sent");
    case SettingsWriteOutcome::Cancelled:
        return QStringLiteral("cancelled before the instrument answered");
    case SettingsWriteOutcome::NoAnswer:
        return QStringLiteral("the instrument did not answer the write");
    case SettingsWriteOutcome::ErrorReport:
        return QStringLiteral("the instrument answered the write with an error report");
    case SettingsWriteOutcome::ReadBackFailed:
        return QStringLiteral("written, but reading it back failed");
    case SettingsWriteOutcome::Done:
        return QStringLiteral("written and read back");
    }
    return {};
}

ExchangeOutcome RunSettingsExchange(JobContext &job, const RequestBuffer &frame, std::int32_t armTicks,
                                    Transaction::AttemptWait wait)
{
    // With the port closed the transaction shows its message and sends
    // nothing; its result then still describes an earlier exchange.
    const bool portOpen = job.port().Open();
    Transaction &transaction = job.transaction();
    transaction.ArmResponseTimer(armTicks);
    transaction.RunTransaction(frame, wait);
    const TransactionResult result = transaction.Result();
    ExchangeOutcome outcome = ExchangeOutcome::Answered;
    if (!portOpen)
        outcome = ExchangeOutcome::PortClosed;
    else if (result.Cancelled)
        outcome = ExchangeOutcome::Cancelled;
    else if (result.Failed())
        outcome = ExchangeOutcome::NoAnswer;
    if (outcome != ExchangeOutcome::Answered)
        job.view().SetLamp(LampColour::Red);
    return outcome;
}

SettingsWriteResult WriteAndReadBack(JobContext &job, std::uint8_t object, const std::vector<std::uint8_t> &payload,
                                     std::int32_t armTicks)
{
    // A closed port or a cancelled connection sends nothing; the exchange
    // tells which (the closed port with its message).
    SettingsWriteResult result;
    const ExchangeOutcome written =
        RunSettingsExchange(job, WriteRequestFrame(object, payload), armTicks, Transaction::AttemptWait::Armed);
    if (written != ExchangeOutcome::PortClosed)
        result.sent = payload;
    if (written != ExchangeOutcome::Answered) {
        result.outcome = OutcomeOf(written);
        return result;
    }
    // An error report is shown (it counts in the exchange panel) and ends
    // the command: the tab keeps what the user typed and stays changed, so
    // leaving it tries again.
    if (job.transaction().Received().bytes[kOffsetObject] == kObjectErrorReport) {
        job.sequences().DecodeAnswer();
        result.outcome = SettingsWriteOutcome::ErrorReport;
        return result;
    }

    const ObjectRead readBack = ReadObjectAnswer(job, object);
    if (!readBack.answer) {
        const bool stopped = readBack.outcome == ExchangeOutcome::PortClosed
                          || readBack.outcome == ExchangeOutcome::Cancelled;
        result.outcome = stopped ? OutcomeOf(readBack.outcome) : SettingsWriteOutcome::ReadBackFailed;
        return result;
    }
    result.readBack = readBack.answer;
    result.readBackPayload = readBack.payload;
    result.outcome = SettingsWriteOutcome::Done;
    return result;
}

ObjectRead ReadObjectAnswer(JobContext &job, std::uint8_t object)
{
    RequestBuffer read{};
    BuildReadRequest(object, read);
    ObjectRead result;
    result.outcome = RunSettingsExchange(job, read, kReadBackArmTicks, Transaction::AttemptWait::Standard);
    if (result.outcome != ExchangeOutcome::Answered)
        return result;
    const AnswerFrame frame = AnswerFrameFromBuffer(job.transaction().Received());
    const DecodedAnswer answer = job.sequences().DecodeAnswer();
    // An error report or another object's answer leaves the read empty.
    if (answer.evaluated && answer.object == object) {
        result.answer = answer;
        result.payload = frame.payload;
    }
    return result;
}

} // namespace r310
