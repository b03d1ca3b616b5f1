#include "InstrumentConnection.h"

#include "FeatureGates.h"
#include "ReadSequences.h"
#include "Transaction.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace r310 {

namespace {

// How long closing waits for a request still leaving the transmitter: a
// whole frame takes under 80 ms at 9600 baud.
constexpr int kDrainMilliseconds = 250;

// An open that failed: its one message (portOpenFailed) has gone already.
struct OpenFailure {};

} // namespace

JobContext::~JobContext() = default;

// The protocol engine: a thread of its own that owns the port, the
// transaction, the record, the decoder and the sequences, and runs the queued
// jobs and, between them, the idle poll. Everything it shows is posted to the
// connection's thread.
class InstrumentConnection::Engine {
public:
    Engine(InstrumentConnection &owner, ConnectionOptions options);
    ~Engine();

    JobId submit(const QString &name, ConnectionJob job, bool opens, std::optional<InstrumentIdentity> preparedFor);
    void cancel(bool close);
    void setShowingTab(InstrumentTab tab) { showingTab_.store(static_cast<int>(tab)); }
    InstrumentTab showingTab() const { return static_cast<InstrumentTab>(showingTab_.load()); }
    void setIdlePollEnabled(bool enabled)
    {
        pollEnabled_.store(enabled);
        wake();
    }
    // The open job told the front end the port is open (engine thread).
    void markPortShownOpen() { portShownOpen_ = true; }
    // Counts the closes: what the engine posted before the last one is stale.
    std::uint64_t closeGeneration() const { return closeGeneration_.load(); }

    // Runs f on the connection's thread, after everything posted before it.
    template <typename F>
    void post(F &&f)
    {
        QMetaObject::invokeMethod(&owner_, std::forward<F>(f), Qt::QueuedConnection);
    }
    // The same for a change of the connection's state (record, phase, open
    // port, lamp, values): dropped when a close was requested after the job
    // or poll that caused it began.
    template <typename F>
    void postState(F f)
    {
        post([o = &owner_, generation = postGeneration_, f = std::move(f)] {
            if (o->engine_ && generation < o->engine_->closeGeneration())
                return;
            f();
        });
    }

private:
    struct QueuedJob {
        JobId id;
        QString name;
        ConnectionJob job;
        bool opens = false;
        std::optional<InstrumentIdentity> preparedFor;
    };
    class View;
    class Context;

    void run();
    void loop(Context &context);
    void runJob(Context &context, QueuedJob &job);
    void runPoll(Context &context);
    void closeNow(Context &context);
    std::optional<QueuedJob> takeJob(Transaction &transaction);
    bool beginPoll(Transaction &transaction);
    void endRunning();
    bool cancelledSinceStart();
    bool takeCloseRequest();
    void dropQueued();
    void reportDropped(const std::deque<QueuedJob> &dropped);
    void wake();
    void showError(const QString &text);
    void postPortError(const QString &message);
    void portFailed(const QString &message);
    bool confirmInstrument(Context &context);
    void readChangedInstrument(Context &context);

    InstrumentConnection &owner_;
    const ConnectionOptions options_;
    std::unique_ptr<QThread> thread_;
    // Lives on the engine thread; an event posted to it wakes the engine.
    QObject waker_;

    std::mutex mutex_;
    std::deque<QueuedJob> queue_;
    JobId nextId_ = 1;
    Transaction *transaction_ = nullptr; // while the engine runs
    // A job or the poll runs: a cancel ends it.
    bool running_ = false;
    QString runningName_;
    // Counts cancel() and closePort(): the running job was cancelled when it
    // differs from the count at its start.
    std::uint64_t cancelGeneration_ = 0;
    std::uint64_t runningCancelGeneration_ = 0;
    // After a close, jobs start cancelled until an open.
    bool holdCancel_ = false;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> closeRequested_{false};
    std::atomic<std::uint64_t> closeGeneration_{0};
    std::atomic<bool> pollEnabled_{true};
    std::atomic<int> showingTab_{static_cast<int>(InstrumentTab::General)};

    // Engine thread only.
    std::uint64_t postGeneration_ = 0;
    // The front end was told the port is open and has not been told it closed.
    bool portShownOpen_ = false;
    // The port failed: its one message has gone; what the running job meets
    // on the closed port is not reported again, and the close names the loss.
    bool portLost_ = false;
    QString lossMessage_;
    // The instrument the running job's writes were prepared for.
    std::optional<InstrumentIdentity> preparedFor_;
    // How the instrument on the port differs from it, once a write check found it.
    QString instrumentChange_;
};

// The sequences' view on the engine thread: every call is posted to the
// connection, which emits it as a signal on its own thread.
class InstrumentConnection::Engine::View : public InstrumentView {
public:
    View(Engine &engine, const InstrumentRecord &record) : engine_(engine), record_(record) {}

    void setStatusText(int panel, const QString &text) override
    {
        engine_.post([o = &engine_.owner_, panel, text] { emit o->statusText(panel, text); });
    }
    // The front end paints on its own; nothing waits for it.
    void showError(const QString &text) override { engine_.showError(text); }
    void ClearInstrumentDisplay() override
    {
        engine_.post([o = &engine_.owner_] { emit o->displayCleared(); });
        postRecord();
    }
    void SetLamp(LampColour colour) override
    {
        engine_.postState([o = &engine_.owner_, colour] { emit o->lampChanged(colour); });
    }
    void SetCalibrationButtonsEnabled(bool enabled) override
    {
        engine_.postState([o = &engine_.owner_, enabled] { emit o->calibrationButtonsEnabled(enabled); });
    }
    void ShowAnswer(const DecodedAnswer &answer, const AnswerFrame &frame) override
    {
        if (answer.errorReport && sequences) {
            const QByteArray payload(reinterpret_cast<const char *>(frame.payload.data()),
                                     static_cast<int>(frame.payload.size()));
            engine_.post([o = &engine_.owner_, object = sequences->LastRequestObject(), payload] {
                emit o->errorReportReceived(object, payload);
            });
        }
        postRecord();
        engine_.postState([o = &engine_.owner_, answer, frame] { emit o->answerDecoded(answer, frame); });
    }
    InstrumentTab ShowingTab() const override { return engine_.showingTab(); }
    void ResetResultBackground() override
    {
        engine_.post([o = &engine_.owner_] { emit o->resultBackgroundReset(); });
    }
    void ClosePortAfterCancel() override
    {
        closeRequestedBySearch = true;
    }
    void ShowClockNotTaken() override
    {
        engine_.post([o = &engine_.owner_] { emit o->clockNotTaken(); });
    }
    void ShowPhase(ConnectionPhase phase) override
    {
        postRecord();
        engine_.postState([o = &engine_.owner_, phase] { o->applyPhase(phase); });
    }

    void postRecord()
    {
        engine_.postState([o = &engine_.owner_, record = record_] { o->applyRecord(record); });
    }

    // The search was cancelled: the engine closes the port as "&Close Comport" does.
    bool closeRequestedBySearch = false;
    // Names the request an error report answered.
    const ReadSequences *sequences = nullptr;

private:
    Engine &engine_;
    const InstrumentRecord &record_;
};

// What a job sees: the engine's objects on the engine thread.
class InstrumentConnection::Engine::Context : public JobContext {
public:
    Context(Engine &engine, SerialPort &port, Transaction &transaction, InstrumentRecord &record,
            AnswerDecoder &decoder, ReadSequences &sequences, View &view)
        : engine_(engine), port_(port), transaction_(transaction), record_(record), decoder_(decoder),
          sequences_(sequences), view_(view)
    {
    }

    ReadSequences &sequences() override { return sequences_; }
    Transaction &transaction() override { return transaction_; }
    InstrumentRecord &record() override { return record_; }
    SerialPort &port() override { return port_; }
    AnswerDecoder &decoder() override { return decoder_; }
    InstrumentView &view() override { return view_; }
    View &engineView() { return view_; }
    bool cancelled() const override { return transaction_.Cancelled(); }
    void reportProgress(int done, int total, const QString &text) override
    {
        engine_.post([o = &engine_.owner_, done, total, text] { emit o->progress(done, total, text); });
    }
    void prepareWritesFor(std::optional<InstrumentIdentity> identity) override
    {
        engine_.preparedFor_ = std::move(identity);
    }

private:
    Engine &engine_;
    SerialPort &port_;
    Transaction &transaction_;
    InstrumentRecord &record_;
    AnswerDecoder &decoder_;
    ReadSequences &sequences_;
    View &view_;
};

InstrumentConnection::Engine::Engine(InstrumentConnection &owner, ConnectionOptions options)
    : owner_(owner), options_(std::move(options))
{
    pollEnabled_.store(options_.idlePoll);
    thread_.reset(QThread::create([this] { run(); }));
    thread_->setObjectName(QStringLiteral("instrument engine"));
    waker_.moveToThread(thread_.get());
    thread_->start();
}

InstrumentConnection::Engine::~Engine()
{
    stopping_.store(true);
    cancel(true);
    if (thread_->wait(QDeadlineTimer(options_.shutdownBound)))
        return;
    QString hung;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        hung = running_ ? runningName_ : QStringLiteral("the idle poll");
    }
    // A job that never looks at its cancel would keep the program from
    // ending; it is stopped where it stands.
    qCritical().noquote() << QStringLiteral("The instrument connection did not end within %1 ms: \"%2\" did not "
                                            "stop when cancelled and was stopped.")
                                 .arg(options_.shutdownBound.count())
                                 .arg(hung);
    thread_->terminate();
    thread_->wait();
}

void InstrumentConnection::Engine::wake()
{
    QMetaObject::invokeMethod(&waker_, [] {}, Qt::QueuedConnection);
}

JobId InstrumentConnection::Engine::submit(const QString &name, ConnectionJob job, bool opens,
                                           std::optional<InstrumentIdentity> preparedFor)
{
    JobId id = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        id = nextId_++;
        queue_.push_back({id, name, std::move(job), opens, std::move(preparedFor)});
    }
    wake();
    return id;
}

void InstrumentConnection::Engine::cancel(bool close)
{
    std::deque<QueuedJob> dropped;
    {
        // The queue is emptied under the same lock the engine takes jobs
        // with, before the running job is cancelled: no queued job can start
        // in between and send its request, and a job taken later starts
        // with a cancel state of its own.
        const std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(queue_);
        ++cancelGeneration_;
        if (close) {
            holdCancel_ = true;
            closeGeneration_.fetch_add(1);
            closeRequested_.store(true);
        }
        if (transaction_ && running_)
            transaction_->Cancel();
    }
    reportDropped(dropped);
    wake();
}

void InstrumentConnection::Engine::dropQueued()
{
    std::deque<QueuedJob> dropped;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(queue_);
    }
    reportDropped(dropped);
}

void InstrumentConnection::Engine::reportDropped(const std::deque<QueuedJob> &dropped)
{
    for (const QueuedJob &job : dropped)
        post([o = &owner_, id = job.id] { o->applyJobFinished(id, Outcome::Cancelled); });
}

std::optional<InstrumentConnection::Engine::QueuedJob> InstrumentConnection::Engine::takeJob(Transaction &transaction)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty())
        return std::nullopt;
    QueuedJob job = std::move(queue_.front());
    queue_.pop_front();
    // cancel() without a close ended what ran when it was called; this job
    // starts afresh. After a close every job starts cancelled until an open.
    if (job.opens)
        holdCancel_ = false;
    if (holdCancel_)
        transaction.Cancel();
    else
        transaction.ClearCancel();
    running_ = true;
    runningName_ = job.name;
    runningCancelGeneration_ = cancelGeneration_;
    postGeneration_ = closeGeneration_.load();
    return job;
}

bool InstrumentConnection::Engine::beginPoll(Transaction &transaction)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (holdCancel_)
        return false;
    transaction.ClearCancel();
    running_ = true;
    runningName_ = QStringLiteral("the idle poll");
    runningCancelGeneration_ = cancelGeneration_;
    postGeneration_ = closeGeneration_.load();
    return true;
}

void InstrumentConnection::Engine::endRunning()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

bool InstrumentConnection::Engine::cancelledSinceStart()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return holdCancel_ || cancelGeneration_ != runningCancelGeneration_;
}

bool InstrumentConnection::Engine::takeCloseRequest()
{
    return closeRequested_.exchange(false);
}

void InstrumentConnection::Engine::showError(const QString &text)
{
    if (portLost_)
        return;
    post([o = &owner_, text] { emit o->errorMessage(text); });
}

void InstrumentConnection::Engine::postPortError(const QString &message)
{
    if (portLost_)
        return;
    post([o = &owner_, message] { emit o->portError(message); });
}

void InstrumentConnection::Engine::portFailed(const QString &message)
{
    // The device has closed itself: one message, then the port is closed
    // as "&Close Comport" would, after the running job has ended.
    postPortError(message);
    portLost_ = true;
    lossMessage_ = message;
    cancel(true);
}

void InstrumentConnection::Engine::run()
{
    std::unique_ptr<SerialPort> port =
        options_.link ? std::make_unique<SerialPort>(options_.link) : std::make_unique<SerialPort>();
    InstrumentRecord record;
    View view(*this, record);
    Transaction transaction(*port, view);
    transaction.SetTickLength(options_.tick);
    AnswerDecoder decoder(options_.decoding);
    if (options_.decoderSetup)
        options_.decoderSetup(decoder);
    ReadSequences sequences(*port, transaction, decoder, record, view);
    if (options_.pcClock)
        sequences.SetPcClock(options_.pcClock);
    view.sequences = &sequences;
    Context context(*this, *port, transaction, record, decoder, sequences, view);
    transaction.SetWriteCheck([this, &context] { return confirmInstrument(context); });

    QObject::connect(port.get(), &SerialPort::PortFailed, port.get(),
                     [this](const QString &message) { portFailed(message); });
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        transaction_ = &transaction;
    }

    loop(context);

    {
        const std::lock_guard<std::mutex> lock(mutex_);
        transaction_ = nullptr;
    }
    dropQueued();
    closeNow(context);
}

void InstrumentConnection::Engine::loop(Context &context)
{
    while (!stopping_.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (stopping_.load())
            break;
        if (takeCloseRequest()) {
            closeNow(context);
            continue;
        }
        if (std::optional<QueuedJob> job = takeJob(context.transaction())) {
            runJob(context, *job);
            endRunning();
            continue;
        }
        if (pollEnabled_.load() && context.sequences().IdlePollHasWork() && beginPoll(context.transaction())) {
            runPoll(context);
            endRunning();
            continue;
        }
        // Sleeps until the next tick, received bytes, a job or a cancel.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void InstrumentConnection::Engine::runJob(Context &context, QueuedJob &job)
{
    post([o = &owner_, id = job.id, name = job.name] { emit o->jobStarted(id, name); });
    preparedFor_ = job.preparedFor;
    instrumentChange_.clear();
    Outcome outcome = Outcome::Done;
    try {
        job.job(context);
        if (context.cancelled())
            outcome = Outcome::Cancelled;
    } catch (const OpenFailure &) {
        outcome = Outcome::PortError;
    } catch (const PortError &error) {
        postPortError(error.message());
        outcome = Outcome::PortError;
    } catch (const std::exception &error) {
        showError(QString::fromLocal8Bit(error.what()));
        outcome = Outcome::PortError;
    }
    preparedFor_.reset();
    if (!instrumentChange_.isEmpty()) {
        outcome = Outcome::InstrumentChanged;
        readChangedInstrument(context);
    }
    if (context.engineView().closeRequestedBySearch) {
        context.engineView().closeRequestedBySearch = false;
        const bool lost = portLost_;
        closeNow(context);
        if (!lost) {
            // "&Close Comport" empties both panels; the search then names its end.
            context.view().setStatusText(kStatusPanelPhase, QString());
            context.view().setStatusText(kStatusPanelExchange, QString());
            context.view().setStatusText(kStatusPanelPhase, QStringLiteral("Connect"));
        }
    }
    context.engineView().postRecord();
    post([o = &owner_, id = job.id, outcome] { o->applyJobFinished(id, outcome); });
}

bool InstrumentConnection::Engine::confirmInstrument(Context &context)
{
    // A job prepared for no instrument (the search, the poll's clock) writes
    // what does not depend on the instrument.
    if (!preparedFor_)
        return true;
    Transaction &transaction = context.transaction();
    RequestBuffer request{};
    BuildReadRequest(kObjectIdentity, request);
    transaction.ArmResponseTimer(ReadSequences::kReadArmTicks);
    transaction.RunTransaction(request);
    const TransactionResult result = transaction.Result();
    if (result.Cancelled)
        return false;
    if (result.Failed()) {
        // Nobody answers: the write is not sent (again) to whoever answers next.
        context.view().SetLamp(LampColour::Red);
        return false;
    }
    const AnswerFrame frame = AnswerFrameFromBuffer(transaction.TakeAnswer());
    InstrumentRecord seen = context.record();
    const DecodedAnswer answer = context.decoder().Decode(frame, seen);
    if (!answer.identity)
        return false; // an error report or a damaged identity confirms nothing
    InstrumentIdentity found;
    found.serialNumber = answer.identity->serialNumber;
    found.softwareVersion = answer.identity->softwareVersion;
    // The scale, gas and unit the engine last read of this same instrument.
    const std::optional<InstrumentIdentity> known = IdentityOf(context.record());
    if (known && known->serialNumber == found.serialNumber) {
        found.decimalExponent = known->decimalExponent;
        found.gasCode = known->gasCode;
        found.unitCode = known->unitCode;
    }
    const QString change = IdentityChange(*preparedFor_, found);
    if (change.isEmpty())
        return true;
    instrumentChange_ = change;
    // Ends the job: nothing it would still send belongs to this instrument.
    transaction.Cancel();
    return false;
}

void InstrumentConnection::Engine::readChangedInstrument(Context &context)
{
    const QString message = InstrumentChangedText(instrumentChange_);
    instrumentChange_.clear();
    post([o = &owner_, message] { emit o->instrumentChanged(message); });
    // The new instrument is read as after a connect, unless the user
    // cancelled or closed meanwhile.
    if (cancelledSinceStart() || !context.port().Open())
        return;
    context.transaction().ClearCancel();
    context.sequences().ClearInstrumentDisplay();
    context.sequences().ConnectSequence();
    context.view().setStatusText(kStatusPanelExchange, message);
}

void InstrumentConnection::Engine::runPoll(Context &context)
{
    try {
        context.sequences().IdlePoll();
    } catch (const PortError &error) {
        postPortError(error.message());
        // The next poll waits a full period instead of meeting the same error at once.
        context.sequences().PostponePoll();
    }
    if (context.engineView().closeRequestedBySearch) {
        context.engineView().closeRequestedBySearch = false;
        closeNow(context);
    }
}

void InstrumentConnection::Engine::closeNow(Context &context)
{
    SerialPort &port = context.port();
    // A request still leaving the transmitter goes out whole.
    QElapsedTimer draining;
    draining.start();
    while (port.Open() && port.BytesQueued() > 0 && draining.elapsed() < kDrainMilliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // What the close shows belongs to it, not to the job it ended.
    postGeneration_ = closeGeneration_.load();
    context.transaction().Cancel();
    context.transaction().StopTicking();
    context.sequences().ClearInstrumentDisplay();
    port.SetOpen(false);
    context.engineView().ShowPhase(ConnectionPhase::Closed);
    // A device that failed has closed itself already; the front end still
    // learns once that the port it opened is closed.
    if (portShownOpen_) {
        portShownOpen_ = false;
        postState([o = &owner_] { o->applyPortOpen(false, QString()); });
    }
    if (portLost_) {
        portLost_ = false;
        context.view().setStatusText(kStatusPanelPhase, QStringLiteral("Port closed"));
        context.view().setStatusText(kStatusPanelExchange, lossMessage_);
    }
}

InstrumentConnection::InstrumentConnection(ConnectionOptions options, QObject *parent)
    : QObject(parent), engine_(std::make_unique<Engine>(*this, std::move(options)))
{
}

InstrumentConnection::~InstrumentConnection()
{
    // Ends the engine before anything it posts to could go.
    engine_.reset();
}

void InstrumentConnection::requireOwnerThread(const char *call) const
{
    // The busy count, the record and the phase belong to the owner's thread;
    // a call from elsewhere would race with them.
    if (QThread::currentThread() != thread())
        qFatal("InstrumentConnection::%s was called from another thread than the one that owns the connection",
               call);
}

JobId InstrumentConnection::submitJob(const QString &name, ConnectionJob job, bool opens)
{
    // The job's writes were prepared for the instrument the front end shows now.
    std::optional<InstrumentIdentity> preparedFor;
    if (!opens && record_.InstrumentConnected)
        preparedFor = IdentityOf(record_);
    if (jobsPending_++ == 0)
        emit busyChanged(true);
    return engine_->submit(name, std::move(job), opens, std::move(preparedFor));
}

JobId InstrumentConnection::submit(const QString &name, ConnectionJob job)
{
    requireOwnerThread("submit");
    return submitJob(name, std::move(job), false);
}

JobId InstrumentConnection::submit(const QString &name, ConnectionJob job, QObject *context, JobDone done)
{
    requireOwnerThread("submit");
    const JobId id = submitJob(name, std::move(job), false);
    // Kept before the job can end: its end is applied on this thread, later.
    pendingDone_[id] = PendingDone{QPointer<QObject>(context), std::move(done)};
    return id;
}

JobId InstrumentConnection::open(const QString &portName)
{
    requireOwnerThread("open");
    Engine *engine = engine_.get();
    return submitJob(QStringLiteral("open %1").arg(portName), [this, engine, portName](JobContext &context) {
        // A close or cancel that came after this open was taken wins.
        if (context.cancelled())
            return;
        try {
            const ComPortSel opening(nullptr);
            opening.OpenPort(context.port(), portName);
        } catch (const PortError &error) {
            // The one message of this failure; the job ends as a port error.
            engine->post([o = this, message = error.message()] { emit o->portOpenFailed(message); });
            throw OpenFailure();
        }
        engine->markPortShownOpen();
        engine->postState([o = this, portName] { o->applyPortOpen(true, portName); });
        if (context.sequences().SearchInstrument())
            context.sequences().ConnectSequence();
    }, true);
}

void InstrumentConnection::closePort()
{
    requireOwnerThread("closePort");
    engine_->cancel(true);
    // What "&Close Comport" shows at once; the engine closes the port after
    // the running exchange has ended.
    record_.ClearConnectionValues();
    emit recordChanged(record_);
    emit displayCleared();
    emit resultBackgroundReset();
    emit lampChanged(LampColour::Red);
    emit calibrationButtonsEnabled(false);
    emit statusText(kStatusPanelPhase, QString());
    emit statusText(kStatusPanelExchange, QString());
    applyPhase(ConnectionPhase::Closed);
}

void InstrumentConnection::cancel()
{
    requireOwnerThread("cancel");
    engine_->cancel(false);
}

JobId InstrumentConnection::readTab(InstrumentTab tab)
{
    Engine *engine = engine_.get();
    return submit(QStringLiteral("tab reads"), [engine, tab](JobContext &context) {
        engine->setShowingTab(tab);
        context.sequences().ReadSelectedTab();
    });
}

void InstrumentConnection::setShowingTab(InstrumentTab tab)
{
    engine_->setShowingTab(tab);
}

InstrumentTab InstrumentConnection::showingTab() const
{
    return engine_->showingTab();
}

void InstrumentConnection::setIdlePollEnabled(bool enabled)
{
    engine_->setIdlePollEnabled(enabled);
}

Outcome InstrumentConnection::waitFor(JobId id)
{
    if (const auto ended = endedOutcomes_.find(id); ended != endedOutcomes_.end())
        return ended->second;
    QEventLoop loop;
    std::optional<Outcome> outcome;
    const QMetaObject::Connection finished =
        connect(this, &InstrumentConnection::jobFinished, &loop, [&](JobId ended, Outcome how) {
            if (ended != id)
                return;
            outcome = how;
            loop.quit();
        });
    if (!outcome)
        loop.exec();
    disconnect(finished);
    return outcome.value_or(Outcome::Cancelled);
}

void InstrumentConnection::applyRecord(const InstrumentRecord &record)
{
    record_ = record;
    emit recordChanged(record_);
}

void InstrumentConnection::applyPhase(ConnectionPhase phase)
{
    if (phase == phase_)
        return;
    phase_ = phase;
    emit phaseChanged(phase_);
}

void InstrumentConnection::applyPortOpen(bool open, const QString &name)
{
    portOpen_ = open;
    if (open) {
        portName_ = name;
        emit portOpened(name);
    } else {
        emit portClosed();
    }
}

void InstrumentConnection::applyJobFinished(JobId id, Outcome outcome)
{
    constexpr std::size_t kOutcomesKept = 64;
    endedOutcomes_[id] = outcome;
    if (endedOutcomes_.size() > kOutcomesKept)
        endedOutcomes_.erase(endedOutcomes_.begin());
    if (const auto waiting = pendingDone_.find(id); waiting != pendingDone_.end()) {
        const PendingDone pending = std::move(waiting->second);
        pendingDone_.erase(waiting);
        if (pending.context && pending.done)
            pending.done(outcome);
    }
    emit jobFinished(id, outcome);
    if (jobsPending_ > 0 && --jobsPending_ == 0)
        emit busyChanged(false);
}

} // namespace r310
