#pragma once
// How a job, a request inside it or a download ended: one type for every
// job, command and log download, so the window and r310ctl name each ending
// the same way and r310ctl turns each into one exit code.
#include <QString>

namespace r310 {

enum class Outcome {
    Done,              // ran to its end: answered, written and read back, every block or event read
    NotRun,            // never got to the wire: dropped from the queue, or ended by a port error before it
    Cancelled,         // cancel(), closePort(), closing the window or Ctrl+C ended it
    PortError,         // the port failed or refused a write; portError() carried the text
    PortClosed,        // the port was not open ("Comport nicht geöffnet!" was shown); nothing sent
    InstrumentChanged, // another instrument than the one the write was prepared for; nothing written
    Refused,           // the values do not fit, or what the write needs could not be read; nothing written
    NoAnswer,          // no valid answer after every attempt; the lamp is red
    ErrorReport,       // the instrument answered with an error report: it did not take the request
    WrongAnswer,       // an answer of the wrong kind, too short, or not a whole record
    Damaged,           // answers came, but with a wrong checksum, within every attempt
    ReadBackFailed,    // written, but the read-back brought no data answer
    LineLost,          // several exchanges in a row went unanswered: the line or the instrument is gone
};

// The instrument answered (a data answer or an error report), so the line works.
constexpr bool Answered(Outcome outcome) { return outcome == Outcome::Done || outcome == Outcome::ErrorReport; }

// One line for a terminal, a message box or a record: "the instrument did not answer", ...
QString OutcomeText(Outcome outcome);

} // namespace r310
