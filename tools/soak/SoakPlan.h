#pragma once
// What one soak session does: the simulated instrument it talks to (a small
// scenario, so a session takes seconds), the fault it suffers, the write it
// makes, the export files that exist before the downloads, and what the
// fault may explain: the exit codes allowed and the longest each step may take.
//
// Everything follows from the fault and the session's seed, so a session
// that failed is repeated exactly with r310soak --fault NAME --session-seed N.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace soak {

enum class Fault {
    NoAnswer,    // requests not heard
    BadCrc,      // answers with a corrupted checksum
    ErrorReport, // error reports instead of answers
    Echo,        // the request echoed before the answer
    Stray,       // stray bytes before the answer
    Split,       // answers in pieces with pauses
    Late,        // answers that come after the attempt gave up
    WrongObject, // answers of another object
    LineDrop,    // the line goes away in the middle of a download
    Mixed,       // several of the above at once, at low rates
};

const std::vector<Fault> &AllFaults();
QString FaultName(Fault fault);
std::optional<Fault> FaultFromName(const QString &name);

// The steps of a session, in order.
enum class Step { Get, Set, Events, Datalog };
const std::vector<Step> &AllSteps();
QString StepName(Step step);

// The write of the session: one settings group, written and read back.
struct PlannedWrite {
    QString assignment;          // "a1=25" as given to r310ctl set
    std::uint8_t object = 0;     // the object the write goes to
    int waitTicksPerAttempt = 0; // the write's own wait, in 100 ms ticks
    // Where the value sits in the payload, for a check of the payload that
    // does not rely on r310ctl: offset, size (1 or 2, little-endian) and value.
    int valueOffset = 0;
    int valueSize = 0;
    int value = 0;
};

struct SessionPlan {
    Fault fault = Fault::NoAnswer;
    std::uint32_t seed = 0;
    // r310sim options: the instrument, and the fault on top of it.
    QStringList scenario;
    QStringList faultOptions;
    PlannedWrite write;
    int events = 0;
    int loggerBlocks = 0;
    int setsPerBlock = 0;
    // What a faultless download of the same logs, smaller, put on record
    // before the faulted session (whose downloads then read only the rest).
    int eventsOnRecord = 0;
    int blocksOnRecord = 0;
    // An older export file lies where the download writes (so it must be
    // replaced whole or left untouched).
    bool eventsFileExists = false;
    bool datalogFileExists = false;
    // Exit codes this fault can explain; any other is a failure.
    std::set<int> allowedExitCodes;
};

// The search bound the soak gives r310ctl (--timeout-s).
constexpr int kSearchSeconds = 4;

SessionPlan PlanSession(Fault fault, std::uint32_t seed);
// The seed of session `number` (1-based) of a campaign.
std::uint32_t SessionSeed(std::uint32_t campaignSeed, int number);
// Round robin over the faults.
Fault SessionFault(int number);

// The longest a step may take by r310ctl's documented timing: the search
// bound, then every request it can make with all five attempts of 0.3 s
// each and the wait for late answers before it, a settings write with five
// attempts of its own wait and the wait for its late answers, and the
// program's start and end.
double StepBoundSeconds(Step step, const SessionPlan &plan);

} // namespace soak
