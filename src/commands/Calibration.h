#pragma once
// Zero and span calibration: "Start Zerro" and "Start Cal" on the
// Calibration tab, r310ctl calibrate. The start is a write of object 9 with
// the raw calibration gas concentration (0 for a zero calibration); the
// instrument then calibrates for a while and reports its progress in object
// 10, which the idle poll reads while CalibrationRunning is set (the window)
// and r310ctl reads in its own loop.
#include "NumberInput.h"
#include "CommandRequest.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

// The message box of a span calibration whose gas is 0 after scaling.
inline const QString kNoCalibrationGasText = QStringLiteral("Kein Cal Gas");

enum class CalibrationKind { Zero, Span };

struct CalibrationRequest {
    CalibrationKind kind = CalibrationKind::Zero;
    // Span: the concentration as typed, in the instrument's gas unit.
    QString concentration;
    // The user's regional settings; empty: "." as decimal point (r310ctl).
    std::optional<QLocale> locale;
    // Span from a registered cylinder: the instrument must report this gas
    // and unit when its alarm settings are read just before the start, else
    // the start is refused and nothing is sent.
    struct TestGas {
        std::uint8_t gasCode = 0;
        std::uint8_t unitCode = 0;
        QString name; // "CO 50 ppm, lot L1", for the refusal
    };
    std::optional<TestGas> testGas;
};

// The raw span concentration of a typed text at the instrument's decimal
// exponent (500 for "50" at exponent -1), or the refusal: text that is not
// a number, an exponent beyond +-4, a raw value outside the signed 16-bit
// range, a negative concentration, and "Kein Cal Gas" for 0 (also a value
// too small to reach one raw step).
Conversion<std::int16_t> SpanCalibrationRaw(const QString &concentration, std::int8_t exponent,
                                            const std::optional<QLocale> &locale);

// A raw gas value in the instrument's unit: raw x 10^exponent.
double ScaledGas(std::int32_t raw, std::int8_t exponent);
// Why a raw span concentration lies outside (0, range end] of the record's
// measuring range, naming the value and the range; empty when it lies within.
QString SpanOutsideRange(std::int16_t raw, const InstrumentRecord &record);

// Object 9's payload: the raw concentration, signed 16-bit little-endian.
std::vector<std::uint8_t> CalibrationStartPayload(std::int16_t raw);

// The alarm-settings object has been decoded since this connection began:
// the exponent in the record is the instrument's, not the 0 the display
// was cleared to. (A cleared record holds the range 0 to 0 and exponent 0.)
bool AlarmSettingsKnown(const InstrumentRecord &record);

struct CalibrationStartResult {
    // The start write; NotRun when it was refused before sending.
    Outcome outcome = Outcome::NotRun;
    // Why nothing was sent; empty when the start went to the instrument.
    QString refusal;
    // The refusal is "Kein Cal Gas" (shown in a box with an OK button).
    bool noCalibrationGas = false;
    // Object 4 was read first, because it had not been decoded on this connection.
    bool alarmSettingsRead = false;
    // That read brought no alarm settings (refused: the exponent is unknown).
    bool alarmSettingsMissing = false;
    std::int8_t exponent = 0;
    std::int16_t raw = 0;

    bool refused() const { return !refusal.isEmpty(); }
    // The write went to the transaction (whatever became of it).
    bool sent() const { return outcome != Outcome::NotRun && outcome != Outcome::PortClosed; }
    bool accepted() const { return outcome == Outcome::Done; }
};

// Sends the start in the running job. A span calibration first makes sure
// the exponent is the instrument's (reads object 4 when it was not decoded
// since connecting, and refuses when that read fails) and converts the
// concentration; a refusal sends nothing. The write waits its 5 armed ticks
// per attempt. An accepted start sets CalibrationRunning; an error report,
// a missing answer or a closed port leave it as it was.
void RunCalibrationStart(JobContext &job, const CalibrationRequest &request, CalibrationStartResult &result);
ConnectionJob CalibrationStartJob(CalibrationRequest request, std::shared_ptr<CalibrationStartResult> result);

// Object 10: what the calibration reports.
enum class CalibrationState {
    Running,   // 0
    Succeeded, // positive: "OK"
    Failed,    // negative: "Error"
};
CalibrationState CalibrationStateOf(std::int8_t value);

struct CalibrationStatusRead {
    Outcome outcome = Outcome::NotRun; // Accepted: object 10 arrived
    std::optional<CalibrationState> state;       // empty unless object 10 was decoded
    std::int8_t value = 0;
    QString text; // "Running", "OK", "Error" as the result field shows it
};

// Reads object 10 once in the running job; the decoder clears
// CalibrationRunning when it reports an end.
CalibrationStatusRead ReadCalibrationStatus(JobContext &job);

} // namespace r310
