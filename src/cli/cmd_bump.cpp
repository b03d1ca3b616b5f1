// r310ctl bump: follows a bump test the technician starts on the instrument
// with test gas, reading its result about once a second until it passed,
// failed or the time limit passed, and records it.
#include "ExitCodes.h"
#include "OperationFollow.h"
#include "Report.h"
#include "Subcommands.h"

#include <BumpTestOperation.h>
#include <Certificate.h>
#include <SessionRecorder.h>

#include <QDate>
#include <QElapsedTimer>

namespace r310::cli {

const char *const kBumpHelp = R"(Usage: r310ctl [--port DEVICE | --demo] bump [--cylinder LOT] [--technician NAME] [--timeout-s N]

Connects as "info" does and says what to do: "Start the bump test on the
instrument and apply the test gas". Then reads the bump result about once
a second, one line each on stderr, until the instrument reports A1, A2 and
T50 all positive (passed: "ok A1:... A2:... T50:..."), one of them
negative (failed), or N seconds pass (--timeout-s, default 180: no
result). A result counts only after the instrument reported the test as
running, so the last test's result it still shows is not taken for this
one. Each ending is recorded with A1, A2, T50, the cylinder (--cylinder
LOT from the cylinder register, in date and of the instrument's gas and
unit), the technician (--technician, else the name set in the window's
records window, else the operating-system user) and the outcome.

Exit codes: 0 passed; 8 failed; 3 no result within the time limit, or the
instrument did not answer; 2 a cylinder that is unknown, retired, expired
or of another gas or unit, or a time limit outside 1 to 3600 s - nothing
is read then; 130 Ctrl+C.
)";

namespace {

constexpr int kDefaultBumpSeconds = 180;

// The plan, checked before the port is opened. 0, or the exit code of the refusal.
int Plan(CtlContext &context, std::optional<operations::BumpTestPlan> *plan)
{
    const CtlOptions &o = context.options;
    operations::BumpTestRequest request;
    request.cylinderLot = o.given.contains(QStringLiteral("cylinder")) ? o.cylinder : QString();
    request.technician = records::TechnicianName(o.technician);
    request.timeLimit = std::chrono::seconds(o.given.contains(QStringLiteral("timeout-s")) ? o.timeoutSeconds
                                                                                             : kDefaultBumpSeconds);
    request.simulated = o.demo;
    std::unique_ptr<records::RecordStore> store;
    if (!request.cylinderLot.isEmpty()) {
        int code = kExitOk;
        store = OpenCylinderRecords(context, &code);
        if (!store)
            return code;
    }
    auto prepared = operations::BumpTestOperation::Prepare(request, store.get(), std::nullopt, QDate::currentDate());
    if (const auto *refusal = std::get_if<operations::Refusal>(&prepared))
        return context.Fail(kExitUsage, refusal->text);
    *plan = std::get<operations::BumpTestPlan>(std::move(prepared));
    return kExitOk;
}

} // namespace

int RunBump(CtlContext &context)
{
    std::optional<operations::BumpTestPlan> plan;
    if (const int code = Plan(context, &plan))
        return code;
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndConnect(InstrumentTab::Calibration))
        return code;
    // The cylinder's gas and unit against the instrument's, read now.
    if (plan->testGas) {
        session.Run([](JobContext &job) { job.sequences().ReadRange(); });
        const InstrumentRecord &record = session.record();
        if (record.RangeRead && (record.GasCode != plan->testGas->cylinder.gasCode
                                 || record.UnitCode != plan->testGas->cylinder.unitCode))
            return session.Fail(kExitUsage, QStringLiteral("cylinder %1 holds %2 in %3, not the instrument's gas and "
                                                           "unit; nothing was read")
                                                .arg(plan->testGas->cylinder.lot, plan->testGas->cylinder.gas,
                                                     plan->testGas->cylinder.unit));
    }
    operations::BumpTestOperation bump(*plan);
    session.out() << plan->instruction << " (time limit " << plan->request.timeLimit.count()
                  << " s; Ctrl+C stops)." << Qt::endl;
    session.recorder().setBumpTestFollowed(true);
    const std::chrono::milliseconds period = context.environment.tick * Transaction::kPollTicksAfterSend;
    QElapsedTimer elapsed;
    elapsed.start();
    QString stoppedBy;
    int code = kExitOk;
    QString progress;
    while (!bump.ended()) {
        if (elapsed.elapsed() >= std::chrono::milliseconds(plan->request.timeLimit).count()) {
            stoppedBy = QStringLiteral("no result");
            break;
        }
        auto read = std::make_shared<operations::BumpRead>();
        session.Run(operations::BumpTestOperation::ReadJob(read));
        if (session.Aborted()) {
            stoppedBy = session.Interrupted() ? QStringLiteral("cancelled") : QStringLiteral("no answer");
            code = session.Interrupted() ? kExitInterrupted : session.Verdict(true);
            break;
        }
        if (read->outcome == Outcome::ErrorReport || !read->result) {
            stoppedBy = QStringLiteral("no answer");
            code = read->outcome == Outcome::ErrorReport ? session.Verdict(true)
                                                         : session.Fail(kExitNoInstrument,
                                                                        QStringLiteral("the instrument on %1 stopped "
                                                                                       "answering during the bump test (%2)")
                                                                            .arg(session.PortLabel(),
                                                                                 OutcomeText(read->outcome)));
            break;
        }
        bump.Take(*read);
        if (const QString now = bump.ProgressText(); now != progress || bump.state() == operations::BumpTestOperation::State::Running) {
            progress = now;
            session.err() << "bump test: " << OneLineMessage(now) << Qt::endl;
        }
        if (!bump.ended() && !PauseSession(session, period)) {
            stoppedBy = session.Interrupted() ? QStringLiteral("cancelled") : QStringLiteral("no answer");
            code = session.Interrupted() ? kExitInterrupted : session.Verdict(true);
            break;
        }
    }
    session.recorder().setBumpTestFollowed(false);
    // The due dates and bump interval the instrument holds now, for the records.
    if (code == kExitOk)
        session.Run([](JobContext &job) { job.sequences().ReadSignals(); });
    const operations::OperationReport report = bump.Finish(stoppedBy);
    session.recorder().RecordReport(report.recordKind, report.record);
    if (code != kExitOk)
        return code == kExitInterrupted ? session.Fail(code, report.text) : code;
    session.out() << OneLineMessage(report.text) << Qt::endl;
    if (report.passed())
        return kExitOk;
    return session.Fail(report.failed() ? kExitCalibrationFailed : kExitNoInstrument, report.text);
}

} // namespace r310::cli
