#pragma once
// Exit codes of r310ctl; scripts rely on them, so their values never change.
#include "Outcome.h"

namespace r310::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,           // anything unexpected
    kExitUsage = 2,             // unknown command or option, bad value; another instrument than the one a write was made for
    kExitNoInstrument = 3,      // no answer within the time-out, or the instrument stopped answering
    kExitPortUnavailable = 4,   // the port cannot be opened, failed, or none was given or found
    kExitInstrumentError = 5,   // the instrument answered with an error report
    kExitGasTableMissing = 6,   // the gas table library KALTEX32 cannot be loaded
    kExitReadBackDiffers = 7,   // set: the instrument does not hold what was written
    kExitCalibrationFailed = 8, // calibrate: the instrument reported the calibration as failed ("Error")
    kExitCannotWrite = 9,       // events, datalog: the output file cannot be written
    kExitRecordsTampered = 10,  // records verify: a record was changed, removed or reordered
    kExitSomethingDue = 10,     // due: a calibration or bump test falls due
    kExitInterrupted = 130,     // Ctrl+C ended a wait (128 + SIGINT)
};

// The exit code of a job, command or download that ended as `outcome`: the
// one place r310ctl turns an ending into a code.
constexpr int ExitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return kExitOk;
    case Outcome::Cancelled:
        return kExitInterrupted;
    case Outcome::PortError:
    case Outcome::PortClosed:
        return kExitPortUnavailable;
    case Outcome::InstrumentChanged:
    case Outcome::Refused:
        return kExitUsage;
    case Outcome::ErrorReport:
        return kExitInstrumentError;
    case Outcome::NotRun:
    case Outcome::NoAnswer:
    case Outcome::WrongAnswer:
    case Outcome::Damaged:
    case Outcome::ReadBackFailed:
    case Outcome::LineLost:
        break;
    }
    return kExitNoInstrument;
}

} // namespace r310::cli
