// The event log download and "Clear" as jobs on the simulated instrument:
// what is asked for, the lines of the events read, events that cannot be
// read, a line that goes away, a cancel, a closed port, and the clear write
// with its read-backs.
#include "InstrumentRig.h"

#include "EventLogJobs.h"

using namespace r310;
using namespace r310::logs;
using namespace r310test;

namespace {

std::shared_ptr<EventDownload> Download(Rig &rig, int count, Outcome *outcome = nullptr)
{
    auto result = std::make_shared<EventDownload>();
    const Outcome o = rig.Run(EventDownloadJob(count, result));
    if (outcome)
        *outcome = o;
    return result;
}

// An instrument with `events` generated events.
RigOptions Generated(int events)
{
    RigOptions options = RigOptions::EventLog();
    options.events.reset();
    options.scenario.events = events;
    return options;
}

sim::FaultPlan EventFaults()
{
    sim::FaultPlan plan;
    plan.objects = {kObjectEventRecord};
    return plan;
}

TEST(EventDownloads, ReadsEveryEventInOrderAndFormatsItsLines)
{
    ConnectedRig rig(RigOptions::EventLog());
    rig.Mark();
    const auto result = Download(rig, 3);

    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R34", "R34", "R34"}));
    EXPECT_EQ(EventNumbers(rig.Heard()), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_EQ(result->lines, KnownEventLines());
    EXPECT_TRUE(result->missing.empty());
    EXPECT_FALSE(result->refusals);
    EXPECT_TRUE(rig.messages.isEmpty());

    // How far it is, before each event and at the end.
    r310test::SpinFor(20ms);
    ASSERT_GE(rig.progress.size(), 4u);
    EXPECT_EQ(rig.progress.front().text, QStringLiteral("Reading event 1 of 3"));
    EXPECT_EQ(rig.progress.front().done, 0);
    EXPECT_EQ(rig.progress.at(2).text, QStringLiteral("Reading event 3 of 3"));
    EXPECT_EQ(rig.progress.back().done, 3);
    EXPECT_EQ(rig.progress.back().total, 3);
}

TEST(EventDownloads, CountOfZeroAsksForNothing)
{
    ConnectedRig rig(RigOptions::EventLog());
    rig.Mark();
    const auto result = Download(rig, 0);
    EXPECT_TRUE(rig.Heard().empty());
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_EQ(result->lines, QStringList{kEventHeaderLine});
}

TEST(EventDownloads, EventNotReadLeavesNoLineNotEvenFromAnEarlierDownload)
{
    ConnectedRig rig(RigOptions::EventLog());
    auto result = std::make_shared<EventDownload>();
    ASSERT_EQ(rig.Run(EventDownloadJob(3, result)), Outcome::Done);
    ASSERT_EQ(result->lines, KnownEventLines());

    // The first event goes unanswered through all five attempts; the others come.
    sim::FaultPlan plan = EventFaults();
    plan.noAnswer.next = 5;
    rig.SetFaults(plan);
    rig.Mark();
    ASSERT_EQ(rig.Run(EventDownloadJob(3, result)), Outcome::Done);

    EXPECT_EQ(EventNumbers(rig.Heard()), (std::vector<int>{1, 1, 1, 1, 1, 2, 3}));
    // The counters are read after the unanswered event, so a late answer to it passes.
    EXPECT_EQ(rig.HeardNames(),
              (std::vector<std::string>{"R34", "R34", "R34", "R34", "R34", "R35", "R34", "R34"}));
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_EQ(result->missing, std::vector<int>{0});
    EXPECT_EQ(result->lines, (QStringList{KnownEventLines().at(0), KnownEventLines().at(2), KnownEventLines().at(3)}));
    EXPECT_EQ(rig.lamp, LampColour::Red);
}

TEST(EventDownloads, EventsTheInstrumentRefusesAreMissingAndTheDownloadGoesOn)
{
    ConnectedRig rig(RigOptions::EventLog());
    // Five asked for, three stored: the instrument answers 4 and 5 with error reports.
    const auto result = Download(rig, 5);
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_TRUE(result->refusals);
    EXPECT_EQ(result->missing, (std::vector<int>{3, 4}));
    EXPECT_EQ(result->lines, KnownEventLines());
}

TEST(EventDownloads, LineThatGoesAwayEndsTheDownloadWithoutLines)
{
    ConnectedRig rig(Generated(20));
    sim::FaultPlan plan;
    plan.lineDropAfter = 2; // two events answered, then nothing for good
    rig.SetFaults(plan);
    rig.Mark();
    const auto result = Download(rig, 20);

    // Event 3 unanswered, the counters read after it unanswered, event 4 unanswered.
    EXPECT_EQ(result->outcome, Outcome::LineLost);
    EXPECT_EQ(result->lastAsked, 4);
    EXPECT_TRUE(result->lines.isEmpty());
    const std::vector<Heard> heard = rig.Heard();
    const std::vector<int> numbers = EventNumbers(heard);
    EXPECT_EQ(numbers.back(), 4);
    EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 3), 5) << "each event has the transaction's five attempts";
    const std::vector<std::string> names = Names(heard);
    EXPECT_EQ(std::count(names.begin(), names.end(), "R35"), 5) << "the counters between events 3 and 4";
    // No message per event: the front end says once what happened.
    EXPECT_TRUE(rig.messages.isEmpty());
    EXPECT_EQ(rig.lamp, LampColour::Red);
}

TEST(EventDownloads, CloseComportEndsTheDownloadAtOnce)
{
    RigOptions options = Generated(200);
    // Paced like the real line, so the close comes while events are still
    // ahead however busy the machine is.
    options.scenario.pacing = true;
    options.tick = 100ms;
    ConnectedRig rig(options);
    std::size_t heardAtClose = 0;
    rig.onProgress = [&rig, &heardAtClose](int done, int) {
        if (done == 10) {
            heardAtClose = rig.HeardCount();
            rig.connection.closePort();
        }
    };
    Outcome outcome = Outcome::Done;
    const auto result = Download(rig, 200, &outcome);
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_EQ(result->outcome, Outcome::Cancelled);
    EXPECT_TRUE(result->lines.isEmpty());
    EXPECT_LT(result->lastAsked, 200);
    // Nothing goes out after the click but what was already under way.
    ASSERT_GT(heardAtClose, 0u);
    EXPECT_LE(rig.HeardCount(), heardAtClose + 3);
    EXPECT_TRUE(rig.messages.isEmpty());
}

// A port never opened shows its message once; after "Close Comport" the
// download ends before it asks, silently. Neither sends anything.
TEST(EventDownloads, ClosedPortSendsNothing)
{
    for (const bool opened : {false, true}) {
        Rig rig(RigOptions::EventLog());
        if (opened) {
            ASSERT_TRUE(rig.Connect());
            rig.connection.closePort();
            ASSERT_TRUE(r310test::SpinUntil([&rig] { return !rig.connection.portOpen(); }, 5s));
        }
        rig.Mark();
        const auto result = Download(rig, 50);
        r310test::SpinFor(20ms);
        EXPECT_TRUE(rig.Heard().empty());
        EXPECT_TRUE(result->lines.isEmpty());
        EXPECT_EQ(result->outcome, opened ? Outcome::Cancelled : Outcome::PortClosed);
        EXPECT_EQ(rig.messages, opened ? QStringList{} : QStringList{QStringLiteral("Comport nicht ge\u00f6ffnet!")});
    }
}

TEST(EventDownloads, MoreEventsThanTheProductsLogSizeAreAllRead)
{
    RigOptions options = Generated(600);
    options.scenario.maxEvents = 600;
    ConnectedRig rig(options);
    const auto result = Download(rig, 600);
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_EQ(result->table.size(), 600);
    EXPECT_EQ(result->table.filledCount(), 600);
    ASSERT_EQ(result->lines.size(), 601);
    EXPECT_TRUE(result->lines.last().startsWith(QStringLiteral("599;")));
    EXPECT_EQ(EventNumbers(rig.HeardSince(0)).back(), 600);
}

TEST(EventClears, WritesTheMaximumThenReadsBothLogsCountersBack)
{
    ConnectedRig rig(RigOptions::EventLog());
    rig.Mark();
    auto result = std::make_shared<EventClear>();
    ASSERT_EQ(rig.Run(EventClearJob(300, result)), Outcome::Done);

    const std::vector<Heard> heard = rig.Heard();
    // The identity is read first: the instrument is still the one.
    EXPECT_EQ(Names(heard), (std::vector<std::string>{"R2", "W35", "R35", "R36"}));
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[1].flags, kFlagsWrite);
    EXPECT_EQ(heard[1].payload, (Bytes{0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0, 0}));
    EXPECT_TRUE(result->written);
    EXPECT_FALSE(result->refused);
    ASSERT_TRUE(result->readBack);
    EXPECT_EQ(result->properties->count, 0);
    EXPECT_EQ(result->properties->maxEvents, 300);
    const sim::DeviceState state = rig.InstrumentState();
    EXPECT_TRUE(state.events.records.empty());
    EXPECT_EQ(state.events.maxEvents, 300);
    // The front ends see the new counters with the answer.
    r310test::SpinFor(20ms);
    ASSERT_TRUE(rig.eventProperties.has_value());
    EXPECT_EQ(rig.eventProperties->count, 0);
}

TEST(EventClears, RefusedOrUnansweredWriteIsReported)
{
    ConnectedRig rig(RigOptions::EventLog());
    // The instrument refuses a maximum of 0 with an error report.
    auto refused = std::make_shared<EventClear>();
    rig.Run(EventClearJob(0, refused));
    EXPECT_TRUE(refused->written);
    EXPECT_TRUE(refused->refused);
    EXPECT_EQ(rig.InstrumentState().events.records.size(), KnownEvents().size());

    rig.Silence({kObjectEventProperties});
    rig.Mark();
    auto unanswered = std::make_shared<EventClear>();
    rig.Run(EventClearJob(192, unanswered));
    EXPECT_FALSE(unanswered->written);
    EXPECT_FALSE(unanswered->readBack);
    // No read-back after a failed write; each send follows an identity read.
    for (const Heard &h : rig.Heard())
        EXPECT_TRUE(h.name() == "W35" || h.name() == "R2") << h.name();
    EXPECT_EQ(rig.lamp, LampColour::Red);
}

TEST(EventDownloads, LateAnswersNeverPutOneEventInAnothersPlace)
{
    ConnectedRig rig(Generated(20));
    const auto reference = Download(rig, 20);
    ASSERT_EQ(reference->lines.size(), 21);

    // Every answer comes after the first attempt has given up on it, so each
    // event is asked for twice and both answers come.
    sim::FaultPlan plan = EventFaults();
    plan.late.probability = 1.0;
    plan.lateMillis = 45;
    rig.SetFaults(plan);
    const auto result = Download(rig, 20);
    EXPECT_EQ(result->outcome, Outcome::Done);
    for (const QString &line : result->lines)
        EXPECT_TRUE(reference->lines.contains(line)) << line.toStdString();
    EXPECT_GT(result->table.filledCount(), 0);
}

} // namespace
