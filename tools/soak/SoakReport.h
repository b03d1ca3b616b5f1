#pragma once
// The soak's account: a line for each failed session as it ends, and at the
// end a table of outcomes by fault closed by "N passed, M failed".
#include "SoakSession.h"

#include <QString>

#include <map>

namespace soak {

// The one line a failed session prints: fault and seed, so it can be run
// again, every problem, and where its files were kept.
QString FailureLine(const SessionResult &result);

class SoakTally {
public:
    void add(const SessionResult &result);
    int passed() const { return passed_; }
    int failed() const { return failed_; }
    // fault | sessions | passed | failed | exit codes seen | slowest step.
    QString table() const;
    // "N passed, M failed"
    QString summary() const;

private:
    struct Row {
        int sessions = 0;
        int passed = 0;
        int failed = 0;
        std::map<QString, int> outcomes; // "0", "3", "crash", "stopped": steps that ended so
        double slowestSeconds = 0;
        double slowestBound = 0;
        QString slowestStep;
    };
    std::map<Fault, Row> rows_;
    int passed_ = 0;
    int failed_ = 0;
};

} // namespace soak
