// r310ctl watch in-process, on a simulated instrument that falls silent and
// comes back: the lost instrument is reported, searched for and found again.
#include "CliProcess.h"
#include "ExitCodes.h"
#include "SimBackend.h"
#include "Subcommands.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

using namespace r310;
using namespace std::chrono_literals;

namespace {

// r310ctl in-process with its own streams, a 10 ms tick and this build's gas table.
struct WatchRun {
    WatchRun() : out(&output), err(&errors), environment(out, err)
    {
        clitest::EnsureApplication();
        environment.tick = 10ms;
        environment.gasTableDirectories = {QStringLiteral(KALTEX32_DIR)};
    }
    int Run(const char *words)
    {
        const int code = cli::RunCtl(clitest::Words(words), environment);
        out.flush();
        err.flush();
        return code;
    }

    QString output;
    QString errors;
    QTextStream out;
    QTextStream err;
    cli::CtlEnvironment environment;
};

} // namespace

TEST(CtlWatch, FollowsALostInstrumentAndFindsItAgain)
{
    WatchRun run;
    QString &output = run.output;
    QTextStream &out = run.out;
    sim::SimBackend *instrument = nullptr;
    run.environment.demoLink = [&instrument](const QString &, const LineSettings &) {
        auto link = std::make_unique<sim::SimBackend>();
        link->setPacing(false);
        instrument = link.get();
        return link;
    };

    // After the first reading the instrument falls silent; once the search
    // is reported it answers again.
    bool silenced = false;
    bool restored = false;
    QTimer script;
    script.callOnTimeout([&] {
        out.flush();
        if (!instrument)
            return;
        // The instrument lives on the connection's engine thread: its
        // faults are changed there.
        if (!silenced && output.contains(QStringLiteral(" ppm CO"))) {
            QMetaObject::invokeMethod(instrument, [instrument] {
                sim::FaultPlan silent;
                silent.noAnswer.probability = 1.0;
                instrument->device().setFaults(silent);
            });
            silenced = true;
        } else if (silenced && !restored && output.contains(QStringLiteral("searching"))) {
            QMetaObject::invokeMethod(instrument, [instrument] { instrument->device().setFaults(sim::FaultPlan{}); });
            restored = true;
        }
    });
    script.start(5);

    const int code = run.Run("r310ctl --demo watch --samples 3");
    EXPECT_EQ(code, cli::kExitOk) << run.errors.toStdString();
    EXPECT_TRUE(restored);

    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype lost = lines.indexOf(QStringLiteral("instrument not answering; searching ..."));
    const qsizetype found = lines.indexOf(QStringLiteral("instrument answering again"));
    ASSERT_GT(lost, 1) << output.toStdString();
    ASSERT_GT(found, lost);
    EXPECT_TRUE(lines.at(lost - 1).endsWith(QStringLiteral(" ppm CO")));
    // Readings go on after the instrument was found, with unit and gas again.
    ASSERT_GT(lines.size(), found + 1);
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral(" ppm CO")));
    EXPECT_EQ(lines.filter(QStringLiteral(" ppm CO")).size(), 3);
}

TEST(CtlWatch, InstrumentThatNeverReportsItsRangeEndsTheWatchWithAMessage)
{
    WatchRun run;
    int rangeRequests = 0;
    run.environment.demoLink = [&rangeRequests](const QString &, const LineSettings &) {
        sim::Scenario scenario;
        scenario.faults.errorReport.probability = 1.0;
        scenario.faults.objects = {kObjectRange};
        auto link = std::make_unique<sim::SimBackend>(scenario);
        link->setPacing(false);
        link->device().setTrace([&rangeRequests](const sim::TraceEntry &entry) {
            if (entry.kind == sim::TraceEntry::Kind::Request && entry.bytes.size() > kOffsetObject
                && entry.bytes[kOffsetObject] == kObjectRange)
                ++rangeRequests;
        });
        return link;
    };
    // A watch that went silent would never return: the guard ends it.
    bool guardStruck = false;
    QTimer guard;
    guard.setSingleShot(true);
    guard.callOnTimeout([&] {
        guardStruck = true;
        QCoreApplication::exit(1);
    });
    guard.start(20s);

    const int code = run.Run("r310ctl --demo watch");
    guard.stop();

    ASSERT_FALSE(guardStruck) << "watch went silent";
    EXPECT_EQ(code, cli::kExitInstrumentError) << run.errors.toStdString();
    clitest::ExpectContains(run.errors, {"does not report its measuring range"});
    EXPECT_GE(rangeRequests, 2) << "the range was asked for again";
    EXPECT_LE(rangeRequests, 6) << "and only a few times";
    EXPECT_FALSE(run.output.contains(QStringLiteral(" ppm"))) << "no value was printed without its range";
}
