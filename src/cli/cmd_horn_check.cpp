// r310ctl horn-check: the horn on and straight off again, as "Horn Check" does.
#include "ExitCodes.h"
#include "HornCheck.h"
#include "Subcommands.h"

#include <SessionRecorder.h>

namespace r310::cli {

const char *const kHornCheckHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] horn-check

Connects as "info" does, then switches the instrument's horn on and at once
off again, as the configurator's "Horn Check" does. The request to switch
it off is sent whatever became of the first, so the horn is not left on
because one answer was lost. Exit code 3 when either request went
unanswered, 5 when the instrument answered one with an error report.
)";

int RunHornCheck(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndConnect(InstrumentTab::Calibration))
        return code;
    auto result = std::make_shared<HornCheckResult>();
    const int ran = session.Run([result](JobContext &job) { RunHornCheck(job, *result); });
    if (session.Interrupted() && result->hornOff == Outcome::NotRun)
        return session.Fail(kExitInterrupted, QStringLiteral("interrupted; the horn may still be on"));
    if (ran != kExitOk)
        return ran;
    session.recorder().RecordHornCheck(*result);
    if (const int code = session.Verdict(true))
        return code;
    if (!result->accepted()) {
        const bool onAnswered = Answered(result->hornOn);
        return session.Fail(kExitNoInstrument,
                            QStringLiteral("the instrument on %1 did not answer the request to switch the horn %2%3")
                                .arg(session.PortLabel(), onAnswered ? QStringLiteral("off") : QStringLiteral("on"),
                                     onAnswered || !Answered(result->hornOff)
                                         ? QString()
                                         : QStringLiteral("; the request to switch it off was answered")));
    }
    session.out() << "Horn switched on and off." << Qt::endl;
    return kExitOk;
}

} // namespace r310::cli
