#include "SoakReport.h"

#include <QStringList>

#include <algorithm>

namespace soak {

namespace {

QString OutcomeName(const StepOutcome &step)
{
    if (step.timedOut)
        return QStringLiteral("stopped");
    if (step.crashed)
        return QStringLiteral("crash");
    return QString::number(step.exitCode);
}

// Exit codes by value, then the words.
bool OutcomeOrder(const QString &a, const QString &b)
{
    bool aNumber = false;
    bool bNumber = false;
    const int x = a.toInt(&aNumber);
    const int y = b.toInt(&bNumber);
    if (aNumber && bNumber)
        return x < y;
    if (aNumber != bNumber)
        return aNumber;
    return a < b;
}

} // namespace

QString FailureLine(const SessionResult &result)
{
    return QStringLiteral("session %1 (fault %2 seed %3): %4 [r310sim %5; files in %6; again: r310soak --fault %2 "
                          "--session-seed %3]")
        .arg(result.number)
        .arg(FaultName(result.plan.fault))
        .arg(result.plan.seed)
        .arg(result.problems.join(QStringLiteral("; ")),
             (result.plan.scenario + result.plan.faultOptions).join(u' '), result.folder);
}

void SoakTally::add(const SessionResult &result)
{
    Row &row = rows_[result.plan.fault];
    ++row.sessions;
    if (result.passed()) {
        ++row.passed;
        ++passed_;
    } else {
        ++row.failed;
        ++failed_;
    }
    for (const StepOutcome &step : result.steps) {
        ++row.outcomes[OutcomeName(step)];
        if (step.seconds > row.slowestSeconds) {
            row.slowestSeconds = step.seconds;
            row.slowestBound = step.boundSeconds;
            row.slowestStep = StepName(step.step);
        }
    }
}

QString SoakTally::table() const
{
    QStringList lines{QStringLiteral("%1 %2 %3 %4  %5 %6")
                          .arg(QStringLiteral("fault"), -13)
                          .arg(QStringLiteral("sessions"), 8)
                          .arg(QStringLiteral("passed"), 7)
                          .arg(QStringLiteral("failed"), 7)
                          .arg(QStringLiteral("exit codes seen (code:steps)"), -30)
                          .arg(QStringLiteral("slowest step (its bound)"))};
    for (const Fault fault : AllFaults()) {
        const auto found = rows_.find(fault);
        if (found == rows_.end())
            continue;
        const Row &row = found->second;
        std::vector<QString> names;
        for (const auto &[name, count] : row.outcomes)
            names.push_back(name);
        std::sort(names.begin(), names.end(), OutcomeOrder);
        QStringList codes;
        for (const QString &name : names)
            codes.append(QStringLiteral("%1:%2").arg(name).arg(row.outcomes.at(name)));
        const QString slowest = row.slowestStep.isEmpty()
                                    ? QStringLiteral("-")
                                    : QStringLiteral("%1 %2 s (%3 s)")
                                          .arg(row.slowestStep)
                                          .arg(row.slowestSeconds, 0, 'f', 1)
                                          .arg(row.slowestBound, 0, 'f', 1);
        lines.append(QStringLiteral("%1 %2 %3 %4  %5 %6")
                         .arg(FaultName(fault), -13)
                         .arg(row.sessions, 8)
                         .arg(row.passed, 7)
                         .arg(row.failed, 7)
                         .arg(codes.join(u' '), -30)
                         .arg(slowest));
    }
    return lines.join(u'\n');
}

QString SoakTally::summary() const
{
    return QStringLiteral("%1 passed, %2 failed").arg(passed_).arg(failed_);
}

} // namespace soak
