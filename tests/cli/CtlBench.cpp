#include "CtlBench.h"

#include <QTextStream>

#include <chrono>

namespace clitest {

using namespace r310;

int CtlResult::writes() const
{
    int n = 0;
    for (const LineFrame &f : heard)
        n += f.write() && f.object != kObjectConnect ? 1 : 0;
    return n;
}

CtlBench::CtlBench(sim::Scenario scenario) : scenario(std::move(scenario))
{
    EnsureApplication();
}

CtlResult CtlBench::Run(QStringList arguments, const QLocale &locale, bool demo) const
{
    CtlResult result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    cli::CtlEnvironment environment(out, err);
    environment.tick = std::chrono::milliseconds(10);
    environment.handleSignals = handleSignals;
    environment.gasTableDirectories = {QStringLiteral(KALTEX32_DIR)};
    // Made on the engine thread at each open.
    sim::Scenario unpaced = scenario;
    unpaced.pacing = false;
    environment.demoLink = [scenario = unpaced, events = events, answers = recordAnswers, trace = onTrace,
                            line = line_](const QString &, const LineSettings &) {
        auto link = std::make_unique<sim::SimBackend>(scenario);
        link->setPacing(false);
        if (events) {
            link->device().state().events.records = *events;
            link->device().state().events.position = static_cast<std::uint16_t>(events->size());
        }
        sim::Device *device = &link->device();
        device->setTrace([device, line, answers, trace](const sim::TraceEntry &entry) {
            line->record(entry, answers);
            if (trace)
                trace(*device, entry);
        });
        line->backend = link.get();
        return link;
    };
    // In-process runs keep no records unless the test names where: the
    // records the test programs share would make downloads incremental.
    environment.demoRecords = demoRecords;
    if (demoRecords.isEmpty() && !arguments.contains(QStringLiteral("--records"))
        && !arguments.contains(QStringLiteral("--no-records")))
        arguments.prepend(QStringLiteral("--no-records"));
    if (demo)
        arguments.prepend(QStringLiteral("--demo"));
    arguments.prepend(QStringLiteral("r310ctl"));
    const std::size_t before = line_->size();
    const QLocale previous;
    QLocale::setDefault(locale);
    result.code = cli::RunCtl(arguments, environment);
    QLocale::setDefault(previous);
    out.flush();
    err.flush();
    result.heard = r310test::Requests(line_->since(before));
    last_ = result;
    return result;
}

Names CtlBench::requests() const
{
    Names names;
    for (const LineFrame &f : r310test::Requests(line()))
        names.push_back(f.name());
    return names;
}

std::vector<LineFrame> CtlBench::writes() const
{
    std::vector<LineFrame> found;
    for (const LineFrame &f : line()) {
        if (f.write() && f.object != kObjectConnect)
            found.push_back(f);
    }
    return found;
}

std::vector<LineFrame> CtlBench::named(const std::string &name) const
{
    std::vector<LineFrame> found;
    for (const LineFrame &f : line()) {
        if (f.name() == name)
            found.push_back(f);
    }
    return found;
}

std::string Describe(const QStringList &arguments, const CtlResult &result)
{
    return ("r310ctl " + arguments.join(QLatin1Char(' ')) + "\n  exit " + QString::number(result.code) + "\n  err: "
            + result.err + "  out: " + result.out.left(400))
        .toStdString();
}

} // namespace clitest
