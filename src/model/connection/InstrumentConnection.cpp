#include "InstrumentConnection.h"

#include "FeatureGates.h"
#include "ReadSequences.h"
#include "Transaction.h"

#include <QCoreApplication>
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

    JobId submit(const QString &name, ConnectionJob job);
    void cancel(bool close);
    void setShowingTab(InstrumentTab tab) { showingTab_.store(static_cast<int>(tab)); }
    InstrumentTab showingTab() const { return static_cast<InstrumentTab>(showingTab_.load()); }
    void setIdlePollEnabled(bool enabled)
    {
        pollEnabled_.store(enabled);
        wake();
    }

    // Runs f on the connection's thread, after everything posted before it.
    template <typename F>
    void post(F &&f)
    {
        QMetaObject::invokeMethod(&owner_, std::forward<F>(f), Qt::QueuedConnection);
    }

private:
    struct QueuedJob {
        JobId id;
        QString name;
        ConnectionJob job;
    };
    class View;
    class Context;

    void run();
    void loop(Context &context);
    void runJob(Context &context, QueuedJob &job);
    void runPoll(Context &context);
    void closeNow(Context &context);
    std::optional<QueuedJob> takeJob();
    bool takeCloseRequest();
    void dropQueued();
    void reportDropped(const std::deque<QueuedJob> &dropped);
    void endCancelOfRunningJob(Context &context);
    void wake();
    void showError(const QString &text);
    void postPortError(const QString &message);

    InstrumentConnection &owner_;
    const ConnectionOptions options_;
    std::unique_ptr<QThread> thread_;
    // Lives on the engine thread; an event posted to it wakes the engine.
    QObject waker_;

    std::mutex mutex_;
    std::deque<QueuedJob> queue_;
    JobId nextId_ = 1;
    Transaction *transaction_ = nullptr; // while the engine runs
    bool cancelPending_ = false;         // cancel() before the engine was up

    std::atomic<bool> stopping_{false};
    std::atomic<bool> closeRequested_{false};
    std::atomic<bool> cancelRunningOnly_{false};
    std::atomic<bool> pollEnabled_{true};
    std::atomic<int> showingTab_{static_cast<int>(InstrumentTab::General)};
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
    void repaint() override {}
    void showError(const QString &text) override { engine_.showError(text); }
    void ClearInstrumentDisplay() override
    {
        engine_.post([o = &engine_.owner_] { emit o->displayCleared(); });
        postRecord();
    }
    void SetLamp(LampColour colour) override
    {
        engine_.post([o = &engine_.owner_, colour] { emit o->lampChanged(colour); });
    }
    void SetCalibrationButtonsEnabled(bool enabled) override
    {
        engine_.post([o = &engine_.owner_, enabled] { emit o->calibrationButtonsEnabled(enabled); });
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
        engine_.post([o = &engine_.owner_, answer, frame] { emit o->answerDecoded(answer, frame); });
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
        engine_.post([o = &engine_.owner_, phase] { o->applyPhase(phase); });
    }

    void postRecord()
    {
        engine_.post([o = &engine_.owner_, record = record_] { o->applyRecord(record); });
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
    Context(Engine &engine, ApdComPort &port, Transaction &transaction, InstrumentRecord &record,
            AnswerDecoder &decoder, ReadSequences &sequences, View &view)
        : engine_(engine), port_(port), transaction_(transaction), record_(record), decoder_(decoder),
          sequences_(sequences), view_(view)
    {
    }

    ReadSequences &sequences() override { return sequences_; }
    Transaction &transaction() override { return transaction_; }
    InstrumentRecord &record() override { return record_; }
    ApdComPort &port() override { return port_; }
    AnswerDecoder &decoder() override { return decoder_; }
    InstrumentView &view() override { return view_; }
    View &engineView() { return view_; }
    bool cancelled() const override { return transaction_.Cancelled(); }
    void reportProgress(int done, int total, const QString &text) override
    {
        engine_.post([o = &engine_.owner_, done, total, text] { emit o->progress(done, total, text); });
    }

private:
    Engine &engine_;
    ApdComPort &port_;
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
    thread_->wait();
}

void InstrumentConnection::Engine::wake()
{
    QMetaObject::invokeMethod(&waker_, [] {}, Qt::QueuedConnection);
}

JobId InstrumentConnection::Engine::submit(const QString &name, ConnectionJob job)
{
    JobId id = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        id = nextId_++;
        queue_.push_back({id, name, std::move(job)});
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
        // in between and send its request.
        const std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(queue_);
        if (close)
            closeRequested_.store(true);
        else
            cancelRunningOnly_.store(true);
        if (transaction_)
            transaction_->Cancel();
        else
            cancelPending_ = true;
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
        post([o = &owner_, id = job.id] { o->applyJobFinished(id, JobOutcome::Cancelled); });
}

void InstrumentConnection::Engine::endCancelOfRunningJob(Context &context)
{
    // cancel() without a close ends what ran when it was called; later jobs
    // run again. After a close the cancel holds until the next open.
    if (cancelRunningOnly_.exchange(false) && !closeRequested_.load() && context.port().Open())
        context.transaction().ClearCancel();
}

std::optional<InstrumentConnection::Engine::QueuedJob> InstrumentConnection::Engine::takeJob()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty())
        return std::nullopt;
    QueuedJob job = std::move(queue_.front());
    queue_.pop_front();
    return job;
}

bool InstrumentConnection::Engine::takeCloseRequest()
{
    return closeRequested_.exchange(false);
}

void InstrumentConnection::Engine::showError(const QString &text)
{
    post([o = &owner_, text] { emit o->errorMessage(text); });
}

void InstrumentConnection::Engine::postPortError(const QString &message)
{
    post([o = &owner_, message] { emit o->portError(message); });
}

void InstrumentConnection::Engine::run()
{
    std::unique_ptr<ApdComPort> port =
        options_.link ? std::make_unique<ApdComPort>(options_.link) : std::make_unique<ApdComPort>();
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

    // A device that fails while open (unplugged) has closed itself: end the
    // running job and bring the window to the closed state.
    QObject::connect(port.get(), &ApdComPort::PortFailed, port.get(), [this](const QString &message) {
        postPortError(message);
        cancel(true);
    });
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        transaction_ = &transaction;
        if (cancelPending_)
            transaction.Cancel();
    }

    loop(context);

    {
        const std::lock_guard<std::mutex> lock(mutex_);
        transaction_ = nullptr;
    }
    dropQueued();
    if (port->Open())
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
        endCancelOfRunningJob(context);
        if (std::optional<QueuedJob> job = takeJob()) {
            runJob(context, *job);
            continue;
        }
        if (pollEnabled_.load() && context.sequences().IdlePollHasWork()) {
            runPoll(context);
            continue;
        }
        // Sleeps until the next tick, received bytes, a job or a cancel.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void InstrumentConnection::Engine::runJob(Context &context, QueuedJob &job)
{
    post([o = &owner_, id = job.id, name = job.name] { emit o->jobStarted(id, name); });
    JobOutcome outcome = JobOutcome::Done;
    try {
        job.job(context);
        if (context.cancelled())
            outcome = JobOutcome::Cancelled;
    } catch (const PortError &error) {
        postPortError(error.message());
        outcome = JobOutcome::PortError;
    } catch (const std::exception &error) {
        showError(QString::fromLocal8Bit(error.what()));
        outcome = JobOutcome::PortError;
    }
    if (context.engineView().closeRequestedBySearch) {
        context.engineView().closeRequestedBySearch = false;
        closeNow(context);
        // "&Close Comport" empties both panels; the search then names its end.
        context.view().setStatusText(kStatusPanelPhase, QString());
        context.view().setStatusText(kStatusPanelExchange, QString());
        context.view().setStatusText(kStatusPanelPhase, QStringLiteral("Connect"));
    }
    context.engineView().postRecord();
    post([o = &owner_, id = job.id, outcome] { o->applyJobFinished(id, outcome); });
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
    ApdComPort &port = context.port();
    // A request still leaving the transmitter goes out whole.
    QElapsedTimer draining;
    draining.start();
    while (port.Open() && port.OutBuffUsed() > 0 && draining.elapsed() < kDrainMilliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    context.transaction().Cancel();
    context.transaction().StopTimer1();
    context.sequences().ClearInstrumentDisplay();
    const bool wasOpen = port.Open();
    port.SetOpen(false);
    context.engineView().ShowPhase(ConnectionPhase::Closed);
    if (wasOpen)
        post([o = &owner_] { o->applyPortOpen(false, QString()); });
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

JobId InstrumentConnection::submit(const QString &name, ConnectionJob job)
{
    if (jobsPending_++ == 0)
        emit busyChanged(true);
    return engine_->submit(name, std::move(job));
}

JobId InstrumentConnection::open(const QString &portName)
{
    Engine *engine = engine_.get();
    return submit(QStringLiteral("open %1").arg(portName), [this, engine, portName](JobContext &context) {
        context.transaction().ClearCancel();
        try {
            const ComPortSel opening(nullptr);
            opening.OpenPort(context.port(), portName);
        } catch (const PortError &error) {
            engine->post([o = this, message = error.message()] { emit o->portOpenFailed(message); });
            throw;
        }
        engine->post([o = this, portName] { o->applyPortOpen(true, portName); });
        if (context.sequences().SearchInstrument())
            context.sequences().ConnectSequence();
    });
}

void InstrumentConnection::closePort()
{
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
    engine_->cancel(false);
}

JobId InstrumentConnection::readTab(InstrumentTab tab)
{
    Engine *engine = engine_.get();
    return submit(QStringLiteral("tab reads"), [engine, tab](JobContext &context) {
        engine->setShowingTab(tab);
        context.sequences().PageControl1Change();
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

JobOutcome InstrumentConnection::waitFor(JobId id)
{
    QEventLoop loop;
    std::optional<JobOutcome> outcome;
    const QMetaObject::Connection finished =
        connect(this, &InstrumentConnection::jobFinished, &loop, [&](JobId ended, JobOutcome how) {
            if (ended != id)
                return;
            outcome = how;
            loop.quit();
        });
    if (!outcome)
        loop.exec();
    disconnect(finished);
    return outcome.value_or(JobOutcome::Cancelled);
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

void InstrumentConnection::applyJobFinished(JobId id, JobOutcome outcome)
{
    emit jobFinished(id, outcome);
    if (jobsPending_ > 0 && --jobsPending_ == 0)
        emit busyChanged(false);
}

} // namespace r310
