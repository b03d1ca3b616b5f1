// The data logger download as a job on the instrument connection, against
// the simulated instrument: what it asks in which order, what it hands back,
// its progress, and how it ends when the line, the instrument or the user
// ends it.
#include "InstrumentRig.h"

#include "DataLoggerDownload.h"

#include <gtest/gtest.h>

#include <QMetaObject>

#include <memory>
#include <utility>
#include <vector>

using namespace r310;
using namespace r310::logs;
using namespace r310test;

namespace {

using namespace std::chrono_literals;

RigOptions Logger(int blocks, std::uint8_t sets = 1)
{
    RigOptions options;
    options.scenario.loggerBlocks = blocks;
    options.scenario.loggerSets = sets;
    return options;
}

// The progress the rig saw, as done/total pairs.
std::vector<std::pair<int, int>> Progress(const Rig &rig)
{
    std::vector<std::pair<int, int>> seen;
    for (const auto &p : rig.progress)
        seen.emplace_back(p.done, p.total);
    return seen;
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
    bool finished = false;
    rig.connection.submit(QStringLiteral("download"), DataLoggerDownloadJob(result), &rig.connection,
                          [&](Outcome how) {
                              finished = true;
                              *outcome = how;
                          });
    EXPECT_TRUE(r310test::SpinUntil([&] { return finished || (!rig.progress.empty() && rig.progress.back().done >= blocks); },
                                    10s));
    during();
    EXPECT_TRUE(r310test::SpinUntil([&] { return finished; }, 10s));
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
    ConnectedRig rig(options);
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
    EXPECT_EQ(Progress(rig), (std::vector<std::pair<int, int>>{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
}

TEST(LoggerDownload, ANearlyFullLoggerComesBackWhole)
{
    ConnectedRig rig(Logger(60, 4));
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
    ConnectedRig rig(Logger(0));
    rig.Mark();
    const auto result = Download(rig);
    EXPECT_TRUE(result->completed());
    EXPECT_EQ(result->blockCount, 0);
    EXPECT_FALSE(HasLoggerExportLines(result->data));
    const auto logger = [](const Heard &h) {
        return h.object >= kObjectLoggerInfo && h.object <= kObjectLoggerSampleSet;
    };
    EXPECT_EQ(Names(Kept(rig.Heard(), logger)), std::vector<std::string>{"R36"});
}

TEST(LoggerDownload, BlockCountsOf32768AndMoreAreCountedUnsigned)
{
    ConnectedRig rig(Logger(40000, 0));
    Outcome outcome = Outcome::Done;
    const auto result = DownloadAndInterrupt(rig, 3, [&rig] { rig.connection.cancel(); }, &outcome);
    EXPECT_EQ(result->blockCount, 40000);
    ASSERT_FALSE(rig.progress.empty());
    EXPECT_EQ(Progress(rig).front(), std::make_pair(0, 40000));
    EXPECT_GE(rig.progress.back().done, 3);
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
    ConnectedRig rig(Logger(4, 2));
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

// A lost instrument, an information read that fails and an error report end
// the download, saying where; nothing is kept.
TEST(LoggerDownload, FailuresEndItAndSayWhere)
{
    struct Case {
        const char *name;
        std::function<void(Rig &)> fault;
        Outcome outcome;
        int currentBlock;
        const char *text; // empty: not checked
    };
    const Case cases[] = {
        {"lost instrument", [](Rig &) {}, Outcome::NoAnswer, 3,
         "Data logger download stopped at block 3 of 6: the instrument did not answer. Nothing was saved"},
        {"information read", [](Rig &rig) { rig.Silence({kObjectLoggerInfo}); }, Outcome::NoAnswer, 0,
         "Data logger download stopped reading the logger information: the instrument did not answer. Nothing was saved"},
        {"error report", [](Rig &rig) {
             sim::FaultPlan refuseSet;
             refuseSet.errorReport.next = 1;
             refuseSet.objects = {kObjectLoggerSampleSet};
             rig.SetFaults(refuseSet);
         }, Outcome::ErrorReport, 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RigOptions options = Logger(6);
        if (c.currentBlock == 3)
            options.scenario.faults.lineDropAfter = 5; // 36, 37, 38, 37, 38 answered
        ConnectedRig rig(options);
        c.fault(rig);
        rig.Mark();
        Outcome outcome = Outcome::Cancelled;
        const auto result = Download(rig, &outcome);
        rig.Settle();
        EXPECT_EQ(outcome, Outcome::Done) << "the job itself ran to its end";
        EXPECT_EQ(result->outcome, c.outcome);
        EXPECT_EQ(result->currentBlock, c.currentBlock);
        EXPECT_TRUE(result->data.blocks.empty());
        if (*c.text) {
            EXPECT_EQ(result->failureText(), QString::fromUtf8(c.text));
        }
        if (c.currentBlock == 3) {
            EXPECT_EQ(rig.lamp, LampColour::Red);
        }
        for (const Heard &h : rig.Heard())
            EXPECT_TRUE(c.currentBlock > 0 || h.object == kObjectLoggerInfo) << "no block is read";
    }
    // A block the instrument no longer has (erased meanwhile) is refused as an error report.
    ConnectedRig rig(Logger(3));
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
    ConnectedRig rig(options);
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
    ConnectedRig rig(options);
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
    // Paced like the real line, so the adapter goes while blocks are still
    // ahead however busy the machine is.
    RigOptions options = Logger(50, 4);
    options.scenario.pacing = true;
    options.tick = 100ms;
    ConnectedRig rig(options);
    Outcome outcome = Outcome::Done;
    const std::shared_ptr<Wire> wire = rig.wire;
    const auto result = DownloadAndInterrupt(
        rig, 2,
        [wire] { QMetaObject::invokeMethod(wire->backend, [wire] { wire->backend->unplug(); }); }, &outcome);
    rig.Settle();
    EXPECT_NE(outcome, Outcome::Done);
    EXPECT_FALSE(result->completed());
    EXPECT_TRUE(result->data.blocks.empty());
    EXPECT_FALSE(rig.portErrors.isEmpty());
}
