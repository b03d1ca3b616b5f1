#pragma once
// The one connection to the instrument that every front end uses.
//
// All exchanges run on a protocol engine of their own: a thread that owns the
// serial port service, the transaction with its 100 ms tick, the instrument
// record, the answer decoder and the read sequences. Front ends hand it jobs
// (open and search, a tab's reads, a write, a download); the engine runs them
// one after the other, top to bottom, each exchange waiting for its answer on
// the engine thread only. Between jobs, when nothing is queued, it runs the
// idle poll. A front end is therefore never re-entered from inside a wait,
// one exchange is on the wire at a time, and each answer belongs to the
// request that is waiting for it.
//
// What the sequences show reaches the front end as signals of this object, on
// the thread that created it, in the order the engine produced them. A job's
// jobFinished comes after every signal the job caused.
//
// cancel() and closePort() end the running job within one tick and drop the
// queued ones; destroying the connection does the same, closes the port and
// ends the engine before it returns, so nothing touches a destroyed object.
// A job that never looks at its cancel is stopped after a bound, named in a
// message on the error output.
//
// Every job carries the identity of the instrument it was prepared for (by
// default the one connected when it was submitted). Before each attempt of
// a write the engine reads the identity of the instrument on the port; when
// it is another instrument, nothing is written, the job ends with
// InstrumentChanged and the new instrument is read as after a connect.
//
// Only the engine changes the connection's state: what it posted before a
// close (a record, a phase, the open port) is dropped when it arrives after it.
#include "ComPortSel.h"
#include "DecodeAnswer.h"
#include "InstrumentRecord.h"
#include "InstrumentView.h"
#include "Outcome.h"
#include "ReadSequences.h"
#include "SerialPort.h"
#include "Transaction.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace r310 {

using JobId = std::uint64_t;

// What a job may use while it runs. Lives on the engine thread; a job must
// not keep it, nor touch objects of the front end's thread.
class JobContext {
public:
    virtual ~JobContext();
    virtual ReadSequences &sequences() = 0;
    virtual Transaction &transaction() = 0;
    virtual InstrumentRecord &record() = 0;
    virtual SerialPort &port() = 0;
    virtual AnswerDecoder &decoder() = 0;
    // The engine's side of the view: status texts, lamp, answers.
    virtual InstrumentView &view() = 0;
    // cancel() or closePort() was called since this job started.
    virtual bool cancelled() const = 0;
    // Progress of a long job (a download): emitted as progress().
    virtual void reportProgress(int done, int total, const QString &text) = 0;
    // The instrument this job's writes were prepared for, in place of the one
    // connected when it was submitted (a plan made earlier, confirmed later).
    // Empty: the writes that follow depend on no instrument (after a write
    // that changed the instrument's identity on purpose).
    virtual void prepareWritesFor(std::optional<InstrumentIdentity> identity) = 0;
};

using ConnectionJob = std::function<void(JobContext &)>;

// What the submitter hears when its job has ended (run, refused, or dropped
// by a close or cancel), on the connection's thread, after the record and
// phase the job left behind were applied.
using JobDone = std::function<void(Outcome)>;

struct ConnectionOptions {
    // Makes the device for each open. Empty: real serial devices (and
    // pseudo-terminals) through QSerialPort.
    SerialPort::BackendFactory link;
    // The user's regional settings, the gas table and the PC's clock for the decoder.
    DecodeEnvironment decoding;
    // Length of the 100 ms tick (tests shorten it).
    std::chrono::milliseconds tick{100};
    // The PC's local time as InstrumentSeconds; empty: the system clock.
    std::function<std::int32_t()> pcClock;
    // Further decoder branches (log objects), installed on the engine's decoder.
    std::function<void(AnswerDecoder &)> decoderSetup;
    // The idle poll runs between jobs (the window, r310ctl watch); a command
    // that only reads what it asks for turns it off.
    bool idlePoll = true;
    // How long destroying the connection waits for a job that does not end
    // at its cancel before the engine is stopped.
    std::chrono::milliseconds shutdownBound{5000};
};

class InstrumentConnection : public QObject {
    Q_OBJECT
public:
    explicit InstrumentConnection(ConnectionOptions options, QObject *parent = nullptr);
    // Cancels what runs, drops what waits, closes the port and ends the engine.
    ~InstrumentConnection() override;

    // "&Open Port": clears the cancel state, opens portName (a device name,
    // or COMn on Windows; ComPortSel::PortToOpen gives it) with 9600 8N1,
    // then searches for the instrument and, unless cancelled, runs the
    // connect sequence. portOpened() or portOpenFailed() says how the open went.
    JobId open(const QString &portName);
    // "&Close Comport": ends the running job within one tick, drops the queued
    // ones, then clears the instrument values and both status panels and
    // closes the port. A job cut short in a wait leaves "Cancel by User" in
    // the exchange panel, after the panels were emptied.
    void closePort();
    // Ends the running job and drops the queued ones; the port stays as it is
    // (Ctrl+C, a search bound).
    void cancel();

    // Queues a job; it runs after every job queued before it. Its writes go
    // only to the instrument connected now (record()).
    // open, closePort, cancel and submit belong to the thread that created
    // the connection; a call from another thread ends the program.
    JobId submit(const QString &name, ConnectionJob job);
    // The same, and done is called once when the job has ended, unless
    // context is gone by then.
    JobId submit(const QString &name, ConnectionJob job, QObject *context, JobDone done);
    // A job with a result of its own: job fills it on the engine's thread,
    // done receives it when the job has ended (empty-handed as the job left
    // it when the job was dropped or refused).
    template <typename Result>
    JobId submitFor(const QString &name, std::function<void(JobContext &, Result &)> job, QObject *context,
                    std::function<void(Outcome, Result)> done)
    {
        auto result = std::make_shared<Result>();
        return submit(
            name, [job = std::move(job), result](JobContext &c) { job(c, *result); }, context,
            [done = std::move(done), result](Outcome outcome) { done(outcome, std::move(*result)); });
    }
    // The reads of a tab that came to the front, as a job: the tab counts as
    // showing from the moment the job runs.
    JobId readTab(InstrumentTab tab);
    JobId readShowingTab() { return readTab(showingTab()); }

    // The tab in front, read by the connect sequence (after a lost instrument too).
    void setShowingTab(InstrumentTab tab);
    InstrumentTab showingTab() const;

    // The idle poll runs between jobs while this is on (the default).
    void setIdlePollEnabled(bool enabled);

    // Mirrors of the engine's state, updated as its signals arrive.
    const InstrumentRecord &record() const { return record_; }
    ConnectionPhase phase() const { return phase_; }
    bool portOpen() const { return portOpen_; }
    // A job runs or waits (the idle poll does not count).
    bool busy() const { return jobsPending_ > 0; }
    QString portName() const { return portName_; }

    // For front ends without a window (r310ctl): runs this thread's event loop
    // until the job has finished, or returns its outcome at once when it has
    // finished already (one of the last 64). A window never waits: it passes
    // a JobDone to submit.
    Outcome waitFor(JobId id);
    Outcome runAndWait(const QString &name, ConnectionJob job) { return waitFor(submit(name, std::move(job))); }

signals:
    void statusText(int panel, const QString &text);
    void lampChanged(r310::LampColour colour);
    void phaseChanged(r310::ConnectionPhase phase);
    // A job started or the last queued one ended.
    void busyChanged(bool busy);
    void progress(int done, int total, const QString &text);
    // A good answer was decoded (the frame as received, for objects the
    // decoder leaves to others).
    void answerDecoded(const r310::DecodedAnswer &answer, const r310::AnswerFrame &frame);
    // The instrument values were cleared (disconnect, a lost instrument).
    void displayCleared();
    void calibrationButtonsEnabled(bool enabled);
    void resultBackgroundReset();
    void clockNotTaken();
    // The record after every answer and every clear.
    void recordChanged(const r310::InstrumentRecord &record);
    void portOpened(const QString &portName);
    // The port could not be opened: the one message of that failure.
    void portOpenFailed(const QString &message);
    // Once per open port, when it closed (closed by the user, or lost).
    void portClosed();
    // A message of the link to show modally ("Comport nicht geöffnet!"). The
    // engine does not wait for it.
    void errorMessage(const QString &text);
    // The port failed or refused a request (the message of the port
    // service, without a full stop); the job it happened in has ended. When
    // the device went away, portClosed() follows and nothing else of the
    // loss is reported.
    void portError(const QString &message);
    // A job's write was not sent because another instrument is on the port:
    // "The instrument changed (serial 1234 → 5678); nothing was written."
    void instrumentChanged(const QString &message);
    // The instrument sent an error report in place of the answer to a
    // request for requestObject.
    void errorReportReceived(quint8 requestObject, const QByteArray &payload);
    void jobStarted(r310::JobId id, const QString &name);
    void jobFinished(r310::JobId id, r310::Outcome outcome);

private:
    class Engine;
    friend class Engine;

    JobId submitJob(const QString &name, ConnectionJob job, bool opens);
    void requireOwnerThread(const char *call) const;
    void applyRecord(const InstrumentRecord &record);
    void applyPhase(ConnectionPhase phase);
    void applyPortOpen(bool open, const QString &name);
    void applyJobFinished(JobId id, Outcome outcome);

    std::unique_ptr<Engine> engine_;
    InstrumentRecord record_;
    ConnectionPhase phase_ = ConnectionPhase::Closed;
    bool portOpen_ = false;
    int jobsPending_ = 0;
    QString portName_;
    struct PendingDone {
        QPointer<QObject> context;
        JobDone done;
    };
    std::map<JobId, PendingDone> pendingDone_;
    // The outcomes of the last jobs that ended, for waitFor.
    std::map<JobId, Outcome> endedOutcomes_;
};

} // namespace r310

Q_DECLARE_METATYPE(r310::ConnectionPhase)
Q_DECLARE_METATYPE(r310::Outcome)
Q_DECLARE_METATYPE(r310::LampColour)
Q_DECLARE_METATYPE(r310::DecodedAnswer)
Q_DECLARE_METATYPE(r310::AnswerFrame)
Q_DECLARE_METATYPE(r310::InstrumentRecord)
