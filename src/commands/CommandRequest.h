#pragma once
// The one exchange every command runs inside its job: send a finished
// request, test the outcome, decode only an answer that arrived. What became
// of the request, and a command's payload or the reason it cannot be sent.
#include "InstrumentConnection.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace r310 {

// A command's payload, or why it cannot be sent (then nothing is sent).
struct CommandPayload {
    std::vector<std::uint8_t> bytes;
    QString refusal;
    bool ok() const { return refusal.isEmpty(); }

    static CommandPayload Refused(QString why) { return {{}, std::move(why)}; }
};

// Ticks the calibration and service commands pass to ArmResponseTimer.
constexpr std::int32_t kActionArmTicks = 5;

// One request of a command.
struct CommandRequest {
    std::uint8_t object = 0;
    bool write = true;                     // flags 0x60; false: a read (flags 0x00)
    std::vector<std::uint8_t> payload;     // writes only
    std::int32_t armTicks = kActionArmTicks;
    // Armed: each attempt of a write waits armTicks (at least 3), so a slow
    // write is not sent again while the instrument still works on it.
    Transaction::AttemptWait wait = Transaction::AttemptWait::Armed;
    // How often the request is sent at most; fewer than the transaction's
    // five for a write that must not be repeated soon (the limit-list update).
    int attempts = Transaction::kMaxAttempts;
};

// A read of `object` as the read sequences send it: flags 0x00, their arm
// ticks and the standard wait of each attempt.
CommandRequest ReadRequest(std::uint8_t object);

// Sends the finished frame (arming armTicks, waiting as `wait` says, at most
// `attempts` times) and tests the outcome: a closed port sends nothing (the
// transaction shows its message); a cancelled wait, a closed port and a
// missing answer paint the lamp red. Nothing is decoded here.
Outcome RunExchange(JobContext &job, const RequestBuffer &frame, std::int32_t armTicks, Transaction::AttemptWait wait,
                    int attempts = Transaction::kMaxAttempts);

// Runs the request in the job and tests its outcome. A closed port sends
// nothing (the transaction shows its message); a cancelled wait, a closed
// port and a missing answer paint the lamp red and decode nothing, so no
// value of an earlier exchange is shown again. An answer (data or error
// report) is handed to the decoder and, when asked for, returned in *answer
// and its payload bytes as received in *answerPayload.
// A port that refuses the frame throws PortError, which ends the job.
Outcome RunCommandRequest(JobContext &job, const CommandRequest &request, DecodedAnswer *answer = nullptr,
                          std::vector<std::uint8_t> *answerPayload = nullptr);

} // namespace r310
