#pragma once
// The one decoder for every good answer of the instrument. It turns the frame
// into plain values and texts (DecodedAnswer) and keeps the values later
// commands need in the InstrumentRecord; front ends apply the result.
#include "DecodedValues.h"
#include "InstrumentRecord.h"
#include "R310_typ.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace r310 {

// A received answer as the decoder sees it: a private copy of the frame.
struct AnswerFrame {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> payload;           // the announced payload bytes
    std::array<std::uint8_t, kMaxFrame> bytes{}; // the whole receive buffer
    std::uint8_t count = 0;                      // bytes the receive buffer held
    // The receive buffer held a whole frame with a good checksum. It does not
    // after a failed exchange: then the bytes are the remains of an earlier
    // answer or a damaged one, and nothing of them is evaluated.
    bool intact = true;
};

struct DecodedAnswer {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    // A branch evaluated the payload (flags 0xC0, a known object, full size).
    bool evaluated = false;
    // A data answer of a known object carried fewer bytes than the object has;
    // it is not evaluated, so no stale bytes are shown as values.
    bool shortPayload = false;
    // The buffer held no whole frame with a good checksum (decoded after a
    // failed exchange): only the buffer was emptied, nothing was evaluated,
    // not even an error report.
    bool frameIntact = true;

    // Error report (object 0xF0): the text for the status bar's second panel,
    // "ERROR Count= " and the count.
    bool errorReport = false;
    std::optional<QString> errorCountText;

    std::optional<IdentityValues> identity;      // object 2, with the feature gates
    std::optional<ClockValues> clock;            // object 3
    std::optional<MeasuredValue> value;          // object 7
    std::optional<std::int8_t> bumpState;        // object 5
    std::optional<BumpTestResult> bumpResult;    // object 6
    std::optional<std::int8_t> calibrationState; // object 10
    std::optional<StatusReport> status;          // result field, objects 5, 6, 10
    std::optional<RangeAlarmSettings> range;     // object 4
    std::optional<SignalSettings> signalSettings; // object 31
    std::optional<HardwareSettings> hardware;    // object 33

    // The settings group just read: its set button goes disabled, because
    // filling the fields is not a change of the user.
    std::optional<SettingsGroup> unchangedGroup;
};

// Unit text, one blank, gas name for a unit code and a gas code.
using GasTextLookup = std::function<QString(std::uint8_t unitCode, std::uint8_t gasCode)>;

// What decoding needs from outside: the user's regional settings, the gas
// table and the PC's clock (replaceable so tests control them).
struct DecodeEnvironment {
    QLocale locale;
    GasTextLookup gasTexts;            // empty: gas text stays empty
    std::function<QDateTime()> now;    // empty: QDateTime::currentDateTime
};

// Decoding of further objects (the event log and data logger objects), added
// by the modules that own their records. Called for data answers only.
using AnswerBranch = std::function<void(const AnswerFrame &frame, InstrumentRecord &record)>;

class AnswerDecoder {
public:
    explicit AnswerDecoder(DecodeEnvironment environment = {});

    // Decodes the frame in `buffer` after a successful transaction and empties
    // the buffer (count 0). The caller also clears its AwaitingResponse flag,
    // which lets the poll countdown run again.
    DecodedAnswer DecodeAnswer(ReceiveBuffer &buffer, InstrumentRecord &record) const;

    // Decodes a frame without touching any receive buffer.
    DecodedAnswer Decode(const ReceiveBuffer &snapshot, InstrumentRecord &record) const;
    DecodedAnswer Decode(const AnswerFrame &frame, InstrumentRecord &record) const;

    // Adds or replaces the branch of an object this decoder has no branch for.
    // Returns false for the objects decoded here (2, 3, 4, 5, 6, 7, 10, 31, 33, 0xF0).
    bool setBranch(std::uint8_t object, AnswerBranch branch);

    const DecodeEnvironment &environment() const { return m_environment; }
    void setLocale(const QLocale &locale) { m_environment.locale = locale; }

private:
    DecodeEnvironment m_environment;
    std::map<std::uint8_t, AnswerBranch> m_branches;
};

// The private copy the decoder works on; `intact` tells whether the buffer
// holds a whole frame with a good checksum.
AnswerFrame AnswerFrameFromBuffer(const ReceiveBuffer &buffer);

// Payload length an object must carry to be evaluated; 0 for objects
// without a branch here.
int ObjectPayloadSize(std::uint8_t object);

} // namespace r310
