// r310ctl as a process: help, usage errors and exit codes, every command
// against the built-in demo instrument and against the simulator program on
// a pseudo-terminal, JSON output, regional settings, time-out and Ctrl+C.
#include "CliProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <unistd.h>

using namespace clitest;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNoInstrument = 3;
constexpr int kExitPortUnavailable = 4;
constexpr int kExitInstrumentError = 5;
constexpr int kExitGasTableMissing = 6;
constexpr int kExitInterrupted = 130;

using Ctl = CtlProgramTest;

// Nothing but line ends of the C0 and C1 control characters reaches the terminal.
void ExpectNoControlCharacters(const QString &output, const char *where)
{
    for (const QChar c : output) {
        const char16_t code = c.unicode();
        EXPECT_FALSE(code != u'\n' && (code < 0x20 || (code >= 0x7F && code <= 0x9F)))
            << "control character " << int(code) << " reached the terminal " << where;
    }
}

// The instrument of the worked examples: serial 00001234, version 2.10,
// MK type 123-45, range 0 to 100 with one decimal and a value of 1.2.
const QStringList kExampleInstrument =
    Words("--serial=1234 --software=210 --mk_type=12345 --range_end=100 --exponent=-1 --value=12 --value_swing=0");

} // namespace

TEST_F(Ctl, HelpAtEveryLevel)
{
    const CtlRun overview = ctl("--help");
    EXPECT_EQ(overview.exitCode, 0);
    ExpectContains(overview.out, {"ports", "info", "get", "watch", "--demo", "--timeout-s", "--json", "Exit codes"});
    EXPECT_EQ(ctl("help").out, overview.out);

    for (const QString &command : Words("ports info get watch help")) {
        const CtlRun flag = ctl({command, QStringLiteral("--help")});
        EXPECT_EQ(flag.exitCode, 0) << command.toStdString();
        EXPECT_TRUE(flag.out.startsWith(QStringLiteral("Usage: r310ctl"))) << flag.out.toStdString();
        EXPECT_TRUE(flag.out.contains(command)) << command.toStdString();
        EXPECT_EQ(ctl({QStringLiteral("help"), command}).out, flag.out);
        EXPECT_EQ(ctl({QStringLiteral("--demo"), command, QStringLiteral("-h")}).out, flag.out);
    }
}

TEST_F(Ctl, UsageMistakesExitWithTwoAndOneLineOnStandardError)
{
    for (const char *mistake : {"nosuch", "--frobnicate info", "--port ttyUSB0 --demo info",
                                "--demo --timeout-s soon info", "--demo --timeout-s -1 info",
                                // Beyond what the search timer can count: it would end the search at once.
                                "--demo --timeout-s 4294968 info", "ports --samples 3", "--demo ports",
                                "--demo info extra", "help nosuch"}) {
        const CtlRun run = ctl(mistake);
        EXPECT_EQ(run.exitCode, kExitUsage) << mistake;
        ASSERT_EQ(run.errLines().size(), 1) << mistake << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("r310ctl: "))) << mistake;
        EXPECT_TRUE(run.out.isEmpty()) << mistake;
    }
    // Nothing at all: the overview on standard error, and the usage code.
    const CtlRun bare = ctl(QStringList{});
    EXPECT_EQ(bare.exitCode, kExitUsage);
    EXPECT_TRUE(bare.err.contains(QStringLiteral("Commands:")));
}

TEST_F(Ctl, DemoInfoReadsWell)
{
    const CtlRun run = ctl("--demo info");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());
    ExpectContains(run.out, {"Serial number:     00001234", "MK type:           103-01", "Software version:  2.21",
                             "Customer ID:       DEMO", "Battery check:     87", "Instrument time:", "PC time:"});
    ExpectMatches(run.out, {"Value: +-?\\d+ ppm CO\n"});
}

TEST_F(Ctl, DemoJsonCarriesRawValuesUnitsAndTexts)
{
    const QJsonObject info = JsonOf(ctl("--demo --json info").out);
    ExpectJson(info, {{"identity.serialNumber", 1234}, {"identity.serialNumberText", "00001234"},
                      {"identity.softwareVersion", 221}, {"identity.mkTypeText", "103-01"}, {"value.unit", "ppm"},
                      {"value.gas", "CO"}, {"clock.writes", 0}});
    EXPECT_EQ(JsonAt(info, QStringLiteral("value.text")).toString(),
              QString::number(JsonAt(info, QStringLiteral("value.value")).toDouble()));
    EXPECT_LE(std::abs(JsonAt(info, QStringLiteral("clock.differenceSeconds")).toInt()), 5);

    const QJsonObject get = JsonOf(ctl("--demo get --json").out);
    ASSERT_EQ(JsonAt(get, QStringLiteral("range.alarms")).toArray().size(), 5);
    ExpectJson(get, {{"range.rangeEnd", 500}, {"range.gasText", "ppm CO"}, {"range.alarms.0.name", "A1"},
                     {"range.alarms.0.raw", 30}, {"range.alarms.0.hornMayBeSilenced", true},
                     {"signals.bleepIntervalSeconds", 30}, {"hardware.zeroPoint", 1305}});
    for (const QString &tab : Words("eventProperties datalogging")) {
        SCOPED_TRACE(tab.toStdString());
        ASSERT_EQ(JsonAt(get, tab + QStringLiteral(".objects")).toArray().size(), 2);
        ExpectJson(get.value(tab).toObject(),
                   {{"available", true}, {"objects.0.object", 35}, {"objects.1.object", 36}});
        EXPECT_FALSE(JsonAt(get, tab + QStringLiteral(".objects.1.payload")).toString().isEmpty());
    }
}

TEST_F(Ctl, DemoGetShowsEveryTabInTheRegionalSettings)
{
    const CtlRun german = ctl("--demo get", QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(german.exitCode, 0) << german.err.toStdString();
    ExpectContains(german.out, {"Range\n", "Signals\n", "Hardware\n", "Event properties\n", "Datalogging\n", "U-ZP:",
                                "0,52 mV", "Reference Voltage:", "1899,5 mV", "Gain:", "7,50", "Beep:", "30 Sec.",
                                "Event Count:", "DL Intervall:"});
    ExpectContains(ctl("--demo get", QStringLiteral("en_US.UTF-8")).out, {"0.52 mV", "1899.5 mV"});
}

TEST_F(Ctl, DemoWatchShowsAReadingAboutOnceASecond)
{
    const CtlRun run = ctl("--demo watch --samples 3");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = run.outLines();
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString(); // a heading and three readings
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(lines.at(i).endsWith(QStringLiteral(" ppm CO"))) << lines.at(i).toStdString();
    // The second and third readings wait for the poll period each.
    EXPECT_GE(run.took, 1800ms);

    const CtlRun json = ctl("--demo watch --samples=1 --json");
    ASSERT_EQ(json.exitCode, 0);
    const QJsonObject reading = JsonOf(json.out.trimmed());
    EXPECT_EQ(JsonAt(reading, QStringLiteral("value.unit")).toString(), QStringLiteral("ppm"));
    EXPECT_TRUE(reading.value(QStringLiteral("clock")).toObject().contains(QStringLiteral("instrumentSeconds")));
}

TEST_F(Ctl, InfoOnAPseudoTerminalSendsTheConnectOrderAndShowsTheExampleValues)
{
    for (const QString &locale : {QStringLiteral("de_DE.UTF-8"), QStringLiteral("en_GB.UTF-8")}) {
        SimProcess instrument(kExampleInstrument);
        ASSERT_FALSE(instrument.device().isEmpty());
        const CtlRun run = onPort(instrument, "info", {}, locale);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        // Connect until answered, connect, identity, clock, value; then the
        // range of the tab in front and the value again, now with its scale.
        EXPECT_EQ(instrument.requestNames(), (Names{"C1", "C1", "R2", "R3", "R7", "R4", "R7"}));
        const bool german = locale.startsWith(QLatin1String("de"));
        ExpectContains(run.out,
                       {"00001234", "2.10", "123-45", german ? "Value:             1,2 " : "Value:             1.2 "});
    }
}

TEST_F(Ctl, ClockIsWrittenOnlyWhenMoreThanFiveSecondsOff)
{
    // The simulator counts whole seconds and we round: offsets at the edge
    // (6, -5) may read one second nearer, so the cases keep a second apart.
    for (const int offset : {5, -4, 0, 7, -6, 86400}) {
        SCOPED_TRACE(offset);
        const bool written = offset > 5 || offset < -5;
        SimProcess instrument({QStringLiteral("--clock_offset=%1").arg(offset)});
        const CtlRun run = onPort(instrument, "info");
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const Names heard = instrument.requestNames();
        if (written) {
            EXPECT_EQ(heard, (Names{"C1", "C1", "R2", "R3", "W3", "R3", "R7", "R4", "R7"}));
        } else {
            EXPECT_EQ(std::count(heard.begin(), heard.end(), "W3"), 0);
            EXPECT_FALSE(run.out.contains(QStringLiteral("Clock:")));
        }
        EXPECT_EQ(run.out.contains(QStringLiteral("Clock:             set from the PC's time")), written);
    }
}

TEST_F(Ctl, SilentInstrumentGivesUpWithinTheBound)
{
    SimProcess instrument({QStringLiteral("--no_answer=always")});
    const CtlRun run = onPort(instrument, "--timeout-s 2 info");
    EXPECT_EQ(run.exitCode, kExitNoInstrument);
    EXPECT_GE(run.took, 1900ms);
    EXPECT_LT(run.took, 4000ms);
    ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("no instrument answered on ") + instrument.device()));
    EXPECT_TRUE(run.out.isEmpty());

    // A round is five identical connect requests about 300 ms apart.
    const std::vector<LoggedRequest> heard = instrument.requests();
    ASSERT_GE(heard.size(), 5u);
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(heard[i].frame, heard[0].frame);
        EXPECT_EQ(heard[i].name(), "C1");
        const long gap = heard[i].millis - heard[i - 1].millis;
        EXPECT_GE(gap, 250) << i;
        EXPECT_LE(gap, 600) << i;
    }
}

// --timeout-s bounds the search only: an instrument that answers the
// connect request in time, but slowly, is read to the end.
TEST_F(Ctl, SearchBoundEndsOnceTheInstrumentAnswers)
{
    // Every answer misses its attempt, so each read needs two; connect
    // request, identity, clock and value take well over the one second.
    SimProcess instrument(Words("--late=always --late_ms=450"));
    const CtlRun run = onPort(instrument, "--timeout-s 1 info");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_GT(run.took, 1500ms) << "the slow reads this test needs did not happen";
    ExpectContains(run.out, {"Instrument time:"});
}

// Without the identity the software version is unknown: the commands that
// depend on it say why they stop (the error report, or no answer) with its
// exit code, instead of calling the log missing at "software version 0.00",
// and write nothing, to the instrument or to a file.
TEST_F(Ctl, CommandsNeedingTheVersionStopWhenTheIdentityWasNotRead)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("export.csv"));
    const QList<QStringList> commands{{"events", "--out", file}, {"datalog", "--out", file},
                                      Words("clear events --yes"), Words("clear datalog --yes")};
    struct Fault {
        const char *option;
        int exitCode;
        const char *says;
    };
    for (const Fault &fault : {Fault{"--error_report=always", kExitInstrumentError, "object 2 with an error report"},
                               Fault{"--no_answer=always", kExitNoInstrument, "stopped answering"}}) {
        SimProcess instrument({fault.option, "--fault_objects=2"});
        for (const QStringList &command : commands) {
            const std::string name = fault.option + (" " + command.join(QLatin1Char(' '))).toStdString();
            const CtlRun run = ctl(QStringList{"--port", instrument.device()} + command);
            EXPECT_EQ(run.exitCode, fault.exitCode) << name << ": " << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QString::fromUtf8(fault.says))) << name << ": " << run.err.toStdString();
            EXPECT_FALSE(run.err.contains(QStringLiteral("not available"))) << name;
            EXPECT_FALSE(QFile::exists(file)) << name;
        }
        for (const std::string &request : instrument.requestNames())
            EXPECT_TRUE(request[0] != 'W' || request == "C1") << request;
    }
}

TEST_F(Ctl, GetReportsTheTabsTheSoftwareVersionHides)
{
    struct Case {
        int version;
        bool eventProperties;
        bool datalogging;
    };
    for (const Case c : {Case{209, false, false}, Case{210, true, false}, Case{211, true, true}}) {
        SCOPED_TRACE(c.version);
        SimProcess instrument({QStringLiteral("--software=%1").arg(c.version)});
        const CtlRun run = onPort(instrument, "--json get");
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        // Data safety is an option from 2.20 on: below it there is no value.
        ExpectJson(JsonOf(run.out), {{"eventProperties.available", c.eventProperties},
                                     {"datalogging.available", c.datalogging}, {"hardware.dataSafety", QJsonValue()}});
        // Hidden tabs are not read at all.
        const Names heard = instrument.requestNames();
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "R35"), c.eventProperties || c.datalogging ? 1 : 0);
    }
    SimProcess old({QStringLiteral("--software=209")});
    ExpectContains(onPort(old, "get").out, {"Datalogging\n  not available: software version 2.09 hides this tab"});
}

TEST_F(Ctl, ErrorReportOfTheInstrumentExitsWithFive)
{
    SimProcess instrument(Words("--error_report=always --fault_objects=2"));
    const CtlRun run = onPort(instrument, "info");
    EXPECT_EQ(run.exitCode, kExitInstrumentError);
    ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("object 2 with an error report")));
    // What did arrive is still shown.
    EXPECT_TRUE(run.out.contains(QStringLiteral("Instrument time:")));
}

TEST_F(Ctl, PortThatCannotBeOpenedExitsWithFour)
{
    const CtlRun run = ctl("--port /dev/no-such-port info");
    EXPECT_EQ(run.exitCode, kExitPortUnavailable);
    EXPECT_EQ(run.errLines().size(), 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("/dev/no-such-port")));
}

TEST_F(Ctl, CtrlCCancelsTheSearch)
{
    SimProcess instrument({QStringLiteral("--no_answer=always")});
    QProcess process;
    process.setProcessEnvironment(CtlEnvironment(config_.path()));
    process.start(CtlProgram(), QStringList{"--port", instrument.device()} + Words("--timeout-s 0 info"));
    ASSERT_TRUE(process.waitForStarted());
    // Interrupt once the search is under way.
    for (int wait = 0; wait < 100 && instrument.requests().empty(); ++wait)
        std::this_thread::sleep_for(50ms);
    ASSERT_FALSE(instrument.requests().empty());
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(2000));
    EXPECT_EQ(process.exitCode(), kExitInterrupted);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()), QStringLiteral("r310ctl: interrupted\n"));
    // The port was closed: the instrument hears nothing more.
    const std::size_t heard = instrument.requests().size();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(instrument.requests().size(), heard);
}

TEST_F(Ctl, PortsMarksTheRememberedPort)
{
    const CtlRun first = ctl("ports --json");
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const QJsonArray ports = JsonOf(first.out).value(QStringLiteral("ports")).toArray();
    // Remember the first port the system has, or one it does not have.
    const QString remembered = ports.isEmpty() ? QStringLiteral("ttyGONE")
                                               : ports.at(0).toObject().value(QStringLiteral("name")).toString();
    QDir(config_.path()).mkpath(QStringLiteral("Vyk"));
    QFile settings(config_.filePath(QStringLiteral("Vyk/Lumo.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nPort=" + remembered.toUtf8() + "\n");
    settings.close();

    const QJsonObject listed = JsonOf(ctl("ports --json").out);
    EXPECT_EQ(listed.value(QStringLiteral("rememberedPort")).toString(), remembered);
    const CtlRun text = ctl("ports");
    if (ports.isEmpty()) {
        ExpectContains(text.out, {"No serial ports found.", "Remembered port ttyGONE is not present."});
    } else {
        ExpectJson(listed, {{"ports.0.remembered", true}, {"ports.0.preselected", true}});
        EXPECT_TRUE(text.out.startsWith(QStringLiteral("* ") + remembered)) << text.out.toStdString();
    }
}

TEST_F(Ctl, MissingGasTableLibraryStopsAtStart)
{
    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(QStringLiteral("r310ctl"));
    ASSERT_TRUE(QFile::copy(CtlProgram(), copy));
    QProcessEnvironment environment = CtlEnvironment(config_.path());
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    const CtlRun run = RunProgram(copy, Words("--demo info"), environment);
    EXPECT_EQ(run.exitCode, kExitGasTableMissing);
    EXPECT_EQ(run.errLines().size(), 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("KALTEX32"))) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    // Help and the port list need no gas table.
    EXPECT_EQ(RunProgram(copy, {QStringLiteral("--help")}, environment).exitCode, 0);
    EXPECT_EQ(RunProgram(copy, {QStringLiteral("ports")}, environment).exitCode, 0);
}

TEST_F(Ctl, InstrumentTextShowsItsControlCharacters)
{
    // A customer ID of escape sequences, a backslash text that looks like
    // one, a line break, DEL and the C1 control CSI.
    QTemporaryDir folder;
    const QString scenario = folder.filePath(QStringLiteral("hostile.txt"));
    QFile file(scenario);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(customer_id = "\x1b[J\\x1b\x0a\x7f\x9b")" "\n");
    file.close();

    SimProcess instrument({QStringLiteral("--scenario"), scenario});
    ASSERT_FALSE(instrument.device().isEmpty());
    const CtlRun text = onPort(instrument, "info");
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    ExpectContains(text.out, {R"(Customer ID:       \x1b[J\\x1b\x0a\x7f\x9b)" "\n"});
    ExpectNoControlCharacters(text.out, "in text");

    // JSON carries the text itself, its control characters escaped by JSON.
    const CtlRun json = onPort(instrument, "--json info");
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    EXPECT_EQ(JsonAt(JsonOf(json.out), QStringLiteral("identity.customerId")).toString(),
              QString::fromLatin1("\x1b[J\\x1b\n\x7f\x9b"));
    ExpectNoControlCharacters(json.out, "in JSON");
}

namespace {

// Ways standard output fails under r310ctl.
enum class BrokenOutput {
    FullDisk,               // /dev/full
    Closed,                 // started with standard output closed
    ReaderGone,             // a pipe whose reader has ended
    ReaderGoneSigpipeIgnored,
};

CtlRun RunWithBrokenOutput(const char *words, BrokenOutput output, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    int pipeEnds[2] = {-1, -1};
    if (output == BrokenOutput::FullDisk) {
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    } else if (output == BrokenOutput::Closed) {
        process.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
    } else {
        EXPECT_EQ(::pipe(pipeEnds), 0);
        ::close(pipeEnds[0]); // the reader is gone before anything is written
        const int writeEnd = pipeEnds[1];
        const bool ignore = output == BrokenOutput::ReaderGoneSigpipeIgnored;
        process.setChildProcessModifier([writeEnd, ignore] {
            if (ignore)
                ::signal(SIGPIPE, SIG_IGN);
            ::dup2(writeEnd, STDOUT_FILENO);
        });
    }
    process.start(CtlProgram(), Words(words));
    if (pipeEnds[1] >= 0)
        ::close(pipeEnds[1]);
    CtlRun run;
    run.finished = process.waitForFinished(30000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(3000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

TEST_F(Ctl, OutputThatCannotBeWrittenIsAFailureSaidOnce)
{
    struct Case {
        const char *arguments;
        BrokenOutput output;
        int error;
    };
    const Case cases[] = {
        {"--demo get", BrokenOutput::FullDisk, ENOSPC},
        {"--json ports", BrokenOutput::FullDisk, ENOSPC},
        {"--help", BrokenOutput::FullDisk, ENOSPC},
        {"--demo info", BrokenOutput::Closed, EBADF},
        {"--demo --json get", BrokenOutput::ReaderGoneSigpipeIgnored, EPIPE},
    };
    const QProcessEnvironment environment = CtlEnvironment(config_.path());
    for (const Case &c : cases) {
        const CtlRun run = RunWithBrokenOutput(c.arguments, c.output, environment);
        ASSERT_TRUE(run.finished) << c.arguments;
        EXPECT_EQ(run.exitCode, 1) << c.arguments;
        EXPECT_EQ(run.err, QStringLiteral("r310ctl: cannot write to standard output: %1\n")
                               .arg(QString::fromLocal8Bit(std::strerror(c.error))))
            << c.arguments;
    }

    // As any tool in a pipeline, r310ctl ends by SIGPIPE when its reader has gone.
    const CtlRun piped = RunWithBrokenOutput("--demo get", BrokenOutput::ReaderGone, environment);
    ASSERT_TRUE(piped.finished);
    EXPECT_EQ(piped.exitCode, -1) << "ended normally with " << piped.exitCode;

    // A command that failed and wrote nothing keeps its own code and message.
    const CtlRun failed = RunWithBrokenOutput("--port /dev/no-such-port info", BrokenOutput::FullDisk, environment);
    EXPECT_EQ(failed.exitCode, kExitPortUnavailable);
    ASSERT_EQ(failed.errLines().size(), 1) << failed.err.toStdString();
    EXPECT_TRUE(failed.err.contains(QStringLiteral("/dev/no-such-port")));
}

TEST(SimProgramScenario, PrintedScenarioReadsBackAndUnreadableOnesAreRefused)
{
    EnsureApplication();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QProcessEnvironment environment = CtlEnvironment(folder.path());
    const QString customerId = QStringLiteral("--customer_id=") + QString::fromLatin1(" #=\"\\\x1b\n ");
    const CtlRun printed =
        RunProgram(SimProgram(), QStringList{customerId} + Words("--no_answer=1e-5% --print-scenario"), environment);
    ASSERT_EQ(printed.exitCode, 0) << printed.err.toStdString();
    ExpectContains(printed.out, {R"(customer_id = " #=\"\\\x1b\x0a ")" "\n", "no_answer = 1.0000000000000001e-07\n"});

    const QString path = folder.filePath(QStringLiteral("printed.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(printed.out.toUtf8());
    file.close();
    const CtlRun again = RunProgram(SimProgram(), {"--scenario", path, "--print-scenario"}, environment);
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, printed.out);

    // Refused before serving: no device path, a reason, a usage exit code.
    for (const QString &unreadable : {folder.path(), folder.filePath(QStringLiteral("missing.txt"))}) {
        const CtlRun refused = RunProgram(SimProgram(), {"--scenario", unreadable}, environment, 10s);
        ASSERT_TRUE(refused.finished) << unreadable.toStdString();
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("r310sim: cannot read scenario file ") + unreadable + ": "))
            << refused.err.toStdString();
    }
}
