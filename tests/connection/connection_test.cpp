// The instrument connection against simulated instruments in-process: jobs
// run one after the other on the protocol engine; cancel and close end them
// at any moment; destroying the connection in the middle of a wait touches
// nothing that is gone; a port that goes away or cannot be opened is reported
// once and leaves the connection closed and ready to open again; a close is
// never undone by what the engine posted before it; and every write reaches
// only the instrument it was prepared for, even when another one was put on
// the same port in between.
#include "AlarmSettings.h"
#include "BuildPrograms.h"
#include "CustomerId.h"
#include "InstrumentConnection.h"
#include "QStringPrinting.h"
#include "ServiceFunction.h"
#include "SetClock.h"
#include "SettingsProfile.h"
#include "Shelf.h"
#include "SimBackend.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace r310;
using namespace r310test;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

sim::Scenario SilentInstrument()
{
    sim::Scenario scenario = InstrumentA();
    scenario.faults.noAnswer.probability = 1.0;
    return scenario;
}

bool AnyWrite(const Names &names)
{
    return std::any_of(names.begin(), names.end(), [](const std::string &n) { return n[0] == 'W'; });
}

// What the connection told its front end, as a front end would keep it.
struct Told {
    explicit Told(InstrumentConnection &connection)
    {
        QObject *c = &connection;
        QObject::connect(&connection, &InstrumentConnection::portError, c, [this](const QString &m) {
            messages << m;
            portErrors << m;
        });
        QObject::connect(&connection, &InstrumentConnection::portOpenFailed, c,
                         [this](const QString &m) { messages << m; });
        QObject::connect(&connection, &InstrumentConnection::errorMessage, c, [this](const QString &m) { messages << m; });
        QObject::connect(&connection, &InstrumentConnection::instrumentChanged, c,
                         [this](const QString &m) { messages << m; });
        QObject::connect(&connection, &InstrumentConnection::portClosed, c, [this] { ++closed; });
        QObject::connect(&connection, &InstrumentConnection::phaseChanged, c,
                         [this](ConnectionPhase p) { phases.push_back(p); });
        QObject::connect(&connection, &InstrumentConnection::statusText, c,
                         [this](int panel, const QString &text) { panels[panel] = text; });
        QObject::connect(&connection, &InstrumentConnection::jobFinished, c,
                         [this](JobId id, Outcome how) { outcomes[id] = how; });
        QObject::connect(&connection, &InstrumentConnection::lampChanged, c, [this](LampColour l) { lamp = l; });
        QObject::connect(&connection, &InstrumentConnection::answerDecoded, c,
                         [this](const DecodedAnswer &answer, const AnswerFrame &) { answers.push_back(answer.object); });
        QObject::connect(&connection, &InstrumentConnection::busyChanged, c,
                         [this](bool busy) { busyChanges.push_back(busy); });
    }
    bool finished(JobId id) const { return outcomes.count(id) > 0; }
    Outcome outcomeOf(JobId id) const
    {
        const auto found = outcomes.find(id);
        if (found != outcomes.end())
            return found->second;
        ADD_FAILURE() << "job " << id << " never finished";
        return Outcome::NotRun;
    }

    QStringList messages; // every message, of every kind
    QStringList portErrors;
    LampColour lamp = LampColour::Red;
    std::vector<std::uint8_t> answers;
    std::vector<bool> busyChanges;
    int closed = 0;
    std::vector<ConnectionPhase> phases;
    QString panels[2];
    std::map<JobId, Outcome> outcomes;
};

class Connection : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    std::unique_ptr<InstrumentConnection> Make(std::vector<sim::Scenario> instruments, bool idlePoll = false,
                                               std::chrono::milliseconds tick = 10ms)
    {
        shelf = std::make_shared<Shelf>(std::move(instruments));
        ConnectionOptions options;
        options.link = shelf->link(shelf);
        options.tick = tick;
        options.idlePoll = idlePoll;
        return std::make_unique<InstrumentConnection>(options);
    }
    // A connection kept by the fixture, what it tells kept in `told`; when
    // asked, opened and connected to the first instrument, the line forgotten.
    InstrumentConnection &Start(std::vector<sim::Scenario> instruments, bool connect,
                                std::chrono::milliseconds tick = 10ms, bool idlePoll = false)
    {
        owned_ = Make(std::move(instruments), idlePoll, tick);
        told_ = std::make_unique<Told>(*owned_);
        if (connect) {
            EXPECT_TRUE(OpenAndConnect(*owned_, kSerialA));
            shelf->forget();
        }
        return *owned_;
    }
    Told &told() { return *told_; }
    static bool Connected(const InstrumentConnection &c)
    {
        return c.phase() == ConnectionPhase::Connected && !c.busy();
    }
    static bool ConnectedTo(const InstrumentConnection &c, std::int32_t serial)
    {
        return Connected(c) && c.record().SerialNumber == serial;
    }
    static bool OpenAndConnect(InstrumentConnection &c, std::int32_t serial)
    {
        c.open(QStringLiteral("sim"));
        return SpinUntil([&] { return ConnectedTo(c, serial); }, 5s);
    }
    // A connection whose port can never be opened.
    static std::unique_ptr<InstrumentConnection> Unpluggable()
    {
        ConnectionOptions options;
        options.link = [](const QString &, const LineSettings &) -> std::unique_ptr<SerialBackend> {
            auto link = std::make_unique<sim::SimBackend>(InstrumentA());
            link->unplug();
            return link;
        };
        return std::make_unique<InstrumentConnection>(options);
    }

    std::shared_ptr<Shelf> shelf;

private:
    std::unique_ptr<Told> told_; // outlives the connection that feeds it
    std::unique_ptr<InstrumentConnection> owned_;
};

TEST_F(Connection, OpensSearchesAndConnectsOnTheEngineInTheOrderOfTheConnectTable)
{
    InstrumentConnection &connection = Start({InstrumentA()}, false);
    const JobId id = connection.open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return told().finished(id); }, 5s));

    EXPECT_EQ(told().outcomeOf(id), Outcome::Done);
    EXPECT_EQ(shelf->heard(), (Names{"C1", "C1", "R2", "R3", "R7", "R2"}));
    EXPECT_TRUE(connection.portOpen());
    EXPECT_TRUE(connection.record().InstrumentConnected) << "the mirror follows the engine's record";
    EXPECT_EQ(connection.phase(), ConnectionPhase::Connected);
    EXPECT_EQ(told().lamp, LampColour::LimeGreen);
    EXPECT_EQ(told().panels[kStatusPanelPhase], "Connect");
    EXPECT_EQ(told().busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(Connection, JobsQueuedDuringAReadRunAfterItInOrderOnTheWire)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    // Three clicks in a row while the first is still on the wire.
    connection.readTab(InstrumentTab::Range);
    connection.submit(QStringLiteral("value"), [](JobContext &job) { job.sequences().ReadValue(); });
    const JobId last = connection.readTab(InstrumentTab::Hardware);
    EXPECT_TRUE(connection.busy());
    ASSERT_TRUE(SpinUntil([&] { return told().finished(last); }, 5s));

    EXPECT_EQ(shelf->heard(), (Names{"R4", "R7", "R33"}));
    EXPECT_EQ(connection.showingTab(), InstrumentTab::Hardware);
    EXPECT_FALSE(connection.busy());
}

TEST_F(Connection, CloseDuringTheSearchEndsItAtOnceDropsQueuedJobsAndClosesThePort)
{
    InstrumentConnection &connection = Start({SilentInstrument()}, false, 100ms);
    const JobId search = connection.open(QStringLiteral("sim"));
    const JobId queued = connection.readTab(InstrumentTab::Signals);
    ASSERT_TRUE(SpinUntil([&] { return shelf->count() >= 2; }, 3s)) << "the search repeats its request";

    QElapsedTimer closing;
    closing.start();
    connection.closePort();
    ASSERT_TRUE(SpinUntil([&] { return told().finished(search) && !connection.portOpen(); }, 2s));

    EXPECT_LT(closing.elapsed(), 500) << "the search ended within half a second";
    EXPECT_EQ(told().outcomeOf(search), Outcome::Cancelled);
    EXPECT_EQ(told().outcomeOf(queued), Outcome::Cancelled);
    const std::size_t heard = shelf->count();
    SpinFor(300ms);
    EXPECT_EQ(shelf->count(), heard) << "nothing is sent after the close";
    EXPECT_EQ(connection.phase(), ConnectionPhase::Closed);
    EXPECT_EQ(told().panels[kStatusPanelPhase], "Connect") << "the search names its end after the close";
    EXPECT_EQ(told().lamp, LampColour::Red);
}

TEST_F(Connection, CloseSendsNothingOfTheJobsQueuedBehindTheRunningOne)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true, 5ms);
    for (int round = 0; round < 30; ++round) {
        shelf->forget();
        const JobId jobs[] = {connection.readTab(InstrumentTab::Range), connection.readTab(InstrumentTab::Signals),
                              connection.readTab(InstrumentTab::Hardware)};
        connection.cancel();
        // The queued reads are dropped at once; the running one ends after them.
        ASSERT_TRUE(SpinUntil(
            [&] { return std::all_of(std::begin(jobs), std::end(jobs), [&](JobId job) { return told().finished(job); }); },
            2s));
        // Each read sends one request. On a loaded machine the engine may
        // finish a job or two before the cancel comes; beyond those, only the
        // job running at the cancel may have reached the wire.
        const auto done = static_cast<std::size_t>(std::count_if(
            std::begin(jobs), std::end(jobs), [&](JobId job) { return told().outcomeOf(job) == Outcome::Done; }));
        EXPECT_LE(shelf->count(), done + 1) << "round " << round << ": a queued read reached the wire after the cancel";
    }
    // A cancel ends what ran; the next job is sent again.
    shelf->forget();
    const JobId after = connection.readTab(InstrumentTab::Signals);
    ASSERT_TRUE(SpinUntil([&] { return told().finished(after); }, 2s));
    EXPECT_EQ(told().outcomeOf(after), Outcome::Done);
    EXPECT_EQ(shelf->heard(), Names{"R31"});
}

TEST_F(Connection, CloseDuringARetryLeavesCancelByUserAfterThePanelsWereEmptied)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true, 100ms);
    // The instrument stops answering; the read is retried until the close.
    const JobId read = connection.submit(QStringLiteral("silence"), [shelf = shelf](JobContext &job) {
        shelf->backend()->device().setFaults(SilentInstrument().faults);
        job.sequences().ReadObject(kObjectRange);
    });
    ASSERT_TRUE(SpinUntil([&] { return shelf->count() >= 2; }, 2s)) << "a retry was sent";
    QElapsedTimer closing;
    closing.start();
    connection.closePort();
    EXPECT_TRUE(told().panels[kStatusPanelExchange].isEmpty()) << "the close empties the panels at once";
    ASSERT_TRUE(SpinUntil([&] { return told().finished(read) && !connection.portOpen(); }, 2s));

    EXPECT_LT(closing.elapsed(), 500);
    EXPECT_LT(shelf->count(), 5u) << "no further attempt after the close";
    EXPECT_EQ(told().outcomeOf(read), Outcome::Cancelled);
    EXPECT_EQ(told().panels[kStatusPanelExchange], "Cancel by User");
    EXPECT_FALSE(connection.record().InstrumentConnected);
}

TEST_F(Connection, CancelEndsALongJobWithinHalfASecond)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
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
    ASSERT_TRUE(SpinUntil([&] { return told().finished(download); }, 2s));

    EXPECT_LT(cancelling.elapsed(), 500);
    EXPECT_EQ(told().outcomeOf(download), Outcome::Cancelled);
    EXPECT_EQ(told().outcomeOf(after), Outcome::Cancelled) << "the queued read was dropped";
}

TEST_F(Connection, JobThatMeetsAPortErrorEndsCleanlyAndTheNextJobRuns)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    const JobId failing = connection.submit(QStringLiteral("refused"), [](JobContext &) {
        throw PortError(QStringLiteral("Transmit buffer of serial port sim is full"));
    });
    const JobId next = connection.readTab(InstrumentTab::Signals);
    ASSERT_TRUE(SpinUntil([&] { return told().finished(next); }, 5s));

    EXPECT_EQ(told().outcomeOf(failing), Outcome::PortError);
    EXPECT_EQ(told().portErrors, QStringList{"Transmit buffer of serial port sim is full"});
    EXPECT_EQ(told().outcomeOf(next), Outcome::Done);
    EXPECT_EQ(shelf->heard(), Names{"R31"});
}

TEST_F(Connection, PortThatCannotBeOpenedGivesExactlyOneMessageAndNothingIsSearched)
{
    const std::unique_ptr<InstrumentConnection> connection = Unpluggable();
    Told told(*connection);
    QString failure;
    QObject::connect(connection.get(), &InstrumentConnection::portOpenFailed, connection.get(),
                     [&failure](const QString &message) { failure = message; });
    const JobId id = connection->open(QStringLiteral("sim"));
    ASSERT_TRUE(SpinUntil([&] { return told.finished(id); }, 3s));
    SpinFor(100ms);

    EXPECT_FALSE(failure.isEmpty());
    EXPECT_EQ(told.messages, QStringList{failure});
    EXPECT_EQ(told.outcomeOf(id), Outcome::PortError);
    EXPECT_FALSE(connection->portOpen());
    EXPECT_EQ(connection->phase(), ConnectionPhase::Closed);
    EXPECT_EQ(told.closed, 0) << "a port that never opened is not reported closed";
}

TEST_F(Connection, IdlePollRunsBetweenJobsOncePerPeriod)
{
    Start({InstrumentA()}, true, 10ms, true);
    SpinFor(1s);

    // Ten ticks between polls: about ten clock reads, each with its value read.
    const Names heard = shelf->heard();
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
        const auto settle = std::chrono::milliseconds(settleMs);
        {
            // During the search of a silent instrument, ended at once.
            auto connection = Make({SilentInstrument()}, true, 100ms);
            connection->open(QStringLiteral("sim"));
            SpinFor(settle);
            shelf->forget();
            end(connection);
            // A request the engine had begun before the end began may still
            // leave; the search sends nothing after it.
            EXPECT_LE(shelf->count(), 1u) << "the search went on while the connection was ended";
        }
        {
            // During the search of a silent instrument.
            auto connection = Make({SilentInstrument()}, true, 20ms);
            Told told(*connection);
            connection->open(QStringLiteral("sim"));
            SpinFor(settle);
        }
        {
            // During the connect sequence, with tab reads and the poll queued behind it.
            auto connection = Make({InstrumentA()}, true, 5ms);
            Told told(*connection);
            connection->open(QStringLiteral("sim"));
            connection->readTab(InstrumentTab::Datalogging);
            connection->readTab(InstrumentTab::Hardware);
            SpinFor(settle);
        }
        {
            // Right after a close was asked for, before the engine took it.
            auto connection = Make({InstrumentA()}, true, 5ms);
            connection->open(QStringLiteral("sim"));
            SpinFor(settle);
            connection->closePort();
        }
    }
    EXPECT_LT(longestEnd, 500) << "ending a connection waits for one tick at most";
}

TEST_F(Connection, EveryWayOfHearingAJobsEndComesAfterEverySignalOfItsJob)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    told().answers.clear();
    const Outcome outcome =
        connection.runAndWait(QStringLiteral("identity"), [](JobContext &job) { job.sequences().ReadIdentity(); });
    EXPECT_EQ(outcome, Outcome::Done);
    EXPECT_EQ(told().answers, std::vector<std::uint8_t>{kObjectIdentity});

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
            EXPECT_EQ(told().answers.size(), 2u) << "the answer came before the end";
            heard.emplace_back(how, serial);
        });
    auto gone = std::make_unique<QObject>();
    bool goneHeard = false;
    connection.submit(QStringLiteral("identity"), [](JobContext &job) { job.sequences().ReadIdentity(); }, gone.get(),
                      [&](Outcome) { goneHeard = true; });
    gone.reset();
    const JobId last = connection.readTab(InstrumentTab::Range);
    ASSERT_TRUE(SpinUntil([&] { return told().finished(last); }, 5s));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].first, Outcome::Done);
    EXPECT_EQ(heard[0].second, kSerialA);
    EXPECT_FALSE(goneHeard);
    // Waiting for a job that has ended already returns its outcome at once.
    EXPECT_EQ(connection.waitFor(typed), Outcome::Done);
}

TEST_F(Connection, ErrorReportIsReportedAgainstTheRequestAJobSentItself)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    std::vector<int> reportedFor;
    QObject::connect(&connection, &InstrumentConnection::errorReportReceived, &connection,
                     [&reportedFor](quint8 object, const QByteArray &) { reportedFor.push_back(object); });
    // A read through the sequences, then a write the job builds and sends
    // itself, answered with an error report.
    connection.runAndWait(QStringLiteral("write"), [shelf = shelf](JobContext &job) {
        job.sequences().ReadObject(kObjectSignals);
        sim::FaultPlan refusing;
        refusing.errorReport.probability = 1.0;
        // The identity read before the write is answered as usual.
        refusing.objects = {kObjectRange};
        shelf->backend()->device().setFaults(refusing);
        RequestBuffer request{};
        BuildWriteRequest(kObjectRange, 0, request);
        job.transaction().ArmResponseTimer(3);
        job.transaction().RunTransaction(request);
        job.sequences().DecodeAnswer();
    });
    EXPECT_EQ(reportedFor, std::vector<int>{kObjectRange});
}

TEST_F(Connection, PulledAdapterIsReportedOnceAndTheSameNameThenOpensTheInstrumentNowBehindIt)
{
    for (const bool idlePoll : {false, true}) {
        SCOPED_TRACE(idlePoll ? "while polling" : "between jobs");
        InstrumentConnection &connection = Start({InstrumentA(), InstrumentB()}, true, 10ms, idlePoll);

        QElapsedTimer pulled;
        pulled.start();
        shelf->onEngine([](sim::SimBackend &link) { link.unplug(); });
        ASSERT_TRUE(SpinUntil([&] { return told().closed > 0; }, 1s)) << "no portClosed within a second";
        SpinFor(200ms);

        EXPECT_EQ(told().closed, 1);
        EXPECT_EQ(told().messages.size(), 1) << told().messages.join(" | ").toStdString();
        EXPECT_FALSE(connection.portOpen());
        EXPECT_EQ(connection.phase(), ConnectionPhase::Closed);
        EXPECT_FALSE(connection.record().InstrumentConnected);
        EXPECT_EQ(told().panels[kStatusPanelPhase], "Port closed");
        EXPECT_EQ(told().panels[kStatusPanelExchange], told().messages.value(0)) << "the status bar says what happened";

        ASSERT_TRUE(OpenAndConnect(connection, kSerialB)) << "the same name opens again";
        EXPECT_EQ(told().messages.size(), 1);
    }
}

TEST_F(Connection, LossDuringAJobIsReportedOnceWithoutCancelByUser)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    // The line goes away in the middle of a job that keeps reading.
    const JobId reads = connection.submit(QStringLiteral("reads"), [](JobContext &job) {
        for (int i = 0; i < 200 && !job.cancelled(); ++i)
            job.sequences().ReadValue();
    });
    shelf->onEngine([](sim::SimBackend &link) { link.unplug(); });
    ASSERT_TRUE(SpinUntil([&] { return told().finished(reads) && told().closed > 0; }, 2s));
    SpinFor(100ms);

    EXPECT_EQ(told().messages.size(), 1) << told().messages.join(" | ").toStdString();
    EXPECT_EQ(told().closed, 1);
    EXPECT_NE(told().panels[kStatusPanelExchange], "Cancel by User");
    EXPECT_EQ(told().panels[kStatusPanelPhase], "Port closed");
}

// A pseudo-terminal whose simulator ends is a real device going away: the
// serial port service notices it, and the name (a link that now leads to
// another simulator) opens the next instrument.
TEST_F(Connection, PseudoTerminalThatGoesAwayClosesThePortWithinASecond)
{
    QTemporaryDir folder;
    const QString port = folder.filePath(QStringLiteral("cradle"));
    auto first = std::make_unique<SimulatorProcess>(QStringList{QStringLiteral("--serial=%1").arg(kSerialA)});
    ASSERT_FALSE(first->device().isEmpty());
    ASSERT_TRUE(QFile::link(first->device(), port));

    ConnectionOptions options;
    options.tick = 100ms;
    InstrumentConnection connection(options);
    Told told(connection);
    connection.open(port);
    ASSERT_TRUE(SpinUntil([&] { return ConnectedTo(connection, kSerialA); }, 10s));

    QElapsedTimer gone;
    gone.start();
    first.reset();
    ASSERT_TRUE(SpinUntil([&] { return told.closed > 0; }, 3s));
    EXPECT_LT(gone.elapsed(), 1000) << "portClosed came after " << gone.elapsed() << " ms";
    SpinFor(300ms);
    EXPECT_EQ(told.closed, 1);
    EXPECT_EQ(told.messages.size(), 1) << told.messages.join(" | ").toStdString();
    EXPECT_FALSE(connection.portOpen());

    SimulatorProcess second(QStringList{QStringLiteral("--serial=%1").arg(kSerialB)});
    ASSERT_TRUE(QFile::remove(port) && QFile::link(second.device(), port));
    connection.open(port);
    EXPECT_TRUE(SpinUntil([&] { return ConnectedTo(connection, kSerialB); }, 10s));
}

// Every kind of write, prepared while instrument A was connected, meets
// instrument B: B hears its identity read and then only what a connect
// reads, the job ends as InstrumentChanged with the one message, and B is
// the connected instrument afterwards.
TEST_F(Connection, WritePreparedForOneInstrumentNeverReachesTheNextOnTheSamePort)
{
    struct Case {
        const char *name;
        std::function<ConnectionJob()> job;
    };
    std::shared_ptr<ProfilePlan> plan = std::make_shared<ProfilePlan>();
    const std::vector<Case> cases = {
        {"alarm limits",
         [] {
             AlarmSettingsValues values;
             values.thresholds = {30, 61, 150, 30, 20};
             return AlarmSettingsJob(values, std::make_shared<SettingsWriteResult>());
         }},
        {"customer ID", [] { return CustomerIdJob(CustomerIdPayload(QStringLiteral("SHELF"))); }},
        {"clock", [] { return SetClockJob(); }},
        {"service function", [] { return ServiceFunctionJob(ServiceCode::Default); }},
        {"profile", [plan] { return ApplyProfileJob(*plan, std::make_shared<ProfileApplyResult>()); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentConnection &connection = Start({InstrumentA()}, true);
        const JobId range = connection.readTab(InstrumentTab::Range);
        ASSERT_TRUE(SpinUntil([&] { return told().finished(range); }, 2s));
        // The profile is planned against A's settings as read.
        auto read = std::make_shared<InstrumentSettingsRead>();
        const JobId reading = connection.submit("read", ReadInstrumentSettingsJob(read));
        ASSERT_TRUE(SpinUntil([&] { return told().finished(reading); }, 3s));
        SettingsProfile profile;
        profile.settings.push_back({QStringLiteral("a2"), QStringLiteral("61")});
        *plan = PlanProfile(profile, read->settings, nullptr);
        ASSERT_TRUE(plan->ok()) << plan->refusals.join("; ").toStdString();

        const JobId swap = connection.submit("swap", [this](JobContext &) { shelf->swapTo(InstrumentB()); });
        const JobId write = connection.submit(c.name, c.job());
        ASSERT_TRUE(SpinUntil([&] { return told().finished(write) && !connection.busy(); }, 5s));
        ASSERT_EQ(told().outcomeOf(swap), Outcome::Done);

        const Names afterSwap = shelf->heardAfterSwap();
        EXPECT_FALSE(AnyWrite(afterSwap)) << "B heard a write";
        ASSERT_FALSE(afterSwap.empty());
        EXPECT_EQ(afterSwap.front(), "R2") << "the identity is read before the write";
        EXPECT_EQ(told().outcomeOf(write), Outcome::InstrumentChanged);
        EXPECT_EQ(told().messages, QStringList{QString::fromUtf8(
                                     "The instrument changed (serial 1234 → 5678); nothing was written.")});
        EXPECT_TRUE(ConnectedTo(connection, kSerialB)) << "B is read as after a connect";
        EXPECT_EQ(shelf->backend()->device().state().range.thresholds[1], 600);
    }
}

// A write the instrument did not answer is sent again only after the
// identity was read again: to the same instrument it goes again; to one put
// on the port during the silence it does not.
TEST_F(Connection, UnansweredWriteIsRepeatedOnlyToTheInstrumentItWasMadeFor)
{
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "swapped during the silence" : "same instrument");
        InstrumentConnection &connection = Start({InstrumentA()}, true);
        const JobId range = connection.readTab(InstrumentTab::Range);
        ASSERT_TRUE(SpinUntil([&] { return told().finished(range); }, 2s));
        // A does not hear the first write; B may come while the engine waits.
        shelf->onEngine([](sim::SimBackend &link) {
            sim::FaultPlan plan;
            plan.noAnswer.next = 1;
            plan.objects = {kObjectRange};
            link.device().setFaults(plan);
        });
        SpinFor(50ms);
        shelf->note("armed");
        shelf->onTrace = [swapped](Shelf &s, const sim::TraceEntry &entry) {
            if (swapped && entry.kind == sim::TraceEntry::Kind::Unanswered)
                QMetaObject::invokeMethod(s.backend(), [&s] { s.swapTo(InstrumentB()); }, Qt::QueuedConnection);
        };

        AlarmSettingsValues values;
        values.thresholds = {30, 61, 150, 30, 20};
        auto result = std::make_shared<SettingsWriteResult>();
        const JobId write = connection.submit("limits", AlarmSettingsJob(values, result));
        ASSERT_TRUE(SpinUntil([&] { return told().finished(write) && !connection.busy(); }, 5s));

        Names armed = shelf->heard();
        armed.erase(armed.begin(), std::find(armed.begin(), armed.end(), "armed") + 1);
        if (!swapped) {
            EXPECT_EQ(armed, (Names{"R2", "W4", "R2", "W4", "R4"}));
            EXPECT_EQ(told().outcomeOf(write), Outcome::Done);
            EXPECT_TRUE(result->done());
            continue;
        }
        EXPECT_EQ(std::count(armed.begin(), armed.end(), "W4"), 1) << "only A's unanswered write";
        EXPECT_FALSE(AnyWrite(shelf->heardAfterSwap()));
        EXPECT_EQ(told().outcomeOf(write), Outcome::InstrumentChanged);
        EXPECT_TRUE(ConnectedTo(connection, kSerialB));
        EXPECT_EQ(shelf->backend()->device().state().range.thresholds[1], 600);
    }
}

// Phase and record the engine posted before a close arrive after it and are
// dropped: the front end never sees Closed, then Connected, then Closed.
TEST_F(Connection, WhatTheEnginePostedBeforeACloseDoesNotOverwriteIt)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    std::atomic<int> step{0};
    connection.submit("late", [&step](JobContext &job) {
        while (step.load() == 0)
            QThread::msleep(1);
        job.view().ShowPhase(ConnectionPhase::Connected);
        job.view().SetLamp(LampColour::LimeGreen);
        step.store(2);
        while (!job.cancelled())
            QThread::msleep(1);
    });
    step.store(1);
    while (step.load() != 2)
        QThread::msleep(1); // the posts are queued, not yet delivered
    told().phases.clear();
    connection.closePort();
    ASSERT_TRUE(SpinUntil([&] { return !connection.busy() && !connection.portOpen(); }, 2s));
    SpinFor(50ms);

    EXPECT_EQ(told().phases, std::vector<ConnectionPhase>{ConnectionPhase::Closed});
    EXPECT_EQ(connection.phase(), ConnectionPhase::Closed);
    EXPECT_FALSE(connection.record().InstrumentConnected);
}

// A cancel ends the job it was meant for and nothing after it; a close asked
// for while an open runs is not undone by that open.
TEST_F(Connection, CancelsAndClosesBelongToTheJobsTheyWereMeantFor)
{
    InstrumentConnection &connection = Start({InstrumentA()}, true);
    for (int round = 0; round < 20; ++round) {
        connection.readTab(InstrumentTab::Range);
        connection.cancel();
        const JobId next = connection.readTab(InstrumentTab::Signals);
        ASSERT_TRUE(SpinUntil([&] { return told().finished(next); }, 2s));
        EXPECT_EQ(told().outcomeOf(next), Outcome::Done) << "round " << round;
    }
    connection.closePort();
    ASSERT_TRUE(SpinUntil([&] { return !connection.portOpen() && !connection.busy(); }, 2s));

    sim::Scenario silent = InstrumentA();
    silent.faults.noAnswer.probability = 1.0;
    auto searching = Make({silent});
    for (int round = 0; round < 10; ++round) {
        searching->open(QStringLiteral("sim"));
        if (round % 2)
            SpinFor(std::chrono::milliseconds(round * 3));
        searching->closePort();
        ASSERT_TRUE(SpinUntil([&] { return !searching->portOpen() && !searching->busy(); }, 1s))
            << "round " << round << ": the search went on after the close";
    }
}

TEST_F(Connection, ShutdownIsBoundedAndNamesTheJobThatDidNotStop)
{
#if defined(__SANITIZE_ADDRESS__)
    // Stopping a thread where it stands unwinds its stack in a way GCC's
    // AddressSanitizer cannot follow; clang's (the test tree) and a plain
    // build run this test.
    GTEST_SKIP() << "a thread stopped by force is beyond GCC's AddressSanitizer";
#endif
    static QStringList critical;
    critical.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &,
                                                                const QString &text) {
        if (type == QtCriticalMsg)
            critical << text;
    });
    shelf = std::make_shared<Shelf>(std::vector<sim::Scenario>{InstrumentA()});
    ConnectionOptions options;
    options.link = shelf->link(shelf);
    options.tick = 10ms;
    options.shutdownBound = 300ms;
    auto connection = std::make_unique<InstrumentConnection>(options);
    std::atomic<bool> started{false};
    connection->submit(QStringLiteral("stubborn"), [&started](JobContext &) {
        started.store(true);
        for (;;)
            QThread::msleep(5); // never looks at its cancel
    });
    ASSERT_TRUE(SpinUntil([&] { return started.load(); }, 2s));

    QElapsedTimer closing;
    closing.start();
    connection.reset();
    qInstallMessageHandler(previous);

    EXPECT_LT(closing.elapsed(), 2000);
    ASSERT_EQ(critical.size(), 1);
    EXPECT_TRUE(critical.front().contains(QStringLiteral("\"stubborn\""))) << critical.front().toStdString();
}

} // namespace
