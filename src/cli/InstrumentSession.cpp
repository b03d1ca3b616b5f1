#include "InstrumentSession.h"

#include "ComPortSel.h"
#include "DemoInstrument.h"
#include "ExitCodes.h"
#include "GasTable.h"
#include "LogDecoders.h"
#include "PortOptions.h"
#include "Report.h"
#include "SessionRecorder.h"
#include "SignalWatcher.h"

#include <QLocale>
#include <QTimer>

namespace r310::cli {

namespace {

ConnectionOptions OptionsFor(const CtlOptions &options, const CtlEnvironment &environment,
                             const GasTable &gasTable, bool idlePoll)
{
    ConnectionOptions connection;
    if (options.demo)
        connection.link = environment.demoLink ? environment.demoLink : DemoInstrumentLink();
    connection.decoding.locale = QLocale::system();
    connection.decoding.gasTexts = [&gasTable](std::uint8_t unit, std::uint8_t gas) {
        return gasTable.GasTexts(unit, gas);
    };
    connection.decoderSetup = &logs::InstallLogDecoders;
    connection.tick = environment.tick;
    connection.idlePoll = idlePoll;
    return connection;
}

} // namespace

InstrumentSession::InstrumentSession(const CtlOptions &options, CtlEnvironment &environment,
                                     const GasTable &gasTable, bool idlePoll)
    : options_(options),
      environment_(environment),
      gasTable_(gasTable),
      view_(environment.err, options.verbose),
      connection_(std::make_unique<InstrumentConnection>(OptionsFor(options, environment, gasTable, idlePoll)))
{
    view_.Attach(*connection_);
    connect(connection_.get(), &InstrumentConnection::portError, this, &InstrumentSession::PortFailed);
    connect(connection_.get(), &InstrumentConnection::instrumentChanged, this, [this](const QString &message) {
        if (instrumentChanged_.isEmpty())
            instrumentChanged_ = message;
    });
    // The session is recorded as the window records it; a database that
    // fails costs one line, never the instrument work or its exit code.
    recorder_ = std::make_unique<records::SessionRecorder>(
        records::ChooseRecords(options.records, options.noRecords), QStringLiteral("r310ctl"),
        [&gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable.GasTexts(unit, gas); });
    recorder_->Attach(*connection_);
    recorder_->setSimulated(options.demo);
    connect(recorder_.get(), &records::SessionRecorder::notRecorded, this, [this](const QString &reason) {
        environment_.err << "r310ctl: not recorded: " << OneLineMessage(reason) << Qt::endl;
    });
    connect(recorder_.get(), &records::SessionRecorder::delivered, this, [this](int count) {
        environment_.err << "r310ctl: " << count << (count == 1 ? " record" : " records")
                         << " from earlier sessions delivered" << Qt::endl;
    });
    recorder_->setInterrupted([this] { return interrupted_ || SignalWatcher::Pending(); });
    if (environment.handleSignals) {
        signals_ = std::make_unique<SignalWatcher>();
        connect(signals_.get(), &SignalWatcher::signalled, this, &InstrumentSession::Interrupt);
    }
}

InstrumentSession::~InstrumentSession()
{
    recorder_->Finish();
}

QString OneLineMessage(const QString &message)
{
    QString line;
    line.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            line += QStringLiteral("\\x%1").arg(static_cast<uint>(u), 2, 16, QLatin1Char('0'));
        else
            line += c;
    }
    return line;
}

int InstrumentSession::Fail(int code, const QString &message)
{
    environment_.err << "r310ctl: " << OneLineMessage(message) << Qt::endl;
    return code;
}

QString InstrumentSession::ChoosePort()
{
    if (options_.demo)
        return QStringLiteral("demo");
    if (!options_.port.isEmpty())
        return options_.port;
    // As the window preselects: the remembered port, else the adapter's port.
    ComPortSel selection(UserPortSettings());
    const PortChoice choice = selection.PreparePortList(SystemSerialPorts());
    return choice.selected > 0 ? choice.entries.at(choice.selected) : QString();
}

QString InstrumentSession::PortLabel() const
{
    return options_.demo ? QStringLiteral("built-in simulated instrument (demo)") : portName_;
}

int InstrumentSession::OpenAndConnect(InstrumentTab tab)
{
    portName_ = ChoosePort();
    if (portName_.isEmpty())
        return Fail(kExitPortUnavailable,
                    QStringLiteral("no port given and none found (no instrument adapter, no remembered port); "
                                   "use --port DEVICE or --demo"));
    // The entry is checked as "&Open Port" checks it, but a command line
    // does not change the port the window remembers.
    const ComPortSel opening(nullptr, options_.demo ? PortNaming::DeviceNames : kHostPortNaming);
    QString device;
    if (opening.PortToOpen(1, portName_, &device) != ComPortSel::OpenResult::Opened)
        return Fail(kExitUsage, QStringLiteral("\"%1\" names no serial port").arg(portName_));

    QString openError;
    bool opened = false;
    const QMetaObject::Connection openFailed = connect(
        connection_.get(), &InstrumentConnection::portOpenFailed, this,
        [&openError](const QString &message) { openError = message; });
    const QMetaObject::Connection portOpened =
        connect(connection_.get(), &InstrumentConnection::portOpened, this, [&opened] { opened = true; });

    // Ends the search the way the user would: as a cancel. It bounds only
    // the search: once the instrument answered (the lamp turns green), the
    // connect sequence's reads are bounded by their own attempts.
    bool searchTimedOut = false;
    bool answered = false;
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    connect(&bound, &QTimer::timeout, this, [this, &searchTimedOut, &answered] {
        if (!answered && connection_->phase() == ConnectionPhase::Searching) {
            searchTimedOut = true;
            connection_->cancel();
        }
    });
    const QMetaObject::Connection found =
        connect(connection_.get(), &InstrumentConnection::lampChanged, this, [&answered, &bound](LampColour colour) {
            if (colour == LampColour::LimeGreen) {
                answered = true;
                bound.stop();
            }
        });
    if (options_.timeoutSeconds > 0)
        bound.start(std::chrono::seconds(options_.timeoutSeconds));

    connection_->setShowingTab(tab);
    connection_->waitFor(connection_->open(device));
    bound.stop();
    disconnect(openFailed);
    disconnect(portOpened);
    disconnect(found);

    if (!openError.isEmpty()) {
        portError_.clear();
        return Fail(kExitPortUnavailable, openError);
    }
    if (!opened || interrupted_ || !portError_.isEmpty())
        return Verdict(true);
    if (searchTimedOut)
        return Fail(kExitNoInstrument, QStringLiteral("no instrument answered on %1 within %2 s")
                                           .arg(PortLabel())
                                           .arg(options_.timeoutSeconds));
    if (!connection_->record().InstrumentConnected || !connection_->portOpen())
        return Verdict(false);
    return kExitOk;
}

int InstrumentSession::OpenAndIdentify(InstrumentTab tab)
{
    if (const int code = OpenAndConnect(tab))
        return code;
    return view_.identity ? kExitOk : Verdict(false);
}

int InstrumentSession::Run(const std::function<void(JobContext &)> &reads)
{
    connection_->runAndWait(QStringLiteral("r310ctl"), reads);
    return Aborted() ? Verdict(true) : kExitOk;
}

int InstrumentSession::Verdict(bool complete)
{
    if (interrupted_)
        return Fail(kExitInterrupted, QStringLiteral("interrupted"));
    // Nothing was written to the instrument now on the port.
    if (!instrumentChanged_.isEmpty())
        return Fail(kExitUsage, instrumentChanged_);
    if (!portError_.isEmpty())
        return Fail(kExitPortUnavailable, portError_);
    if (!view_.errorReports.empty()) {
        const ErrorReport &report = view_.errorReports.front();
        return Fail(kExitInstrumentError,
                    QStringLiteral("the instrument answered the request for object %1 with an error report (%2)")
                        .arg(report.requestObject)
                        .arg(report.payload.empty() ? QStringLiteral("no data")
                                                    : QStringLiteral("data: ") + Hex(report.payload)));
    }
    if (!complete && !view_.incompleteAnswers.empty()) {
        const IncompleteAnswer &answer = view_.incompleteAnswers.front();
        return Fail(kExitNoInstrument, QStringLiteral("the instrument on %1 answered the request for object %2 with %3 "
                                                      "of its %4 bytes; an incomplete answer shows nothing")
                                           .arg(PortLabel())
                                           .arg(answer.object)
                                           .arg(answer.bytes)
                                           .arg(answer.expected));
    }
    if (!complete)
        return Fail(kExitNoInstrument, QStringLiteral("the instrument on %1 stopped answering").arg(PortLabel()));
    return kExitOk;
}

int InstrumentSession::DownloadStopped(Outcome outcome, const QString &where)
{
    return Fail(ExitCodeOf(outcome), QStringLiteral("%1 at %2 on %3; nothing was written")
                                         .arg(OutcomeText(outcome), where, PortLabel()));
}

void InstrumentSession::Interrupt()
{
    if (interrupted_)
        return;
    interrupted_ = true;
    view_.setQuiet(true);
    connection_->closePort();
    emit interrupted();
}

void InstrumentSession::PortFailed(const QString &message)
{
    if (portError_.isEmpty())
        portError_ = message;
    emit portFailed();
}

} // namespace r310::cli
