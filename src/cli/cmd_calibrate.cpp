// r310ctl calibrate zero | span CONCENTRATION: starts a calibration as "Start
// Zerro" and "Start Cal" do, then follows it by reading its state about once
// a second until the instrument reports its end.
#include "Calibration.h"
#include "ExitCodes.h"
#include "OperationFollow.h"
#include "Report.h"
#include "Subcommands.h"

#include <CalibrationOperation.h>
#include <Certificate.h>
#include <SessionRecorder.h>

#include <QDate>

namespace r310::cli {

const char *const kCalibrateHelp = R"HELP(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] calibrate zero | span CONCENTRATION
       r310ctl [--port DEVICE | --demo] calibrate span --cylinder LOT [CONCENTRATION]
       options: [--tolerance PCT] [--technician NAME]

Connects as "info" does and starts a calibration as the configurator's
Calibration tab does: "zero" a zero calibration ("Start Zerro"), "span" a
span calibration with the calibration gas CONCENTRATION in the
instrument's gas unit ("Start Cal"; "." as decimal point). The
concentration is scaled by the instrument's decimal exponent, read from
its alarm settings first, and must lie above 0 and up to the end of the
measuring range. It prints what to apply ("Apply zero air", "Apply the
test gas (...)"), takes the reading at the start as found, then reads the
calibration state about once a second, one line each on stderr, until the
instrument reports its end, and reads the value three times a second
apart: the last is as left.

The calibration passed when the instrument reports "OK" and as left lies
within the tolerance of the target: span, the concentration +- 10 %;
zero, 0 +- 2 % of the range end. --tolerance PCT sets the percentage.
Otherwise it failed, and the reason is printed and recorded.

With --cylinder LOT the test gas comes from the cylinder register (see
r310ctl cylinders --help): the concentration is the cylinder's certified
one, and the calibration's record names the cylinder. A span calibration
without a cylinder is recorded as "test gas not recorded". The record
keeps what its paper prints, the technician too: NAME of --technician,
else the name set in the window's settings, else the operating-system user.

Exit codes: 0 passed; 8 failed (the instrument reported "Error", or as
left outside the tolerance); 2 a concentration that cannot be sent (not a
number, negative, 0 after scaling - "Kein Cal Gas" -, outside the
measuring range, or beyond what the instrument holds), a bad tolerance,
or a cylinder that is unknown, retired, expired (its expiry date before
today), of another gas or unit than the instrument's, or whose
concentration differs from CONCENTRATION - nothing is sent then;
3 the instrument did not answer or stopped answering; 5 it answered with
an error report; 130 Ctrl+C: r310ctl stops following, the calibration goes
on in the instrument.
)HELP";

namespace {

// The refusal of a concentration that no decimal exponent the instrument may
// have can take (too large for all of them, or negative), so the port need not be
// opened to say so; empty when some exponent takes it.
QString RefusedForEveryExponent(const QString &concentration)
{
    for (int exponent = -kMaxExponentMagnitude; exponent <= kMaxExponentMagnitude; ++exponent) {
        if (SpanCalibrationRaw(concentration, static_cast<std::int8_t>(exponent), std::nullopt))
            return {};
    }
    // The largest exponent gives the widest range for the message.
    const Conversion<std::int16_t> widest =
        SpanCalibrationRaw(concentration, static_cast<std::int8_t>(kMaxExponentMagnitude), std::nullopt);
    return widest.error == kNoCalibrationGasText ? QString() : widest.error;
}

int Interrupted(InstrumentSession &session)
{
    return session.Fail(kExitInterrupted, QStringLiteral("interrupted; the calibration was left running in the "
                                                         "instrument, which finishes it on its own"));
}

QString StartText(const CalibrationRequest &request, const CalibrationStartResult &start)
{
    if (request.kind == CalibrationKind::Zero)
        return QStringLiteral("Zero calibration started");
    return QStringLiteral("Span calibration started: %1 (raw %2 at decimal exponent %3)")
        .arg(request.concentration.trimmed())
        .arg(start.raw)
        .arg(start.exponent);
}

// The verdict on a start that did not go out or was not accepted.
int StartFailed(InstrumentSession &session, const CalibrationStartResult &start)
{
    if (start.refused() && !start.alarmSettingsMissing)
        return session.Fail(kExitUsage, start.refusal);
    if (const int code = session.Verdict(true))
        return code;
    if (start.refused())
        return session.Fail(kExitNoInstrument, start.refusal);
    return session.Fail(ExitCodeOf(start.outcome), QStringLiteral("the instrument on %1 did not answer the calibration "
                                                                   "start (%2)")
                                               .arg(session.PortLabel(), OutcomeText(start.outcome)));
}

// Reads object 10 about once a second until the calibration ends; the
// instrument's report lands in *reported.
int Follow(InstrumentSession &session, std::chrono::milliseconds period, std::optional<CalibrationState> *reported)
{
    for (;;) {
        if (!PauseSession(session, period))
            break;
        CalibrationStatusRead status;
        session.Run([&status](JobContext &job) { status = ReadCalibrationStatus(job); });
        if (session.Aborted())
            break;
        if (status.outcome == Outcome::ErrorReport)
            return session.Verdict(true);
        if (!status.state)
            return session.Fail(ExitCodeOf(status.outcome == Outcome::Done ? Outcome::WrongAnswer : status.outcome),
                                QStringLiteral("the instrument on %1 stopped answering during the calibration (%2); "
                                               "it may still be calibrating")
                                    .arg(session.PortLabel(), OutcomeText(status.outcome)));
        session.err() << "calibration state: " << status.text << Qt::endl;
        if (*status.state == CalibrationState::Running)
            continue;
        session.out() << "Result: " << status.text << Qt::endl;
        *reported = status.state;
        return kExitOk;
    }
    return session.Interrupted() ? Interrupted(session) : session.Verdict(true);
}

// The reading as left: three reads a second apart, the last kept; then the
// due dates the instrument holds after the calibration (it may have moved
// the next one), for the records and the certificate.
std::optional<double> ReadAsLeft(InstrumentSession &session, std::chrono::milliseconds period)
{
    std::optional<double> asLeft;
    for (int n = 0; n < operations::kAsLeftReads; ++n) {
        if (n > 0 && !PauseSession(session, period))
            return asLeft;
        bool read = false;
        session.Run([&read](JobContext &job) { read = job.sequences().ReadValue(); });
        if (read)
            asLeft = session.recorder().lastValue();
    }
    session.Run([](JobContext &job) { job.sequences().ReadSignals(); });
    return asLeft;
}

int ParseTolerance(CtlContext &context, operations::CalibrationInput &input)
{
    if (!context.options.given.contains(QStringLiteral("tolerance")))
        return kExitOk;
    bool number = false;
    const double percent = context.options.tolerance.trimmed().toDouble(&number);
    if (!number || !(percent > 0 && percent <= 100))
        return context.Fail(kExitUsage, QStringLiteral("--tolerance needs a percentage above 0 and up to 100, not "
                                                       "\"%1\"")
                                            .arg(context.options.tolerance));
    input.tolerancePercent = percent;
    return kExitOk;
}

// The operation's plan, checked before the port is opened: the form of the
// concentration, the tolerance, the cylinder. 0, or the exit code of the refusal.
int Plan(CtlContext &context, operations::CalibrationPlan *plan)
{
    const QStringList &operands = context.options.operands;
    const bool withCylinder = context.options.given.contains(QStringLiteral("cylinder"));
    operations::CalibrationInput input;
    input.cylinderLot = withCylinder ? context.options.cylinder : QString();
    input.technician = records::TechnicianName(context.options.technician);
    input.simulated = context.options.demo;
    if (operands.size() == 1 && operands.first() == QLatin1String("zero") && !withCylinder) {
        input.kind = CalibrationKind::Zero;
    } else if (operands.size() == 1 && operands.first() == QLatin1String("span") && withCylinder) {
        input.kind = CalibrationKind::Span;
    } else if (operands.size() == 2 && operands.first() == QLatin1String("span")) {
        input.kind = CalibrationKind::Span;
        input.concentration = operands.at(1);
        // The form of the number is checked before connecting; its scale
        // needs the instrument.
        const Conversion<std::int16_t> form = SpanCalibrationRaw(input.concentration, 0, std::nullopt);
        if (form.error == NotAFloatMessage(input.concentration))
            return context.Fail(kExitUsage, form.error + QStringLiteral(" (\".\" is the decimal point)"));
        if (const QString refusal = RefusedForEveryExponent(input.concentration); !refusal.isEmpty())
            return context.Fail(kExitUsage, refusal);
    } else {
        return context.Fail(kExitUsage, QStringLiteral("calibrate needs \"zero\", \"span CONCENTRATION\" or \"span "
                                                       "--cylinder LOT\" (see r310ctl calibrate --help)"));
    }
    if (const int code = ParseTolerance(context, input))
        return code;
    std::unique_ptr<records::RecordStore> store;
    if (withCylinder) {
        int code = kExitOk;
        store = OpenCylinderRecords(context, &code);
        if (!store)
            return code;
    }
    auto prepared = operations::CalibrationOperation::Prepare(input, store.get(), std::nullopt, QDate::currentDate());
    if (const auto *refusal = std::get_if<operations::Refusal>(&prepared))
        return context.Fail(kExitUsage, refusal->text);
    *plan = std::get<operations::CalibrationPlan>(std::move(prepared));
    return kExitOk;
}

// Records the report and prints it; the exit code of its verdict.
int Report(InstrumentSession &session, const operations::CalibrationPlan &plan, operations::CalibrationSeen seen,
           int code)
{
    if (code == kExitInterrupted)
        seen.stoppedBy = QStringLiteral("cancelled");
    else if (code != kExitOk)
        seen.stoppedBy = QStringLiteral("no answer");
    const operations::OperationReport report =
        operations::CalibrationOperation::Finish(plan, seen, session.record(), session.recorder().unitText());
    session.recorder().RecordReport(report.recordKind, report.record);
    if (code != kExitOk)
        return code;
    if (!report.before.isEmpty() || !report.after.isEmpty())
        session.out() << "As found: " << (report.before.isEmpty() ? QStringLiteral("-") : report.before)
                      << ", as left: " << (report.after.isEmpty() ? QStringLiteral("-") : report.after) << Qt::endl;
    session.out() << OneLineMessage(report.text) << Qt::endl;
    return report.passed() ? kExitOk : session.Fail(kExitCalibrationFailed, report.text);
}

} // namespace

int RunCalibrate(CtlContext &context)
{
    operations::CalibrationPlan plan;
    if (const int code = Plan(context, &plan))
        return code;

    InstrumentSession session(context.options, context.environment, *context.gasTable);
    // The Calibration tab reads nothing when it comes to the front.
    if (const int code = session.OpenAndConnect(InstrumentTab::Calibration))
        return code;
    session.out() << plan.instruction << " to the sensor; the calibration starts now." << Qt::endl;
    operations::CalibrationSeen seen;
    seen.asFound = session.recorder().lastValue();
    session.recorder().setTechnician(context.options.technician);
    auto start = std::make_shared<CalibrationStartResult>();
    const int ran = session.Run(operations::CalibrationOperation::StartJob(plan, start));
    seen.start = *start;
    if (session.Interrupted() && !start->accepted())
        return session.Fail(kExitInterrupted, QStringLiteral("interrupted before the instrument confirmed the start"));
    if (ran != kExitOk)
        return ran;
    if (!start->accepted()) {
        // Sent but not taken: on record as such.
        if (start->sent())
            Report(session, plan, seen, kExitNoInstrument);
        return StartFailed(session, *start);
    }
    const std::chrono::milliseconds period = context.environment.tick * Transaction::kPollTicksAfterSend;
    operations::CalibrationSeen unfinished = seen;
    unfinished.stoppedBy = QStringLiteral("no answer");
    session.recorder().CalibrationStarted(
        operations::CalibrationOperation::Finish(plan, unfinished, session.record(), session.recorder().unitText())
            .record);
    session.out() << StartText(plan.request, *start) << " on " << session.PortLabel() << "; Ctrl+C stops following."
                  << Qt::endl;
    const int followed = Follow(session, period, &seen.reported);
    if (followed == kExitOk)
        seen.asLeft = ReadAsLeft(session, period);
    return Report(session, plan, seen, followed);
}

} // namespace r310::cli
