// The instrument connection: jobs run one after the other on the protocol
// engine, cancel and close end them at any moment, and destroying the
// connection in the middle of a wait touches nothing that is gone.
#include "InstrumentConnection.h"
#include "QStringPrinting.h"
#include "SimBackend.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace r310;
using namespace r310test;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

// The requests the simulated instrument heard, written on the engine thread.
class Wire {
public:
    void heard(const std::vector<std::uint8_t> &frame)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const std::uint8_t object = frame[kOffsetObject];
        const bool write = (frame[kOffsetFlags] & kFlagWriteBit) != 0;
        names_.push_back(object == kObjectConnect ? "C1" : (write ? "W" : "R") + std::to_string(object));
    }
    Names names() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return names_;
    }
    std::size_t count() const { return names().size(); }
    // The instrument behind the link opened last; touched on the engine thread only.
    sim::SimBackend *backend = nullptr;
    void forget()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        names_.clear();
    }

private:
    mutable std::mutex mutex_;
    Names names_;
};

sim::Scenario Instrument()
{
    sim::Scenario scenario;
    scenario.pacing = false;
    return scenario;
}

sim::Scenario SilentInstrument()
{
    sim::Scenario scenario = Instrument();
    scenario.faults.noAnswer.probability = 1.0;
    return scenario;
}

ConnectionOptions Options(const std::shared_ptr<Wire> &wire, const sim::Scenario &scenario,
                          std::chrono::milliseconds tick = 10ms)
{
    ConnectionOptions options;
    options.link = [wire, scenario](const QString &, const LineSettings &) {
        auto link = std::make_unique<sim::SimBackend>(scenario);
        link->setPacing(scenario.pacing);
        link->device().setTrace([wire](const sim::TraceEntry &entry) {
            if (entry.kind == sim::TraceEntry::Kind::Request && entry.bytes.size() >= kOffsetPayload)
                wire->heard(entry.bytes);
        });
        wire->backend = link.get();
        return link;
    };
    options.tick = tick;
    return options;
}

// What the connection showed, as a front end would keep it.
struct Screen {
    explicit Screen(InstrumentConnection &connection)
    {
        QObject::connect(&connection, &InstrumentConnection::statusText, &connection,
                         [this](int panel, const QString &text) { panels[panel] = text; });
        QObject::connect(&connection, &InstrumentConnection::lampChanged, &connection,
                         [this](LampColour colour) { lamp = colour; });
        QObject::connect(&connection, &InstrumentConnection::answerDecoded, &connection,
                         [this](const DecodedAnswer &answer, const AnswerFrame &) { answers.push_back(answer.object); });
        QObject::connect(&connection, &InstrumentConnection::portError, &connection,
                         [this](const QString &message) { portErrors.append(message); });
        QObject::connect(&connection, &InstrumentConnection::errorMessage, &connection,
                         [this](const QString &text) { messages.append(text); });
        QObject::connect(&connection, &InstrumentConnection::jobFinished, &connection,
                         [this](JobId id, Outcome outcome) { finished.push_back({id, outcome}); });
        QObject::connect(&connection, &InstrumentConnection::busyChanged, &connection,
                         [this](bool busy) { busyChanges.push_back(busy); });
    }

    Outcome outcomeOf(JobId id) const
    {
        for (const auto &[finishedId, outcome] : finished)
            if (finishedId == id)
                return outcome;
        ADD_FAILURE() << "job " << id << " never finished";
        return Outcome::Cancelled;
    }
    bool hasFinished(JobId id) const
    {
        for (const auto &entry : finished)
            if (entry.first == id)
                return true;
        return false;
    }

    QString panels[2];
    LampColour lamp = LampColour::Red;
    std::vector<std::uint8_t> answers;
    QStringList portErrors;
    QStringList messages;
    std::vector<std::pair<JobId, Outcome>> finished;
    std::vector<bool> busyChanges;
};

class Connection : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    std::shared_ptr<Wire> wire = std::make_shared<Wire>();
};

bool Connected(const InstrumentConnection &connection)
{
    return connection.phase() == ConnectionPhase::Connected && !connection.busy();
}

TEST_F(Connection, OpensSearchesAndConnectsOnTheEngineInTheOrderOfTheConnectTable)
{
    ConnectionOptions options = Options(wire, Instrument());
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);

    const JobId id = connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(id); }, 5s));

    EXPECT_EQ(screen.outcomeOf(id), Outcome::Done);
    EXPECT_EQ(wire->names(), (Names{"C1", "C1", "R2", "R3", "R7", "R2"}));
    EXPECT_TRUE(connection.portOpen());
    EXPECT_TRUE(connection.record().InstrumentConnected) << "the mirror follows the engine's record";
    EXPECT_EQ(connection.phase(), ConnectionPhase::Connected);
    EXPECT_EQ(screen.lamp, LampColour::LimeGreen);
    EXPECT_EQ(screen.panels[kStatusPanelPhase], "Connect");
    EXPECT_EQ(screen.busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(Connection, JobsQueuedDuringAReadRunAfterItInOrderOnTheWire)
{
    ConnectionOptions options = Options(wire, Instrument());
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));
    wire->forget();

    // Three clicks in a row while the first is still on the wire.
    connection.readTab(InstrumentTab::Range);
    connection.submit(QStringLiteral("value"), [](JobContext &job) { job.sequences().ReadValue(); });
    const JobId last = connection.readTab(InstrumentTab::Hardware);
    EXPECT_TRUE(connection.busy());
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(last); }, 5s));

    EXPECT_EQ(wire->names(), (Names{"R4", "R7", "R33"}));
    EXPECT_EQ(connection.showingTab(), InstrumentTab::Hardware);
    EXPECT_FALSE(connection.busy());
}

TEST_F(Connection, CloseDuringTheSearchEndsItAtOnceDropsQueuedJobsAndClosesThePort)
{
    InstrumentConnection connection(Options(wire, SilentInstrument(), 100ms));
    Screen screen(connection);
    const JobId search = connection.open(QStringLiteral("sim"));
    const JobId queued = connection.readTab(InstrumentTab::Signals);
    ASSERT_TRUE(SpinUntil([&] { return wire->count() >= 2; }, 3s)) << "the search repeats its request";

    QElapsedTimer closing;
    closing.start();
    connection.closePort();
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(search) && !connection.portOpen(); }, 2s));

    EXPECT_LT(closing.elapsed(), 500) << "the search ended within half a second";
    EXPECT_EQ(screen.outcomeOf(search), Outcome::Cancelled);
    EXPECT_EQ(screen.outcomeOf(queued), Outcome::Cancelled);
    const std::size_t heard = wire->count();
    SpinFor(300ms);
    EXPECT_EQ(wire->count(), heard) << "nothing is sent after the close";
    EXPECT_EQ(connection.phase(), ConnectionPhase::Closed);
    EXPECT_EQ(screen.panels[kStatusPanelPhase], "Connect") << "the search names its end after the close";
    EXPECT_EQ(screen.lamp, LampColour::Red);
}

TEST_F(Connection, CloseSendsNothingOfTheJobsQueuedBehindTheRunningOne)
{
    ConnectionOptions options = Options(wire, Instrument(), 5ms);
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));
    for (int round = 0; round < 30; ++round) {
        wire->forget();
        const JobId jobs[] = {connection.readTab(InstrumentTab::Range), connection.readTab(InstrumentTab::Signals),
                              connection.readTab(InstrumentTab::Hardware)};
        connection.cancel();
        // The queued reads are dropped at once; the running one ends after them.
        ASSERT_TRUE(SpinUntil(
            [&] { return std::all_of(std::begin(jobs), std::end(jobs), [&](JobId job) { return screen.hasFinished(job); }); },
            2s));
        // Each read sends one request. On a loaded machine the engine may
        // finish a job or two before the cancel comes; beyond those, only the
        // job running at the cancel may have reached the wire.
        const auto done = static_cast<std::size_t>(std::count_if(
            std::begin(jobs), std::end(jobs), [&](JobId job) { return screen.outcomeOf(job) == Outcome::Done; }));
        EXPECT_LE(wire->count(), done + 1) << "round " << round << ": a queued read reached the wire after the cancel";
    }
    // A cancel ends what ran; the next job is sent again.
    wire->forget();
    const JobId after = connection.readTab(InstrumentTab::Signals);
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(after); }, 2s));
    EXPECT_EQ(screen.outcomeOf(after), Outcome::Done);
    EXPECT_EQ(wire->names(), Names{"R31"});
}

TEST_F(Connection, CloseDuringARetryLeavesCancelByUserAfterThePanelsWereEmptied)
{
    ConnectionOptions options = Options(wire, Instrument(), 100ms);
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));

    // The instrument stops answering; the read is retried until the close.
    wire->forget();
    const JobId read = connection.submit(QStringLiteral("silence"), [wire = wire](JobContext &job) {
        wire->backend->device().setFaults(SilentInstrument().faults);
        job.sequences().ReadObject(kObjectRange);
    });
    ASSERT_TRUE(SpinUntil([&] { return wire->count() >= 2; }, 2s)) << "a retry was sent";
    QElapsedTimer closing;
    closing.start();
    connection.closePort();
    EXPECT_TRUE(screen.panels[kStatusPanelExchange].isEmpty()) << "the close empties the panels at once";
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(read) && !connection.portOpen(); }, 2s));

    EXPECT_LT(closing.elapsed(), 500);
    EXPECT_LT(wire->count(), 5u) << "no further attempt after the close";
    EXPECT_EQ(screen.outcomeOf(read), Outcome::Cancelled);
    EXPECT_EQ(screen.panels[kStatusPanelExchange], "Cancel by User");
    EXPECT_FALSE(connection.record().InstrumentConnected);
}

TEST_F(Connection, CancelEndsALongJobWithinHalfASecond)
{
    ConnectionOptions options = Options(wire, Instrument());
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));

    // A download-like job: reads until it is told to stop.
    const JobId download = connection.submit(QStringLiteral("download"), [](JobContext &job) {
        for (int i = 0; i < 100000 && !job.cancelled(); ++i) {
            job.sequences().ReadValue();
            job.reportProgress(i, 100000, QString());
        }
    });
    const JobId after = connection.readTab(InstrumentTab::Range);
    SpinFor(100ms);
    QElapsedTimer cancelling;
    cancelling.start();
    connection.cancel();
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(download); }, 2s));

    EXPECT_LT(cancelling.elapsed(), 500);
    EXPECT_EQ(screen.outcomeOf(download), Outcome::Cancelled);
    EXPECT_EQ(screen.outcomeOf(after), Outcome::Cancelled) << "the queued read was dropped";
}

TEST_F(Connection, JobThatMeetsAPortErrorEndsCleanlyAndTheNextJobRuns)
{
    ConnectionOptions options = Options(wire, Instrument());
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));
    wire->forget();

    const JobId failing = connection.submit(QStringLiteral("refused"), [](JobContext &) {
        throw PortError(QStringLiteral("Transmit buffer of serial port sim is full"));
    });
    const JobId next = connection.readTab(InstrumentTab::Signals);
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(next); }, 5s));

    EXPECT_EQ(screen.outcomeOf(failing), Outcome::PortError);
    EXPECT_EQ(screen.portErrors, QStringList{"Transmit buffer of serial port sim is full"});
    EXPECT_EQ(screen.outcomeOf(next), Outcome::Done);
    EXPECT_EQ(wire->names(), Names{"R31"});
}

TEST_F(Connection, PortThatCannotBeOpenedIsReportedAndNothingIsSearched)
{
    ConnectionOptions options;
    options.link = [](const QString &, const LineSettings &) -> std::unique_ptr<SerialBackend> {
        auto link = std::make_unique<sim::SimBackend>(Instrument());
        link->unplug();
        return link;
    };
    InstrumentConnection connection(options);
    Screen screen(connection);
    QString failure;
    QObject::connect(&connection, &InstrumentConnection::portOpenFailed, &connection,
                     [&failure](const QString &message) { failure = message; });

    const JobId id = connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(id); }, 3s));

    EXPECT_FALSE(failure.isEmpty());
    EXPECT_EQ(screen.outcomeOf(id), Outcome::PortError);
    EXPECT_FALSE(connection.portOpen());
    EXPECT_EQ(connection.phase(), ConnectionPhase::Closed);
}

TEST_F(Connection, IdlePollRunsBetweenJobsOncePerPeriod)
{
    InstrumentConnection connection(Options(wire, Instrument(), 10ms));
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));
    wire->forget();

    SpinFor(1s);

    // Ten ticks between polls: about ten clock reads, each with its value read.
    const Names heard = wire->names();
    const auto clocks = std::count(heard.begin(), heard.end(), "R3");
    const auto values = std::count(heard.begin(), heard.end(), "R7");
    EXPECT_GE(clocks, 4);
    EXPECT_LE(clocks, 11);
    EXPECT_EQ(clocks, values);
}

// Destroying the connection at every kind of wait: the sanitizer build
// catches a use of anything that is gone.
TEST_F(Connection, DestroyedInTheMiddleOfEveryKindOfWait)
{
    QElapsedTimer longest;
    qint64 longestEnd = 0;
    // Ends a connection and measures how long its end took.
    const auto end = [&](std::unique_ptr<InstrumentConnection> &connection) {
        longest.start();
        connection.reset();
        longestEnd = std::max(longestEnd, longest.elapsed());
    };
    for (const int settleMs : {0, 5, 30, 120}) {
        {
            // During the search of a silent instrument, ended at once.
            auto connection = std::make_unique<InstrumentConnection>(Options(wire, SilentInstrument(), 100ms));
            connection->open(QStringLiteral("sim"));
            SpinFor(std::chrono::milliseconds(settleMs));
            wire->forget();
            end(connection);
            // A request the engine had begun before the end began may still
            // leave; the search sends nothing after it.
            EXPECT_LE(wire->count(), 1u) << "the search went on while the connection was ended";
        }
        {
            // During the search of a silent instrument.
            InstrumentConnection connection(Options(wire, SilentInstrument(), 20ms));
            Screen screen(connection);
            connection.open(QStringLiteral("sim"));
            SpinFor(std::chrono::milliseconds(settleMs));
        }
        {
            // During the connect sequence, with tab reads and the poll queued behind it.
            InstrumentConnection connection(Options(wire, Instrument(), 5ms));
            Screen screen(connection);
            connection.open(QStringLiteral("sim"));
            connection.readTab(InstrumentTab::Datalogging);
            connection.readTab(InstrumentTab::Hardware);
            SpinFor(std::chrono::milliseconds(settleMs));
        }
        {
            // Right after a close was asked for, before the engine took it.
            InstrumentConnection connection(Options(wire, Instrument(), 5ms));
            connection.open(QStringLiteral("sim"));
            SpinFor(std::chrono::milliseconds(settleMs));
            connection.closePort();
        }
    }
    EXPECT_LT(longestEnd, 500) << "ending a connection waits for one tick at most";
}

TEST_F(Connection, EveryWayOfHearingAJobsEndComesAfterEverySignalOfItsJob)
{
    ConnectionOptions options = Options(wire, Instrument());
    options.idlePoll = false;
    InstrumentConnection connection(options);
    Screen screen(connection);
    connection.waitFor(connection.open(QStringLiteral("sim")));
    screen.answers.clear();

    const Outcome outcome =
        connection.runAndWait(QStringLiteral("identity"), [](JobContext &job) { job.sequences().ReadIdentity(); });
    EXPECT_EQ(outcome, Outcome::Done);
    EXPECT_EQ(screen.answers, std::vector<std::uint8_t>{kObjectIdentity});

    // A job's own result reaches its submitter alone, after the answers it
    // decoded; a submitter that is gone hears nothing.
    std::vector<std::pair<Outcome, std::int32_t>> heard;
    auto listener = std::make_unique<QObject>();
    const JobId typed = connection.submitFor<std::int32_t>(
        QStringLiteral("serial"),
        [](JobContext &job, std::int32_t &serial) {
            job.sequences().ReadIdentity();
            serial = job.record().SerialNumber;
        },
        listener.get(), [&](Outcome how, std::int32_t serial) {
            EXPECT_EQ(screen.answers.size(), 2u) << "the answer came before the end";
            heard.emplace_back(how, serial);
        });
    auto gone = std::make_unique<QObject>();
    bool goneHeard = false;
    connection.submit(QStringLiteral("identity"), [](JobContext &job) { job.sequences().ReadIdentity(); }, gone.get(),
                      [&](Outcome) { goneHeard = true; });
    gone.reset();
    const JobId last = connection.readTab(InstrumentTab::Range);
    ASSERT_TRUE(SpinUntil([&] { return screen.hasFinished(last); }, 5s));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].first, Outcome::Done);
    EXPECT_EQ(heard[0].second, connection.record().SerialNumber);
    EXPECT_NE(heard[0].second, 0);
    EXPECT_FALSE(goneHeard);
    // Waiting for a job that has ended already returns its outcome at once.
    EXPECT_EQ(connection.waitFor(typed), Outcome::Done);
}

} // namespace

TEST_F(Connection, ErrorReportIsReportedAgainstTheRequestAJobSentItself)
{
    ConnectionOptions options = Options(wire, Instrument());
    options.idlePoll = false;
    InstrumentConnection connection(options);
    std::vector<int> reportedFor;
    QObject::connect(&connection, &InstrumentConnection::errorReportReceived, &connection,
                     [&reportedFor](quint8 object, const QByteArray &) { reportedFor.push_back(object); });
    connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return Connected(connection); }, 5s));

    // A read through the sequences, then a write the job builds and sends
    // itself, answered with an error report.
    const std::shared_ptr<Wire> w = wire;
    connection.runAndWait(QStringLiteral("write"), [w](JobContext &job) {
        job.sequences().ReadObject(kObjectSignals);
        sim::FaultPlan refusing;
        refusing.errorReport.probability = 1.0;
        // The identity read before the write is answered as usual.
        refusing.objects = {kObjectRange};
        w->backend->device().setFaults(refusing);
        RequestBuffer request{};
        BuildWriteRequest(kObjectRange, 0, request);
        job.transaction().ArmResponseTimer(3);
        job.transaction().RunTransaction(request);
        job.sequences().DecodeAnswer();
    });
    EXPECT_EQ(reportedFor, std::vector<int>{kObjectRange});
}
