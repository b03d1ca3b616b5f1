// r310ctl doctor: why the instrument cannot be reached, step by step.
#include "DoctorSteps.h"

#include "ExitCodes.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace r310::cli {

using namespace doctor;

namespace {

// --- the report ----------------------------------------------------------------

QStringList Wrapped(const QString &text, int width)
{
    QStringList lines;
    QString line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

enum class Verdict { Ok, Fail, Note, Skipped };

void PrintStep(QTextStream &out, Verdict verdict, const QString &finding, const QStringList &details = {})
{
    const char *const marker = verdict == Verdict::Ok     ? "[ ok ] "
                               : verdict == Verdict::Fail ? "[FAIL] "
                               : verdict == Verdict::Note ? "[note] "
                                                          : "[ -- ] ";
    const QString indent(kDetailIndent, QLatin1Char(' '));
    const QStringList head = Wrapped(finding, kLineWidth - kDetailIndent);
    for (int i = 0; i < head.size(); ++i)
        out << (i == 0 ? QString::fromLatin1(marker) : indent) << head.at(i) << '\n';
    for (const QString &detail : details)
        for (const QString &line : Wrapped(detail, kLineWidth - kDetailIndent))
            out << indent << line << '\n';
    out.flush();
}

QString AdapterText(const UsbAdapter &adapter)
{
    QStringList about;
    if (!adapter.product.isEmpty())
        about << QStringLiteral("\"%1\"").arg(adapter.product);
    if (!adapter.serialNumber.isEmpty())
        about << QStringLiteral("serial number %1").arg(adapter.serialNumber);
    return QStringLiteral("USB %1%2").arg(adapter.name, about.isEmpty() ? QString()
                                                                        : QStringLiteral(", ") + about.join(QStringLiteral(", ")));
}

// One run of the checks, top to bottom; each step either lets the next one
// run or ends the run with its exit code.
class DoctorRun {
public:
    DoctorRun(CtlContext &context, const DoctorSystem &system)
        : context_(context), system_(system), out_(context.out()), namedPort_(context.options.port)
    {
    }

    int Run()
    {
        out_ << "Checking the way to the instrument: USB adapter 0403:D189, driver, serial port, "
                "permission, instrument.\n\n";
        adapters_ = FindUsbAdapters(system_);
        for (const auto step : {&DoctorRun::CheckAdapter, &DoctorRun::CheckDriverAndPort, &DoctorRun::CheckPermission,
                                &DoctorRun::CheckPortFree}) {
            if (const std::optional<int> code = (this->*step)())
                return *code;
        }
        return CheckInstrument();
    }

private:
    using StepResult = std::optional<int>; // empty: go on

    const UsbAdapter *Adapter() const { return adapters_.empty() ? nullptr : &adapters_.front(); }

    StepResult CheckAdapter()
    {
        if (const UsbAdapter *adapter = Adapter()) {
            QStringList details;
            if (adapters_.size() > 1) {
                QStringList names;
                for (const UsbAdapter &each : adapters_)
                    names << each.name;
                details << QStringLiteral("%1 adapters are plugged in (USB %2); checking the first. --port picks "
                                          "another one's port.")
                               .arg(adapters_.size())
                               .arg(names.join(QStringLiteral(", ")));
            }
            PrintStep(out_, Verdict::Ok, QStringLiteral("USB adapter: plugged in, %1.").arg(AdapterText(*adapter)),
                      details);
            return std::nullopt;
        }
        const bool usbVisible = QFileInfo(UsbDevicesPath(system_)).isDir();
        const QString missing = usbVisible
            ? QStringLiteral("no USB device 0403:D189 is plugged in.")
            : QStringLiteral("this system shows no USB devices (%1 is missing).").arg(UsbDevicesPath(system_));
        if (!namedPort_.isEmpty()) {
            PrintStep(out_, Verdict::Skipped,
                      QStringLiteral("USB adapter: %1 Checking the port you named instead.").arg(missing));
            return std::nullopt;
        }
        QStringList advice;
        if (usbVisible)
            advice << QStringLiteral("Plug the instrument's USB adapter cable into this PC and the instrument into "
                                     "the cable.")
                   << QStringLiteral("If it is plugged in, try another USB socket: \"lsusb\" must list ID "
                                     "0403:d189. Other FTDI cables have other product ids and do not reach the "
                                     "instrument.");
        else
            advice << QStringLiteral("In a container or virtual machine, pass the adapter through to it; on a PC, "
                                     "sysfs belongs on /sys.");
        advice << QStringLiteral("For a port that is not on the adapter (another adapter, the simulator): "
                                 "r310ctl doctor --port DEVICE");
        PrintStep(out_, Verdict::Fail, QStringLiteral("USB adapter: %1").arg(missing), advice);
        return kExitPortUnavailable;
    }

    // The adapter has no serial port: which part of binding it is missing.
    QStringList NoDriverAdvice() const
    {
        QStringList advice{QStringLiteral("The kernel's FTDI driver (ftdi_sio) does not know the adapter's product "
                                          "id D189 by itself; the udev rule of the r310conf package tells it when "
                                          "the adapter is plugged in.")};
        const QString rule = InstalledRule(system_);
        const QString knownIds = ReadAttribute(FtdiDriverPath(system_), QStringLiteral("new_id"));
        if (knownIds.split(QLatin1Char('\n')).contains(kVendorId + QLatin1Char(' ') + kProductId))
            advice << QStringLiteral("ftdi_sio is loaded and knows the id, yet did not take the adapter: unplug it "
                                     "and plug it in again; \"sudo dmesg\" says why it failed.");
        else if (!rule.isEmpty())
            advice << QStringLiteral("The rule %1 is installed but has not run for this adapter: unplug the adapter "
                                     "and plug it in again, or run: %2")
                          .arg(rule, kTriggerCommand);
        else
            advice << QStringLiteral("The rule %1 is not installed: install the r310conf package, then unplug the "
                                     "adapter and plug it in again.")
                          .arg(kAdapterRuleFile);
        advice << QStringLiteral("Until then, for this plug-in only: %1").arg(kBindByHandCommand);
        return advice;
    }

    // The adapter's driver and port; empty when it has a port.
    std::optional<std::pair<QString, QStringList>> AdapterProblem(const UsbAdapter &adapter) const
    {
        if (adapter.drivers.isEmpty())
            return std::make_pair(QStringLiteral("Driver: no driver has taken the adapter, so it has no serial port."),
                                  NoDriverAdvice());
        if (adapter.ports.isEmpty())
            return std::make_pair(
                QStringLiteral("Driver: %1 has taken the adapter, but it has no serial port.")
                    .arg(adapter.drivers.join(QStringLiteral(", "))),
                QStringList{adapter.drivers.contains(kFtdiDriver)
                                ? QStringLiteral("Unplug the adapter and plug it in again; \"sudo dmesg\" says why "
                                                 "the port was not made.")
                                : QStringLiteral("Another driver than ftdi_sio holds it. Unplug the adapter, make "
                                                 "sure the r310conf package is installed, and plug it in again.")});
        return std::nullopt;
    }

    // The node is an adapter's port, by its name or by what it links to (/dev/lumo-r310).
    bool NamesAdapterPort(const QString &node) const
    {
        const QStringList names{QFileInfo(node).fileName(), QFileInfo(RealNode(node)).fileName()};
        return std::any_of(adapters_.begin(), adapters_.end(), [&](const UsbAdapter &adapter) {
            return adapter.ports.contains(names[0]) || adapter.ports.contains(names[1]);
        });
    }

    StepResult CheckDriverAndPort()
    {
        const UsbAdapter *adapter = Adapter();
        if (namedPort_.isEmpty()) {
            if (const auto problem = AdapterProblem(*adapter)) {
                PrintStep(out_, Verdict::Fail, problem->first, problem->second);
                return kExitPortUnavailable;
            }
            node_ = NodeFor(system_, adapter->ports.first());
            return CheckAdapterNode(*adapter);
        }
        node_ = NodeFor(system_, namedPort_);
        if (adapter && !NamesAdapterPort(node_)) {
            if (const auto problem = AdapterProblem(*adapter))
                PrintStep(out_, Verdict::Note, problem->first, problem->second);
        }
        return CheckNamedNode();
    }

    StepResult CheckAdapterNode(const UsbAdapter &adapter)
    {
        if (!QFileInfo::exists(node_)) {
            PrintStep(out_, Verdict::Fail,
                      QStringLiteral("Port: the kernel made the port %1, but %2 is missing.")
                          .arg(adapter.ports.first(), node_),
                      {QStringLiteral("udev makes the device nodes: is systemd-udevd running? Unplug the adapter "
                                      "and plug it in again.")});
            return kExitPortUnavailable;
        }
        const QStringList links = StableLinksTo(system_, node_);
        QStringList details;
        if (links.isEmpty())
            details << QStringLiteral("%1/%2 is missing: the adapter's udev rule (r310conf package) has not run for "
                                      "this port; the port works all the same.")
                           .arg(system_.devRoot, kStableLinkPrefix);
        PrintStep(out_, Verdict::Ok,
                  QStringLiteral("Driver and port: %1 has taken the adapter; its serial port is %2%3.")
                      .arg(adapter.drivers.join(QStringLiteral(", ")), node_,
                           links.isEmpty() ? QString()
                                           : QStringLiteral(" (also %1)").arg(links.join(QStringLiteral(", ")))),
                  details);
        return std::nullopt;
    }

    StepResult CheckNamedNode()
    {
        if (!QFileInfo::exists(node_)) {
            QStringList details;
            const UsbAdapter *adapter = Adapter();
            if (adapter && !adapter->ports.isEmpty())
                details << QStringLiteral("The adapter's port is %1.").arg(NodeFor(system_, adapter->ports.first()));
            details << QStringLiteral("\"r310ctl ports\" lists the serial ports there are.");
            PrintStep(out_, Verdict::Fail, QStringLiteral("Port: %1 does not exist.").arg(node_), details);
            return kExitPortUnavailable;
        }
        QString kind;
        if (NamesAdapterPort(node_))
            kind = QStringLiteral(", the adapter's serial port");
        else if (IsPseudoTerminal(node_))
            kind = QStringLiteral(", a pseudo-terminal (such as the simulator's)");
        PrintStep(out_, Verdict::Ok, QStringLiteral("Port: %1 is there%2.").arg(node_, kind));
        return std::nullopt;
    }

    StepResult CheckPermission()
    {
        const std::optional<NodeStatus> status = StatusOf(node_);
        if (!status) // nothing to judge by; opening the port tells
            return std::nullopt;
        const DoctorAccount &account = system_.account;
        const bool permitted = system_.mayOpen ? system_.mayOpen(node_) : ModeGrants(*status, account);
        const QString user = account.userName.isEmpty() ? QStringLiteral("you") : QStringLiteral("you (%1)").arg(account.userName);
        const QString owners = QStringLiteral("%1, group %2").arg(status->modeText, GroupName(account, status->gid));
        if (permitted) {
            QStringList details;
            if (account.uid == 0 && (status->mode & 0060) == 0060)
                details << QStringLiteral("Other users need the group %1 (sudo adduser USER %1, then log in again), "
                                          "or to be logged in at this PC's screen.")
                               .arg(GroupName(account, status->gid));
            PrintStep(out_, Verdict::Ok,
                      QStringLiteral("Permission: %1 may open %2 (%3): %4.").arg(user, node_, owners, Why(*status, account)),
                      details);
            return std::nullopt;
        }
        PrintStep(out_, Verdict::Fail, QStringLiteral("Permission: %1 may not open %2 (%3).").arg(user, node_, owners),
                  PermissionAdvice(*status, account, NamesAdapterPort(node_)));
        return kExitPortUnavailable;
    }

    StepResult CheckPortFree()
    {
        const HolderSearch search = FindHolders(system_, node_);
        const std::unique_ptr<SerialBackend> device = MakeDevice(system_, node_, LineSettings{});
        if (!device->open()) {
            QStringList details;
            if (!search.holders.empty())
                details << QStringLiteral("It is open in: %1. Close that program (or end it: kill PID), then try "
                                          "again.")
                               .arg(HolderList(search.holders));
            if (std::any_of(search.holders.begin(), search.holders.end(),
                            [](const Holder &holder) { return holder.name == QLatin1String("ModemManager"); }))
                details << QStringLiteral("ModemManager probes new serial ports; the adapter's udev rule tells it to "
                                          "leave this one alone. Unplug and plug in the adapter, or: sudo systemctl "
                                          "stop ModemManager");
            if (search.holders.empty() && search.hiddenProcesses > 0)
                details << QStringLiteral("Programs of other users are not visible to you; as root: sudo fuser -v %1")
                               .arg(node_);
            PrintStep(out_, Verdict::Fail, QStringLiteral("Opening the port: %1.").arg(device->errorString()), details);
            return kExitPortUnavailable;
        }
        device->close();
        if (search.holders.empty()) {
            PrintStep(out_, Verdict::Ok, QStringLiteral("Opening the port: %1 opens, no other program has it open.").arg(node_));
        } else if (IsPseudoTerminal(node_) && !NamesAdapterPort(node_)) {
            PrintStep(out_, Verdict::Ok,
                      QStringLiteral("Opening the port: %1 opens; %2 serves the pseudo-terminal.")
                          .arg(node_, HolderList(search.holders)));
        } else {
            PrintStep(out_, Verdict::Note,
                      QStringLiteral("Opening the port: %1 opens, but is open in %2 as well.")
                          .arg(node_, HolderList(search.holders)),
                      {QStringLiteral("That program may take the instrument's answers: close it.")});
        }
        return std::nullopt;
    }

    int CheckInstrument()
    {
        const bool trace = context_.options.trace;
        if (trace)
            out_ << QString(kDetailIndent, QLatin1Char(' '))
                 << "Trace: seconds since the port opened, -> to the instrument, <- from it\n";
        LineRecord record(out_, trace);
        const ConnectOutcome outcome = SendConnectRequests(context_, system_, node_, record);
        if (outcome.interrupted)
            return context_.Fail(kExitInterrupted, QStringLiteral("interrupted"));
        if (!outcome.portError.isEmpty()) {
            PrintStep(out_, Verdict::Fail, QStringLiteral("Instrument: %1.").arg(outcome.portError));
            return kExitPortUnavailable;
        }
        if (outcome.answered) {
            PrintStep(out_, Verdict::Ok,
                      QStringLiteral("Instrument: answered the connect request after %1 s%2.")
                          .arg(outcome.seconds, 0, 'f', 2)
                          .arg(outcome.errorReport ? QStringLiteral(", with an error report") : QString()));
            out_ << '\n'
                 << Wrapped(QStringLiteral("The instrument answers on %1: \"r310ctl --port %1 info\" reads it; in "
                                           "R310Conf pick the port and press \"Open Port\".")
                                .arg(node_),
                            kLineWidth)
                        .join(QLatin1Char('\n'))
                 << '\n';
            return kExitOk;
        }
        PrintStep(out_, Verdict::Fail,
                  QStringLiteral("Instrument: no answer to the connect request within %1 s (%2 requests sent).")
                      .arg(context_.options.timeoutSeconds)
                      .arg(record.requests()),
                  NoAnswerAdvice(record, trace));
        return kExitNoInstrument;
    }

    static QStringList NoAnswerAdvice(const LineRecord &record, bool traced)
    {
        QStringList advice;
        if (record.received().isEmpty())
            advice << QStringLiteral("Nothing came back. Switch the instrument on and make sure it sits firmly on the "
                                     "adapter's cable; a low battery also silences it.");
        else if (record.OnlyEcho())
            advice << QStringLiteral("Only the requests themselves came back (an echo): this cable or device joins "
                                     "its send and receive lines; use the instrument's own adapter cable.");
        else
            advice << QStringLiteral("%1 bytes came back, but never a complete answer with a correct check sum: "
                                     "another device is on this port, or the line is disturbed.")
                          .arg(record.received().size());
        if (!traced)
            advice << QStringLiteral("\"r310ctl doctor --trace\" shows every byte.");
        return advice;
    }

    CtlContext &context_;
    const DoctorSystem &system_;
    QTextStream &out_;
    const QString namedPort_;
    std::vector<UsbAdapter> adapters_;
    QString node_;
};

} // namespace

const char *const kDoctorHelp = R"(Usage: r310ctl doctor [--port DEVICE] [--timeout-s N] [--trace]

Follows the way from the instrument's USB adapter (USB 0403:D189) to the
instrument one step at a time and says what is wrong and what to do:
  1. the adapter is plugged in
  2. a driver has taken it and made its serial port (/dev/ttyUSB0)
  3. you may open the port (else: the group that may, and how to join it)
  4. the port opens and no other program has it open
  5. an instrument answers the connect request (within --timeout-s, 10 s)
It stops at the first step that fails. --port DEVICE checks that port,
also one that is not on the adapter (the simulator's pseudo-terminal);
--trace shows every byte sent and received while asking the instrument.
Nothing is written to the instrument.

Exit codes: 0 an instrument answered; 4 no adapter, no port, no permission,
or the port does not open; 3 no instrument answered; 130 Ctrl+C.
)";

int RunDoctorWith(CtlContext &context, const DoctorSystem &system)
{
    return DoctorRun(context, system).Run();
}

int RunDoctor(CtlContext &context)
{
#ifdef Q_OS_LINUX
    return RunDoctorWith(context, LocalSystem());
#else
    return context.Fail(kExitFailure, QStringLiteral("doctor checks the adapter's way on Linux; on Windows the "
                                                     "Device Manager shows the adapter and its COM port"));
#endif
}

} // namespace r310::cli
