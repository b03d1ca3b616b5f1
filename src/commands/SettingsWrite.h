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
#include "CommandRequest.h"
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

struct SettingsWriteResult {
    Outcome outcome = Outcome::NotRun;
    QString refusal;                          // why, for Refused
    std::vector<std::uint8_t> sent;           // the payload written; empty when nothing was sent
    std::optional<DecodedAnswer> readBack;    // the decoded read-back (Done)
    std::vector<std::uint8_t> readBackPayload; // its payload bytes as received

    bool done() const { return outcome == Outcome::Done; }
};

// Ticks each attempt of a read-back waits (as every read does).
constexpr std::int32_t kReadBackArmTicks = 3;

// Writes payload into object, each attempt waiting armTicks ticks, then
// reads the object back. Runs inside a job on the instrument connection.
SettingsWriteResult WriteAndReadBack(JobContext &job, std::uint8_t object, const std::vector<std::uint8_t> &payload,
                                     std::int32_t armTicks);

// One read inside a command: how the exchange ended and, when the
// instrument answered with the object asked for, the decoded answer and
// its payload as received. The answer is shown like every read's.
struct ObjectRead {
    Outcome outcome = Outcome::NoAnswer;
    std::optional<DecodedAnswer> answer;
    std::vector<std::uint8_t> payload;
};
ObjectRead ReadObjectAnswer(JobContext &job, std::uint8_t object);

} // namespace r310
