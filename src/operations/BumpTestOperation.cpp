#include "BumpTestOperation.h"

#include <CommandRequest.h>
#include <ReadSequences.h>

namespace r310::operations {

namespace {

bool AllPositive(const BumpTestResult &r) { return r.a1 > 0 && r.a2 > 0 && r.t50 > 0; }
bool AnyNegative(const BumpTestResult &r) { return r.a1 < 0 || r.a2 < 0 || r.t50 < 0; }

void PutValues(QJsonObject &body, const BumpTestResult &r)
{
    body.insert(QStringLiteral("a1"), r.a1);
    body.insert(QStringLiteral("a2"), r.a2);
    body.insert(QStringLiteral("t50"), r.t50);
}

} // namespace

std::variant<BumpTestPlan, Refusal> BumpTestOperation::Prepare(const BumpTestRequest &request,
                                                               records::RecordStore *store,
                                                               const std::optional<GasUnit> &instrument,
                                                               const QDate &today)
{
    if (request.timeLimit < std::chrono::seconds(1) || request.timeLimit > std::chrono::hours(1))
        return Refusal{QStringLiteral("the time limit of a bump test is 1 to 3600 seconds")};
    BumpTestPlan plan;
    plan.request = request;
    if (!request.cylinderLot.isEmpty()) {
        if (!store)
            return Refusal{QStringLiteral("a cylinder needs the records, where the cylinder register is kept")};
        auto taken = TakeTestGas(*store, request.cylinderLot, instrument, today);
        if (auto *refusal = std::get_if<Refusal>(&taken))
            return *refusal;
        plan.testGas = std::get<TestGas>(std::move(taken));
    }
    plan.instruction = plan.testGas ? QStringLiteral("Start the bump test on the instrument and apply the test gas "
                                                     "(%1)")
                                          .arg(plan.testGas->text)
                                    : QStringLiteral("Start the bump test on the instrument and apply the test gas");
    plan.confirmation = {plan.instruction + QStringLiteral(".\nFollow the bump test now?"), true, QString()};
    return plan;
}

BumpRead BumpTestOperation::Read(JobContext &job)
{
    const CommandRequest request = ReadRequest(kObjectBumpResult);
    DecodedAnswer answer;
    BumpRead read;
    read.outcome = RunCommandRequest(job, request, &answer);
    if (read.outcome == Outcome::Done && answer.bumpResult) {
        read.result = answer.bumpResult;
        if (answer.status)
            read.text = answer.status->text;
    }
    return read;
}

ConnectionJob BumpTestOperation::ReadJob(std::shared_ptr<BumpRead> read)
{
    return [read](JobContext &job) { *read = Read(job); };
}

BumpTestOperation::State BumpTestOperation::Take(const BumpRead &read)
{
    if (ended() || !read.result)
        return state_;
    last_ = read;
    const BumpTestResult &r = *read.result;
    const bool final = AllPositive(r) || AnyNegative(r);
    if (!final)
        state_ = State::Running;
    else if (state_ == State::Running) // a result of this test, not the last one's
        state_ = AllPositive(r) ? State::Passed : State::Failed;
    return state_;
}

QString BumpTestOperation::ProgressText() const
{
    switch (state_) {
    case State::Waiting:
        return last_.text.isEmpty()
                   ? QStringLiteral("waiting for the bump test to start")
                   : QStringLiteral("waiting for the bump test to start (the instrument shows its last result: %1)")
                         .arg(last_.text);
    case State::Running:
        return QStringLiteral("bump test running");
    case State::Passed:
    case State::Failed:
        break;
    }
    return last_.text;
}

OperationReport BumpTestOperation::Finish(const QString &stoppedBy) const
{
    OperationReport report;
    report.recordKind = records::kind::kBumpTest;
    QJsonObject &body = report.record;
    report.outcome = stoppedBy.isEmpty() ? Outcome::Done
                     : stoppedBy == QLatin1String("cancelled") ? Outcome::Cancelled
                                                                : Outcome::NoAnswer;
    if (ended()) {
        report.verdict = state_ == State::Passed ? QStringLiteral("passed") : QStringLiteral("failed");
        PutValues(body, *last_.result);
        report.after = last_.text;
        const BumpTestResult &r = *last_.result;
        report.text = state_ == State::Passed
                          ? QStringLiteral("Bump test passed: %1").arg(last_.text)
                          : QStringLiteral("Bump test failed: A1 %1, A2 %2, T50 %3").arg(r.a1).arg(r.a2).arg(r.t50);
    } else {
        report.verdict = stoppedBy.isEmpty() ? QStringLiteral("no result") : stoppedBy;
        report.text = stoppedBy == QLatin1String("cancelled")
                          ? QStringLiteral("Bump test cancelled before the instrument reported a result")
                      : stoppedBy == QLatin1String("no answer")
                          ? QStringLiteral("Bump test: the instrument stopped answering before it reported a result")
                          : QStringLiteral("Bump test: no result within %1 s").arg(plan_.request.timeLimit.count());
    }
    body.insert(QStringLiteral("outcome"), report.verdict);
    if (plan_.testGas)
        body.insert(QStringLiteral("cylinder"), plan_.testGas->json);
    else
        body.insert(QStringLiteral("testGas"), records::kTestGasNotRecorded);
    if (!plan_.request.technician.isEmpty())
        body.insert(QStringLiteral("technician"), plan_.request.technician);
    if (plan_.request.simulated)
        body.insert(QStringLiteral("simulated"), true);
    return report;
}

} // namespace r310::operations
