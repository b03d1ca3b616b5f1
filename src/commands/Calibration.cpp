#include "Calibration.h"

#include "ReadSequences.h"

namespace r310 {

namespace {

// The field's label, naming it in refusals.
const QString kConcentrationField = QStringLiteral("Gas concentration");

Conversion<std::int16_t> ToRaw(const QString &text, std::int8_t exponent, const std::optional<QLocale> &locale)
{
    return locale ? GasValueToRaw(kConcentrationField, text, exponent, *locale)
                  : GasValueToRawDot(kConcentrationField, text, exponent);
}

// Text that is not a number is refused before anything is read or sent.
bool IsNumber(const QString &text, const std::optional<QLocale> &locale)
{
    return ToRaw(text, 0, locale).error != NotAFloatMessage(text);
}

// Reads object 4 so that the record holds the instrument's exponent.
Outcome ReadAlarmSettings(JobContext &job, bool *decoded, std::optional<RangeAlarmSettings> *range = nullptr)
{
    const CommandRequest request = ReadRequest(kObjectRange);
    DecodedAnswer answer;
    const Outcome outcome = RunCommandRequest(job, request, &answer);
    *decoded = outcome == Outcome::Done && answer.range.has_value();
    if (range && *decoded)
        *range = answer.range;
    return outcome;
}

} // namespace

Conversion<std::int16_t> SpanCalibrationRaw(const QString &concentration, std::int8_t exponent,
                                            const std::optional<QLocale> &locale)
{
    Conversion<std::int16_t> raw = ToRaw(concentration, exponent, locale);
    if (!raw)
        return raw;
    if (*raw.value < 0)
        return Conversion<std::int16_t>::refused(
            QStringLiteral("%1: %2 is negative; a calibration gas concentration must be above 0")
                .arg(kConcentrationField, concentration.trimmed()));
    if (*raw.value == 0)
        return Conversion<std::int16_t>::refused(kNoCalibrationGasText);
    return raw;
}

std::vector<std::uint8_t> CalibrationStartPayload(std::int16_t raw)
{
    const auto value = static_cast<std::uint16_t>(raw);
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

double ScaledGas(std::int32_t raw, std::int8_t exponent)
{
    double value = raw;
    for (int e = exponent; e > 0; --e)
        value *= 10;
    for (int e = exponent; e < 0; ++e)
        value /= 10;
    return value;
}

QString SpanOutsideRange(std::int16_t raw, const InstrumentRecord &record)
{
    if (raw > 0 && raw <= record.RangeEnd)
        return {};
    const auto text = [&record](std::int32_t value) {
        return QString::number(ScaledGas(value, record.DecimalExponent), 'f',
                               record.DecimalExponent < 0 ? -record.DecimalExponent : 0);
    };
    return QStringLiteral("%1: %2 is outside the instrument's measuring range (above 0, up to %3); nothing was sent")
        .arg(kConcentrationField, text(raw), text(record.RangeEnd));
}

bool AlarmSettingsKnown(const InstrumentRecord &record)
{
    return record.RangeBegin != 0 || record.RangeEnd != 0 || record.DecimalExponent != 0;
}

void RunCalibrationStart(JobContext &job, const CalibrationRequest &request, CalibrationStartResult &result)
{
    result = CalibrationStartResult{};
    std::int16_t raw = 0;
    if (request.kind == CalibrationKind::Span) {
        if (!IsNumber(request.concentration, request.locale)) {
            result.refusal = NotAFloatMessage(request.concentration);
            return;
        }
        // Until the alarm settings were decoded on this connection the
        // exponent is 0, and the typed value would go out unscaled: up to
        // 10 000 times off.
        // A registered test gas is checked against the gas and unit the
        // instrument reports now, so the settings are read again for it.
        if (!AlarmSettingsKnown(job.record()) || request.testGas) {
            result.alarmSettingsRead = true;
            bool decoded = false;
            std::optional<RangeAlarmSettings> range;
            const Outcome read = ReadAlarmSettings(job, &decoded, &range);
            if (!decoded) {
                result.alarmSettingsMissing = true;
                result.outcome = read == Outcome::PortClosed ? read : Outcome::NotRun;
                result.refusal = QStringLiteral("The instrument's alarm settings could not be read (%1), so the "
                                                "calibration gas cannot be scaled; nothing was sent")
                                     .arg(OutcomeText(read));
                return;
            }
            if (request.testGas && (range->gasCode != request.testGas->gasCode
                                    || range->unitCode != request.testGas->unitCode)) {
                result.refusal = QStringLiteral("The test gas %1 is not the instrument's gas and unit; nothing was "
                                                "sent")
                                     .arg(request.testGas->name);
                return;
            }
        }
        result.exponent = job.record().DecimalExponent;
        const Conversion<std::int16_t> span = SpanCalibrationRaw(request.concentration, result.exponent,
                                                                 request.locale);
        if (!span) {
            result.refusal = span.error;
            result.noCalibrationGas = span.error == kNoCalibrationGasText;
            return;
        }
        // The instrument calibrates only to a gas its measuring range holds.
        if (const QString outside = SpanOutsideRange(*span.value, job.record()); !outside.isEmpty()) {
            result.refusal = outside;
            return;
        }
        raw = *span.value;
    }
    result.raw = raw;

    CommandRequest start;
    start.object = kObjectCalibrationStart;
    start.payload = CalibrationStartPayload(raw);
    start.armTicks = kActionArmTicks;
    result.outcome = RunCommandRequest(job, start);
    // Only an accepted start is followed; the decoder clears the flag when
    // object 10 reports the end.
    if (result.accepted())
        job.record().CalibrationRunning = true;
}

ConnectionJob CalibrationStartJob(CalibrationRequest request, std::shared_ptr<CalibrationStartResult> result)
{
    if (!result)
        result = std::make_shared<CalibrationStartResult>();
    return [request = std::move(request), result](JobContext &job) { RunCalibrationStart(job, request, *result); };
}

CalibrationState CalibrationStateOf(std::int8_t value)
{
    if (value < 0)
        return CalibrationState::Failed;
    return value == 0 ? CalibrationState::Running : CalibrationState::Succeeded;
}

CalibrationStatusRead ReadCalibrationStatus(JobContext &job)
{
    const CommandRequest request = ReadRequest(kObjectCalibrationState);
    DecodedAnswer answer;
    CalibrationStatusRead status;
    status.outcome = RunCommandRequest(job, request, &answer);
    if (status.outcome == Outcome::Done && answer.calibrationState) {
        status.value = *answer.calibrationState;
        status.state = CalibrationStateOf(status.value);
        if (answer.status)
            status.text = answer.status->text;
    }
    return status;
}

} // namespace r310
