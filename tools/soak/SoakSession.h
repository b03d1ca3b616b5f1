#pragma once
// One soak session, through the real serial path: r310sim on a
// pseudo-terminal with the session's fault, and r310ctl run as a user runs
// it — get (every tab that reads), set with read-back, events and datalog
// into files. The same steps against a faultless r310sim of the same
// scenario first give what a good run looks like: get's values, the
// payload the write must carry, the two export files.
#include "SoakPlan.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <vector>

namespace soak {

struct Programs {
    QString ctl; // r310ctl
    QString sim; // r310sim
};

// How a step ended. exitCode is -1 when the program crashed or was stopped.
struct StepOutcome {
    Step step = Step::Get;
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    double seconds = 0;
    double boundSeconds = 0;
};

struct SessionResult {
    int number = 0;
    SessionPlan plan;
    std::vector<StepOutcome> steps;
    // "events: exit code 1, which the fault cannot explain", ...
    QStringList problems;
    QString folder; // the session's files (kept when it failed)

    bool passed() const { return problems.isEmpty(); }
};

// The environment r310ctl and r310sim run in: plain regional settings, a
// settings folder of their own, sanitizer options that report leaks.
QProcessEnvironment ChildEnvironment(const QString &configFolder);

// Runs session `number` of plan in a folder of its own below workFolder.
SessionResult RunSession(int number, const SessionPlan &plan, const Programs &programs, const QString &workFolder,
                         const QProcessEnvironment &environment);

} // namespace soak
