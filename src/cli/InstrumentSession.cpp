#include <SimBackend.h> // before Qt headers: the simulator uses "signals" as a name

#include "InstrumentSession.h"

#include "ComPortSel.h"
#include "ExitCodes.h"
#include "GasTable.h"
#include "Report.h"
#include "SignalWatcher.h"

#include <QLocale>
#include <QTimer>

namespace r310::cli {

namespace {

// The demo instrument: the simulator's instrument with a current software
// version, so every tab has something to show.
constexpr std::uint16_t kDemoSoftwareVersion = 221;

std::unique_ptr<ApdComPort> MakePort(const CtlOptions &options, const CtlEnvironment &environment)
{
    if (!options.demo)
        return std::make_unique<ApdComPort>();
    if (environment.demoLink)
        return std::make_unique<ApdComPort>(environment.demoLink);
    return std::make_unique<ApdComPort>([](const QString &, const LineSettings &) {
        sim::Scenario scenario;
        scenario.softwareVersion = kDemoSoftwareVersion;
        auto link = std::make_unique<sim::SimBackend>(scenario);
        link->setPacing(true);
        return link;
    });
}

DecodeEnvironment DecodingFor(const GasTable &gasTable)
{
    DecodeEnvironment environment;
    environment.locale = QLocale::system();
    environment.gasTexts = [&gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable.GasTexts(unit, gas); };
    return environment;
}

} // namespace

InstrumentSession::InstrumentSession(const CtlOptions &options, CtlEnvironment &environment,
                                     const GasTable &gasTable)
    : options_(options),
      environment_(environment),
      gasTable_(gasTable),
      view_(environment.err, options.verbose),
      port_(MakePort(options, environment)),
      transaction_(*port_, view_),
      decoder_(DecodingFor(gasTable)),
      sequences_(*port_, transaction_, decoder_, record_, view_)
{
    transaction_.SetTickLength(environment.tick);
    view_.requestObject = [this] { return sequences_.LastRequestObject(); };
    view_.closePort = [this] { ClosePort(); };
    connect(port_.get(), &ApdComPort::PortFailed, this, &InstrumentSession::PortFailed);
    if (environment.handleSignals) {
        signals_ = std::make_unique<SignalWatcher>();
        connect(signals_.get(), &SignalWatcher::signalled, this, &InstrumentSession::Interrupt);
    }
}

InstrumentSession::~InstrumentSession()
{
    transaction_.StopTimer1();
    port_->SetOpen(false);
}

int InstrumentSession::Fail(int code, const QString &message)
{
    environment_.err << "r310ctl: " << message << Qt::endl;
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

int InstrumentSession::Open()
{
    portName_ = ChoosePort();
    if (portName_.isEmpty())
        return Fail(kExitPortUnavailable,
                    QStringLiteral("no port given and none found (no instrument adapter, no remembered port); "
                                   "use --port DEVICE or --demo"));
    // The port is opened as "&Open Port" does, but a command line does not
    // change the port the window remembers.
    ComPortSel opening(nullptr, options_.demo ? PortNaming::DeviceNames : kHostPortNaming);
    try {
        const ComPortSel::OpenResult result = opening.Button12Click(*port_, transaction_.Result(), 1, portName_);
        if (result != ComPortSel::OpenResult::Opened)
            return Fail(kExitUsage, QStringLiteral("\"%1\" names no serial port").arg(portName_));
    } catch (const PortError &error) {
        return Fail(kExitPortUnavailable, error.message());
    }
    return kExitOk;
}

int InstrumentSession::OpenAndConnect(InstrumentTab tab)
{
    if (const int code = Open())
        return code;
    view().tab = tab;
    return Connect();
}

int InstrumentSession::Run(const std::function<void()> &reads)
{
    try {
        reads();
    } catch (const PortError &error) {
        if (portError_.isEmpty())
            portError_ = error.message();
    }
    return Aborted() ? Verdict(true) : kExitOk;
}

int InstrumentSession::Connect()
{
    bool found = false;
    searchTimedOut_ = false;
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    connect(&bound, &QTimer::timeout, this, [this] {
        // Ends the search the way the user would: as a cancel.
        searchTimedOut_ = true;
        transaction_.Result().Cancelled = true;
    });
    if (options_.timeoutSeconds > 0)
        bound.start(std::chrono::seconds(options_.timeoutSeconds));
    if (const int code = Run([&] { found = sequences_.SearchInstrument(); }))
        return code;
    bound.stop();
    if (!found) {
        if (interrupted_)
            return Verdict(true);
        return Fail(kExitNoInstrument, QStringLiteral("no instrument answered on %1 within %2 s")
                                           .arg(PortLabel())
                                           .arg(options_.timeoutSeconds));
    }
    bool connected = false;
    if (const int code = Run([&] { connected = sequences_.ConnectSequence(); }))
        return code;
    if (!connected)
        return Verdict(false);
    return kExitOk;
}

int InstrumentSession::Verdict(bool complete)
{
    if (interrupted_)
        return Fail(kExitInterrupted, QStringLiteral("interrupted"));
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
    if (!complete)
        return Fail(kExitNoInstrument, QStringLiteral("the instrument on %1 stopped answering").arg(PortLabel()));
    return kExitOk;
}

void InstrumentSession::ClosePort()
{
    ComPortSel closing(nullptr);
    closing.Button_ClosePortClick(*port_, transaction_.Result());
}

void InstrumentSession::Interrupt()
{
    if (interrupted_)
        return;
    interrupted_ = true;
    view_.setQuiet(true);
    ClosePort();
    emit interrupted();
}

void InstrumentSession::PortFailed(const QString &message)
{
    if (portError_.isEmpty())
        portError_ = message;
    // Nothing more can be exchanged: end any wait now.
    transaction_.Result().Cancelled = true;
    emit portFailed();
}

} // namespace r310::cli
