#include "SoakPlan.h"

#include <random>

namespace soak {

namespace {

using Random = std::mt19937;

int Between(Random &random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

bool OneIn(Random &random, int n)
{
    return Between(random, 1, n) == 1;
}

QString Option(const QString &key, const QString &value)
{
    return QStringLiteral("--%1=%2").arg(key, value);
}

QString Option(const QString &key, int value)
{
    return Option(key, QString::number(value));
}

// How often a per-request fault strikes: the next K requests, or a
// probability; faults that only delay or garble the delivery may strike always.
QString Rate(Random &random, bool mayBeAlways)
{
    if (mayBeAlways && OneIn(random, 6))
        return QStringLiteral("always");
    if (OneIn(random, 4))
        return QString::number(Between(random, 1, 6));
    static const char *const kProbabilities[] = {"0.05", "0.1", "0.2", "0.3"};
    return QString::fromLatin1(kProbabilities[Between(random, 0, 3)]);
}

// Now and then the fault hits only a few objects, so it lands deep inside a
// download or only on the write.
QStringList FaultObjects(Random &random)
{
    if (!OneIn(random, 3))
        return {};
    static const int kObjects[] = {1, 2, 3, 4, 7, 31, 33, 34, 35, 36, 37, 38};
    QStringList chosen;
    const int count = Between(random, 1, 3);
    for (int i = 0; i < count; ++i)
        chosen.append(QString::number(kObjects[Between(random, 0, 11)]));
    return {Option(QStringLiteral("fault_objects"), chosen.join(u','))};
}

// Requests of the log objects (34 to 38) a session makes when all goes well:
// the counters of get, the logger write of set, the event download with
// its counters, the logger download.
int LogRequests(const SessionPlan &plan)
{
    const int set = plan.write.object == 36 ? 3 : 0;
    const int events = 2 + 2 * plan.events;
    const int datalog = 1 + plan.loggerBlocks * (1 + plan.setsPerBlock);
    return 2 + set + events + datalog;
}

QStringList LineDropOptions(Random &random, const SessionPlan &plan, bool forGoodAllowed)
{
    static const int kLost[] = {0, 1, 2, 3, 5};
    const int lost = kLost[Between(random, forGoodAllowed ? 0 : 1, 4)];
    return {Option(QStringLiteral("line_drop_after"), Between(random, 0, LogRequests(plan) - 1)),
            Option(QStringLiteral("line_drop_for"), lost)};
}

QStringList MixedOptions(Random &random, const SessionPlan &plan)
{
    static const char *const kRates[] = {"no_answer", "bad_crc", "error_report", "echo",
                                         "stray",     "split",   "late",         "wrong_object"};
    QStringList options;
    for (const char *key : kRates) {
        if (OneIn(random, 2))
            options.append(Option(QString::fromLatin1(key), QStringLiteral("0.04")));
    }
    if (OneIn(random, 3))
        options.append(LineDropOptions(random, plan, false));
    return options;
}

QStringList FaultOptions(Random &random, const SessionPlan &plan)
{
    QStringList options;
    switch (plan.fault) {
    case Fault::NoAnswer:
        options = {Option(QStringLiteral("no_answer"), Rate(random, false))};
        break;
    case Fault::BadCrc:
        options = {Option(QStringLiteral("bad_crc"), Rate(random, false))};
        break;
    case Fault::ErrorReport:
        options = {Option(QStringLiteral("error_report"), Rate(random, false))};
        break;
    case Fault::Echo:
        options = {Option(QStringLiteral("echo"), Rate(random, true))};
        break;
    case Fault::Stray:
        options = {Option(QStringLiteral("stray"), Rate(random, true)),
                   Option(QStringLiteral("stray_bytes"), Between(random, 1, 20))};
        break;
    case Fault::Split:
        // Every piece arrives within the attempt's 0.3 s.
        options = {Option(QStringLiteral("split"), Rate(random, true)),
                   Option(QStringLiteral("split_pieces"), Between(random, 2, 4)),
                   Option(QStringLiteral("split_pause_ms"), Between(random, 5, 50))};
        break;
    case Fault::Late: {
        // After the attempt gave up, but before the last attempt ends.
        static const int kLateMillis[] = {350, 450, 800, 1100};
        options = {Option(QStringLiteral("late"), Rate(random, true)),
                   Option(QStringLiteral("late_ms"), kLateMillis[Between(random, 0, 3)])};
        break;
    }
    case Fault::WrongObject:
        options = {Option(QStringLiteral("wrong_object"), Rate(random, false))};
        break;
    case Fault::LineDrop:
        return LineDropOptions(random, plan, true);
    case Fault::Mixed:
        return MixedOptions(random, plan);
    }
    return options + FaultObjects(random);
}

std::set<int> AllowedExitCodes(Fault fault)
{
    switch (fault) {
    case Fault::Echo:
    case Fault::Stray:
    case Fault::Split:
    case Fault::Late:
        // Only the delivery changes: every answer still comes within the
        // attempts, so every command must succeed.
        return {0};
    case Fault::NoAnswer:
    case Fault::BadCrc:
    case Fault::WrongObject:
    case Fault::LineDrop:
        return {0, 3};
    case Fault::ErrorReport:
    case Fault::Mixed:
        break;
    }
    return {0, 3, 5};
}

PlannedWrite PlanWrite(Random &random)
{
    switch (Between(random, 0, 2)) {
    case 0: {
        const int a1 = Between(random, 20, 29);
        return {QStringLiteral("a1=%1").arg(a1), 4, 20, 8, 2, a1};
    }
    case 1: {
        const int seconds = Between(random, 5, 29);
        return {QStringLiteral("bleep-interval=%1").arg(seconds), 31, 30, 1, 1, seconds};
    }
    default:
        break;
    }
    int interval = Between(random, 30, 300);
    if (interval == 60) // the scenario's own interval: the write would change nothing
        interval = 90;
    return {QStringLiteral("logger-interval=%1").arg(interval), 36, 20, 12, 2, interval};
}

} // namespace

const std::vector<Fault> &AllFaults()
{
    static const std::vector<Fault> faults{Fault::NoAnswer, Fault::BadCrc,      Fault::ErrorReport, Fault::Echo,
                                           Fault::Stray,    Fault::Split,       Fault::Late,        Fault::WrongObject,
                                           Fault::LineDrop, Fault::Mixed};
    return faults;
}

QString FaultName(Fault fault)
{
    switch (fault) {
    case Fault::NoAnswer: return QStringLiteral("no_answer");
    case Fault::BadCrc: return QStringLiteral("bad_crc");
    case Fault::ErrorReport: return QStringLiteral("error_report");
    case Fault::Echo: return QStringLiteral("echo");
    case Fault::Stray: return QStringLiteral("stray");
    case Fault::Split: return QStringLiteral("split");
    case Fault::Late: return QStringLiteral("late");
    case Fault::WrongObject: return QStringLiteral("wrong_object");
    case Fault::LineDrop: return QStringLiteral("line_drop");
    case Fault::Mixed: return QStringLiteral("mixed");
    }
    return {};
}

std::optional<Fault> FaultFromName(const QString &name)
{
    for (const Fault fault : AllFaults()) {
        if (FaultName(fault) == name)
            return fault;
    }
    return std::nullopt;
}

const std::vector<Step> &AllSteps()
{
    static const std::vector<Step> steps{Step::Get, Step::Set, Step::Events, Step::Datalog};
    return steps;
}

QString StepName(Step step)
{
    switch (step) {
    case Step::Get: return QStringLiteral("get");
    case Step::Set: return QStringLiteral("set");
    case Step::Events: return QStringLiteral("events");
    case Step::Datalog: return QStringLiteral("datalog");
    }
    return {};
}

SessionPlan PlanSession(Fault fault, std::uint32_t seed)
{
    Random random(seed);
    SessionPlan plan;
    plan.fault = fault;
    plan.seed = seed;
    static const int kVersions[] = {211, 220, 221};
    plan.events = Between(random, 3, 8);
    plan.loggerBlocks = Between(random, 1, 3);
    plan.setsPerBlock = Between(random, 1, 3);
    plan.scenario = {Option(QStringLiteral("software"), kVersions[Between(random, 0, 2)]),
                     Option(QStringLiteral("events"), plan.events),
                     Option(QStringLiteral("logger_blocks"), plan.loggerBlocks),
                     Option(QStringLiteral("logger_sets"), plan.setsPerBlock),
                     Option(QStringLiteral("seed"), QString::number(seed))};
    if (plan.loggerBlocks > 1 && OneIn(random, 5)) // a block that may not be read
        plan.scenario.append(Option(QStringLiteral("block1"), QStringLiteral("state=3")));
    plan.write = PlanWrite(random);
    plan.eventsFileExists = OneIn(random, 2);
    plan.datalogFileExists = OneIn(random, 2);
    plan.faultOptions = FaultOptions(random, plan);
    plan.allowedExitCodes = AllowedExitCodes(fault);
    // The logs from fixed times, so that every instrument of the session holds
    // the same ones, and the part of them on record before it.
    plan.scenario += {Option(QStringLiteral("logger_start"), 900000000), Option(QStringLiteral("event_start"), 800000000)};
    plan.eventsOnRecord = Between(random, 0, plan.events);
    plan.blocksOnRecord = Between(random, 0, plan.loggerBlocks);
    return plan;
}

std::uint32_t SessionSeed(std::uint32_t campaignSeed, int number)
{
    // A 64-bit mix of both, so neighbouring sessions share no pattern.
    std::uint64_t z = (std::uint64_t{campaignSeed} << 32) + static_cast<std::uint32_t>(number);
    z += 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<std::uint32_t>(z % 4294967295ULL) + 1;
}

Fault SessionFault(int number)
{
    const std::vector<Fault> &faults = AllFaults();
    return faults[static_cast<std::size_t>(number - 1) % faults.size()];
}

double StepBoundSeconds(Step step, const SessionPlan &plan)
{
    // A read: at most 5 attempts of 3 ticks of 0.1 s, and before it, when
    // the last exchange of its object needed several attempts, as long as
    // those were apart (at most 4 attempts) and a tick, for their late answers.
    constexpr double kAttemptSeconds = 0.3;
    constexpr double kOwedSeconds = 4 * kAttemptSeconds + 0.1;
    constexpr double kRequestSeconds = 5 * kAttemptSeconds + kOwedSeconds;
    // A logger read that needed more than one attempt then waits one
    // attempt more, so a late answer passes before the next read.
    constexpr double kLoggerRequestSeconds = kRequestSeconds + kAttemptSeconds;
    // Connect request, identity, the clock read up to 4 times with up to 3
    // clock writes between, the live value.
    constexpr int kConnectRequests = 10;
    // Program start and end (slower under the sanitizers).
    constexpr double kStartAndEndSeconds = 5.0;

    double requests = 0;
    double write = 0;
    switch (step) {
    case Step::Get:
        // The Range tab, the live value, Signals, Hardware, both log counters.
        requests = (kConnectRequests + 6) * kRequestSeconds;
        break;
    case Step::Set:
        // The General tab's identity, the group's read and its read-back.
        requests = (kConnectRequests + 3) * kRequestSeconds;
        // Five attempts of the write's own wait, then as long again (less
        // one attempt) before the read-back, for late answers to the write.
        write = 9 * plan.write.waitTicksPerAttempt * 0.1 + 0.1;
        break;
    case Step::Events:
        // The tab's two counters, then each event with a counter read after it.
        requests = (kConnectRequests + 2 + 2 * plan.events) * kRequestSeconds;
        break;
    case Step::Datalog:
        requests = (kConnectRequests + 1) * kRequestSeconds
                 + (1 + plan.loggerBlocks * (1 + plan.setsPerBlock)) * kLoggerRequestSeconds;
        break;
    }
    return kSearchSeconds + requests + write + kStartAndEndSeconds;
}

} // namespace soak
