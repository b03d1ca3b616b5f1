#pragma once
// One connection of r310ctl to the instrument: the instrument connection the
// window uses, with the terminal as the view. Opens the chosen port (or the
// built-in simulated instrument), searches within the time-out, runs the
// connect sequence, and turns what went wrong into one message and an exit code.
#include "CtlOptions.h"
#include "InstrumentConnection.h"
#include "TerminalView.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <chrono>
#include <functional>
#include <memory>

namespace r310 {
class GasTable;
class SignalWatcher;
namespace records {
class SessionRecorder;
}
} // namespace r310

namespace r310::cli {

// What the program gives the commands; tests pass their own.
struct CtlEnvironment {
    CtlEnvironment(QTextStream &output, QTextStream &errors) : out(output), err(errors) {}

    QTextStream &out;
    QTextStream &err;
    // The link of --demo; empty: the built-in simulated instrument with line pacing.
    SerialPort::BackendFactory demoLink;
    // Where --demo keeps its records; empty: DemoRecordsPath().
    QString demoRecords;
    // Length of the 100 ms tick (tests shorten it).
    std::chrono::milliseconds tick{100};
    // Ctrl+C and SIGTERM cancel the wait (the program itself; not in tests).
    bool handleSignals = false;
    // Where the gas table library is looked for; empty: the program's own
    // directory, then the system's library path.
    QStringList gasTableDirectories;
};

// A message as the one line r310ctl writes it: line breaks and other control
// characters (typed into an argument, or read from the instrument) as \xHH.
QString OneLineMessage(const QString &message);

class InstrumentSession : public QObject {
    Q_OBJECT
public:
    // idlePoll: the connection polls clock and value between jobs (watch).
    InstrumentSession(const CtlOptions &options, CtlEnvironment &environment, const GasTable &gasTable,
                      bool idlePoll = false);
    ~InstrumentSession() override;

    // Opens the port as "&Open Port" does (the port is not remembered),
    // searches for the instrument, bounded by --timeout-s, and runs the
    // connect sequence with the given tab in front. 0 or an exit code.
    int OpenAndConnect(InstrumentTab tab);
    // Runs reads as one job on the connection; a port error ends them.
    // 0 or an exit code.
    int Run(const std::function<void(JobContext &)> &reads);
    // After the reads: the exit code for an interruption, a failed port, an
    // error report of the instrument or (when !complete) a missing answer,
    // with its message; 0 when none applies.
    int Verdict(bool complete);
    // The interruption, a failed port or another instrument on the port than
    // the one a write was made for, which leave nothing to show.
    bool Aborted() const { return interrupted_ || !portError_.isEmpty() || !instrumentChanged_.isEmpty(); }
    // OpenAndConnect, then 0 only when the identity was read, so the
    // software version is known; else the verdict of the missing answer (an
    // error report, or no answer). For every command whose tabs, logs or
    // payloads depend on the version.
    int OpenAndIdentify(InstrumentTab tab);

    // Ctrl+C: cancels the waiting exchange and closes the port.
    void Interrupt();
    bool Interrupted() const { return interrupted_; }
    // Writes "r310ctl: message" to standard error and returns code.
    int Fail(int code, const QString &message);
    // A download that did not end as Done: the exit code of its outcome and
    // one line, "the instrument stopped answering at event 5 of 30 on
    // /dev/ttyUSB0; nothing was written".
    int DownloadStopped(Outcome outcome, const QString &where);

    // "/dev/ttyUSB0", or the simulated instrument's description.
    QString PortLabel() const;
    bool Demo() const { return options_.demo; }

    InstrumentConnection &connection() { return *connection_; }
    // Keeps the service records of this session (--records, --no-records).
    records::SessionRecorder &recorder() { return *recorder_; }
    TerminalView &view() { return view_; }
    const InstrumentRecord &record() const { return connection_->record(); }
    const GasTable &gasTable() const { return gasTable_; }
    const CtlOptions &options() const { return options_; }
    QTextStream &out() { return environment_.out; }
    QTextStream &err() { return environment_.err; }

signals:
    void interrupted();
    void portFailed();

private:
    QString ChoosePort();
    void PortFailed(const QString &message);

    const CtlOptions &options_;
    CtlEnvironment &environment_;
    const GasTable &gasTable_;
    QString portName_;
    TerminalView view_;
    std::unique_ptr<InstrumentConnection> connection_;
    std::unique_ptr<SignalWatcher> signals_;
    std::unique_ptr<records::SessionRecorder> recorder_;
    bool interrupted_ = false;
    QString portError_;
    QString instrumentChanged_;
};

} // namespace r310::cli
