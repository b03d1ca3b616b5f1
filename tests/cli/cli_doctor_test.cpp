// r310ctl doctor against device trees of its own: a sysfs with or without the
// adapter, its driver and port, device nodes that lead to a scripted
// instrument on a pseudo-terminal, processes holding the port and a user who
// may or may not open it. Each case checks the step that fails, what it tells
// the user to do, and that the steps behind it did not run.
#include "CliProcess.h"
#include "ExitCodes.h"
#include "LineSettings.h"
#include "../link/LinkTestSupport.h"
#include "R310_typ.h"
#include "Subcommands.h"
#include "cmd_doctor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace r310;
using namespace std::chrono_literals;
using linktest::Bytes;
using linktest::InstrumentFrame;
using linktest::PtyInstrument;

namespace {

const Bytes kConnectAnswer = InstrumentFrame(kObjectConnect, 0xC0, {});

void WriteFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

void Link(const QString &target, const QString &link)
{
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_TRUE(QFile::link(target, link)) << link.toStdString();
}

using clitest::ExpectContains;

// A machine as the doctor sees it, under a temporary folder: sysfs, /dev,
// /proc, the udev rule folder, and the user "alice" (not the owner of any
// node) whose groups the test chooses.
class FakeMachine {
public:
    FakeMachine()
    {
        QDir().mkpath(sys() + QStringLiteral("/bus/usb/devices"));
        QDir().mkpath(dev());
        QDir().mkpath(proc());
        QDir().mkpath(rules());
        system.sysRoot = sys();
        system.devRoot = dev();
        system.procRoot = proc();
        system.udevRuleDirectories = {rules()};
        system.account.uid = ::geteuid() + 1000;
        system.account.userName = QStringLiteral("alice");
        system.account.sessionGroups = {54321};
        system.account.groupName = [this](unsigned gid) {
            return gid == dialoutGid ? QStringLiteral("dialout") : QString::number(gid);
        };
        system.account.groupMembers = [this](unsigned gid) {
            return gid == dialoutGid ? dialoutMembers : QStringList();
        };
        system.ownProcessId = ::getpid();
    }

    QString sys() const { return root_.filePath(QStringLiteral("sys")); }
    QString dev() const { return root_.filePath(QStringLiteral("dev")); }
    QString proc() const { return root_.filePath(QStringLiteral("proc")); }
    QString rules() const { return root_.filePath(QStringLiteral("rules")); }

    // "name vendor product [driver [tty]]": a USB device, the driver bound to
    // it and the serial port it made, if named.
    void AddUsbDevice(const QByteArray &words)
    {
        const QStringList w = QString::fromLatin1(words).split(QLatin1Char(' '));
        const QString name = w.at(0);
        const QString driver = w.value(3);
        const QString tty = w.value(4);
        const QString device = sys() + QStringLiteral("/bus/usb/devices/") + name;
        WriteFile(device + QStringLiteral("/idVendor"), w.at(1).toLatin1() + '\n');
        WriteFile(device + QStringLiteral("/idProduct"), w.at(2).toLatin1() + '\n');
        WriteFile(device + QStringLiteral("/product"), "R310 USB\n");
        WriteFile(device + QStringLiteral("/serial"), "FT4711\n");
        const QString interface = device + QLatin1Char('/') + name + QStringLiteral(":1.0");
        QDir().mkpath(interface);
        if (!driver.isEmpty()) {
            QDir().mkpath(sys() + QStringLiteral("/bus/usb/drivers/") + driver);
            Link(sys() + QStringLiteral("/bus/usb/drivers/") + driver, interface + QStringLiteral("/driver"));
        }
        if (!tty.isEmpty())
            QDir().mkpath(interface + QLatin1Char('/') + tty + QStringLiteral("/tty/") + tty);
    }
    void LoadFtdiDriver(const QByteArray &addedIds)
    {
        WriteFile(sys() + QStringLiteral("/bus/usb-serial/drivers/ftdi_sio/new_id"), addedIds);
    }
    void InstallRule() { WriteFile(QDir(rules()).filePath(cli::kAdapterRuleFile), "# rule\n"); }
    void AddProcess(qint64 pid, const QByteArray &name, const QString &openFile)
    {
        const QString folder = proc() + QLatin1Char('/') + QString::number(pid);
        WriteFile(folder + QStringLiteral("/comm"), name + '\n');
        Link(openFile, folder + QStringLiteral("/fd/3"));
    }

    cli::DoctorSystem system;
    unsigned dialoutGid = 20;
    QStringList dialoutMembers;

private:
    QTemporaryDir root_;
};

struct DoctorRun {
    int code = -1;
    QString out;
    QString err;
};

DoctorRun Doctor(const cli::DoctorSystem &system, const QStringList &arguments = {})
{
    clitest::EnsureApplication();
    DoctorRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    cli::CtlEnvironment environment(out, err);
    environment.tick = 10ms;
    const cli::ParsedCommandLine parsed =
        cli::ParseCommandLine(QStringList{QStringLiteral("r310ctl"), QStringLiteral("doctor")} + arguments);
    EXPECT_TRUE(parsed.ok) << parsed.error.toStdString();
    cli::CtlContext context{parsed.options, environment, nullptr};
    run.code = cli::RunDoctorWith(context, system);
    out.flush();
    err.flush();
    return run;
}

// The finding lines: each starts with its verdict, its detail lines (indented
// by seven blanks) joined to it; the trace's lines are left out.
QStringList Findings(const QString &output)
{
    static const QRegularExpression detail(QStringLiteral("^ {7}(?!Trace:)\\S"));
    QStringList findings;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            findings << line;
        else if (!findings.isEmpty() && detail.match(line).hasMatch())
            findings.last() += QLatin1Char(' ') + line.trimmed();
    }
    return findings;
}

// A node that only its owner and group may use, the group being one the test names.
void MakeGroupDevice(const QString &path, FakeMachine &machine)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0660), 0);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    machine.dialoutGid = info.st_gid;
}

// The doctor ended with code after count findings; the finding at index
// starts with start and holds each of parts.
void ExpectFinding(const DoctorRun &run, int code, int count, int index, const QString &start,
                   const std::vector<const char *> &parts = {})
{
    EXPECT_EQ(run.code, code);
    const QStringList findings = Findings(run.out);
    ASSERT_EQ(findings.size(), count) << run.out.toStdString();
    EXPECT_TRUE(findings[index].startsWith(start)) << findings[index].toStdString();
    ExpectContains(findings[index], parts);
}

// The finding at index (of any number) starts with start and holds each of parts.
void ExpectFinding(const QString &output, int index, const QString &start, const std::vector<const char *> &parts)
{
    const QString finding = Findings(output).value(index);
    EXPECT_TRUE(finding.startsWith(start)) << finding.toStdString();
    ExpectContains(finding, parts);
}

// A machine with the adapter bound to ftdi_sio, its port `tty` a link to the
// instrument's pseudo-terminal.
void AddAdapterOf(FakeMachine &machine, const PtyInstrument &instrument, const char *tty)
{
    machine.AddUsbDevice(QByteArray("1-2 0403 d189 ftdi_sio ") + tty);
    Link(instrument.devicePath(), machine.dev() + QLatin1Char('/') + QLatin1String(tty));
}

} // namespace

TEST(CtlDoctor, AdapterMissingOrUnboundTellsWhatToPlugInInstallOrRun)
{
    {
        SCOPED_TRACE("a hub and another FTDI cable, no instrument adapter");
        FakeMachine machine;
        machine.AddUsbDevice("1-1 1d6b 0002");
        machine.AddUsbDevice("1-3 0403 6001 ftdi_sio ttyUSB0");
        EXPECT_TRUE(cli::FindUsbAdapters(machine.system).empty());
        ExpectFinding(Doctor(machine.system), cli::kExitPortUnavailable, 1, 0,
                      "[FAIL] USB adapter: no USB device 0403:D189 is plugged in.",
                      {"\"lsusb\" must list ID 0403:d189"});
    }
    {
        SCOPED_TRACE("no sysfs at all");
        FakeMachine machine;
        machine.system.sysRoot = machine.sys() + QStringLiteral("/absent");
        const DoctorRun run = Doctor(machine.system);
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        ExpectContains(run.out, {"this system shows no USB devices", "pass the adapter through"});
    }
    const QByteArray unbound = "1-2 0403 d189";
    {
        SCOPED_TRACE("no driver, no rule, driver not loaded");
        FakeMachine machine;
        machine.AddUsbDevice(unbound);
        const DoctorRun run = Doctor(machine.system);
        ExpectFinding(run, cli::kExitPortUnavailable, 2, 1, "[FAIL] Driver: no driver has taken the adapter",
                      {"60-lumo-r310.rules is not installed: install the r310conf package",
                       "sudo modprobe ftdi_sio && echo 0403 d189 | sudo tee "
                       "/sys/bus/usb-serial/drivers/ftdi_sio/new_id"});
        EXPECT_EQ(Findings(run.out).value(0),
                  "[ ok ] USB adapter: plugged in, USB 1-2, \"R310 USB\", serial number FT4711.");
    }
    struct Case {
        const char *what;
        QByteArray knownIds; // what the driver was told to take
        std::vector<const char *> says;
    };
    for (const Case &c :
         {Case{"the rule is installed but has not run", "",
               {"is installed but has not run for this adapter", "sudo udevadm trigger --action=add"}},
          Case{"the driver knows the id and still did not bind", "0403 d189\n",
               {"ftdi_sio is loaded and knows the id, yet did not take the adapter"}}}) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        machine.AddUsbDevice(unbound);
        machine.InstallRule();
        machine.LoadFtdiDriver(c.knownIds);
        ExpectFinding(Doctor(machine.system).out, 1, QString(), c.says);
    }
}

TEST(CtlDoctor, PortMadeByTheDriverButWithoutDeviceNode)
{
    FakeMachine machine;
    machine.AddUsbDevice("3-1 0403 D189 ftdi_sio ttyUSB3");
    const std::vector<cli::UsbAdapter> adapters = cli::FindUsbAdapters(machine.system);
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].drivers, QStringList{"ftdi_sio"});
    EXPECT_EQ(adapters[0].ports, QStringList{"ttyUSB3"});
    ExpectFinding(Doctor(machine.system), cli::kExitPortUnavailable, 2, 1,
                  QStringLiteral("[FAIL] Port: the kernel made the port ttyUSB3, but %1/ttyUSB3 is missing.")
                      .arg(machine.dev()),
                  {"systemd-udevd"});
}

TEST(CtlDoctor, PortTheUserMayNotOpenNamesTheGroupAndHowToJoinIt)
{
    FakeMachine machine;
    machine.AddUsbDevice("1-2 0403 d189 ftdi_sio ttyUSB0");
    const QString node = machine.dev() + QStringLiteral("/ttyUSB0");
    WriteFile(node, {});
    MakeGroupDevice(node, machine);
    {
        SCOPED_TRACE("not in the group");
        ExpectFinding(Doctor(machine.system), cli::kExitPortUnavailable, 3, 2,
                      QStringLiteral("[FAIL] Permission: you (alice) may not open %1 (-rw-rw----, group dialout).")
                          .arg(node),
                      {"sudo adduser alice dialout", "log out and in again"});
    }
    {
        SCOPED_TRACE("joined the group after this session began");
        machine.dialoutMembers = {QStringLiteral("alice")};
        ExpectFinding(Doctor(machine.system).out, 2, QString(),
                      {"You were added to the group dialout, but this session started before", "newgrp dialout"});
    }
    {
        SCOPED_TRACE("the group may not use it either");
        ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0600), 0);
        ExpectFinding(Doctor(machine.system).out, 2, QString(),
                      {"the adapter's udev rule did not set its permissions"});
    }
    {
        SCOPED_TRACE("the kernel grants it (an access list)");
        machine.system.mayOpen = [&](const QString &path) { return path == node; };
        ExpectFinding(Doctor(machine.system).out, 2, QStringLiteral("[ ok ] Permission: you (alice) may open"),
                      {"uaccess"});
    }
}

TEST(CtlDoctor, WholeWayThroughTheAdapterToAnAnsweringInstrument)
{
    PtyInstrument instrument;
    instrument.script({{kConnectAnswer}});
    FakeMachine machine;
    AddAdapterOf(machine, instrument, "ttyUSB7");
    const QString node = machine.dev() + QStringLiteral("/ttyUSB7");
    Link(node, machine.dev() + QStringLiteral("/lumo-r310"));
    MakeGroupDevice(instrument.devicePath(), machine);
    machine.system.account.sessionGroups.push_back(machine.dialoutGid);

    const DoctorRun run = Doctor(machine.system, clitest::Words("--trace"));
    ExpectFinding(run, cli::kExitOk, 5, 4, QStringLiteral("[ ok ] Instrument: answered the connect request after"));
    const QStringList findings = Findings(run.out);
    ASSERT_EQ(findings.size(), 5);
    EXPECT_EQ(findings[1], QStringLiteral("[ ok ] Driver and port: ftdi_sio has taken the adapter; its serial port is "
                                          "%1 (also %2/lumo-r310).")
                               .arg(node, machine.dev()));
    EXPECT_TRUE(findings[2].endsWith(": as a member of the group dialout.")) << findings[2].toStdString();
    EXPECT_EQ(findings[3], QStringLiteral("[ ok ] Opening the port: %1 opens, no other program has it open.").arg(node));
    // The trace: the connect request out, the answer back, nothing else sent.
    clitest::ExpectMatches(run.out, {" s  ->  56 59 4B 34 01 60 00 [0-9A-F]{2} [0-9A-F]{2}\n"});
    ExpectContains(run.out, {" s  <-  "});
    EXPECT_EQ(instrument.requests().size(), 1u);
}

TEST(CtlDoctor, ProgramsHoldingThePortAreNamed)
{
    PtyInstrument instrument;
    FakeMachine machine;
    AddAdapterOf(machine, instrument, "ttyUSB7");
    const QString node = machine.dev() + QStringLiteral("/ttyUSB7");
    machine.system.mayOpen = [](const QString &) { return true; };
    machine.AddProcess(4242, "minicom", instrument.devicePath());
    machine.AddProcess(77, "bash", machine.dev() + QStringLiteral("/null"));
    {
        SCOPED_TRACE("the port opens, but another program reads it too");
        instrument.script({{kConnectAnswer}});
        const DoctorRun run = Doctor(machine.system);
        EXPECT_EQ(run.code, cli::kExitOk);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 5) << run.out.toStdString();
        EXPECT_EQ(findings[3], QStringLiteral("[note] Opening the port: %1 opens, but is open in minicom (process 4242) "
                                              "as well. That program may take the instrument's answers: close it.")
                                   .arg(node));
    }
    {
        SCOPED_TRACE("the port does not open");
        machine.AddProcess(600, "ModemManager", instrument.devicePath());
        machine.system.link = [](const QString &name, const LineSettings &) {
            auto device = std::make_unique<linktest::MemoryDevice>();
            device->refuseOpen = true;
            device->error = QStringLiteral("Serial port %1 is in use by another program").arg(name);
            return device;
        };
        const DoctorRun run = Doctor(machine.system);
        ExpectFinding(run, cli::kExitPortUnavailable, 4, 3,
                      QStringLiteral("[FAIL] Opening the port: Serial port %1 is in use by another program.").arg(node),
                      {"minicom (process 4242)", "ModemManager (process 600)", "sudo systemctl stop ModemManager"});
        EXPECT_FALSE(Findings(run.out).value(3).contains("bash"));
    }
}

TEST(CtlDoctor, NamedPortWithoutAdapterAndWhatComesBackWhenNoInstrumentAnswers)
{
    FakeMachine machine;
    machine.system.mayOpen = [](const QString &) { return true; };
    {
        SCOPED_TRACE("a port that does not exist");
        const DoctorRun run = Doctor(machine.system, clitest::Words("--port ttyUSB9"));
        ExpectFinding(run, cli::kExitPortUnavailable, 2, 0,
                      "[ -- ] USB adapter: no USB device 0403:D189 is plugged in. Checking the port you named "
                      "instead.");
        ExpectFinding(run.out, 1, QStringLiteral("[FAIL] Port: %1/ttyUSB9 does not exist.").arg(machine.dev()), {});
    }
    struct Case {
        const char *what;
        Bytes reply; // the one reply; silent afterwards
        const char *advice;
    };
    RequestBuffer connect{};
    BuildConnectRequest(connect);
    const Bytes echo(connect.begin(), connect.begin() + kFrameOverhead);
    for (const Case &c : {Case{"silence", {}, "Nothing came back."},
                          Case{"an echo", echo, "Only the requests themselves came back (an echo)"},
                          Case{"noise", {0x13, 0x00, 0xFF}, "3 bytes came back, but never a complete answer"}}) {
        SCOPED_TRACE(c.what);
        PtyInstrument instrument;
        instrument.script({{c.reply}});
        const DoctorRun run = Doctor(machine.system, QStringList{QStringLiteral("--port"), instrument.devicePath()}
                                                         + clitest::Words("--timeout-s 1"));
        ExpectFinding(run, cli::kExitNoInstrument, 5, 4,
                      "[FAIL] Instrument: no answer to the connect request within 1 s (",
                      {c.advice, "\"r310ctl doctor --trace\" shows every byte."});
        EXPECT_EQ(Findings(run.out).value(1),
                  QStringLiteral("[ ok ] Port: %1 is there, a pseudo-terminal (such as the simulator's).")
                      .arg(instrument.devicePath()));
        EXPECT_GT(instrument.requests().size(), 1u) << "the request is repeated until the time-out";
    }
}

TEST(CtlDoctor, PortsHintsAtTheDoctorOnlyForAnAdapterWithoutItsPort)
{
    cli::UsbAdapter adapter;
    adapter.name = QStringLiteral("1-2");
    EXPECT_TRUE(cli::AdapterWithoutPortHint({adapter}, false).contains("\"r310ctl doctor\""));
    EXPECT_TRUE(cli::AdapterWithoutPortHint({adapter}, true).isEmpty());
    EXPECT_TRUE(cli::AdapterWithoutPortHint({}, false).isEmpty());

    // --trace belongs to the doctor alone.
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    cli::CtlEnvironment environment(out, err);
    EXPECT_EQ(cli::RunCtl(clitest::Words("r310ctl --demo info --trace"), environment), cli::kExitUsage);
    err.flush();
    ExpectContains(errors, {"option --trace does not apply to \"info\""});
}
