// The read sequences against the simulated instrument: what is requested in
// which order after connecting, the clock check, tab reads, the idle poll and
// a lost instrument.
#include "SequenceRig.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace r310;
using namespace seqtest;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

class Sequences : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
};

std::int32_t PayloadSeconds(const HeardRequest &request)
{
    const auto &f = request.frame;
    return static_cast<std::int32_t>(f[7] | (f[8] << 8) | (f[9] << 16) | (static_cast<std::uint32_t>(f[10]) << 24));
}

sim::Scenario WithClockOffset(std::int64_t seconds)
{
    sim::Scenario scenario = FastScenario();
    scenario.clockOffsetSeconds = seconds;
    return scenario;
}

} // namespace

TEST_F(Sequences, OpeningConnectsInTheOrderOfTheConnectTable)
{
    sim::Scenario scenario = FastScenario();
    scenario.faults.noAnswer.next = 2; // the first two connect requests go unanswered
    SequenceRig rig(scenario);
    ASSERT_TRUE(rig.OpenAndConnect());

    // Three sends of the search (the third answered), then the connect sequence.
    EXPECT_EQ(rig.heard(), (Names{"C1", "C1", "C1", "C1", "R2", "R3", "R7", "R2"}));
    EXPECT_EQ(rig.device().statistics().unanswered, 2);
    EXPECT_EQ(rig.view.phases, (QStringList{"Search", "Connect"}));
    EXPECT_EQ(rig.view.lamp, LampColour::LimeGreen);
    EXPECT_TRUE(rig.view.calibrationButtons);
    EXPECT_TRUE(rig.record.InstrumentConnected);
    EXPECT_EQ(rig.record.SoftwareVersion, 210);
    EXPECT_EQ(rig.view.clears, 1);

    // What the view was handed: identity, clock and value among the answers.
    const auto &answers = rig.view.answers;
    const auto identity = std::find_if(answers.begin(), answers.end(), [](const DecodedAnswer &a) { return a.identity.has_value(); });
    ASSERT_NE(identity, answers.end());
    EXPECT_EQ(identity->identity->serialNumberText, QStringLiteral("00001234"));
    EXPECT_TRUE(std::any_of(answers.begin(), answers.end(), [](const DecodedAnswer &a) { return a.clock.has_value(); }));
    EXPECT_TRUE(std::any_of(answers.begin(), answers.end(), [](const DecodedAnswer &a) { return a.value.has_value(); }));
    EXPECT_FALSE(rig.transaction.Result().AwaitingResponse);
}

TEST_F(Sequences, IdlePollReadsClockAndValueOncePerPeriodAndOnlyWhileOpen)
{
    SequenceRig rig(FastScenario(), 10ms);
    rig.poll.Install();
    SpinFor(150ms);
    EXPECT_EQ(rig.poll.PollsRun(), 0); // port closed: nothing to do

    ASSERT_TRUE(rig.OpenAndConnect());
    rig.forgetHeard();
    SpinFor(800ms);
    // About eight polls in 80 ticks: once per poll period, never in a loop.
    const int polls = rig.poll.PollsRun();
    EXPECT_GE(polls, 2);
    EXPECT_LE(polls, 10);
    ASSERT_EQ(rig.heardCount(), 2u * static_cast<std::size_t>(polls));
    for (std::size_t i = 0; i < rig.heardCount(); i += 2) {
        EXPECT_EQ(rig.requests[i].name(), "R3");
        EXPECT_EQ(rig.requests[i + 1].name(), "R7");
        // The countdown of 10 ticks runs from the previous answer.
        if (i > 0) {
            EXPECT_GE(rig.requests[i].at - rig.requests[i - 1].at, 80ms) << "poll " << i / 2;
        }
    }

    rig.Close();
    SpinFor(200ms);
    EXPECT_EQ(rig.poll.PollsRun(), polls);
}

TEST_F(Sequences, ClockIsWrittenOnlyWhenMoreThanFiveSecondsOff)
{
    for (const std::int64_t offset : {5, -5}) {
        SequenceRig rig(WithClockOffset(offset));
        ASSERT_TRUE(rig.OpenAndConnect());
        EXPECT_EQ(rig.heard(), (Names{"C1", "C1", "R2", "R3", "R7", "R2"})) << "offset " << offset;
        EXPECT_EQ(rig.sequences.ClockWrites(), 0);
    }
    // A clock of 2^31 or more is compared unsigned: decades off.
    for (const std::int64_t offset : {std::int64_t{6}, std::int64_t{-6}, std::int64_t{1} << 31}) {
        SequenceRig rig(WithClockOffset(offset));
        ASSERT_TRUE(rig.OpenAndConnect());
        // One write, one further read, then the value.
        EXPECT_EQ(rig.heard(), (Names{"C1", "C1", "R2", "R3", "W3", "R3", "R7", "R2"})) << "offset " << offset;
        EXPECT_EQ(PayloadSeconds(rig.requests[4]), rig.clock->localSeconds());
        EXPECT_EQ(rig.device().state().clockOffsetSeconds, 0);
        EXPECT_EQ(rig.sequences.ClockWrites(), 1);
        EXPECT_EQ(rig.view.clockNotTaken, 0);
    }
}

TEST_F(Sequences, InstrumentThatKeepsItsOwnTimeCostsABoundedNumberOfWrites)
{
    sim::Scenario scenario = WithClockOffset(100);
    scenario.faults.clockReadOnly = true;
    SequenceRig rig(scenario);
    ASSERT_TRUE(rig.OpenAndConnect());
    EXPECT_EQ(rig.heard(), (Names{"C1", "C1", "R2", "R3", "W3", "R3", "W3", "R3", "W3", "R3", "R7", "R2"}));
    EXPECT_EQ(rig.sequences.ClockWrites(), ReadSequences::kMaxClockWrites);
    EXPECT_EQ(rig.view.clockNotTaken, 1);

    // Later polls compare but do not write again on this connection.
    for (int poll = 0; poll < 3; ++poll) {
        rig.transaction.SetPollTicks(0);
        rig.sequences.IdlePoll();
    }
    EXPECT_EQ(rig.clockWrites(), ReadSequences::kMaxClockWrites);

    // "Set Time" asks for it explicitly: written again, still bounded.
    rig.forgetHeard();
    EXPECT_TRUE(rig.sequences.SetClock());
    EXPECT_EQ(rig.clockWrites(), ReadSequences::kMaxClockWrites);
    EXPECT_EQ(rig.heard().front(), "W3");
    EXPECT_EQ(rig.heard().back(), "R7");
}

TEST_F(Sequences, ErrorReportInPlaceOfTheClockCausesNoClockWrite)
{
    sim::Scenario scenario = WithClockOffset(3600);
    scenario.faults.errorReport.next = 1;
    scenario.faults.objects = {3};
    SequenceRig rig(scenario);
    rig.Open();
    ASSERT_TRUE(rig.sequences.SearchInstrument());
    rig.forgetHeard();

    EXPECT_TRUE(rig.sequences.ReadClock());
    EXPECT_EQ(rig.heard(), (Names{"R3", "R7"}));
    EXPECT_EQ(rig.record.ErrorAnswerCount, 1);
    EXPECT_TRUE(rig.view.exchanges.contains(QStringLiteral("ERROR Count= 1")));

    // The next clock read gets a real answer and sets the clock.
    rig.forgetHeard();
    EXPECT_TRUE(rig.sequences.ReadClock());
    EXPECT_EQ(rig.heard(), (Names{"R3", "W3", "R3", "R7"}));
}

TEST_F(Sequences, TabReadsFollowTheTabInFront)
{
    struct Case {
        InstrumentTab tab;
        Names reads;
    };
    const Case cases[] = {
        {InstrumentTab::General, {"R2"}},
        {InstrumentTab::Range, {"R4"}},
        {InstrumentTab::Signals, {"R31"}},
        {InstrumentTab::Hardware, {"R33"}},
        {InstrumentTab::EventProperties, {"R35", "R36"}},
        {InstrumentTab::Datalogging, {"R35", "R36"}},
        {InstrumentTab::Calibration, {}},
        {InstrumentTab::SpecialFunction, {}},
    };
    for (const Case &c : cases) {
        SequenceRig rig;
        rig.view.tab = c.tab;
        ASSERT_TRUE(rig.OpenAndConnect());
        Names expected{"C1", "C1", "R2", "R3", "R7"};
        expected.insert(expected.end(), c.reads.begin(), c.reads.end());
        EXPECT_EQ(rig.heard(), expected) << "tab " << static_cast<int>(c.tab);

        // Changing to the tab again reads it again; only the calibration tab
        // keeps the result field's colour.
        const int resets = rig.view.resultResets;
        rig.forgetHeard();
        rig.sequences.ReadSelectedTab();
        EXPECT_EQ(rig.heard(), c.reads);
        EXPECT_EQ(rig.view.resultResets - resets, c.tab == InstrumentTab::Calibration ? 0 : 1);
    }
}

TEST_F(Sequences, TabChangeBeforeConnectingSendsNothing)
{
    SequenceRig rig;
    rig.view.tab = InstrumentTab::Range;
    rig.sequences.ReadSelectedTab(); // port closed
    rig.Open();
    rig.sequences.ReadSelectedTab(); // open, instrument not connected
    ASSERT_TRUE(rig.sequences.SearchInstrument());
    rig.forgetHeard();
    rig.sequences.ReadSelectedTab(); // found, connect sequence not yet run
    EXPECT_EQ(rig.heardCount(), 0u);
    EXPECT_TRUE(rig.view.errors.isEmpty());
    EXPECT_EQ(rig.view.resultResets, 1); // only the clearing before the search
}

TEST_F(Sequences, ReadOnAClosedPortShowsTheMessageAndDecodesNothing)
{
    SequenceRig rig;
    ASSERT_TRUE(rig.OpenAndConnect());
    const std::size_t answers = rig.view.answers.size();
    rig.Close();
    EXPECT_FALSE(rig.sequences.ReadIdentity());
    EXPECT_EQ(rig.view.errors, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(rig.view.answers.size(), answers);
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
}

TEST_F(Sequences, PollFollowsCalibrationAndBumpTestInsteadOfTheClock)
{
    SequenceRig rig;
    ASSERT_TRUE(rig.OpenAndConnect());
    rig.forgetHeard();

    rig.record.CalibrationRunning = true;
    rig.transaction.SetPollTicks(0);
    rig.sequences.IdlePoll();
    EXPECT_EQ(rig.heard(), Names{"R10"});
    EXPECT_FALSE(rig.view.calibrationButtons);
    // The idle simulator reports the last calibration as finished: the flag
    // clears and the next poll is the clock again, with the buttons back.
    EXPECT_FALSE(rig.record.CalibrationRunning);
    rig.transaction.SetPollTicks(0);
    rig.sequences.IdlePoll();
    EXPECT_EQ(rig.heard(1), (Names{"R3", "R7"}));
    EXPECT_TRUE(rig.view.calibrationButtons);

    rig.forgetHeard();
    rig.record.BumpTestRunning = true;
    rig.transaction.SetPollTicks(0);
    rig.sequences.IdlePoll();
    EXPECT_EQ(rig.heard(), Names{"R6"});
}

TEST_F(Sequences, LostInstrumentIsNoticedClearedAndFoundAgain)
{
    constexpr auto tick = 20ms;
    SequenceRig rig(FastScenario(), tick);
    ASSERT_TRUE(rig.OpenAndConnect());
    rig.poll.Install();
    ASSERT_TRUE(SpinUntil([&] { return rig.heardCount() >= 8; }, 5s)); // one poll done
    const int clearsBefore = rig.view.clears;
    rig.view.phases.clear();

    sim::FaultPlan silent;
    silent.noAnswer.probability = 1.0;
    rig.device().setFaults(silent);
    const std::size_t lostFrom = rig.heardCount();

    // The search runs inside the poll until the instrument answers, so the
    // instrument comes back from a timer once the search has begun.
    std::size_t backFrom = 0;
    Names lost;
    int clearsAtSearch = 0;
    QTimer comeBack;
    comeBack.callOnTimeout([&] {
        if (backFrom != 0 || rig.view.phases.isEmpty())
            return;
        backFrom = rig.heardCount();
        lost = rig.heard(lostFrom);
        clearsAtSearch = rig.view.clears;
        EXPECT_FALSE(rig.record.InstrumentConnected);
        EXPECT_EQ(rig.view.lamp, LampColour::Red);
        rig.device().setFaults(sim::FaultPlan{});
    });
    comeBack.start(2 * tick);
    ASSERT_TRUE(SpinUntil([&] { return backFrom != 0 && rig.record.InstrumentConnected; }, 15s));
    comeBack.stop();

    // One poll failed after five identical sends, then about a second later
    // the display was cleared and the search began.
    ASSERT_GE(lost.size(), 6u);
    EXPECT_EQ(Names(lost.begin(), lost.begin() + 5), Names(5, "R3"));
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(rig.requests[lostFrom + i].frame, rig.requests[lostFrom].frame);
    EXPECT_EQ(lost[5], "C1");
    const auto lastAttempt = rig.requests[lostFrom + 4].at;
    const auto firstSearch = rig.requests[lostFrom + 5].at;
    // 3 ticks of the last attempt, then the reconnect countdown of 9 more.
    EXPECT_GE(firstSearch - lastAttempt, 10 * tick);
    EXPECT_LT(firstSearch - lastAttempt, 60 * tick);
    EXPECT_EQ(rig.view.phases.first(), QStringLiteral("Search"));
    EXPECT_EQ(clearsAtSearch, clearsBefore + 1);

    // Found again: the answered search round, then the connect sequence.
    EXPECT_EQ(rig.view.lamp, LampColour::LimeGreen);
    const Names back = rig.heard(backFrom);
    const Names connect{"C1", "R2", "R3", "R7", "R2"};
    EXPECT_NE(std::search(back.begin(), back.end(), connect.begin(), connect.end()), back.end())
        << ::testing::PrintToString(back);
    EXPECT_EQ(rig.view.phases.last(), QStringLiteral("Connect"));
}

TEST_F(Sequences, ClosingThePortOrPullingTheAdapterEndsTheSearch)
{
    sim::Scenario scenario = FastScenario();
    scenario.faults.noAnswer.probability = 1.0;
    {
        SequenceRig rig(scenario);
        rig.Open();
        QTimer::singleShot(100ms, [&] { rig.Close(); });
        EXPECT_FALSE(rig.sequences.SearchInstrument());
        EXPECT_FALSE(rig.transaction.Ticking());
        EXPECT_EQ(rig.view.closePortCalls, 1);
        EXPECT_EQ(rig.view.panels[kStatusPanelPhase], QStringLiteral("Connect"));
    }
    {
        // The next send meets the closed port: its error ends the search as
        // it ends any command, shown once.
        SequenceRig rig(scenario);
        rig.Open();
        QTimer::singleShot(100ms, [&] { rig.backend().unplug(); });
        bool found = false;
        int portErrors = 0;
        try {
            found = rig.sequences.SearchInstrument();
        } catch (const PortError &) {
            ++portErrors;
        }
        EXPECT_EQ(portErrors, 1);
        EXPECT_FALSE(found);
        EXPECT_FALSE(rig.port.Open());
    }
}
