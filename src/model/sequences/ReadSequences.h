#pragma once
// What the configurator reads from the instrument and when: the search after
// the port was opened, the connect sequence, the reads of the tab in front,
// the clock check with its clock write, and the idle poll that refreshes
// clock and live value about once a second and finds a lost instrument again.
// Every read is one transaction followed by the answer decoder; the results
// go to the InstrumentRecord and the InstrumentView.
#include "DecodeAnswer.h"
#include "InstrumentRecord.h"
#include "InstrumentView.h"

#include <cstdint>
#include <functional>

namespace r310 {

class SerialPort;
class Transaction;

class ReadSequences {
public:
    // Clock writes one clock check may make before it gives up on an
    // instrument that answers the write but keeps its own time.
    static constexpr int kMaxClockWrites = 3;
    // Clocks that differ by this many seconds or less agree.
    static constexpr std::int64_t kClockTolerance = 5;
    // Ticks the reads pass to ArmResponseTimer.
    static constexpr std::int32_t kReadArmTicks = 3;

    // All references must outlive the sequences.
    ReadSequences(SerialPort &port, Transaction &transaction, const AnswerDecoder &decoder,
                  InstrumentRecord &record, InstrumentView &view);

    // The PC's local time as InstrumentSeconds, for the clock check and the
    // clock write (SysTimeSek by default; tests pass the simulator's clock).
    void SetPcClock(std::function<std::int32_t()> pcSeconds);

    // Single-object reads: request, transaction, then DecodeAnswer. On failure
    // the lamp turns red and false is returned; nothing is decoded.
    bool ReadIdentity();          // object 2
    bool ReadValue();             // object 7
    bool ReadRange();             // object 4
    bool ReadSignals();           // object 31
    bool ReadHardware();          // object 33
    bool ReadEventProperties();   // object 35
    bool ReadLoggerInfo();        // object 36
    bool ReadCalibrationState();  // object 10
    bool ReadBumpResult();        // object 6
    bool ReadBumpState();         // object 5
    // Any object without a payload selector, the same way.
    bool ReadObject(std::uint8_t object);

    // Reads the clock (object 3) and compares it with the PC's. Within 5 s it
    // goes on to ReadValue; otherwise it writes the PC's time and reads the
    // clock again, at most kMaxClockWrites times. Returns false when an
    // exchange failed.
    bool ReadClock();
    // "Set &Time": writes the PC's time into the instrument clock, then runs
    // the clock check as ReadClock does.
    bool SetClock();

    // Repeats the connect request until the instrument answers or the search
    // is cancelled (Cancelled set, or the port closed under it). Returns true
    // when the instrument answered.
    bool SearchInstrument();
    // Connect request, identity, clock check, then the reads of the tab in
    // front. Returns false when the connect request failed or the user cancelled.
    bool ConnectSequence();
    // The reads of the tab now in front, when connected.
    void ReadSelectedTab();
    // Empties the instrument values of the record and the view, paints the
    // lamp red and disables the calibration buttons.
    void ClearInstrumentDisplay();

    // Runs when the event queue has run empty: the periodic read when its
    // countdown has run out, the search when the instrument was lost.
    void IdlePoll();
    // IdlePoll would start an exchange now.
    bool IdlePollHasWork() const;
    // Lets the next poll wait a full poll period (after a poll that failed
    // with a port error, so the error does not repeat at once).
    void PostponePoll();

    // Takes the answer from the receive buffer, clears AwaitingResponse,
    // decodes it into the record and hands the values to the view.
    DecodedAnswer DecodeAnswer();

    // Clock writes sent since the connect sequence began.
    int ClockWrites() const { return clockWrites_; }
    // The object of the last request on the transaction, whoever sent it
    // (a command's write too): what an error report answers.
    std::uint8_t LastRequestObject() const;

private:
    enum class ClockReading { Failed, NotAClock, Agrees, Differs };

    ClockReading ReadClockOnce();
    bool WriteClock();
    bool ClockCheck(bool writeFirst);
    bool Exchange(const RequestBuffer &request);
    bool ExchangeFailed(bool cancelIsFailure) const;
    bool Cancelled() const;

    SerialPort &port_;
    Transaction &transaction_;
    const AnswerDecoder &decoder_;
    InstrumentRecord &record_;
    InstrumentView &view_;
    std::function<std::int32_t()> pcSeconds_;
    int clockWrites_ = 0;
    // Clock polls until the bump state is read in place of the clock.
    int bumpStatePollsLeft_ = 0;
    // The instrument did not keep the written time: compare, but do not write
    // again until the clocks agree, the next connect or "Set &Time".
    bool clockWritesRefused_ = false;
};

} // namespace r310
