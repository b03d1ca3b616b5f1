#pragma once
// r310ctl in-process on a fast simulated instrument of any scenario, with
// every request the instrument heard, for the hostile instrument and bad
// input tests. The simulator's headers use the word "signals" as a name,
// which Qt defines as a keyword: they come before every Qt header.
#include "SimBackend.h"

#include "CliProcess.h"
#include "ExitCodes.h"
#include "Subcommands.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hostiletest {

// A request as the instrument heard it.
struct HeardRequest {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;

    // The connect request carries the write flags too; it writes nothing.
    bool write() const { return object != r310::kObjectConnect && (flags & r310::kFlagWriteBit) != 0; }
};

class Wire {
public:
    void add(const HeardRequest &request)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        heard_.push_back(request);
    }
    std::vector<HeardRequest> heard() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return heard_;
    }
    void forget()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        heard_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<HeardRequest> heard_;
};

struct CtlResult {
    int code = -1;
    QString out;
    QString err;
    std::vector<HeardRequest> heard;

    int writes() const
    {
        int n = 0;
        for (const HeardRequest &h : heard)
            n += h.write() ? 1 : 0;
        return n;
    }
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Runs r310ctl with --demo on the scenario's instrument, no line pacing and a
// 10 ms tick, in the regional settings `locale`.
class CtlBench {
public:
    explicit CtlBench(r310::sim::Scenario scenario = Scenario221()) : scenario_(std::move(scenario))
    {
        clitest::EnsureApplication();
        scenario_.pacing = false;
    }

    static r310::sim::Scenario Scenario221()
    {
        r310::sim::Scenario scenario;
        scenario.softwareVersion = 221;
        return scenario;
    }

    // demo: the scenario's instrument (--demo); without it, the arguments name the port.
    CtlResult Run(QStringList arguments, const QLocale &locale = QLocale::c(), bool demo = true) const
    {
        QString output;
        QString errors;
        QTextStream out(&output);
        QTextStream err(&errors);
        r310::cli::CtlEnvironment environment(out, err);
        environment.tick = std::chrono::milliseconds(10);
        environment.gasTableDirectories = {QStringLiteral(KALTEX32_DIR)};
        const auto wire = std::make_shared<Wire>();
        const r310::sim::Scenario scenario = scenario_;
        environment.demoLink = [wire, scenario](const QString &, const r310::LineSettings &) {
            auto link = std::make_unique<r310::sim::SimBackend>(scenario);
            link->setPacing(false);
            link->device().setTrace([wire](const r310::sim::TraceEntry &entry) {
                if (entry.kind == r310::sim::TraceEntry::Kind::Request
                    && entry.bytes.size() >= static_cast<std::size_t>(r310::kFrameOverhead))
                    wire->add({entry.bytes[r310::kOffsetObject], entry.bytes[r310::kOffsetFlags]});
            });
            return link;
        };
        if (demo)
            arguments.prepend(QStringLiteral("--demo"));
        arguments.prepend(QStringLiteral("r310ctl"));
        const QLocale before;
        QLocale::setDefault(locale);
        CtlResult result;
        result.code = r310::cli::RunCtl(arguments, environment);
        QLocale::setDefault(before);
        out.flush();
        err.flush();
        result.out = output;
        result.err = errors;
        result.heard = wire->heard();
        return result;
    }

private:
    r310::sim::Scenario scenario_;
};

inline std::string Describe(const QStringList &arguments, const CtlResult &result)
{
    return ("r310ctl " + arguments.join(QLatin1Char(' ')) + "\n  exit " + QString::number(result.code) + "\n  err: "
            + result.err + "  out: " + result.out.left(400))
        .toStdString();
}

} // namespace hostiletest
