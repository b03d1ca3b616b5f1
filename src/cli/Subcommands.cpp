#include "Subcommands.h"

#include "ExitCodes.h"
#include "GasTable.h"
#include "RecordsLocation.h"

#include <algorithm>
#include <memory>

namespace r310::cli {

namespace {

const QStringList kInstrumentOptions{QStringLiteral("port"),    QStringLiteral("demo"),
                                     QStringLiteral("timeout-s"), QStringLiteral("verbose"),
                                     QStringLiteral("records"), QStringLiteral("no-records")};

QStringList With(QStringList options, const QStringList &more)
{
    options.append(more);
    return options;
}

const char *const kOverviewHead = R"(Usage: r310ctl [--port DEVICE | --demo] [options] COMMAND

Reads a Lumo R310 gas detector connected through its USB serial adapter
(FTDI, USB 0403:D189), as the R310 configurator does.

Commands:
)";

const char *const kOverviewTail = R"(
Options:
  --port DEVICE    the instrument's serial port: ttyUSB0, /dev/ttyUSB0, COM3;
                   without it the remembered port, else the adapter's port
  --demo           use the built-in simulated instrument instead of a port
  --timeout-s N    give up when no instrument answers within N seconds
                   (default 10; 0 searches until Ctrl+C)
  --json           machine-readable output (ports, info, get, exposure; watch:
                   a line each)
  -v, --verbose    show each request and the connection phase on stderr
  --records URL    keep the service records there: sqlite:FILE (or a plain
                   FILE) or postgresql://USER@HOST:PORT/DB[?host=SOCKETDIR];
                   default: $R310_RECORDS, else records.sqlite in the
                   configurator's data folder
  --no-records     record nothing this time
  -h, --help       this text; "r310ctl COMMAND --help" for one command

Numbers, dates and times are shown in your regional settings, exactly as the
configurator window shows them.

Exit codes:
  0    success
  1    unexpected failure, or output that cannot be written
  2    usage error (unknown command or option, bad value)
  3    no instrument answered within the time-out, or it stopped answering
  4    the serial port cannot be opened or failed, or no port was given or found
  5    the instrument answered with an error report
  6    the gas table library KALTEX32 is missing
  7    set: the instrument does not hold what was written
  8    calibrate: the instrument reported the calibration as failed
  9    the output file cannot be written (events, datalog, plot, records export,
       certificate, due --csv, report)
  10   records verify: a record was changed, removed, reordered or not signed
       by a trusted key; certificate check: the certificate is not proven;
       due: something is due
  130  interrupted by Ctrl+C while waiting

Example:
  r310ctl --demo info
)";

const char *const kHelpHelp = R"(Usage: r310ctl help [COMMAND]

Shows the overview, or the help of one command.
)";

const char *const kPortsHelp = R"(Usage: r310ctl ports [--json]

Lists the serial ports the system reports, in its order. The port of the
instrument's USB adapter (USB 0403:D189) is marked, so is the port the
configurator remembers from its last connection, and the port it would
preselect at start (the remembered one wins over the adapter's).
)";

const char *const kInfoHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] [--json] info

Connects as the configurator does (searches with the connect request until
the instrument answers, then reads identity and clock, sets the instrument's
clock when it is more than 5 s off the PC's, and reads the live value) and
shows the identity (serial number, MK type and serial number, software
version, customer ID, battery check), instrument and PC time, and the live
value with its unit and gas.
)";

const char *const kGetHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] [--json] get

Connects as "info" does and reads what the configurator's Range, Signals,
Hardware, Event properties and Datalogging tabs show. A tab the instrument's
software version hides (Event properties before 2.10, Datalogging before
2.11) is reported as not available; options the version lacks likewise.
The event log and data logger counters are shown with the tabs' captions;
--json also has both objects' payloads as received, under "objects".
)";

const char *const kWatchHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] watch [--samples N] [--json]

Connects as "info" does, then polls as the configurator window does: about
once a second the instrument's clock and live value, one line each time.
When the instrument stops answering it says so and searches until it
answers again. Runs until Ctrl+C, or until N readings were shown.
--timeout-s bounds only the first search; --json prints one JSON object a line.
)";

const char *const kSetHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] set [--dry-run] [--force] [--json] KEY=VALUE...

Connects as "info" does, reads each group of settings a key belongs to,
applies the keys, writes each group once exactly as the configurator's set
buttons do, reads it back and prints what the instrument now holds. Numbers
take "." as decimal point. --dry-run reads, then prints the requests it
would send and writes nothing. Alarm limits in an unusual order (rising
levels not A1 <= A2 <= A3, falling ones not downward, a rising level at 0)
are refused with exit code 2 unless --force is given.

Alarm limits (concentrations in the instrument's unit):
  a1 a2 a3 stel twa cal-gas            a number, e.g. a1=20.5
  a1-fall-below a1-latching a1-horn-off on|off (the same for a2, a3, stel, twa)
Signals and service intervals:
  bleep key-response warm-up           off|soft|louder|optical
  vibrator                             off|short|moderate|long
  bleep-interval                       0 to 255 seconds
  date-format                          dd.mm.yyyy|mm/dd/yy|dd/mm/yy|yy-mm-dd
  wake-up                              alarm|quick|middle|slow
  time-12h show-time show-seconds      on|off
  bump-alarm                           on|off
  bump-interval                        2 to 365 days
  cal-interval                         5 to 730 days
  bump-info                            0 to 3
Hardware options (the sensor values are sent back as the instrument has them):
  service-keyboard vibrator-disabled only-test-key    on|off
  data-safety best-resolution (from 2.20) display-mode (from 2.21)  on|off
Customer ID (as "Set Costumer ID" writes it; not listed by get):
  customer-id                          up to 9 characters of one byte each
Data logger (from 2.11; given on its own, as "Set Paramet" does it):
  logger-interval                      30 to 300 seconds

A key that is unknown, a value that does not parse or fit, or an option the
instrument's software version lacks is refused with exit code 2 before
anything is written. Exit code 7: the instrument does not hold what was
written (both are shown). "r310ctl get --json" shows the same keys under
"settings".
)";

const char *const kSetTimeHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] [--json] set-time

Connects as "info" does, then writes the PC's local time into the
instrument's clock and reads the clock again, as the configurator's
"Set Time" button does, and shows both clocks.
)";

} // namespace

int CtlContext::Fail(int code, const QString &message) const
{
    err() << "r310ctl: " << OneLineMessage(message) << Qt::endl;
    return code;
}

const std::vector<Subcommand> &Subcommands()
{
    static const std::vector<Subcommand> table{
        {"ports", "list the serial ports, marking the instrument's adapter and the remembered port", kPortsHelp,
         {QStringLiteral("json")}, false, &RunPorts},
        {"doctor", "check step by step why the instrument cannot be reached, and say what to do", kDoctorHelp,
         {QStringLiteral("port"), QStringLiteral("timeout-s"), QStringLiteral("trace")}, false, &RunDoctor},
        {"info", "connect and show identity, clocks and the live value", kInfoHelp,
         With(kInstrumentOptions, {QStringLiteral("json")}), true, &RunInfo},
        {"get", "connect and show the Range, Signals, Hardware and log tabs", kGetHelp,
         With(kInstrumentOptions, {QStringLiteral("json")}), true, &RunGet},
        {"watch", "show clock and live value about once a second until Ctrl+C", kWatchHelp,
         With(kInstrumentOptions, {QStringLiteral("samples"), QStringLiteral("json")}), true, &RunWatch},
        {"set", "write settings: r310ctl set a1=20.5 bleep=louder (--dry-run shows the requests)", kSetHelp,
         With(kInstrumentOptions, {QStringLiteral("json"), QStringLiteral("dry-run"), QStringLiteral("force")}), true,
         &RunSet, true},
        {"profile", "save the settings to a profile file, or apply one: r310ctl profile apply FILE", kProfileHelp,
         With(kInstrumentOptions, {QStringLiteral("dry-run"), QStringLiteral("each"), QStringLiteral("log"),
                                   QStringLiteral("no-customer-id"), QStringLiteral("force")}),
         true, &RunProfile, true},
        {"set-time", "set the instrument clock to the PC's time, as \"Set Time\" does", kSetTimeHelp,
         With(kInstrumentOptions, {QStringLiteral("json")}), true, &RunSetTime},
        {"calibrate", "start a zero or span calibration, follow it to its end and judge it", kCalibrateHelp,
         With(kInstrumentOptions, {QStringLiteral("cylinder"), QStringLiteral("tolerance"), QStringLiteral("technician")}),
         true, &RunCalibrate, true},
        {"bump", "follow a bump test with test gas to passed, failed or no result, and record it", kBumpHelp,
         With(kInstrumentOptions, {QStringLiteral("cylinder"), QStringLiteral("technician")}), true, &RunBump},
        {"horn-check", "switch the horn on and off again, as \"Horn Check\" does", kHornCheckHelp,
         kInstrumentOptions, true, &RunHornCheck},
        {"function", "send a service function: off, lock, reset, default, update, unlock", kFunctionHelp,
         With(kInstrumentOptions, {QStringLiteral("yes")}), true, &RunFunction, true},
        {"factory-setup", "write serial number, customer ID and time, as the factory \"Setup\" does",
         kFactorySetupHelp,
         With(kInstrumentOptions, {QStringLiteral("serial"), QStringLiteral("customer-id"),
                                   QStringLiteral("update-limit-list"), QStringLiteral("yes")}),
         true, &RunFactorySetup},
        {"events", "download the event log and write its export file (--out FILE)", kEventsHelp,
         With(kInstrumentOptions, {QStringLiteral("out"), QStringLiteral("full")}), true, &RunEvents},
        {"datalog", "download the data logger and write its export file (--out FILE)", kDatalogHelp,
         With(kInstrumentOptions, {QStringLiteral("out"), QStringLiteral("full")}), true, &RunDatalog},
        {"clear", "empty a log on the instrument: r310ctl clear events --yes", kClearHelp,
         With(kInstrumentOptions, ClearOptions()), true, &RunClear, true},
        {"records", "the service records: instruments, history SERIAL, export SERIAL, verify, key, trust, setup-server",
         kRecordsHelp,
         {QStringLiteral("json"), QStringLiteral("since"), QStringLiteral("events"), QStringLiteral("datalog"),
          QStringLiteral("out"), QStringLiteral("download"), QStringLiteral("records"), QStringLiteral("head"),
          QStringLiteral("trusted-keys"), QStringLiteral("name"), QStringLiteral("demo")},
         true, &RunRecords, true},
        {"cylinders", "the test-gas cylinder register: add, list, retire LOT", kCylindersHelp,
         {QStringLiteral("json"), QStringLiteral("records"), QStringLiteral("lot"), QStringLiteral("gas"),
          QStringLiteral("unit"), QStringLiteral("concentration"), QStringLiteral("expires"),
          QStringLiteral("balance"), QStringLiteral("supplier"), QStringLiteral("demo")},
         true, &RunCylinders, true},
        {"certificate", "print a calibration certificate from the records: certificate SERIAL --out FILE.pdf",
         kCertificateHelp,
         {QStringLiteral("records"), QStringLiteral("calibration"), QStringLiteral("technician"), QStringLiteral("out"),
          QStringLiteral("trusted-keys"), QStringLiteral("demo")},
         false, &RunCertificate, true},
        {"due", "the instruments whose calibration or bump test falls due (exit code 10 when any)", kDueHelp,
         {QStringLiteral("records"), QStringLiteral("within"), QStringLiteral("json"), QStringLiteral("csv"),
          QStringLiteral("demo")},
         false,
         &RunDue},
        {"report", "print the fleet report from the records: report fleet --out FILE.pdf", kReportHelp,
         {QStringLiteral("records"), QStringLiteral("out"), QStringLiteral("demo")}, false, &RunReport, true},
        {"exposure", "exposure figures (peak, STEL, TWA) of a data logger export file", kExposureHelp,
         {QStringLiteral("json"), QStringLiteral("levels")}, false, &RunExposure, true},
        {"plot", "draw a data logger export file's chart as PNG, SVG or PDF (--out F.png)", kPlotHelp,
         {QStringLiteral("out"), QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("size"),
          QStringLiteral("levels")},
         false,
         &RunPlot, true},
        {"help", "show the help of a command: r310ctl help info", kHelpHelp, {}, false, &RunHelp},
    };
    return table;
}

bool PrintsPdf(const QString &command)
{
    return command == QLatin1String("certificate") || command == QLatin1String("report");
}

const Subcommand *FindSubcommand(const QString &name)
{
    for (const Subcommand &command : Subcommands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString OverviewHelp()
{
    QString text = QString::fromUtf8(kOverviewHead);
    // The summaries in one column, two blanks after the longest name.
    qsizetype width = 0;
    for (const Subcommand &command : Subcommands())
        width = std::max(width, QString::fromLatin1(command.name).size());
    for (const Subcommand &command : Subcommands())
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(command.name).leftJustified(width + 2),
                                               QString::fromUtf8(command.summary));
    return text + QString::fromUtf8(kOverviewTail);
}

int RunHelp(CtlContext &context)
{
    const QStringList &operands = context.options.operands;
    if (operands.isEmpty()) {
        context.out() << OverviewHelp();
        return kExitOk;
    }
    const Subcommand *command = FindSubcommand(operands.first());
    if (!command)
        return context.Fail(kExitUsage, QStringLiteral("unknown command \"%1\" (see r310ctl --help)").arg(operands.first()));
    context.out() << command->help;
    return kExitOk;
}

bool CommandDraws(const QStringList &arguments)
{
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    return parsed.ok && parsed.options.command == QLatin1String("plot") && !parsed.options.help;
}

int RunCtl(const QStringList &arguments, CtlEnvironment &environment)
{
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    CtlOptions options = parsed.options;
    CtlContext context{options, environment, nullptr};
    if (!parsed.ok)
        return context.Fail(kExitUsage, parsed.error + QStringLiteral(" (see r310ctl --help)"));
    // The simulated instrument never enters the user's records: --demo keeps its own.
    if (options.demo && !options.records.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("--demo keeps the records of the simulated instrument apart; "
                                                       "--records does not apply to it"));
    if (options.demo)
        options.records = environment.demoRecords.isEmpty() ? records::DemoRecordsPath() : environment.demoRecords;
    if (options.command.isEmpty()) {
        if (options.help) {
            context.out() << OverviewHelp();
            return kExitOk;
        }
        environment.err << OverviewHelp();
        return context.Fail(kExitUsage, QStringLiteral("no command given"));
    }
    const Subcommand *command = FindSubcommand(options.command);
    if (!options.records.isEmpty()) {
        if (const records::RecordsChoice choice = records::ParseRecordsUrl(options.records); !choice.ok())
            return context.Fail(kExitUsage, choice.error);
    }
    if (!command)
        return context.Fail(kExitUsage,
                            QStringLiteral("unknown command \"%1\" (see r310ctl --help)").arg(options.command));
    if (options.help) {
        context.out() << command->help;
        return kExitOk;
    }
    for (const QString &option : options.given) {
        if (!command->options.contains(option))
            return context.Fail(kExitUsage, QStringLiteral("option --%1 does not apply to \"%2\" (see r310ctl %2 --help)")
                                                .arg(option, options.command));
    }
    if (command->run != &RunHelp && !command->takesOperands && !options.operands.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("unexpected argument \"%1\" (see r310ctl %2 --help)")
                                            .arg(options.operands.first(), options.command));

    // Bound at start as the configurator binds it: without the gas table no
    // gas or unit can be named.
    std::unique_ptr<GasTable> gasTable;
    if (command->bindsGasTable) {
        QString error;
        gasTable = environment.gasTableDirectories.isEmpty()
                       ? GasTable::Load(&error)
                       : GasTable::Load(environment.gasTableDirectories, &error);
        if (!gasTable)
            return context.Fail(kExitGasTableMissing, error);
        context.gasTable = gasTable.get();
    }
    return command->run(context);
}

} // namespace r310::cli
