#pragma once
// What every operation hands its front end: a refusal before anything is
// sent, the confirmation the user must give, and the report of its end.
#include <Outcome.h>

#include <QJsonObject>
#include <QString>

namespace r310::operations {

// Why the operation cannot run; nothing was sent.
struct Refusal {
    QString text;
    // The span concentration is 0 after scaling: shown in a box of its own.
    bool noCalibrationGas = false;
};

// What the user must confirm before the job is submitted.
struct Confirmation {
    QString question;       // "Apply zero air. Start the zero calibration?"
    bool defaultYes = true; // the answer Enter gives
    QString lost;           // what is lost by going on; empty when nothing
};

// What becomes of the port after the operation: the idle poll of the clock
// and the live value resumes, the port stays open.
enum class PortAfter { PollResumes };

// The end of an operation.
struct OperationReport {
    Outcome outcome = Outcome::NotRun; // how the exchanges went
    QString verdict;                   // "passed", "failed", "no result", "cancelled", "no answer"
    QString before;                    // the value before, as a person reads it; empty when none
    QString after;                     // the value after
    QString text;                      // one line for a person
    QString recordKind;                // what the records keep: the kind and the body
    QJsonObject record;
    PortAfter port = PortAfter::PollResumes;

    bool passed() const { return verdict == QLatin1String("passed"); }
    bool failed() const { return verdict == QLatin1String("failed"); }
};

} // namespace r310::operations
