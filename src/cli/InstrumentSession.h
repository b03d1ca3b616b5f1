#pragma once
// One connection of r310ctl to the instrument, held as the window holds it:
// port service, transaction, record, decoder and read sequences, with the
// terminal as the view. Opens the chosen port (or the built-in simulated
// instrument), searches within the time-out, runs the connect sequence, and
// turns what went wrong into one message and an exit code.
#include "ApdComPort.h"
#include "CtlOptions.h"
#include "DecodeAnswer.h"
#include "InstrumentRecord.h"
#include "ReadSequences.h"
#include "TerminalView.h"
#include "Transaction.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <chrono>
#include <functional>
#include <memory>

namespace r310 {
class GasTable;
}

namespace r310 {
class SignalWatcher;
}

namespace r310::cli {

// What the program gives the commands; tests pass their own.
struct CtlEnvironment {
    CtlEnvironment(QTextStream &output, QTextStream &errors) : out(output), err(errors) {}

    QTextStream &out;
    QTextStream &err;
    // The link of --demo; empty: the built-in simulated instrument with line pacing.
    ApdComPort::BackendFactory demoLink;
    // Length of the 100 ms tick (tests shorten it).
    std::chrono::milliseconds tick{100};
    // Ctrl+C and SIGTERM cancel the wait (the program itself; not in tests).
    bool handleSignals = false;
    // Where the gas table library is looked for; empty: the program's own
    // directory, then the system's library path.
    QStringList gasTableDirectories;
};

class InstrumentSession : public QObject {
    Q_OBJECT
public:
    InstrumentSession(const CtlOptions &options, CtlEnvironment &environment, const GasTable &gasTable);
    ~InstrumentSession() override;

    // Opens the port as "&Open Port" does (the port is not remembered).
    // Returns 0, or an exit code after writing the message.
    int Open();
    // Searches for the instrument, bounded by --timeout-s, then runs the
    // connect sequence with view().tab in front. 0 or an exit code.
    int Connect();
    // Open, then Connect with the given tab in front.
    int OpenAndConnect(InstrumentTab tab);
    // Runs reads; a port error ends them. 0 or an exit code.
    int Run(const std::function<void()> &reads);
    // After the reads: the exit code for an interruption, a failed port, an
    // error report of the instrument or (when !complete) a missing answer,
    // with its message; 0 when none applies.
    int Verdict(bool complete);
    // The interruption or a failed port, which leave nothing to show.
    bool Aborted() const { return interrupted_ || !portError_.isEmpty(); }

    // Ctrl+C: cancels the waiting exchange and closes the port.
    void Interrupt();
    bool Interrupted() const { return interrupted_; }

    // "/dev/ttyUSB0", or the simulated instrument's description.
    QString PortLabel() const;
    bool Demo() const { return options_.demo; }

    TerminalView &view() { return view_; }
    ReadSequences &sequences() { return sequences_; }
    InstrumentRecord &record() { return record_; }
    Transaction &transaction() { return transaction_; }
    const GasTable &gasTable() const { return gasTable_; }
    const CtlOptions &options() const { return options_; }
    QTextStream &out() { return environment_.out; }
    QTextStream &err() { return environment_.err; }

signals:
    void interrupted();
    void portFailed();

private:
    int Fail(int code, const QString &message);
    QString ChoosePort();
    void ClosePort();
    void PortFailed(const QString &message);

    const CtlOptions &options_;
    CtlEnvironment &environment_;
    const GasTable &gasTable_;
    QString portName_;
    TerminalView view_;
    std::unique_ptr<ApdComPort> port_;
    Transaction transaction_;
    InstrumentRecord record_;
    AnswerDecoder decoder_;
    ReadSequences sequences_;
    std::unique_ptr<SignalWatcher> signals_;
    bool interrupted_ = false;
    bool searchTimedOut_ = false;
    QString portError_;
};

} // namespace r310::cli
