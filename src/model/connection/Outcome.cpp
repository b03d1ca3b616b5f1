#include "Outcome.h"

namespace r310 {

QString OutcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return QStringLiteral("done");
    case Outcome::NotRun:
        return QStringLiteral("nothing was sent");
    case Outcome::Cancelled:
        return QStringLiteral("cancelled before the instrument answered");
    case Outcome::PortError:
        return QStringLiteral("the port failed");
    case Outcome::PortClosed:
        return QStringLiteral("the port is not open; nothing was sent");
    case Outcome::InstrumentChanged:
        return QStringLiteral("another instrument is on the port; nothing was written");
    case Outcome::Refused:
        return QStringLiteral("refused; nothing was sent");
    case Outcome::NoAnswer:
        return QStringLiteral("the instrument did not answer");
    case Outcome::ErrorReport:
        return QStringLiteral("the instrument answered with an error report");
    case Outcome::WrongAnswer:
        return QStringLiteral("the instrument's answer was incomplete");
    case Outcome::Damaged:
        return QStringLiteral("the instrument's answers arrived damaged (checksum)");
    case Outcome::ReadBackFailed:
        return QStringLiteral("written, but reading it back failed");
    case Outcome::LineLost:
        return QStringLiteral("the instrument stopped answering");
    }
    return {};
}

} // namespace r310
