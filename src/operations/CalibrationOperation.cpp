#include "CalibrationOperation.h"

#include <ReadSequences.h>
#include <RecordStore.h>

#include <cmath>

namespace r310::operations {

namespace {

QString Number(double value) { return QString::number(value, 'g', 10); }

QString WithUnit(double value, const QString &unit)
{
    return unit.isEmpty() ? Number(value) : QStringLiteral("%1 %2").arg(Number(value), unit);
}

} // namespace

std::variant<CalibrationPlan, Refusal> CalibrationOperation::Prepare(const CalibrationInput &input,
                                                                     records::RecordStore *store,
                                                                     const std::optional<GasUnit> &instrument,
                                                                     const QDate &today)
{
    CalibrationPlan plan;
    plan.request.kind = input.kind;
    plan.request.concentration = input.concentration;
    plan.request.locale = input.locale;
    plan.technician = input.technician;
    plan.simulated = input.simulated;
    const bool span = input.kind == CalibrationKind::Span;
    plan.tolerancePercent = input.tolerancePercent.value_or(span ? kSpanTolerancePercent : kZeroTolerancePercent);
    if (!(plan.tolerancePercent > 0 && plan.tolerancePercent <= 100))
        return Refusal{QStringLiteral("the tolerance is a percentage above 0 and up to 100")};
    if (!input.cylinderLot.isEmpty()) {
        if (!span)
            return Refusal{QStringLiteral("a zero calibration takes zero air, no cylinder")};
        if (!store)
            return Refusal{QStringLiteral("a cylinder needs the records, where the cylinder register is kept")};
        auto taken = TakeTestGas(*store, input.cylinderLot, instrument, today);
        if (auto *refusal = std::get_if<Refusal>(&taken))
            return *refusal;
        plan.testGas = std::get<TestGas>(std::move(taken));
        const records::Cylinder &c = plan.testGas->cylinder;
        if (!input.concentration.trimmed().isEmpty()) {
            bool number = false;
            const QString typed = input.concentration.trimmed();
            const double value = input.locale ? input.locale->toDouble(typed, &number) : typed.toDouble(&number);
            if (!number || !qFuzzyCompare(value, c.concentration))
                return Refusal{QStringLiteral("%1 differs from the certified concentration of cylinder %2 (%3); "
                                              "nothing was sent")
                                   .arg(typed, c.lot, plan.testGas->text)};
        }
        plan.request.concentration = input.locale ? input.locale->toString(c.concentration, 'g', 12)
                                                  : QString::number(c.concentration, 'g', 12);
        plan.request.testGas = CalibrationRequest::TestGas{c.gasCode, c.unitCode, plan.testGas->text};
    }
    if (!span)
        plan.instruction = QStringLiteral("Apply zero air");
    else if (plan.testGas)
        plan.instruction = QStringLiteral("Apply the test gas (lot %1, %2 %3)")
                               .arg(plan.testGas->cylinder.lot, Number(plan.testGas->cylinder.concentration),
                                    plan.testGas->cylinder.unit);
    else
        plan.instruction = QStringLiteral("Apply the test gas (%1)").arg(plan.request.concentration.trimmed());
    plan.confirmation = {QStringLiteral("%1 to the sensor and wait for the reading to settle.\nStart the %2 "
                                        "calibration?")
                             .arg(plan.instruction, span ? QStringLiteral("span") : QStringLiteral("zero")),
                         true, QString()};
    return plan;
}

ConnectionJob CalibrationOperation::StartJob(const CalibrationPlan &plan,
                                             std::shared_ptr<CalibrationStartResult> result)
{
    ConnectionJob start = CalibrationStartJob(plan.request, std::move(result));
    return [start = std::move(start)](JobContext &job) {
        // A zero is judged against the range end: the alarm settings are read first.
        if (!AlarmSettingsKnown(job.record()))
            job.sequences().ReadRange();
        start(job);
    };
}

Refusal CalibrationOperation::StartRefusal(const CalibrationStartResult &start)
{
    return Refusal{start.refusal, start.noCalibrationGas};
}

CalibrationOperation::Band CalibrationOperation::ToleranceBand(const CalibrationPlan &plan,
                                                               const InstrumentRecord &record)
{
    Band band;
    if (plan.request.kind == CalibrationKind::Span) {
        const QString text = plan.request.concentration.trimmed();
        band.target = plan.request.locale ? plan.request.locale->toDouble(text) : text.toDouble();
        const double margin = std::abs(band.target) * plan.tolerancePercent / 100;
        band.low = band.target - margin;
        band.high = band.target + margin;
    } else {
        const double margin = std::abs(ScaledGas(record.RangeEnd, record.DecimalExponent)) * plan.tolerancePercent / 100;
        band.low = -margin;
        band.high = margin;
    }
    return band;
}

OperationReport CalibrationOperation::Finish(const CalibrationPlan &plan, const CalibrationSeen &seen,
                                             const InstrumentRecord &record, const QString &unit)
{
    OperationReport report;
    report.recordKind = records::kind::kCalibration;
    const bool span = plan.request.kind == CalibrationKind::Span;
    const Band band = ToleranceBand(plan, record);
    const QString bandText = QStringLiteral("%1–%2").arg(Number(band.low), WithUnit(band.high, unit));
    QString reason;
    if (!seen.stoppedBy.isEmpty()) {
        report.verdict = seen.stoppedBy;
        report.outcome = seen.stoppedBy == QLatin1String("cancelled") ? Outcome::Cancelled : Outcome::NoAnswer;
    } else if (seen.reported == CalibrationState::Failed) {
        report.verdict = QStringLiteral("failed");
        reason = QStringLiteral("the instrument reported Error");
    } else if (!seen.asLeft) {
        report.verdict = QStringLiteral("failed");
        reason = QStringLiteral("no reading as left");
    } else if (*seen.asLeft < band.low || *seen.asLeft > band.high) {
        report.verdict = QStringLiteral("failed");
        reason = QStringLiteral("as left %1 outside %2").arg(WithUnit(*seen.asLeft, unit), bandText);
    } else {
        report.verdict = QStringLiteral("passed");
    }
    if (seen.stoppedBy.isEmpty())
        report.outcome = Outcome::Done;
    const QString criterion =
        span ? QStringLiteral("the instrument reports OK and as left lies within %1 % of %2 (%3)")
                   .arg(Number(plan.tolerancePercent), WithUnit(band.target, unit), bandText)
             : QStringLiteral("the instrument reports OK and as left lies within %1 % of the range end of 0 (%2)")
                   .arg(Number(plan.tolerancePercent), bandText);
    if (seen.asFound)
        report.before = WithUnit(*seen.asFound, unit);
    if (seen.asLeft)
        report.after = WithUnit(*seen.asLeft, unit);
    const QString kind = span ? QStringLiteral("span") : QStringLiteral("zero");
    report.text = reason.isEmpty() ? QStringLiteral("Calibration %1: %2").arg(report.verdict, kind)
                                   : QStringLiteral("Calibration %1: %2 (%3)").arg(report.verdict, kind, reason);

    QJsonObject &body = report.record;
    body.insert(QStringLiteral("calibration"), kind);
    body.insert(QStringLiteral("outcome"), report.verdict);
    if (seen.reported)
        body.insert(QStringLiteral("instrumentReport"),
                    *seen.reported == CalibrationState::Succeeded ? QStringLiteral("OK") : QStringLiteral("Error"));
    if (!reason.isEmpty())
        body.insert(QStringLiteral("reason"), reason);
    if (span)
        body.insert(QStringLiteral("concentration"), band.target);
    if (seen.asFound)
        body.insert(QStringLiteral("asFound"), *seen.asFound);
    if (seen.asLeft)
        body.insert(QStringLiteral("asLeft"), *seen.asLeft);
    body.insert(QStringLiteral("tolerance"), QJsonObject{{QStringLiteral("percent"), plan.tolerancePercent},
                                                          {QStringLiteral("low"), band.low},
                                                          {QStringLiteral("high"), band.high}});
    body.insert(QStringLiteral("criterion"), criterion);
    if (plan.testGas)
        body.insert(QStringLiteral("cylinder"), plan.testGas->json);
    else if (span)
        body.insert(QStringLiteral("testGas"), records::kTestGasNotRecorded);
    if (!plan.technician.isEmpty())
        body.insert(QStringLiteral("technician"), plan.technician);
    if (plan.simulated)
        body.insert(QStringLiteral("simulated"), true);
    return report;
}

} // namespace r310::operations
