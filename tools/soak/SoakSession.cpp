#include "SoakSession.h"

#include "SoakChecks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <memory>

namespace soak {

namespace {

constexpr int kSimulatorStartMillis = 10000;
constexpr int kSimulatorEndMillis = 10000;
// A step still running this long after its bound is stopped.
constexpr double kGraceSeconds = 15.0;
// A faultless run is quick; this only keeps a broken one from hanging the soak.
constexpr double kReferenceLimitSeconds = 60.0;

const QString kEventsFile = QStringLiteral("events.csv");
const QString kDatalogFile = QStringLiteral("datalog.csv");

std::optional<QByteArray> ReadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What r310ctl said last about the outcome (its -v lines aside).
QString Diagnostic(const QByteArray &errorOutput)
{
    const QStringList lines = QString::fromUtf8(errorOutput).split(u'\n', Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->startsWith(QLatin1String("r310ctl: ")))
            return *line;
    }
    return lines.isEmpty() ? QString() : lines.last();
}

QString Seconds(double seconds)
{
    return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
}

QString CodeList(const std::set<int> &codes)
{
    QStringList texts;
    for (const int code : codes)
        texts.append(QString::number(code));
    return texts.join(QStringLiteral(", "));
}

struct ProcessRun {
    bool started = false;
    bool crashed = false;
    bool timedOut = false;
    int exitCode = -1;
    double seconds = 0;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end with its output in files (a pipe nobody reads
// could fill up and stall it); stops it with SIGKILL after limitSeconds.
ProcessRun RunProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                      const QString &outputBase, double limitSeconds)
{
    ProcessRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QFileInfo(outputBase).absolutePath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(outputBase + QStringLiteral(".out"));
    process.setStandardErrorFile(outputBase + QStringLiteral(".err"));
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    run.started = process.waitForStarted(kSimulatorStartMillis);
    if (run.started && !process.waitForFinished(static_cast<int>(limitSeconds * 1000))) {
        run.timedOut = true;
        process.kill();
        process.waitForFinished(kSimulatorEndMillis);
    }
    run.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    run.crashed = run.started && !run.timedOut && process.exitStatus() == QProcess::CrashExit;
    if (run.started && !run.timedOut && !run.crashed)
        run.exitCode = process.exitCode();
    run.out = ReadFile(outputBase + QStringLiteral(".out")).value_or(QByteArray());
    run.err = ReadFile(outputBase + QStringLiteral(".err")).value_or(QByteArray());
    return run;
}

// r310sim on its pseudo-terminal, its log in a file; ended with SIGTERM.
class Simulator {
public:
    Simulator(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
              const QString &logPath)
        : logPath_(logPath)
    {
        process_.setProcessEnvironment(environment);
        process_.setStandardInputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(logPath);
        process_.start(program, arguments);
        if (!process_.waitForStarted(kSimulatorStartMillis))
            return;
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine() && clock.elapsed() < kSimulatorStartMillis
               && process_.state() == QProcess::Running)
            process_.waitForReadyRead(100);
        device_ = QString::fromUtf8(process_.readLine()).trimmed();
    }

    ~Simulator()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kSimulatorEndMillis);
        }
    }

    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    QString device() const { return device_; }

    // Sends SIGTERM and waits: problems when it does not end cleanly.
    QStringList stop()
    {
        QStringList problems;
        process_.terminate();
        if (!process_.waitForFinished(kSimulatorEndMillis)) {
            problems.append(QStringLiteral("r310sim did not end on SIGTERM"));
            process_.kill();
            process_.waitForFinished(kSimulatorEndMillis);
        } else if (process_.exitStatus() == QProcess::CrashExit) {
            problems.append(QStringLiteral("r310sim crashed"));
        } else if (process_.exitCode() != 0) {
            problems.append(QStringLiteral("r310sim ended with exit code %1").arg(process_.exitCode()));
        }
        log_ = ReadFile(logPath_).value_or(QByteArray());
        for (const QString &report : SanitizerReports(log_))
            problems.append(QStringLiteral("r310sim: ") + report);
        return problems;
    }

    // Its log after stop().
    const QByteArray &log() const { return log_; }

private:
    QProcess process_;
    QString logPath_;
    QString device_;
    QByteArray log_;
};

QStringList StepArguments(Step step, const SessionPlan &plan, const QString &outFolder, bool dryRun)
{
    switch (step) {
    case Step::Get:
        return {QStringLiteral("get"), QStringLiteral("--json")};
    case Step::Set:
        if (dryRun)
            return {QStringLiteral("set"), QStringLiteral("--dry-run"), QStringLiteral("--json"), plan.write.assignment};
        return {QStringLiteral("set"), QStringLiteral("--json"), plan.write.assignment};
    case Step::Events:
        return {QStringLiteral("events"), QStringLiteral("--out"), QDir(outFolder).filePath(kEventsFile)};
    case Step::Datalog:
        return {QStringLiteral("datalog"), QStringLiteral("--out"), QDir(outFolder).filePath(kDatalogFile)};
    }
    return {};
}

// verbose: each request and the connection phase on standard error, which
// the session's files keep for a failure's analysis.
// records: the session's records file; empty: none (every download complete).
QStringList CtlArguments(const QString &device, const QStringList &command, bool verbose, const QString &records)
{
    QStringList arguments{QStringLiteral("--port"), device, QStringLiteral("--timeout-s"), QString::number(kSearchSeconds)};
    arguments += records.isEmpty() ? QStringList{QStringLiteral("--no-records")}
                                   : QStringList{QStringLiteral("--records"), QStringLiteral("sqlite:") + records};
    if (verbose)
        arguments.append(QStringLiteral("-v"));
    return arguments + command;
}

// What a faultless run of the same scenario gives.
struct Reference {
    QByteArray get;
    QByteArray payload;
    QByteArray events;
    QByteArray datalog;
};

class Session {
public:
    Session(int number, const SessionPlan &plan, const Programs &programs, const QString &folder,
            const QProcessEnvironment &environment)
        : programs_(programs), environment_(environment), folder_(folder),
          logs_(QDir(folder).filePath(QStringLiteral("logs"))), out_(QDir(folder).filePath(QStringLiteral("out"))),
          records_(QDir(folder).filePath(QStringLiteral("records.sqlite")))
    {
        result_.number = number;
        result_.plan = plan;
        result_.folder = folder;
    }

    SessionResult run()
    {
        if (!QDir().mkpath(logs_) || !QDir().mkpath(out_)) {
            problem(QStringLiteral("soak"), QStringLiteral("cannot make the folder %1").arg(folder_));
            return result_;
        }
        if (runReference())
            runFaulted();
        return result_;
    }

private:
    const SessionPlan &plan() const { return result_.plan; }

    void problem(const QString &where, const QString &what) { result_.problems.append(where + QStringLiteral(": ") + what); }

    void problems(const QString &where, const QStringList &what)
    {
        for (const QString &text : what)
            problem(where, text);
    }

    bool runReference()
    {
        Simulator sim(programs_.sim, plan().scenario + QStringList{QStringLiteral("--no-pacing")}, environment_,
                      QDir(logs_).filePath(QStringLiteral("reference-sim.log")));
        if (sim.device().isEmpty()) {
            problem(QStringLiteral("reference"), QStringLiteral("r310sim did not start"));
            return false;
        }
        const auto reference = [&](const QString &name, const QStringList &command) {
            const ProcessRun run = RunProgram(programs_.ctl, CtlArguments(sim.device(), command, false, {}), environment_,
                                              QDir(logs_).filePath(QStringLiteral("reference-") + name),
                                              kReferenceLimitSeconds);
            if (run.exitCode != 0)
                problem(QStringLiteral("reference"),
                        QStringLiteral("r310ctl %1 on a faultless instrument: exit code %2 (%3)")
                            .arg(command.join(u' '))
                            .arg(run.exitCode)
                            .arg(Diagnostic(run.err)));
            return run;
        };
        reference_.get = reference(QStringLiteral("get"), StepArguments(Step::Get, plan(), logs_, false)).out;
        const ProcessRun dryRun = reference(QStringLiteral("set"), StepArguments(Step::Set, plan(), logs_, true));
        reference(QStringLiteral("events"), StepArguments(Step::Events, plan(), logs_, false));
        reference(QStringLiteral("datalog"), StepArguments(Step::Datalog, plan(), logs_, false));
        problems(QStringLiteral("reference"), sim.stop());
        reference_.events = ReadFile(QDir(logs_).filePath(kEventsFile)).value_or(QByteArray());
        reference_.datalog = ReadFile(QDir(logs_).filePath(kDatalogFile)).value_or(QByteArray());
        reference_.payload = PayloadOfSetJson(dryRun.out).value_or(QByteArray());
        putPartOnRecord();
        if (reference_.payload.isEmpty() && dryRun.exitCode == 0)
            problem(QStringLiteral("reference"), QStringLiteral("set --dry-run --json named no payload"));
        else
            problems(QStringLiteral("reference"), CheckPayloadValue(reference_.payload, plan().write.valueOffset,
                                                                    plan().write.valueSize, plan().write.value));
        return result_.passed();
    }

    // A faultless download of fewer events and blocks of the same logs, kept
    // on record: the faulted session's downloads read only what follows.
    void putPartOnRecord()
    {
        if (plan().eventsOnRecord == 0 && plan().blocksOnRecord == 0)
            return;
        Simulator sim(programs_.sim,
                      plan().scenario + QStringList{QStringLiteral("--no-pacing"),
                                                    QStringLiteral("--events=%1").arg(plan().eventsOnRecord),
                                                    QStringLiteral("--logger-blocks=%1").arg(plan().blocksOnRecord)},
                      environment_, QDir(logs_).filePath(QStringLiteral("on-record-sim.log")));
        for (const Step step : {Step::Events, Step::Datalog}) {
            if ((step == Step::Events ? plan().eventsOnRecord : plan().blocksOnRecord) == 0)
                continue;
            const ProcessRun run = RunProgram(programs_.ctl,
                                              CtlArguments(sim.device(), StepArguments(step, plan(), logs_, false),
                                                           false, records_),
                                              environment_, QDir(logs_).filePath(QStringLiteral("on-record-") + StepName(step)),
                                              kReferenceLimitSeconds);
            if (run.exitCode != 0)
                problem(QStringLiteral("on record"), QStringLiteral("r310ctl %1: exit code %2 (%3)")
                                                         .arg(StepName(step)).arg(run.exitCode).arg(Diagnostic(run.err)));
        }
        problems(QStringLiteral("on record"), sim.stop());
    }

    void prepareOlderFiles()
    {
        const QByteArray older = QByteArrayLiteral("an older export, session seed ") + QByteArray::number(plan().seed) +
                                 QByteArrayLiteral("\r\n");
        if (plan().eventsFileExists) {
            eventsBefore_ = older + "events\r\n";
            WriteFile(QDir(out_).filePath(kEventsFile), *eventsBefore_);
        }
        if (plan().datalogFileExists) {
            datalogBefore_ = older + "datalog\r\n";
            WriteFile(QDir(out_).filePath(kDatalogFile), *datalogBefore_);
        }
    }

    void runFaulted()
    {
        Simulator sim(programs_.sim, plan().scenario + plan().faultOptions + QStringList{QStringLiteral("--log")},
                      environment_, QDir(logs_).filePath(QStringLiteral("sim.log")));
        if (sim.device().isEmpty()) {
            problem(QStringLiteral("r310sim"), QStringLiteral("did not start"));
            return;
        }
        prepareOlderFiles();
        bool setReportedWritten = false;
        for (const Step step : AllSteps()) {
            const StepOutcome outcome = runStep(step, sim.device());
            if (step == Step::Set && outcome.exitCode == 0)
                setReportedWritten = true;
        }
        problems(QStringLiteral("r310sim"), sim.stop());
        problems(QStringLiteral("wire"),
                 CheckWrites(WritesHeard(sim.log()), plan().write.object, reference_.payload, setReportedWritten));
    }

    StepOutcome runStep(Step step, const QString &device)
    {
        const QString name = StepName(step);
        StepOutcome outcome;
        outcome.step = step;
        outcome.boundSeconds = StepBoundSeconds(step, plan());
        const ProcessRun run = RunProgram(programs_.ctl,
                                          CtlArguments(device, StepArguments(step, plan(), out_, false), true, records_),
                                          environment_, QDir(logs_).filePath(name),
                                          outcome.boundSeconds + kGraceSeconds);
        outcome.exitCode = run.exitCode;
        outcome.crashed = run.crashed;
        outcome.timedOut = run.timedOut;
        outcome.seconds = run.seconds;
        result_.steps.push_back(outcome);
        checkProcess(name, outcome, run);
        checkResult(step, run);
        return outcome;
    }

    void checkProcess(const QString &name, const StepOutcome &outcome, const ProcessRun &run)
    {
        if (!run.started)
            problem(name, QStringLiteral("r310ctl did not start"));
        else if (run.timedOut)
            problem(name, QStringLiteral("did not end within %1 and was stopped (bound %2)")
                              .arg(Seconds(run.seconds), Seconds(outcome.boundSeconds)));
        else if (run.crashed)
            problem(name, QStringLiteral("r310ctl crashed"));
        else if (!plan().allowedExitCodes.count(run.exitCode))
            problem(name, QStringLiteral("exit code %1, which %2 cannot explain (allowed: %3): %4")
                              .arg(run.exitCode)
                              .arg(FaultName(plan().fault), CodeList(plan().allowedExitCodes), Diagnostic(run.err)));
        if (!run.timedOut && outcome.seconds > outcome.boundSeconds)
            problem(name, QStringLiteral("took %1, more than the bound %2")
                              .arg(Seconds(outcome.seconds), Seconds(outcome.boundSeconds)));
        problems(name, SanitizerReports(run.err));
    }

    void checkResult(Step step, const ProcessRun &run)
    {
        const QString name = StepName(step);
        switch (step) {
        case Step::Get:
            if (run.exitCode == 0)
                problems(name, CompareGetJson(run.out, reference_.get));
            break;
        case Step::Set:
            if (run.exitCode == 0)
                problems(name, CheckSetJson(run.out, plan().write.object, reference_.payload));
            break;
        case Step::Events:
            checkExport(name, ExportKind::Events, kEventsFile, eventsBefore_, reference_.events, run);
            break;
        case Step::Datalog:
            checkExport(name, ExportKind::Datalog, kDatalogFile, datalogBefore_, reference_.datalog, run);
            break;
        }
    }

    void checkExport(const QString &name, ExportKind kind, const QString &file, const FileBefore &before,
                     const QByteArray &reference, const ProcessRun &run)
    {
        if (run.exitCode < 0)
            return; // a crash or a stop is reported already; what it left says nothing more
        const FileBefore after = ReadFile(QDir(out_).filePath(file));
        problems(name, CheckExportFile(kind, run.exitCode, before, after, reference, QString::fromUtf8(run.err)));
        const QStringList left = UnexpectedFiles(QDir(out_), {kEventsFile, kDatalogFile});
        if (!left.isEmpty())
            problem(name, QStringLiteral("files left beside the export: ") + left.join(QStringLiteral(", ")));
    }

    const Programs &programs_;
    const QProcessEnvironment &environment_;
    const QString folder_;
    const QString logs_;
    const QString out_;
    const QString records_; // the session's own records
    SessionResult result_;
    Reference reference_;
    FileBefore eventsBefore_;
    FileBefore datalogBefore_;
};

} // namespace

QProcessEnvironment ChildEnvironment(const QString &configFolder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("LC_")) || name == QLatin1String("LANG") || name == QLatin1String("LANGUAGE"))
            environment.remove(name);
    }
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
    // Ignored by programs built without the sanitizers.
    if (!environment.contains(QStringLiteral("ASAN_OPTIONS")))
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=1"));
    if (!environment.contains(QStringLiteral("UBSAN_OPTIONS")))
        environment.insert(QStringLiteral("UBSAN_OPTIONS"), QStringLiteral("print_stacktrace=1:halt_on_error=1"));
    return environment;
}

SessionResult RunSession(int number, const SessionPlan &plan, const Programs &programs, const QString &workFolder,
                         const QProcessEnvironment &environment)
{
    const QString folder = QDir(workFolder).filePath(
        QStringLiteral("session-%1-%2").arg(number, 5, 10, QLatin1Char('0')).arg(FaultName(plan.fault)));
    Session session(number, plan, programs, folder, environment);
    return session.run();
}

} // namespace soak
