#pragma once
// A zero or span calibration that checks its gas and says what it means.
// Before anything is sent: the cylinder (in date, of the instrument's gas
// and unit, its certified concentration the one sent), the tolerance; the
// start itself refuses a span outside the measuring range. The technician
// is told what to apply ("Apply zero air", "Apply the test gas (...)") and
// starts on confirmation. As found is the reading at the start; as left the
// last of three readings a second apart after the instrument reports the
// end. It passed when the instrument reported OK and as left lies within
// the tolerance of the target: span, the concentration +- 10 %; zero,
// 0 +- 2 % of the range end.
#include "Operation.h"
#include "TestGas.h"

#include <Calibration.h>

#include <chrono>
#include <optional>
#include <variant>

namespace r310::operations {

inline constexpr double kSpanTolerancePercent = 10;
inline constexpr double kZeroTolerancePercent = 2;
// Readings taken after the end; the last is kept as left.
inline constexpr int kAsLeftReads = 3;
inline constexpr std::chrono::milliseconds kAsLeftPeriod{1000};

struct CalibrationInput {
    CalibrationKind kind = CalibrationKind::Zero;
    QString concentration; // span as typed; empty with a cylinder
    std::optional<QLocale> locale;
    QString cylinderLot;                     // empty: test gas not recorded
    std::optional<double> tolerancePercent;  // empty: the default of the kind
    QString technician;
    bool simulated = false;
};

struct CalibrationPlan {
    CalibrationRequest request; // what the start sends
    std::optional<TestGas> testGas;
    double tolerancePercent = 0;
    QString instruction; // "Apply zero air" / "Apply the test gas (CO 50 ppm, lot L1)"
    Confirmation confirmation;
    QString technician;
    bool simulated = false;
};

// What was seen of the calibration once it is over.
struct CalibrationSeen {
    CalibrationStartResult start;
    std::optional<CalibrationState> reported; // the instrument's report of the end
    std::optional<double> asFound;
    std::optional<double> asLeft;
    QString stoppedBy; // "cancelled", "no answer" when it did not end by itself
};

class CalibrationOperation {
public:
    // `store` holds the cylinder register (null without records);
    // `instrument`: its gas and unit when its alarm settings were read.
    static std::variant<CalibrationPlan, Refusal> Prepare(const CalibrationInput &input, records::RecordStore *store,
                                                          const std::optional<GasUnit> &instrument,
                                                          const QDate &today);
    // The start; CalibrationStartResult says what became of it.
    static ConnectionJob StartJob(const CalibrationPlan &plan, std::shared_ptr<CalibrationStartResult> result);
    // A refused start as the window and r310ctl show it.
    static Refusal StartRefusal(const CalibrationStartResult &start);
    // The target and the band as left must lie in, in the instrument's unit.
    struct Band {
        double target = 0;
        double low = 0;
        double high = 0;
    };
    static Band ToleranceBand(const CalibrationPlan &plan, const InstrumentRecord &record);
    // The report: passed or failed with its reason, or how it stopped;
    // `unit` names the gas unit in texts ("ppm").
    static OperationReport Finish(const CalibrationPlan &plan, const CalibrationSeen &seen,
                                  const InstrumentRecord &record, const QString &unit);
};

} // namespace r310::operations
