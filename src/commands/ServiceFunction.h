#pragma once
// The instrument's service functions (object 127): "Start" on the Special
// Function tab, r310ctl function, and the data logger's "Clear".
//
// Also the one exchange every command of this layer runs inside its job:
// send a finished request, test the outcome, decode only an answer that
// arrived. The customer ID, factory setup, calibration and horn commands
// use it as well.
#include "InstrumentConnection.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

// What became of one request of a command.
enum class WriteOutcome {
    NotRun,      // the job never got to send it (dropped from the queue, a port error)
    PortClosed,  // the port was not open: "Comport nicht geöffnet!" was shown, nothing sent
    NoAnswer,    // no valid answer after every attempt: the lamp is red
    Cancelled,   // the port was closed or the job cancelled during the wait: the lamp is red
    ErrorReport, // the instrument answered with an error report: it did not take the request
    Accepted,    // the instrument answered with the object's data answer
};

// The instrument answered (a data answer or an error report), so the line works.
constexpr bool Answered(WriteOutcome outcome)
{
    return outcome == WriteOutcome::Accepted || outcome == WriteOutcome::ErrorReport;
}

// One line for a terminal or a message: "the instrument did not answer", ...
QString WriteOutcomeText(WriteOutcome outcome);

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

// Runs the request in the job and tests its outcome. A closed port sends
// nothing (the transaction shows its message); a cancelled wait, a closed
// port and a missing answer paint the lamp red and decode nothing, so no
// value of an earlier exchange is shown again. An answer (data or error
// report) is handed to the decoder and, when asked for, returned in *answer
// and its payload bytes as received in *answerPayload.
// A port that refuses the frame throws PortError, which ends the job.
WriteOutcome RunCommandRequest(JobContext &job, const CommandRequest &request, DecodedAnswer *answer = nullptr,
                               std::vector<std::uint8_t> *answerPayload = nullptr);

// Service function codes of object 127.
enum class ServiceCode : std::uint8_t {
    Off = 1,
    Lock = 2,
    Reset = 3,
    Default = 4,
    Update = 5, // the instrument goes to its update mode; the configurator disconnects
    Unlock = 6,
    ClearLogger = 7, // the data logger's "Clear"; no item of "Function"
};

// Items of the radio group "Function", in order: item i sends code i + 1.
inline const std::array<QString, 6> kServiceFunctionItems{
    QStringLiteral("OFF"),     QStringLiteral("Lock"),   QStringLiteral("Reset"),
    QStringLiteral("Default"), QStringLiteral("Update"), QStringLiteral("UnLock"),
};

// The code of item `index` of "Function"; empty for no selection (-1) or
// an index outside the items.
std::optional<ServiceCode> ServiceCodeForItem(int index);

// The question a front end asks before sending a function that cannot be
// undone ("Reset", "Default": what it resets), answered Yes or No; empty for
// the others.
QString ServiceFunctionQuestion(ServiceCode code);

// The one-byte payload of object 127.
std::vector<std::uint8_t> ServiceFunctionPayload(ServiceCode code);

struct ServiceFunctionResult {
    ServiceCode code = ServiceCode::Off;
    WriteOutcome outcome = WriteOutcome::NotRun;
    bool accepted() const { return outcome == WriteOutcome::Accepted; }
};

// Sends the service function in the running job (5 ticks armed, each
// attempt waiting them) and decodes the answer that arrived.
WriteOutcome RunServiceFunction(JobContext &job, ServiceCode code);

// The same as a job for InstrumentConnection::submit; the outcome lands in
// *result (read it after jobFinished). "Update" is followed by closing the
// port, which the caller does as "&Close Comport" does, once the instrument
// accepted it.
ConnectionJob ServiceFunctionJob(ServiceCode code, std::shared_ptr<ServiceFunctionResult> result = {});

} // namespace r310
