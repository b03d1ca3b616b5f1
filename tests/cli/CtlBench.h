#pragma once
// r310ctl in-process in the demo instrument's place: a fast simulated R310 of
// any scenario (no line pacing, a 10 ms tick, the build's gas table), with
// every frame on the line recorded as the instrument heard and sent it.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include "SimulatedInstrument.h"

#include "CliProcess.h"
#include "ExitCodes.h"
#include "Subcommands.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clitest {

using r310test::LineFrame;
using Names = std::vector<std::string>;

// What one run gave.
struct CtlResult {
    int code = -1;
    QString out;
    QString err;
    std::vector<LineFrame> heard; // the requests of this run

    // The requests of this run that wrote (the connect request writes nothing).
    int writes() const;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

class CtlBench {
public:
    explicit CtlBench(r310::sim::Scenario scenario = r310test::FastInstrument(221));

    // `r310ctl --demo arguments` (demo false: the arguments name the port) in
    // the regional settings `locale`.
    CtlResult Run(QStringList arguments, const QLocale &locale = QLocale::c(), bool demo = true) const;
    // `r310ctl --demo words`, the arguments written as one text split at spaces.
    CtlResult Run(const char *words) const { return Run(Words(words)); }
    // The same with onTrace called for this run.
    using TraceHook = std::function<void(r310::sim::Device &, const r310::sim::TraceEntry &)>;
    CtlResult Run(QStringList arguments, TraceHook hook)
    {
        onTrace = std::move(hook);
        CtlResult result = Run(std::move(arguments));
        onTrace = nullptr;
        return result;
    }
    CtlResult Run(const char *words, TraceHook hook) { return Run(Words(words), std::move(hook)); }

    // The output and errors of the last run.
    const QString &output() const { return last_.out; }
    const QString &errors() const { return last_.err; }
    QStringList errLines() const { return last_.errLines(); }

    // Every frame since the bench was made or last forgot.
    std::vector<LineFrame> line() const { return line_->since(0); }
    Names requests() const;
    // Requests that wrote, without the connect request.
    std::vector<LineFrame> writes() const;
    std::vector<LineFrame> named(const std::string &name) const;
    void forget() { line_ = std::make_shared<r310test::Line>(); }

    r310::sim::Scenario scenario;
    // Replaces the instrument's generated event log.
    std::optional<std::vector<r310::sim::EventRecord>> events;
    bool recordAnswers = false;
    // Ctrl+C reaches the command (raised by a test).
    bool handleSignals = false;
    // Where --demo runs keep their records (a records URL); empty: none.
    QString demoRecords;
    // Called with every trace entry, on the engine thread.
    TraceHook onTrace;

private:
    std::shared_ptr<r310test::Line> line_ = std::make_shared<r310test::Line>();
    mutable CtlResult last_; // what output() and errors() show
};

std::string Describe(const QStringList &arguments, const CtlResult &result);

} // namespace clitest
