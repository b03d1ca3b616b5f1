#include "SettingsWrite.h"

namespace r310 {

SettingsWriteResult WriteAndReadBack(JobContext &job, std::uint8_t object, const std::vector<std::uint8_t> &payload,
                                     std::int32_t armTicks)
{
    // A closed port or a cancelled connection sends nothing; the exchange
    // tells which (the closed port with its message).
    SettingsWriteResult result;
    const Outcome written =
        RunExchange(job, WriteRequestFrame(object, payload), armTicks, Transaction::AttemptWait::Armed);
    if (written != Outcome::PortClosed)
        result.sent = payload;
    if (written != Outcome::Done) {
        result.outcome = written;
        return result;
    }
    // An error report is shown (it counts in the exchange panel) and ends
    // the command: the tab keeps what the user typed and stays changed, so
    // leaving it tries again.
    if (job.transaction().Received().bytes[kOffsetObject] == kObjectErrorReport) {
        job.sequences().DecodeAnswer();
        result.outcome = Outcome::ErrorReport;
        return result;
    }

    const ObjectRead readBack = ReadObjectAnswer(job, object);
    if (!readBack.answer) {
        const bool stopped = readBack.outcome == Outcome::PortClosed
                          || readBack.outcome == Outcome::Cancelled;
        result.outcome = stopped ? readBack.outcome : Outcome::ReadBackFailed;
        return result;
    }
    result.readBack = readBack.answer;
    result.readBackPayload = readBack.payload;
    result.outcome = Outcome::Done;
    return result;
}

ObjectRead ReadObjectAnswer(JobContext &job, std::uint8_t object)
{
    RequestBuffer read{};
    BuildReadRequest(object, read);
    ObjectRead result;
    result.outcome = RunExchange(job, read, kReadBackArmTicks, Transaction::AttemptWait::Standard);
    if (result.outcome != Outcome::Done)
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
