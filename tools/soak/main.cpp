// r310soak: the fault soak. Runs complete r310ctl sessions against r310sim on
// a pseudo-terminal, each with a seeded fault, checks every outcome, prints
// a line per failed session, a table by fault and "N passed, M failed".
#include "SoakReport.h"
#include "SoakSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

using namespace soak;

namespace {

const char *const kUsage = R"(Usage: r310soak [--sessions N] [--jobs J] [--seed S] [--bin DIR] [--work DIR] [--keep]
       r310soak --fault NAME --session-seed N [--bin DIR] [--work DIR] [--keep]

Runs N complete sessions (default 1000) of r310ctl against r310sim on a
pseudo-terminal: connect and read every tab (get), a write with read-back
(set), the event log and the data logger into files (events, datalog).
Each session's instrument suffers one fault, in turn: no_answer, bad_crc,
error_report, echo, stray, split, late, wrong_object, line_drop, mixed; its
rate, the objects it hits, the scenario and the write follow from the
session's seed. The same steps on a faultless instrument of the same
scenario show what a good run gives. A faultless download of part of the
same logs is put on the session's own records first, so its downloads read
only what follows.

Each session passes when every step ends with an exit code its fault can
explain, within r310ctl's time bound, without a crash or a sanitizer report,
leaves no partial or temporary file, replaces an older export file whole or
leaves it untouched, writes the same export as the faultless run (dates and
times aside), and every write the instrument heard carries the intended payload.

  --sessions N       how many sessions (default 1000)
  --jobs J           sessions at a time (default 2)
  --seed S           seed of the campaign (default 1)
  --bin DIR          folder of r310ctl and r310sim (default: r310soak's own)
  --work DIR         where sessions keep their files (default: a temporary folder)
  --keep             keep every session's files, not only the failed ones'
  --fault NAME --session-seed N   run one session again, as a failure line names it

Exit status 0 when every session passed, 1 when one failed, 2 for a usage error.
)";

struct Options {
    int sessions = 1000;
    int jobs = 2;
    std::uint32_t seed = 1;
    QString bin;
    QString work;
    bool keep = false;
    std::optional<Fault> fault;
    std::optional<std::uint32_t> sessionSeed;
};

bool ParseNumber(const QString &text, long long low, long long high, long long &value)
{
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok && value >= low && value <= high;
}

// Empty when fine, else the complaint.
QString ParseOptions(const QStringList &arguments, Options &options)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--keep")) {
            options.keep = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return QStringLiteral("unknown option or missing value: %1").arg(argument);
        const QString value = arguments[++i];
        long long number = 0;
        if (argument == QLatin1String("--sessions") && ParseNumber(value, 1, 10000000, number))
            options.sessions = static_cast<int>(number);
        else if (argument == QLatin1String("--jobs") && ParseNumber(value, 1, 64, number))
            options.jobs = static_cast<int>(number);
        else if (argument == QLatin1String("--seed") && ParseNumber(value, 0, 4294967295LL, number))
            options.seed = static_cast<std::uint32_t>(number);
        else if (argument == QLatin1String("--session-seed") && ParseNumber(value, 0, 4294967295LL, number))
            options.sessionSeed = static_cast<std::uint32_t>(number);
        else if (argument == QLatin1String("--fault") && FaultFromName(value))
            options.fault = FaultFromName(value);
        else if (argument == QLatin1String("--bin"))
            options.bin = value;
        else if (argument == QLatin1String("--work"))
            options.work = value;
        else
            return QStringLiteral("bad option or value: %1 %2").arg(argument, value);
    }
    if (options.fault.has_value() != options.sessionSeed.has_value())
        return QStringLiteral("--fault and --session-seed go together");
    if (options.fault)
        options.sessions = 1;
    return {};
}

SessionPlan PlanFor(const Options &options, int number)
{
    if (options.fault)
        return PlanSession(*options.fault, *options.sessionSeed);
    return PlanSession(SessionFault(number), SessionSeed(options.seed, number));
}

void Print(std::FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", qPrintable(line));
    std::fflush(stream);
}

// Runs the sessions on `jobs` threads; each session is reported as it ends.
SoakTally RunSessions(const Options &options, const Programs &programs, const QString &work)
{
    const QProcessEnvironment environment = ChildEnvironment(QDir(work).filePath(QStringLiteral("config")));
    SoakTally tally;
    std::mutex mutex;
    std::atomic<int> next{1};
    int done = 0;
    const int progressEvery = std::max(10, options.sessions / 10);
    const auto worker = [&] {
        for (int number = next++; number <= options.sessions; number = next++) {
            const SessionResult result = RunSession(number, PlanFor(options, number), programs, work, environment);
            const std::lock_guard<std::mutex> lock(mutex);
            tally.add(result);
            if (!result.passed())
                Print(stdout, FailureLine(result));
            else if (!options.keep)
                QDir(result.folder).removeRecursively();
            if (++done % progressEvery == 0 && done < options.sessions)
                Print(stderr, QStringLiteral("r310soak: %1 of %2 sessions, %3 failed")
                                  .arg(done)
                                  .arg(options.sessions)
                                  .arg(tally.failed()));
        }
    };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < std::min(options.jobs, options.sessions); ++i) {
        threads.emplace_back(QThread::create(worker));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        thread->wait();
    return tally;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    if (QCoreApplication::arguments().contains(QStringLiteral("--help")) ||
        QCoreApplication::arguments().contains(QStringLiteral("-h"))) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (const QString complaint = ParseOptions(QCoreApplication::arguments(), options); !complaint.isEmpty()) {
        Print(stderr, QStringLiteral("r310soak: %1 (see --help)").arg(complaint));
        return 2;
    }
    const QDir bin(options.bin.isEmpty() ? QCoreApplication::applicationDirPath() : options.bin);
    const Programs programs{bin.absoluteFilePath(QStringLiteral("r310ctl")), bin.absoluteFilePath(QStringLiteral("r310sim"))};
    for (const QString &program : {programs.ctl, programs.sim}) {
        if (!QFileInfo(program).isExecutable()) {
            Print(stderr, QStringLiteral("r310soak: no program %1 (see --bin)").arg(program));
            return 2;
        }
    }
    QTemporaryDir temporary(QDir::temp().filePath(QStringLiteral("r310soak-XXXXXX")));
    const QString work = options.work.isEmpty() ? temporary.path() : QDir(options.work).absolutePath();
    if (work.isEmpty() || !QDir().mkpath(work)) {
        Print(stderr, QStringLiteral("r310soak: cannot make the work folder"));
        return 2;
    }

    Print(stderr, QStringLiteral("r310soak: %1 sessions, %2 at a time, campaign seed %3, programs in %4")
                      .arg(options.sessions)
                      .arg(std::min(options.jobs, options.sessions))
                      .arg(options.seed)
                      .arg(bin.absolutePath()));
    QElapsedTimer clock;
    clock.start();
    const SoakTally tally = RunSessions(options, programs, work);
    // Failed sessions keep their files: the temporary folder stays then.
    temporary.setAutoRemove(tally.failed() == 0 && !options.keep);
    if (!temporary.autoRemove() && options.work.isEmpty())
        Print(stderr, QStringLiteral("r310soak: session files kept in %1").arg(work));
    Print(stdout, QString());
    Print(stdout, tally.table());
    Print(stdout, QStringLiteral("time: %1 s").arg(static_cast<double>(clock.elapsed()) / 1000.0, 0, 'f', 0));
    Print(stdout, tally.summary());
    return tally.failed() == 0 ? 0 : 1;
}
