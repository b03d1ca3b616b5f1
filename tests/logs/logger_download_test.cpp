// The data logger download as a job on the instrument connection, against
// the simulated instrument: what it asks in which order, what it hands back,
// its progress, and how it ends when the line, the instrument or the user
// ends it.
#include "../commands/ActionRig.h"

#include "DataLoggerDownload.h"

#include <gtest/gtest.h>

#include <QMetaObject>

#include <memory>
#include <utility>
#include <vector>

using namespace r310;
using namespace r310::logs;
using actiontest::Heard;
using actiontest::Names;
using actiontest::Rig;
using actiontest::RigOptions;

namespace {

using namespace std::chrono_literals;

RigOptions Logger(int blocks, std::uint8_t sets = 1)
{
    RigOptions options;
    options.scenario.loggerBlocks = blocks;
    options.scenario.loggerSets = sets;
    return options;
}

struct Progress {
    int done;
    int total;
    bool operator==(const Progress &other) const { return done == other.done && total == other.total; }
};

// The logger requests among what the instrument heard.
std::vector<Heard> LoggerRequests(const std::vector<Heard> &heard)
{
    std::vector<Heard> logger;
    for (const Heard &h : heard) {
        if (h.object >= kObjectLoggerInfo && h.object <= kObjectLoggerSampleSet)
            logger.push_back(h);
    }
    return logger;
}

// The download must hand back exactly what the instrument stores.
void ExpectSameAsInstrument(const LoggerDownloadResult &result, const sim::DataLogger &stored)
{
    ASSERT_EQ(result.data.blocks.size(), stored.blocks.size());
    for (std::size_t b = 0; b < stored.blocks.size(); ++b) {
        const sim::LoggerBlock &expected = stored.blocks[b];
        const LoggerBlock &got = result.data.blocks[b];
        EXPECT_EQ(got.header.state, expected.state) << "block " << b + 1;
        EXPECT_EQ(static_cast<std::uint32_t>(got.header.firstSampleTime), expected.firstSampleTime);
        EXPECT_EQ(got.header.interval, expected.interval);
        EXPECT_EQ(got.header.reportedSamples, expected.samplesPerSet);
        EXPECT_EQ(got.header.setCount, expected.setCount);
        if (!got.header.setsReadable()) {
            EXPECT_TRUE(got.sets.empty()) << "block " << b + 1;
            continue;
        }
        ASSERT_EQ(got.sets.size(), expected.sets.size()) << "block " << b + 1;
        for (std::size_t k = 0; k < expected.sets.size(); ++k) {
            EXPECT_EQ(got.sets[k].state, expected.sets[k].state);
            EXPECT_EQ(got.sets[k].alarmBits, expected.sets[k].alarmBits) << "block " << b + 1 << " set " << k + 1;
            EXPECT_EQ(got.sets[k].exponent, expected.sets[k].exponent);
            for (int i = 0; i < kSamplesPerSet; ++i)
                EXPECT_EQ(got.sets[k].samples[static_cast<std::size_t>(i)],
                          expected.sets[k].samples[static_cast<std::size_t>(i)])
                    << "block " << b + 1 << " set " << k + 1 << " sample " << i;
        }
    }
}

std::shared_ptr<LoggerDownloadResult> Download(Rig &rig, Outcome *outcome = nullptr)
{
    auto result = std::make_shared<LoggerDownloadResult>();
    const Outcome ended = rig.Run(DataLoggerDownloadJob(result));
    if (outcome)
        *outcome = ended;
    return result;
}

// Starts the download and calls `during` once it has reported `blocks` blocks.
std::shared_ptr<LoggerDownloadResult> DownloadAndInterrupt(Rig &rig, int blocks, const std::function<void()> &during,
                                                           Outcome *outcome)
{
    auto result = std::make_shared<LoggerDownloadResult>();
    int reported = 0;
    const auto watch = QObject::connect(&rig.connection, &InstrumentConnection::progress, &rig.connection,
                                        [&reported](int done, int, const QString &) { reported = done; });
    bool finished = false;
    const JobId id = rig.connection.submit(QStringLiteral("download"), DataLoggerDownloadJob(result));
    const auto end = QObject::connect(&rig.connection, &InstrumentConnection::jobFinished, &rig.connection,
                                      [&, id](JobId ended, Outcome how) {
                                          if (ended == id) {
                                              finished = true;
                                              *outcome = how;
                                          }
                                      });
    EXPECT_TRUE(r310test::SpinUntil([&] { return reported >= blocks || finished; }, 10s));
    during();
    EXPECT_TRUE(r310test::SpinUntil([&] { return finished; }, 10s));
    QObject::disconnect(watch);
    QObject::disconnect(end);
    return result;
}

} // namespace

TEST(LoggerDownload, ReadsEveryBlockAndTheSetsOfReadableBlocksInOrder)
{
    RigOptions options = Logger(5);
    options.scenario.blockOverrides[2].state = 3;       // may not be read
    options.scenario.blockOverrides[3].sets = 5;        // too many sets
    options.scenario.blockOverrides[3].samples = 12;
    options.scenario.blockOverrides[4].sets = 3;
    options.scenario.blockOverrides[5].sets = 0;
    Rig rig(options);
    ASSERT_TRUE(rig.Connect());
    std::vector<Progress> progress;
    QObject::connect(&rig.connection, &InstrumentConnection::progress, &rig.connection,
                     [&progress](int done, int total, const QString &) { progress.push_back({done, total}); });

    rig.Mark();
    Outcome outcome = Outcome::Cancelled;
    const auto result = Download(rig, &outcome);
    rig.Settle();
    EXPECT_EQ(outcome, Outcome::Done);
    ASSERT_TRUE(result->completed()) << result->failureText().toStdString();
    EXPECT_EQ(result->blockCount, 5);

    const std::vector<Heard> heard = rig.Heard();
    EXPECT_EQ(Names(heard), (std::vector<std::string>{"R36", "R37", "R38", "R37", "R37", "R37", "R38", "R38", "R38",
                                                      "R37"}));
    // Blocks are selected by their 1-based number, sets by theirs.
    const std::vector<std::vector<std::uint8_t>> selectors{{}, {1, 0}, {1}, {2, 0}, {3, 0}, {4, 0},
                                                           {1}, {2}, {3}, {5, 0}};
    ASSERT_EQ(heard.size(), selectors.size());
    for (std::size_t i = 0; i < heard.size(); ++i)
        EXPECT_EQ(heard[i].payload, selectors[i]) << "request " << i;

    ExpectSameAsInstrument(*result, rig.InstrumentState().logger);
    EXPECT_EQ(progress, (std::vector<Progress>{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
}

TEST(LoggerDownload, ANearlyFullLoggerComesBackWhole)
{
    Rig rig(Logger(60, 4));
    ASSERT_TRUE(rig.Connect());
    const auto result = Download(rig);
    ASSERT_TRUE(result->completed()) << result->failureText().toStdString();
    EXPECT_EQ(result->data.blocks.size(), 60u);
    ExpectSameAsInstrument(*result, rig.InstrumentState().logger);
    // The block count is the instrument's, whatever it reports as its maximum.
    ASSERT_TRUE(result->info.has_value());
    EXPECT_EQ(result->info->blockCount(), 60);
    EXPECT_EQ(result->info->maxBlocks(), 500);
}

TEST(LoggerDownload, AnEmptyLoggerReadsOnlyItsInformation)
{
    Rig rig(Logger(0));
    ASSERT_TRUE(rig.Connect());
    rig.Mark();
    const auto result = Download(rig);
    EXPECT_TRUE(result->completed());
    EXPECT_EQ(result->blockCount, 0);
    EXPECT_FALSE(HasLoggerExportLines(result->data));
    EXPECT_EQ(Names(LoggerRequests(rig.Heard())), std::vector<std::string>{"R36"});
}

TEST(LoggerDownload, BlockCountsOf32768AndMoreAreCountedUnsigned)
{
    Rig rig(Logger(40000, 0));
    ASSERT_TRUE(rig.Connect());
    std::vector<Progress> progress;
    QObject::connect(&rig.connection, &InstrumentConnection::progress, &rig.connection,
                     [&progress](int done, int total, const QString &) { progress.push_back({done, total}); });
    Outcome outcome = Outcome::Done;
    const auto result = DownloadAndInterrupt(rig, 3, [&rig] { rig.connection.cancel(); }, &outcome);
    EXPECT_EQ(result->blockCount, 40000);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), (Progress{0, 40000}));
    EXPECT_GE(progress.back().done, 3);
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_EQ(result->outcome, Outcome::Cancelled);
    EXPECT_TRUE(result->data.blocks.empty());

    // Block numbers beyond the signed range go out as the unsigned 16 bits they are.
    rig.Mark();
    LoggerAnswer answer;
    rig.Run([&answer](JobContext &job) { answer = ReadLoggerBlock(job, 39999); });
    EXPECT_TRUE(answer.ok());
    const std::vector<Heard> heard = rig.Heard();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].payload, (std::vector<std::uint8_t>{0x3F, 0x9C}));
}

TEST(LoggerDownload, ALampRedFromAnEarlierFailureDoesNotEndAHealthyDownload)
{
    Rig rig(Logger(4, 2));
    ASSERT_TRUE(rig.Connect());
    sim::FaultPlan silent;
    silent.noAnswer.next = Transaction::kMaxAttempts;
    rig.SetFaults(silent);
    rig.Run([](JobContext &job) { job.sequences().ReadValue(); });
    rig.Settle();
    ASSERT_EQ(rig.lamp, LampColour::Red);

    const auto result = Download(rig);
    ASSERT_TRUE(result->completed()) << result->failureText().toStdString();
    EXPECT_EQ(result->data.blocks.size(), 4u);
}

TEST(LoggerDownload, ALostInstrumentEndsTheDownloadAndSaysWhere)
{
    RigOptions options = Logger(6);
    options.scenario.faults.lineDropAfter = 5; // 36, 37, 38, 37, 38 answered
    Rig rig(options);
    ASSERT_TRUE(rig.Connect());
    Outcome outcome = Outcome::Cancelled;
    const auto result = Download(rig, &outcome);
    rig.Settle();
    EXPECT_EQ(outcome, Outcome::Done);
    EXPECT_EQ(result->outcome, Outcome::NoAnswer);
    EXPECT_EQ(result->currentBlock, 3);
    EXPECT_TRUE(result->data.blocks.empty());
    EXPECT_EQ(rig.lamp, LampColour::Red);
    EXPECT_EQ(result->failureText(), QStringLiteral("Data logger download stopped at block 3 of 6: the instrument "
                                                    "did not answer. Nothing was saved"));
}

TEST(LoggerDownload, AnInformationReadThatFailsReadsNoBlock)
{
    Rig rig(Logger(3));
    ASSERT_TRUE(rig.Connect());
    rig.Silence({kObjectLoggerInfo});
    rig.Mark();
    const auto result = Download(rig);
    EXPECT_FALSE(result->completed());
    EXPECT_EQ(result->currentBlock, 0);
    for (const Heard &h : rig.Heard())
        EXPECT_EQ(h.object, kObjectLoggerInfo);
    EXPECT_EQ(result->failureText(), QStringLiteral("Data logger download stopped reading the logger information: "
                                                    "the instrument did not answer. Nothing was saved"));
}

TEST(LoggerDownload, AnErrorReportEndsIt)
{
    Rig rig(Logger(3));
    ASSERT_TRUE(rig.Connect());
    sim::FaultPlan refuseSet;
    refuseSet.errorReport.next = 1;
    refuseSet.objects = {kObjectLoggerSampleSet};
    rig.SetFaults(refuseSet);
    const auto refused = Download(rig);
    EXPECT_EQ(refused->outcome, Outcome::ErrorReport);
    EXPECT_EQ(refused->currentBlock, 1);

    // A block the instrument no longer has (erased meanwhile) is refused the same way.
    rig.SetFaults({});
    LoggerAnswer gone;
    rig.OnInstrument([](sim::Device &device) { device.state().logger.blocks.clear(); });
    rig.Run([&gone](JobContext &job) { gone = ReadLoggerBlock(job, 1); });
    EXPECT_EQ(gone.failure, Outcome::ErrorReport);
}

TEST(LoggerDownload, ALateAnswerIsNotTakenForTheNextSet)
{
    // Two sets a block, on a line with 9600-baud timing and the 100 ms tick:
    // the first set's first answer comes after its attempt ended, so the
    // answer to the repeated request is still on its way when the request for
    // set 2 goes out. Sets carry no number; it must not stand in for set 2.
    RigOptions options = Logger(2, 2);
    options.scenario.pacing = true;
    options.tick = 100ms;
    Rig rig(options);
    ASSERT_TRUE(rig.Connect());
    sim::FaultPlan late;
    late.late.next = 1;
    late.lateMillis = 350; // an attempt waits 3 ticks
    late.objects = {kObjectLoggerSampleSet};
    rig.SetFaults(late);
    const auto result = Download(rig);
    ASSERT_TRUE(result->completed()) << result->failureText().toStdString();
    ExpectSameAsInstrument(*result, rig.InstrumentState().logger);
}

TEST(LoggerDownload, CancellingEndsItAtOnceAndKeepsNothing)
{
    // Paced like the real line, so the cancel comes while blocks are still
    // ahead however busy the machine is.
    RigOptions options = Logger(50, 4);
    options.scenario.pacing = true;
    options.tick = 100ms;
    Rig rig(options);
    ASSERT_TRUE(rig.Connect());
    rig.Mark();
    Outcome outcome = Outcome::Done;
    const auto result = DownloadAndInterrupt(rig, 2, [&rig] { rig.connection.cancel(); }, &outcome);
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_EQ(result->outcome, Outcome::Cancelled);
    EXPECT_TRUE(result->data.blocks.empty());
    // Nothing more went out after the cancel than the request waiting then.
    rig.Settle();
    const std::size_t heard = rig.Heard().size();
    EXPECT_LT(heard, 5u * 50u);
    rig.Settle();
    EXPECT_EQ(rig.Heard().size(), heard);
}

TEST(LoggerDownload, PullingTheAdapterEndsIt)
{
    Rig rig(Logger(50, 4));
    ASSERT_TRUE(rig.Connect());
    Outcome outcome = Outcome::Done;
    const std::shared_ptr<actiontest::Wire> wire = rig.wire;
    const auto result = DownloadAndInterrupt(
        rig, 2,
        [wire] { QMetaObject::invokeMethod(wire->backend, [wire] { wire->backend->unplug(); }); }, &outcome);
    rig.Settle();
    EXPECT_NE(outcome, Outcome::Done);
    EXPECT_FALSE(result->completed());
    EXPECT_TRUE(result->data.blocks.empty());
    EXPECT_FALSE(rig.portErrors.isEmpty());
}
