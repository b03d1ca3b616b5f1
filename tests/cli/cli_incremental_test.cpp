// r310ctl datalog and events with the service records on, in-process on a
// simulated instrument whose logger and event log change between runs: only
// what is new is read, and the export file is always byte for byte that of a
// complete download (made with --no-records), whether the logger is
// unchanged, grew, wrapped, was cleared or changed, or the last download
// was cut off.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include "CtlBench.h"
#include "TestApplication.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace r310;

namespace {

// Requests of one object in a run.
int Asked(const clitest::CtlResult &run, std::uint8_t object)
{
    int n = 0;
    for (const r310test::LineFrame &frame : run.heard)
        n += frame.object == object ? 1 : 0;
    return n;
}

class Incremental : public ::testing::Test {
protected:
    Incremental()
    {
        sim::Scenario &s = bench.scenario;
        s.loggerBlocks = 100;
        s.loggerMaxBlocks = 100;
        s.loggerSets = 2;
        s.loggerStart = 800000000;
        s.events = 40;
        s.eventStart = 800000000;
        bench.demoRecords = records;
    }

    // `command` ("datalog" or "events") with the records, its file's bytes in *file.
    clitest::CtlResult Run(const char *command, QByteArray *file, const QStringList &more = {})
    {
        const QString path = dir.filePath(QStringLiteral("out.csv"));
        QFile::remove(path);
        const clitest::CtlResult run =
            bench.Run(more + QStringList{QString::fromLatin1(command), QStringLiteral("--out"), path});
        QFile out(path);
        *file = out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
        return run;
    }
    clitest::CtlResult Recorded(const char *command, QByteArray *file, const QStringList &more = {})
    {
        return Run(command, file, more);
    }
    QByteArray Complete(const char *command)
    {
        QByteArray file;
        EXPECT_EQ(Run(command, &file, {QStringLiteral("--no-records")}).code, 0);
        return file;
    }

    clitest::CtlBench bench{r310test::FastInstrument(221)};
    QTemporaryDir dir;
    const QString records = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("records.sqlite"));
};

TEST_F(Incremental, EachChangeOfTheLoggerReadsWhatIsNewAndWritesTheCompleteFile)
{
    QByteArray file;
    const clitest::CtlResult first = Recorded("datalog", &file);
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    EXPECT_EQ(file, Complete("datalog"));
    const auto loggerRequests = [](const clitest::CtlResult &run) {
        return Asked(run, kObjectLoggerInfo) + Asked(run, kObjectLoggerBlock) + Asked(run, kObjectLoggerSampleSet);
    };
    EXPECT_EQ(loggerRequests(first), 1 + 100 * 3);

    struct Step {
        const char *what;
        std::function<void(sim::Scenario &)> change;
        int setsRead;      // sample-set requests
        int headersAtMost; // block header requests
    };
    // The search for the newest block on record and three checks: 10 headers at most.
    const Step steps[] = {
        {"unchanged", [](sim::Scenario &) {}, 0, 10},
        {"grown by 5 blocks", [](sim::Scenario &s) { s.loggerBlocks = s.loggerMaxBlocks = 105; }, 5 * 2, 10 + 5},
        {"wrapped: 3 blocks written over, 3 new", [](sim::Scenario &s) { s.loggerOverwritten = 3; }, 3 * 2, 10 + 3},
        {"the newest block still filling",
         [](sim::Scenario &s) {
             s.loggerBlocks = s.loggerMaxBlocks = 106;
             s.blockOverrides[109] = {1, 2, 9, 1, 0, false};
         },
         2, 10 + 1},
        {"... and filled since", [](sim::Scenario &s) { s.blockOverrides.erase(109); }, 2, 10 + 1},
        {"block 1 changed under its number", [](sim::Scenario &s) { s.blockOverrides[4] = {2, 2, 15, 1, 0, false}; },
         105 * 2, 106 + 10},
        {"cleared and filled again",
         [](sim::Scenario &s) {
             s.blockOverrides.clear();
             s.loggerStart += 10000000;
         },
         106 * 2, 106 + 10},
        {"fewer blocks than on record", [](sim::Scenario &s) { s.loggerBlocks = 20; }, 20 * 2, 20},
    };
    for (const Step &step : steps) {
        step.change(bench.scenario);
        const clitest::CtlResult run = Recorded("datalog", &file);
        ASSERT_EQ(run.code, 0) << step.what << ": " << run.err.toStdString();
        EXPECT_EQ(file, Complete("datalog")) << step.what;
        EXPECT_EQ(Asked(run, kObjectLoggerSampleSet), step.setsRead) << step.what;
        EXPECT_LE(Asked(run, kObjectLoggerBlock), step.headersAtMost) << step.what;
        // An unchanged logger: a twentieth of the first download's requests at most.
        if (step.setsRead == 0)
            EXPECT_LE(20 * loggerRequests(run), loggerRequests(first));
    }
    // --full and --no-records read everything.
    const clitest::CtlResult forced = Recorded("datalog", &file, {QStringLiteral("--full")});
    EXPECT_EQ(Asked(forced, kObjectLoggerSampleSet), 20 * 2);
    const clitest::CtlResult unrecorded = Run("datalog", &file, {QStringLiteral("--no-records")});
    EXPECT_EQ(Asked(unrecorded, kObjectLoggerSampleSet), 20 * 2);
}

TEST_F(Incremental, ADownloadCutOffAtBlock30GoesOnFromThereTheNextTime)
{
    QByteArray file;
    bench.scenario.loggerBlocks = bench.scenario.loggerMaxBlocks = 60;
    bench.scenario.faults.silentAtBlock = 30;
    const clitest::CtlResult cut = Recorded("datalog", &file);
    EXPECT_EQ(cut.code, 3) << cut.err.toStdString();
    EXPECT_TRUE(file.isEmpty());
    bench.scenario.faults.silentAtBlock = 0;
    const clitest::CtlResult resumed = Recorded("datalog", &file);
    ASSERT_EQ(resumed.code, 0) << resumed.err.toStdString();
    EXPECT_EQ(Asked(resumed, kObjectLoggerSampleSet), (60 - 29) * 2);
    EXPECT_EQ(file, Complete("datalog"));
    EXPECT_TRUE(resumed.err.contains(QLatin1String("60 data logger blocks (29 already on record, 31 read)")))
        << resumed.err.toStdString();
}

TEST_F(Incremental, EventsAfterTheNewestOnRecordAreReadWhenTheFirstAndNewestStillMatch)
{
    QByteArray file;
    ASSERT_EQ(Recorded("events", &file).code, 0);
    EXPECT_EQ(file, Complete("events"));
    bench.scenario.events = 45;
    const clitest::CtlResult grown = Recorded("events", &file);
    ASSERT_EQ(grown.code, 0) << grown.err.toStdString();
    EXPECT_EQ(Asked(grown, kObjectEventRecord), 2 + 5);
    EXPECT_EQ(file, Complete("events"));
    // Another log under the same numbers: all of it again.
    bench.scenario.eventStart += 1000;
    const clitest::CtlResult other = Recorded("events", &file);
    EXPECT_EQ(Asked(other, kObjectEventRecord), 1 + 45);
    EXPECT_EQ(file, Complete("events"));
    EXPECT_EQ(Asked(Recorded("events", &file, {QStringLiteral("--full")}), kObjectEventRecord), 45);
}

} // namespace
