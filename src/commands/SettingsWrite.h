#pragma once
// The pattern every settings command follows inside its job: write the
// object (flags 0x60), test the outcome, and only when the instrument took
// it, read the object back so that the front end shows what the instrument
// now holds. The read-back goes through the decoder and the view like any
// read, so it fills the tab and marks the group unchanged.
//
// A closed port, a cancel or a write without an answer stops the command
// there: the lamp turns red, nothing is read back, and nothing of an earlier
// exchange is decoded. The answer to the write itself is not shown.
#include "InstrumentConnection.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace r310 {

// A settings payload built from plain values, or the refusal (naming the
// field and the allowed range) that keeps it off the wire.
struct SettingsPayload {
    std::vector<std::uint8_t> bytes;
    QString refusal;

    bool ok() const { return refusal.isEmpty(); }
    static SettingsPayload Refused(QString why) { return {{}, std::move(why)}; }
};

enum class SettingsWriteOutcome {
    NotRun,         // the job never ran (dropped from the queue)
    Refused,        // the values do not fit, or what the write needs could not be read; nothing written
    PortClosed,     // "Comport nicht geöffnet!" was shown; nothing sent
    Cancelled,      // the port was closed or the job cancelled during a wait; lamp red
    NoAnswer,       // the instrument did not answer the write; lamp red, no read-back
    ErrorReport,    // the instrument answered the write with an error report; no read-back
    ReadBackFailed, // written, but the read-back brought no data answer
    Done,           // written and read back
};

// One line for a terminal or a message box.
QString SettingsWriteOutcomeText(SettingsWriteOutcome outcome);

struct SettingsWriteResult {
    SettingsWriteOutcome outcome = SettingsWriteOutcome::NotRun;
    QString refusal;                          // why, for Refused
    std::vector<std::uint8_t> sent;           // the payload written; empty when nothing was sent
    std::optional<DecodedAnswer> readBack;    // the decoded read-back (Done)
    std::vector<std::uint8_t> readBackPayload; // its payload bytes as received

    bool done() const { return outcome == SettingsWriteOutcome::Done; }
};

// Ticks each attempt of a read-back waits (as every read does).
constexpr std::int32_t kReadBackArmTicks = 3;

// Writes payload into object, each attempt waiting armTicks ticks, then
// reads the object back. Runs inside a job on the instrument connection.
SettingsWriteResult WriteAndReadBack(JobContext &job, std::uint8_t object, const std::vector<std::uint8_t> &payload,
                                     std::int32_t armTicks);

// How one exchange inside a command ended.
enum class ExchangeOutcome { PortClosed, Cancelled, NoAnswer, Answered };

// Sends the finished frame (arming armTicks, waiting as `wait` says) and
// tests the outcome; anything but Answered paints the lamp red. Nothing is
// decoded here.
ExchangeOutcome RunSettingsExchange(JobContext &job, const RequestBuffer &frame, std::int32_t armTicks,
                                    Transaction::AttemptWait wait);

// One read inside a command: how the exchange ended and, when the
// instrument answered with the object asked for, the decoded answer and
// its payload as received. The answer is shown like every read's.
struct ObjectRead {
    ExchangeOutcome outcome = ExchangeOutcome::NoAnswer;
    std::optional<DecodedAnswer> answer;
    std::vector<std::uint8_t> payload;
};
ObjectRead ReadObjectAnswer(JobContext &job, std::uint8_t object);

} // namespace r310
