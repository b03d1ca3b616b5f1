#pragma once
// The bump test: a function check of the sensor with test gas. The
// technician starts it on the instrument and applies the gas; the
// configurator reads the bump result (object 6) about once a second and
// follows it until A1, A2 and T50 are all positive (passed), one is negative
// (failed), the time limit passes (no result) or the user cancels. A result
// counts only after the instrument reported the test as running (all
// zero), so the last test's result it still shows is not taken for this one.
#include "Operation.h"
#include "TestGas.h"

#include <DecodedValues.h>
#include <InstrumentConnection.h>

#include <chrono>
#include <optional>
#include <variant>

namespace r310::operations {

struct BumpTestRequest {
    QString cylinderLot; // empty: test gas not recorded
    QString technician;
    std::chrono::seconds timeLimit{180};
    bool simulated = false; // the instrument is the built-in simulated one
};

struct BumpTestPlan {
    BumpTestRequest request;
    std::optional<TestGas> testGas;
    QString instruction; // what the technician does now
    Confirmation confirmation;
    std::chrono::milliseconds readPeriod{1000};
};

// One read of object 6.
struct BumpRead {
    Outcome outcome = Outcome::NotRun;
    std::optional<BumpTestResult> result; // when object 6 was decoded
    QString text;                         // as the decoder shows it: "Running", "ok A1:28 A2:55 T50:12", "Error"
};

class BumpTestOperation {
public:
    // The checks before anything is read: the cylinder (when one is named)
    // from the register, in date and, when known, of the instrument's gas
    // and unit; a time limit from 1 s to 1 h.
    static std::variant<BumpTestPlan, Refusal> Prepare(const BumpTestRequest &request, records::RecordStore *store,
                                                       const std::optional<GasUnit> &instrument, const QDate &today);
    // Reads object 6 once in the running job.
    static BumpRead Read(JobContext &job);
    static ConnectionJob ReadJob(std::shared_ptr<BumpRead> read);

    explicit BumpTestOperation(BumpTestPlan plan) : plan_(std::move(plan)) {}
    const BumpTestPlan &plan() const { return plan_; }

    enum class State { Waiting, Running, Passed, Failed };
    // Takes a read; returns the state after it.
    State Take(const BumpRead &read);
    State state() const { return state_; }
    bool ended() const { return state_ == State::Passed || state_ == State::Failed; }
    // "running: Running", "waiting for the start (the instrument shows its last result ...)".
    QString ProgressText() const;
    // The report; `stoppedBy` ("no result", "cancelled", "no answer") when
    // the test did not end by itself.
    OperationReport Finish(const QString &stoppedBy = {}) const;

private:
    BumpTestPlan plan_;
    State state_ = State::Waiting;
    BumpRead last_;
};

} // namespace r310::operations
