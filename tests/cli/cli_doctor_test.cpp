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

struct FakeAdapter {
    QString name = QStringLiteral("1-2");
    QString vendor = QStringLiteral("0403");
    QString product = QStringLiteral("d189");
    QString driver;  // empty: none bound
    QString tty;     // empty: no serial port
};

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

    void AddUsbDevice(const FakeAdapter &adapter)
    {
        const QString device = sys() + QStringLiteral("/bus/usb/devices/") + adapter.name;
        WriteFile(device + QStringLiteral("/idVendor"), adapter.vendor.toLatin1() + '\n');
        WriteFile(device + QStringLiteral("/idProduct"), adapter.product.toLatin1() + '\n');
        WriteFile(device + QStringLiteral("/product"), "R310 USB\n");
        WriteFile(device + QStringLiteral("/serial"), "FT4711\n");
        const QString interface = device + QLatin1Char('/') + adapter.name + QStringLiteral(":1.0");
        QDir().mkpath(interface);
        if (!adapter.driver.isEmpty()) {
            const QString driver = sys() + QStringLiteral("/bus/usb/drivers/") + adapter.driver;
            QDir().mkpath(driver);
            Link(driver, interface + QStringLiteral("/driver"));
        }
        if (!adapter.tty.isEmpty())
            QDir().mkpath(interface + QLatin1Char('/') + adapter.tty + QStringLiteral("/tty/") + adapter.tty);
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

} // namespace

TEST(CtlDoctor, AdapterMissingOrUnboundTellsWhatToPlugInInstallOrRun)
{
    {
        SCOPED_TRACE("a hub and another FTDI cable, no instrument adapter");
        FakeMachine machine;
        machine.AddUsbDevice({QStringLiteral("1-1"), QStringLiteral("1d6b"), QStringLiteral("0002"), {}, {}});
        machine.AddUsbDevice({QStringLiteral("1-3"), QStringLiteral("0403"), QStringLiteral("6001"),
                              QStringLiteral("ftdi_sio"), QStringLiteral("ttyUSB0")});
        EXPECT_TRUE(cli::FindUsbAdapters(machine.system).empty());
        const DoctorRun run = Doctor(machine.system);
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 1) << run.out.toStdString();
        EXPECT_TRUE(findings[0].startsWith("[FAIL] USB adapter: no USB device 0403:D189 is plugged in."));
        EXPECT_TRUE(findings[0].contains("\"lsusb\" must list ID 0403:d189")) << findings[0].toStdString();
    }
    {
        SCOPED_TRACE("no sysfs at all");
        FakeMachine machine;
        machine.system.sysRoot = machine.sys() + QStringLiteral("/absent");
        const DoctorRun run = Doctor(machine.system);
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        EXPECT_TRUE(run.out.contains("this system shows no USB devices")) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("pass the adapter through")) << run.out.toStdString();
    }
    const FakeAdapter unbound;
    {
        SCOPED_TRACE("no driver, no rule, driver not loaded");
        FakeMachine machine;
        machine.AddUsbDevice(unbound);
        const DoctorRun run = Doctor(machine.system);
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 2) << run.out.toStdString();
        EXPECT_EQ(findings[0], "[ ok ] USB adapter: plugged in, USB 1-2, \"R310 USB\", serial number FT4711.");
        EXPECT_TRUE(findings[1].startsWith("[FAIL] Driver: no driver has taken the adapter")) << findings[1].toStdString();
        EXPECT_TRUE(findings[1].contains("60-lumo-r310.rules is not installed: install the r310conf package"));
        EXPECT_TRUE(findings[1].contains(
            "sudo modprobe ftdi_sio && echo 0403 d189 | sudo tee /sys/bus/usb-serial/drivers/ftdi_sio/new_id"));
    }
    {
        SCOPED_TRACE("the rule is installed but has not run");
        FakeMachine machine;
        machine.AddUsbDevice(unbound);
        machine.InstallRule();
        machine.LoadFtdiDriver("");
        const QString finding = Findings(Doctor(machine.system).out).value(1);
        EXPECT_TRUE(finding.contains("is installed but has not run for this adapter")) << finding.toStdString();
        EXPECT_TRUE(finding.contains("sudo udevadm trigger --action=add")) << finding.toStdString();
    }
    {
        SCOPED_TRACE("the driver knows the id and still did not bind");
        FakeMachine machine;
        machine.AddUsbDevice(unbound);
        machine.InstallRule();
        machine.LoadFtdiDriver("0403 d189\n");
        const QString finding = Findings(Doctor(machine.system).out).value(1);
        EXPECT_TRUE(finding.contains("ftdi_sio is loaded and knows the id, yet did not take the adapter")) << finding.toStdString();
    }
}

TEST(CtlDoctor, PortMadeByTheDriverButWithoutDeviceNode)
{
    FakeMachine machine;
    machine.AddUsbDevice({QStringLiteral("3-1"), QStringLiteral("0403"), QStringLiteral("D189"),
                          QStringLiteral("ftdi_sio"), QStringLiteral("ttyUSB3")});
    const std::vector<cli::UsbAdapter> adapters = cli::FindUsbAdapters(machine.system);
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].drivers, QStringList{"ftdi_sio"});
    EXPECT_EQ(adapters[0].ports, QStringList{"ttyUSB3"});

    const DoctorRun run = Doctor(machine.system);
    EXPECT_EQ(run.code, cli::kExitPortUnavailable);
    const QStringList findings = Findings(run.out);
    ASSERT_EQ(findings.size(), 2) << run.out.toStdString();
    EXPECT_TRUE(findings[1].startsWith(QStringLiteral("[FAIL] Port: the kernel made the port ttyUSB3, but %1/ttyUSB3 "
                                                      "is missing.")
                                           .arg(machine.dev())))
        << findings[1].toStdString();
    EXPECT_TRUE(findings[1].contains("systemd-udevd"));
}

TEST(CtlDoctor, PortTheUserMayNotOpenNamesTheGroupAndHowToJoinIt)
{
    FakeMachine machine;
    machine.AddUsbDevice({QStringLiteral("1-2"), QStringLiteral("0403"), QStringLiteral("d189"),
                          QStringLiteral("ftdi_sio"), QStringLiteral("ttyUSB0")});
    const QString node = machine.dev() + QStringLiteral("/ttyUSB0");
    WriteFile(node, {});
    MakeGroupDevice(node, machine);
    {
        SCOPED_TRACE("not in the group");
        const DoctorRun run = Doctor(machine.system);
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 3) << run.out.toStdString();
        EXPECT_TRUE(findings[2].startsWith(
            QStringLiteral("[FAIL] Permission: you (alice) may not open %1 (-rw-rw----, group dialout).").arg(node)))
            << findings[2].toStdString();
        EXPECT_TRUE(findings[2].contains("sudo adduser alice dialout")) << findings[2].toStdString();
        EXPECT_TRUE(findings[2].contains("log out and in again")) << findings[2].toStdString();
    }
    {
        SCOPED_TRACE("joined the group after this session began");
        machine.dialoutMembers = {QStringLiteral("alice")};
        const QString finding = Findings(Doctor(machine.system).out).value(2);
        EXPECT_TRUE(finding.contains("You were added to the group dialout, but this session started before"))
            << finding.toStdString();
        EXPECT_TRUE(finding.contains("newgrp dialout")) << finding.toStdString();
    }
    {
        SCOPED_TRACE("the group may not use it either");
        ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0600), 0);
        const QString finding = Findings(Doctor(machine.system).out).value(2);
        EXPECT_TRUE(finding.contains("the adapter's udev rule did not set its permissions")) << finding.toStdString();
    }
    {
        SCOPED_TRACE("the kernel grants it (an access list)");
        machine.system.mayOpen = [&](const QString &path) { return path == node; };
        const QString finding = Findings(Doctor(machine.system).out).value(2);
        EXPECT_TRUE(finding.startsWith("[ ok ] Permission: you (alice) may open")) << finding.toStdString();
        EXPECT_TRUE(finding.contains("uaccess")) << finding.toStdString();
    }
}

TEST(CtlDoctor, WholeWayThroughTheAdapterToAnAnsweringInstrument)
{
    PtyInstrument instrument;
    instrument.script({{kConnectAnswer}});
    FakeMachine machine;
    machine.AddUsbDevice({QStringLiteral("1-2"), QStringLiteral("0403"), QStringLiteral("d189"),
                          QStringLiteral("ftdi_sio"), QStringLiteral("ttyUSB7")});
    const QString node = machine.dev() + QStringLiteral("/ttyUSB7");
    Link(instrument.devicePath(), node);
    Link(node, machine.dev() + QStringLiteral("/lumo-r310"));
    MakeGroupDevice(instrument.devicePath(), machine);
    machine.system.account.sessionGroups.push_back(machine.dialoutGid);

    const DoctorRun run = Doctor(machine.system, {QStringLiteral("--trace")});
    EXPECT_EQ(run.code, cli::kExitOk) << run.out.toStdString();
    const QStringList findings = Findings(run.out);
    ASSERT_EQ(findings.size(), 5) << run.out.toStdString();
    EXPECT_EQ(findings[1], QStringLiteral("[ ok ] Driver and port: ftdi_sio has taken the adapter; its serial port is "
                                          "%1 (also %2/lumo-r310).")
                               .arg(node, machine.dev()));
    EXPECT_TRUE(findings[2].endsWith(": as a member of the group dialout.")) << findings[2].toStdString();
    EXPECT_EQ(findings[3], QStringLiteral("[ ok ] Opening the port: %1 opens, no other program has it open.").arg(node));
    EXPECT_TRUE(findings[4].startsWith("[ ok ] Instrument: answered the connect request after")) << findings[4].toStdString();
    // The trace: the connect request out, the answer back, nothing else sent.
    EXPECT_TRUE(run.out.contains(QRegularExpression(" s  ->  56 59 4B 34 01 60 00 [0-9A-F]{2} [0-9A-F]{2}\n")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral(" s  <-  "))) << run.out.toStdString();
    EXPECT_EQ(instrument.requests().size(), 1u);
}

TEST(CtlDoctor, ProgramsHoldingThePortAreNamed)
{
    PtyInstrument instrument;
    FakeMachine machine;
    machine.AddUsbDevice({QStringLiteral("1-2"), QStringLiteral("0403"), QStringLiteral("d189"),
                          QStringLiteral("ftdi_sio"), QStringLiteral("ttyUSB7")});
    const QString node = machine.dev() + QStringLiteral("/ttyUSB7");
    Link(instrument.devicePath(), node);
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
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 4) << run.out.toStdString();
        EXPECT_TRUE(findings[3].startsWith(
            QStringLiteral("[FAIL] Opening the port: Serial port %1 is in use by another program.").arg(node)))
            << findings[3].toStdString();
        EXPECT_TRUE(findings[3].contains("minicom (process 4242)")) << findings[3].toStdString();
        EXPECT_TRUE(findings[3].contains("ModemManager (process 600)")) << findings[3].toStdString();
        EXPECT_TRUE(findings[3].contains("sudo systemctl stop ModemManager")) << findings[3].toStdString();
        EXPECT_FALSE(findings[3].contains("bash"));
    }
}

TEST(CtlDoctor, NamedPortWithoutAdapterAndWhatComesBackWhenNoInstrumentAnswers)
{
    FakeMachine machine;
    machine.system.mayOpen = [](const QString &) { return true; };
    {
        SCOPED_TRACE("a port that does not exist");
        const DoctorRun run = Doctor(machine.system, {QStringLiteral("--port"), QStringLiteral("ttyUSB9")});
        EXPECT_EQ(run.code, cli::kExitPortUnavailable);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 2) << run.out.toStdString();
        EXPECT_TRUE(findings[0].startsWith("[ -- ] USB adapter: no USB device 0403:D189 is plugged in. Checking the "
                                           "port you named instead."))
            << findings[0].toStdString();
        EXPECT_TRUE(findings[1].startsWith(QStringLiteral("[FAIL] Port: %1/ttyUSB9 does not exist.").arg(machine.dev())));
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
        const DoctorRun run = Doctor(machine.system, {QStringLiteral("--port"), instrument.devicePath(),
                                                      QStringLiteral("--timeout-s"), QStringLiteral("1")});
        EXPECT_EQ(run.code, cli::kExitNoInstrument);
        const QStringList findings = Findings(run.out);
        ASSERT_EQ(findings.size(), 5) << run.out.toStdString();
        EXPECT_EQ(findings[1],
                  QStringLiteral("[ ok ] Port: %1 is there, a pseudo-terminal (such as the simulator's).")
                      .arg(instrument.devicePath()));
        EXPECT_TRUE(findings[4].startsWith("[FAIL] Instrument: no answer to the connect request within 1 s (")) << findings[4].toStdString();
        EXPECT_TRUE(findings[4].contains(QString::fromLatin1(c.advice))) << findings[4].toStdString();
        EXPECT_TRUE(findings[4].contains("\"r310ctl doctor --trace\" shows every byte."));
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
    EXPECT_EQ(cli::RunCtl({QStringLiteral("r310ctl"), QStringLiteral("--demo"), QStringLiteral("info"),
                           QStringLiteral("--trace")},
                          environment),
              cli::kExitUsage);
    err.flush();
    EXPECT_TRUE(errors.contains("option --trace does not apply to \"info\"")) << errors.toStdString();
}
