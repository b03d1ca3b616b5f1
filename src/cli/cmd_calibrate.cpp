// r310ctl calibrate zero | span CONCENTRATION: starts a calibration as "Start
// Zerro" and "Start Cal" do, then follows it by reading its state about once
// a second until the instrument reports its end.
#include "Calibration.h"
#include "ExitCodes.h"
#include "Report.h"
#include "Subcommands.h"

#include <Cylinders.h>
#include <SessionRecorder.h>

#include <QDate>

#include <QEventLoop>
#include <QTimer>

namespace r310::cli {

const char *const kCalibrateHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] calibrate zero | span CONCENTRATION
       r310ctl [--port DEVICE | --demo] [--timeout-s N] calibrate span --cylinder LOT [CONCENTRATION]
       ... calibrate ... [--technician NAME]

Connects as "info" does and starts a calibration as the configurator's
Calibration tab does: "zero" a zero calibration ("Start Zerro"), "span" a
span calibration with the calibration gas CONCENTRATION in the
instrument's gas unit ("Start Cal"; "." as decimal point). The
concentration is scaled by the instrument's decimal exponent, read from
its alarm settings first. Then the calibration state is read about once a
second, one line each on stderr, until the instrument reports its end.

With --cylinder LOT the test gas comes from the cylinder register (see
r310ctl cylinders --help): the concentration is the cylinder's certified
one, and the calibration's record names the cylinder. A span calibration
without a cylinder is recorded as "test gas not recorded". The record
keeps what its certificate prints, the technician too: NAME of
--technician, else the name set in the window's settings, else the
operating-system user.

Exit codes: 0 the instrument reported "OK"; 8 it reported "Error";
2 a concentration that cannot be sent (not a number, negative, 0 after
scaling - "Kein Cal Gas" -, or beyond what the instrument holds), or a
cylinder that is unknown, retired, expired (its expiry date before today),
of another gas or unit than the instrument's, or whose concentration
differs from CONCENTRATION - nothing is sent then;
3 the instrument did not answer or stopped answering; 5 it answered with
an error report; 130 Ctrl+C: r310ctl stops following, the calibration goes
on in the instrument.
)";

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

// Waits about one poll period of the configurator; false when Ctrl+C or a
// failed port ended the wait.
bool Pause(InstrumentSession &session, std::chrono::milliseconds period)
{
    QEventLoop loop;
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    QObject::connect(&session, &InstrumentSession::interrupted, &loop, &QEventLoop::quit);
    QObject::connect(&session, &InstrumentSession::portFailed, &loop, &QEventLoop::quit);
    if (!session.Aborted())
        loop.exec();
    return !session.Aborted();
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

// Reads object 10 about once a second until the calibration ends.
int Follow(InstrumentSession &session, std::chrono::milliseconds period)
{
    for (;;) {
        if (!Pause(session, period))
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
        return *status.state == CalibrationState::Succeeded
                   ? kExitOk
                   : session.Fail(kExitCalibrationFailed, QStringLiteral("the instrument reported the calibration as failed"));
    }
    return session.Interrupted() ? Interrupted(session) : session.Verdict(true);
}

// The calibration on record: its outcome from the exit code and, after an
// end the instrument reported, the reading as left (the recorder keeps it
// with the instrument's own report when that arrived).
int RecordCalibration(InstrumentSession &session, int code)
{
    QString outcome = QStringLiteral("no answer");
    std::optional<double> asLeft;
    if (code == kExitOk || code == kExitCalibrationFailed) {
        outcome = code == kExitOk ? QStringLiteral("OK") : QStringLiteral("Error");
        bool read = false;
        // The value as left, and the due dates the instrument holds after
        // the calibration (it may have moved the next one), for the records
        // and the certificate.
        session.Run([&read](JobContext &job) {
            read = job.sequences().ReadValue();
            job.sequences().ReadSignals();
        });
        if (read)
            asLeft = session.recorder().lastValue();
    } else if (code == kExitInterrupted) {
        outcome = QStringLiteral("cancelled");
    }
    session.recorder().CalibrationEnded(outcome, asLeft);
    return code;
}

// The registered cylinder of --cylinder, checked before anything is opened:
// its concentration becomes the request's, its gas and unit are checked
// against the instrument's just before the start. 0, or the exit code of
// the refusal.
int TakeCylinder(CtlContext &context, CalibrationRequest &request, QJsonObject *cylinderJson)
{
    const CtlOptions &o = context.options;
    if (o.noRecords)
        return context.Fail(kExitUsage, QStringLiteral("--cylinder needs the records, where the cylinder register is "
                                                       "kept; --no-records leaves them out"));
    int code = kExitOk;
    std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, &code);
    if (!store)
        return code;
    QString error;
    const std::optional<records::Cylinder> cylinder = records::CylinderRegister(*store).Find(o.cylinder, &error);
    if (!error.isEmpty())
        return context.Fail(kExitFailure, error);
    if (const QString refusal = records::CylinderDateRefusal(cylinder, o.cylinder, QDate::currentDate());
        !refusal.isEmpty())
        return context.Fail(kExitUsage, refusal + QStringLiteral("; nothing was sent"));
    if (!request.concentration.isEmpty()) {
        bool number = false;
        const double typed = request.concentration.trimmed().toDouble(&number);
        if (!number || !qFuzzyCompare(typed, cylinder->concentration))
            return context.Fail(kExitUsage, QStringLiteral("%1 differs from the certified concentration of cylinder "
                                                           "%2 (%3); nothing was sent")
                                                .arg(request.concentration.trimmed(), cylinder->lot,
                                                     records::CylinderText(*cylinder)));
    }
    request.concentration = QString::number(cylinder->concentration, 'g', 12);
    request.testGas = CalibrationRequest::TestGas{cylinder->gasCode, cylinder->unitCode,
                                                  records::CylinderText(*cylinder)};
    *cylinderJson = records::CylinderJson(*cylinder);
    return kExitOk;
}

} // namespace

int RunCalibrate(CtlContext &context)
{
    const QStringList &operands = context.options.operands;
    const bool withCylinder = context.options.given.contains(QStringLiteral("cylinder"));
    CalibrationRequest request;
    QJsonObject cylinder;
    if (operands.size() == 1 && operands.first() == QLatin1String("zero") && !withCylinder) {
        request.kind = CalibrationKind::Zero;
    } else if (operands.size() == 1 && operands.first() == QLatin1String("span") && withCylinder) {
        request.kind = CalibrationKind::Span;
        if (const int code = TakeCylinder(context, request, &cylinder))
            return code;
    } else if (operands.size() == 2 && operands.first() == QLatin1String("span")) {
        request.kind = CalibrationKind::Span;
        request.concentration = operands.at(1);
        // The form of the number is checked before connecting; its scale
        // needs the instrument.
        const Conversion<std::int16_t> form = SpanCalibrationRaw(request.concentration, 0, std::nullopt);
        if (form.error == NotAFloatMessage(request.concentration))
            return context.Fail(kExitUsage, form.error + QStringLiteral(" (\".\" is the decimal point)"));
        if (const QString refusal = RefusedForEveryExponent(request.concentration); !refusal.isEmpty())
            return context.Fail(kExitUsage, refusal);
        if (withCylinder) {
            if (const int code = TakeCylinder(context, request, &cylinder))
                return code;
        }
    } else {
        return context.Fail(kExitUsage, QStringLiteral("calibrate needs \"zero\", \"span CONCENTRATION\" or \"span "
                                                       "--cylinder LOT\" (see r310ctl calibrate --help)"));
    }

    InstrumentSession session(context.options, context.environment, *context.gasTable);
    // The Calibration tab reads nothing when it comes to the front.
    if (const int code = session.OpenAndConnect(InstrumentTab::Calibration))
        return code;
    const std::optional<double> asFound = session.recorder().lastValue();
    session.recorder().setTechnician(context.options.technician);
    auto start = std::make_shared<CalibrationStartResult>();
    const int ran = session.Run([&request, start](JobContext &job) { RunCalibrationStart(job, request, *start); });
    session.recorder().CalibrationStarted(request, *start, asFound, cylinder);
    if (session.Interrupted())
        return start->accepted() ? RecordCalibration(session, Interrupted(session))
                                 : session.Fail(kExitInterrupted,
                                                QStringLiteral("interrupted before the instrument confirmed the start"));
    if (ran != kExitOk)
        return ran;
    if (!start->accepted()) {
        const int code = StartFailed(session, *start);
        return code;
    }
    session.out() << StartText(request, *start) << " on " << session.PortLabel() << "; Ctrl+C stops following."
                  << Qt::endl;
    return RecordCalibration(session, Follow(session, context.environment.tick * Transaction::kPollTicksAfterSend));
}

} // namespace r310::cli
