// r310ctl watch in-process, on a simulated instrument that falls silent and
// comes back: the lost instrument is reported, searched for and found again.
#include "CliProcess.h"
#include "ExitCodes.h"
#include "SimBackend.h"
#include "Subcommands.h"

#include <QTimer>

#include <gtest/gtest.h>

using namespace r310;
using namespace std::chrono_literals;

TEST(CtlWatch, FollowsALostInstrumentAndFindsItAgain)
{
    clitest::EnsureApplication();
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    cli::CtlEnvironment environment(out, err);
    environment.tick = 10ms;
    environment.gasTableDirectories = {QStringLiteral(KALTEX32_DIR)};
    sim::SimBackend *instrument = nullptr;
    environment.demoLink = [&instrument](const QString &, const LineSettings &) {
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
        if (!silenced && output.contains(QStringLiteral(" ppm CO"))) {
            sim::FaultPlan silent;
            silent.noAnswer.probability = 1.0;
            instrument->device().setFaults(silent);
            silenced = true;
        } else if (silenced && !restored && output.contains(QStringLiteral("searching"))) {
            instrument->device().setFaults(sim::FaultPlan{});
            restored = true;
        }
    });
    script.start(5);

    const int code = cli::RunCtl({QStringLiteral("r310ctl"), QStringLiteral("--demo"), QStringLiteral("watch"),
                                  QStringLiteral("--samples"), QStringLiteral("3")},
                                 environment);
    out.flush();
    err.flush();
    EXPECT_EQ(code, cli::kExitOk) << errors.toStdString();
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
