// r310ctl on a technician's first day: alarm limits outside the measuring
// range or between two values the instrument's scale holds are refused with
// exit 2 before anything is written (by set and by a profile alike), and a
// logger download says where it saved the file, or, spoilt by damaged
// answers, says so instead of "did not answer". In-process on the simulated instrument (0 to 500 ppm, exponent 0).
#include "CtlBench.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace r310;
using clitest::CtlBench;
using clitest::CtlResult;
using clitest::Describe;
using clitest::ExpectContains;

namespace {

TEST(CtlLimits, LimitsOutsideTheRangeOrTheScaleExitTwoAndWriteNothing)
{
    const char *cases[][2] = {
        {"set a1=600", "r310ctl: a1: 600 is outside the instrument's measuring range 0 to 500; nothing was sent\n"},
        {"set bleep=soft a2=-5",
         "r310ctl: a2: -5 is outside the instrument's measuring range 0 to 500; nothing was sent\n"},
        {"set a1=35.5",
         "r310ctl: a1: 35.5 does not fit the instrument's scale; the nearest values it can hold are 35 and 36\n"},
    };
    CtlBench bench;
    for (const auto &[arguments, line] : cases) {
        const CtlResult result = bench.Run(arguments);
        EXPECT_EQ(result.code, cli::kExitUsage) << Describe(clitest::Words(arguments), result);
        EXPECT_EQ(result.err, QString::fromLatin1(line));
        EXPECT_EQ(result.writes(), 0) << Describe(clitest::Words(arguments), result);
    }
    // Within the range and on the scale: written.
    const CtlResult written = bench.Run("set a2=61");
    EXPECT_EQ(written.code, cli::kExitOk) << Describe(clitest::Words("set a2=61"), written);
    EXPECT_EQ(written.writes(), 1);
}

TEST(CtlLimits, AProfileWithALimitOutsideTheRangeIsRefusedInItsPlan)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("shelf.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "r310conf-settings-profile", "version": 1, "settings": {"a1": 600, "bleep": "soft"}})");
    file.close();
    const QStringList arguments{"profile", "apply", path};
    const CtlResult result = CtlBench().Run(arguments);
    EXPECT_EQ(result.code, cli::kExitUsage) << Describe(arguments, result);
    ExpectContains(result.err, {"a1: 600 is outside the instrument's measuring range 0 to 500; nothing was sent"});
    EXPECT_EQ(result.writes(), 0);
}

TEST(CtlLimits, ALoggerDownloadSaysWhereItWentOrThatTheAnswersWereDamaged)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("logger.csv"));
    const QStringList arguments{"datalog", "--out", path};
    const CtlResult saved = CtlBench().Run(arguments);
    EXPECT_EQ(saved.code, cli::kExitOk) << Describe(arguments, saved);
    EXPECT_EQ(saved.err, QStringLiteral("r310ctl: 6 data logger blocks read; saved to %1\n").arg(path));

    sim::Scenario scenario = r310test::FastInstrument();
    scenario.faults.badCrc.probability = 1.0;
    scenario.faults.objects = {kObjectLoggerBlock};
    const CtlResult result = CtlBench(scenario).Run(arguments);
    EXPECT_EQ(result.code, cli::kExitNoInstrument) << Describe(arguments, result);
    ExpectContains(result.err, {"arrived damaged (checksum) at block 1 of 6 on "});
}

} // namespace
