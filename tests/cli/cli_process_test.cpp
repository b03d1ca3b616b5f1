// r310ctl as a process: help, usage errors and exit codes, every command
// against the built-in demo instrument and against the simulator program on
// a pseudo-terminal, JSON output, regional settings, time-out and Ctrl+C.
#include "CliProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

class Ctl : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        ASSERT_TRUE(config_.isValid());
    }

    CtlRun ctl(const QStringList &arguments, const QString &locale = QStringLiteral("C"),
               std::chrono::milliseconds limit = 30s)
    {
        return RunProgram(CtlProgram(), arguments, CtlEnvironment(config_.path(), locale), limit);
    }

    static QJsonObject Json(const CtlRun &run)
    {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        return document.object();
    }

    QTemporaryDir config_;
};

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
const QStringList kExampleInstrument{
    QStringLiteral("--serial=1234"), QStringLiteral("--software=210"), QStringLiteral("--mk_type=12345"),
    QStringLiteral("--range_end=100"), QStringLiteral("--exponent=-1"), QStringLiteral("--value=12"),
    QStringLiteral("--value_swing=0")};

} // namespace

TEST_F(Ctl, HelpAtEveryLevel)
{
    const CtlRun overview = ctl({QStringLiteral("--help")});
    EXPECT_EQ(overview.exitCode, 0);
    for (const char *word : {"ports", "info", "get", "watch", "--demo", "--timeout-s", "--json", "Exit codes"})
        EXPECT_TRUE(overview.out.contains(QLatin1String(word))) << word;
    EXPECT_EQ(ctl({QStringLiteral("help")}).out, overview.out);

    for (const QString &command : {QStringLiteral("ports"), QStringLiteral("info"), QStringLiteral("get"),
                                   QStringLiteral("watch"), QStringLiteral("help")}) {
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
    const QList<QStringList> mistakes{
        {QStringLiteral("nosuch")},
        {QStringLiteral("--frobnicate"), QStringLiteral("info")},
        {QStringLiteral("--port"), QStringLiteral("ttyUSB0"), QStringLiteral("--demo"), QStringLiteral("info")},
        {QStringLiteral("--demo"), QStringLiteral("--timeout-s"), QStringLiteral("soon"), QStringLiteral("info")},
        {QStringLiteral("--demo"), QStringLiteral("--timeout-s"), QStringLiteral("-1"), QStringLiteral("info")},
        // Beyond what the search timer can count: it would end the search at once.
        {QStringLiteral("--demo"), QStringLiteral("--timeout-s"), QStringLiteral("4294968"), QStringLiteral("info")},
        {QStringLiteral("ports"), QStringLiteral("--samples"), QStringLiteral("3")},
        {QStringLiteral("--demo"), QStringLiteral("ports")},
        {QStringLiteral("--demo"), QStringLiteral("info"), QStringLiteral("extra")},
        {QStringLiteral("help"), QStringLiteral("nosuch")},
    };
    for (const QStringList &arguments : mistakes) {
        const CtlRun run = ctl(arguments);
        const std::string said = arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(run.exitCode, kExitUsage) << said;
        ASSERT_EQ(run.errLines().size(), 1) << said << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("r310ctl: "))) << said;
        EXPECT_TRUE(run.out.isEmpty()) << said;
    }
    // Nothing at all: the overview on standard error, and the usage code.
    const CtlRun bare = ctl({});
    EXPECT_EQ(bare.exitCode, kExitUsage);
    EXPECT_TRUE(bare.err.contains(QStringLiteral("Commands:")));
}

TEST_F(Ctl, DemoInfoReadsWell)
{
    const CtlRun run = ctl({QStringLiteral("--demo"), QStringLiteral("info")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());
    for (const char *line : {"Serial number:     00001234", "MK type:           103-01", "Software version:  2.21",
                             "Customer ID:       DEMO", "Battery check:     87", "Instrument time:", "PC time:"})
        EXPECT_TRUE(run.out.contains(QLatin1String(line))) << line << "\n" << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("Value: +-?\\d+ ppm CO\n")))) << run.out.toStdString();
}

TEST_F(Ctl, DemoJsonCarriesRawValuesUnitsAndTexts)
{
    const QJsonObject info = Json(ctl({QStringLiteral("--demo"), QStringLiteral("--json"), QStringLiteral("info")}));
    const QJsonObject identity = info.value(QStringLiteral("identity")).toObject();
    EXPECT_EQ(identity.value(QStringLiteral("serialNumber")).toInt(), 1234);
    EXPECT_EQ(identity.value(QStringLiteral("serialNumberText")).toString(), QStringLiteral("00001234"));
    EXPECT_EQ(identity.value(QStringLiteral("softwareVersion")).toInt(), 221);
    EXPECT_EQ(identity.value(QStringLiteral("mkTypeText")).toString(), QStringLiteral("103-01"));
    const QJsonObject value = info.value(QStringLiteral("value")).toObject();
    EXPECT_EQ(value.value(QStringLiteral("unit")).toString(), QStringLiteral("ppm"));
    EXPECT_EQ(value.value(QStringLiteral("gas")).toString(), QStringLiteral("CO"));
    EXPECT_EQ(value.value(QStringLiteral("text")).toString(), QString::number(value.value(QStringLiteral("value")).toDouble()));
    const QJsonObject clock = info.value(QStringLiteral("clock")).toObject();
    EXPECT_EQ(clock.value(QStringLiteral("writes")).toInt(), 0);
    EXPECT_LE(std::abs(clock.value(QStringLiteral("differenceSeconds")).toInt()), 5);

    const QJsonObject get = Json(ctl({QStringLiteral("--demo"), QStringLiteral("get"), QStringLiteral("--json")}));
    const QJsonObject range = get.value(QStringLiteral("range")).toObject();
    EXPECT_EQ(range.value(QStringLiteral("rangeEnd")).toInt(), 500);
    EXPECT_EQ(range.value(QStringLiteral("gasText")).toString(), QStringLiteral("ppm CO"));
    const QJsonArray alarms = range.value(QStringLiteral("alarms")).toArray();
    ASSERT_EQ(alarms.size(), 5);
    EXPECT_EQ(alarms.at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("A1"));
    EXPECT_EQ(alarms.at(0).toObject().value(QStringLiteral("raw")).toInt(), 30);
    EXPECT_TRUE(alarms.at(0).toObject().value(QStringLiteral("hornMayBeSilenced")).toBool());
    EXPECT_EQ(get.value(QStringLiteral("signals")).toObject().value(QStringLiteral("bleepIntervalSeconds")).toInt(), 30);
    EXPECT_EQ(get.value(QStringLiteral("hardware")).toObject().value(QStringLiteral("zeroPoint")).toInt(), 1305);
    for (const char *tab : {"eventProperties", "datalogging"}) {
        const QJsonObject log = get.value(QLatin1String(tab)).toObject();
        EXPECT_TRUE(log.value(QStringLiteral("available")).toBool()) << tab;
        const QJsonArray objects = log.value(QStringLiteral("objects")).toArray();
        ASSERT_EQ(objects.size(), 2) << tab;
        EXPECT_EQ(objects.at(0).toObject().value(QStringLiteral("object")).toInt(), 35);
        EXPECT_EQ(objects.at(1).toObject().value(QStringLiteral("object")).toInt(), 36);
        EXPECT_FALSE(objects.at(1).toObject().value(QStringLiteral("payload")).toString().isEmpty());
    }
}

TEST_F(Ctl, DemoGetShowsEveryTabInTheRegionalSettings)
{
    const CtlRun german = ctl({QStringLiteral("--demo"), QStringLiteral("get")}, QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(german.exitCode, 0) << german.err.toStdString();
    for (const char *text : {"Range\n", "Signals\n", "Hardware\n", "Event properties\n", "Datalogging\n",
                             "U-ZP:", "0,52 mV", "Reference Voltage:", "1899,5 mV", "Gain:", "7,50", "Beep:",
                             "30 Sec.", "Event Count:", "DL Intervall:"})
        EXPECT_TRUE(german.out.contains(QLatin1String(text))) << text << "\n" << german.out.toStdString();
    const CtlRun english = ctl({QStringLiteral("--demo"), QStringLiteral("get")}, QStringLiteral("en_US.UTF-8"));
    EXPECT_TRUE(english.out.contains(QStringLiteral("0.52 mV")));
    EXPECT_TRUE(english.out.contains(QStringLiteral("1899.5 mV")));
}

TEST_F(Ctl, DemoWatchShowsAReadingAboutOnceASecond)
{
    const CtlRun run = ctl({QStringLiteral("--demo"), QStringLiteral("watch"), QStringLiteral("--samples"), QStringLiteral("3")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = run.outLines();
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString(); // a heading and three readings
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(lines.at(i).endsWith(QStringLiteral(" ppm CO"))) << lines.at(i).toStdString();
    // The second and third readings wait for the poll period each.
    EXPECT_GE(run.took, 1800ms);

    const CtlRun json = ctl({QStringLiteral("--demo"), QStringLiteral("watch"), QStringLiteral("--samples=1"),
                             QStringLiteral("--json")});
    ASSERT_EQ(json.exitCode, 0);
    const QJsonObject reading = QJsonDocument::fromJson(json.out.trimmed().toUtf8()).object();
    EXPECT_EQ(reading.value(QStringLiteral("value")).toObject().value(QStringLiteral("unit")).toString(),
              QStringLiteral("ppm"));
    EXPECT_TRUE(reading.value(QStringLiteral("clock")).toObject().contains(QStringLiteral("instrumentSeconds")));
}

TEST_F(Ctl, InfoOnAPseudoTerminalSendsTheConnectOrderAndShowsTheExampleValues)
{
    for (const QString &locale : {QStringLiteral("de_DE.UTF-8"), QStringLiteral("en_GB.UTF-8")}) {
        SimProcess instrument(kExampleInstrument);
        ASSERT_FALSE(instrument.device().isEmpty());
        const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("info")}, locale);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        // Connect until answered, connect, identity, clock, value; then the
        // range of the tab in front and the value again, now with its scale.
        EXPECT_EQ(instrument.requestNames(), (Names{"C1", "C1", "R2", "R3", "R7", "R4", "R7"}));
        const QString decimal = locale.startsWith(QLatin1String("de")) ? QStringLiteral("1,2") : QStringLiteral("1.2");
        for (const QString &text : {QStringLiteral("00001234"), QStringLiteral("2.10"), QStringLiteral("123-45"),
                                    QStringLiteral("Value:             ") + decimal + QLatin1Char(' ')})
            EXPECT_TRUE(run.out.contains(text)) << text.toStdString() << "\n" << run.out.toStdString();
    }
}

TEST_F(Ctl, ClockIsWrittenOnlyWhenMoreThanFiveSecondsOff)
{
    // The simulator counts whole seconds and we round: offsets at the edge
    // (6, -5) may read one second nearer, so the cases keep a second apart.
    for (const int offset : {5, -4, 0}) {
        SimProcess instrument({QStringLiteral("--clock_offset=%1").arg(offset)});
        const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("info")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const Names heard = instrument.requestNames();
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "W3"), 0) << "offset " << offset;
        EXPECT_FALSE(run.out.contains(QStringLiteral("Clock:")));
    }
    for (const int offset : {7, -6, 86400}) {
        SimProcess instrument({QStringLiteral("--clock_offset=%1").arg(offset)});
        const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("info")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(instrument.requestNames(), (Names{"C1", "C1", "R2", "R3", "W3", "R3", "R7", "R4", "R7"}))
            << "offset " << offset;
        EXPECT_TRUE(run.out.contains(QStringLiteral("Clock:             set from the PC's time")));
    }
}

TEST_F(Ctl, SilentInstrumentGivesUpWithinTheBound)
{
    SimProcess instrument({QStringLiteral("--no_answer=always")});
    const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("--timeout-s"),
                            QStringLiteral("2"), QStringLiteral("info")});
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
    SimProcess instrument({QStringLiteral("--late=always"), QStringLiteral("--late_ms=450")});
    const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("--timeout-s"),
                            QStringLiteral("1"), QStringLiteral("info")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_GT(run.took, 1500ms) << "the slow reads this test needs did not happen";
    EXPECT_TRUE(run.out.contains(QStringLiteral("Instrument time:"))) << run.out.toStdString();
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
    const QList<QStringList> commands{
        {QStringLiteral("events"), QStringLiteral("--out"), file},
        {QStringLiteral("datalog"), QStringLiteral("--out"), file},
        {QStringLiteral("clear"), QStringLiteral("events"), QStringLiteral("--yes")},
        {QStringLiteral("clear"), QStringLiteral("datalog"), QStringLiteral("--yes")},
    };
    struct Fault {
        QString option;
        int exitCode;
        QString says;
    };
    for (const Fault &fault : {Fault{QStringLiteral("--error_report=always"), kExitInstrumentError,
                                     QStringLiteral("object 2 with an error report")},
                               Fault{QStringLiteral("--no_answer=always"), kExitNoInstrument,
                                     QStringLiteral("stopped answering")}}) {
        SimProcess instrument({fault.option, QStringLiteral("--fault_objects=2")});
        for (const QStringList &command : commands) {
            const QString name = fault.option + QLatin1Char(' ') + command.join(QLatin1Char(' '));
            const CtlRun run = ctl(QStringList{QStringLiteral("--port"), instrument.device()} + command);
            EXPECT_EQ(run.exitCode, fault.exitCode) << name.toStdString() << ": " << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(fault.says)) << name.toStdString() << ": " << run.err.toStdString();
            EXPECT_FALSE(run.err.contains(QStringLiteral("not available"))) << name.toStdString();
            EXPECT_FALSE(QFile::exists(file)) << name.toStdString();
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
        SimProcess instrument({QStringLiteral("--software=%1").arg(c.version)});
        const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("--json"), QStringLiteral("get")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonObject get = Json(run);
        EXPECT_EQ(get.value(QStringLiteral("eventProperties")).toObject().value(QStringLiteral("available")).toBool(),
                  c.eventProperties) << c.version;
        EXPECT_EQ(get.value(QStringLiteral("datalogging")).toObject().value(QStringLiteral("available")).toBool(),
                  c.datalogging) << c.version;
        // Data safety is an option from 2.20 on: below it there is no value.
        EXPECT_TRUE(get.value(QStringLiteral("hardware")).toObject().value(QStringLiteral("dataSafety")).isNull());
        // Hidden tabs are not read at all.
        const Names heard = instrument.requestNames();
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "R35"), c.eventProperties || c.datalogging ? 1 : 0);
    }
    SimProcess old({QStringLiteral("--software=209")});
    const CtlRun text = ctl({QStringLiteral("--port"), old.device(), QStringLiteral("get")});
    EXPECT_TRUE(text.out.contains(QStringLiteral("Datalogging\n  not available: software version 2.09 hides this tab")))
        << text.out.toStdString();
}

TEST_F(Ctl, ErrorReportOfTheInstrumentExitsWithFive)
{
    SimProcess instrument({QStringLiteral("--error_report=always"), QStringLiteral("--fault_objects=2")});
    const CtlRun run = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("info")});
    EXPECT_EQ(run.exitCode, kExitInstrumentError);
    ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("object 2 with an error report")));
    // What did arrive is still shown.
    EXPECT_TRUE(run.out.contains(QStringLiteral("Instrument time:")));
}

TEST_F(Ctl, PortThatCannotBeOpenedExitsWithFour)
{
    const CtlRun run = ctl({QStringLiteral("--port"), QStringLiteral("/dev/no-such-port"), QStringLiteral("info")});
    EXPECT_EQ(run.exitCode, kExitPortUnavailable);
    EXPECT_EQ(run.errLines().size(), 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("/dev/no-such-port")));
}

TEST_F(Ctl, CtrlCCancelsTheSearch)
{
    SimProcess instrument({QStringLiteral("--no_answer=always")});
    QProcess process;
    process.setProcessEnvironment(CtlEnvironment(config_.path()));
    process.start(CtlProgram(), {QStringLiteral("--port"), instrument.device(), QStringLiteral("--timeout-s"),
                                 QStringLiteral("0"), QStringLiteral("info")});
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
    const CtlRun first = ctl({QStringLiteral("ports"), QStringLiteral("--json")});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const QJsonArray ports = Json(first).value(QStringLiteral("ports")).toArray();
    // Remember the first port the system has, or one it does not have.
    const QString remembered = ports.isEmpty() ? QStringLiteral("ttyGONE")
                                               : ports.at(0).toObject().value(QStringLiteral("name")).toString();
    QDir(config_.path()).mkpath(QStringLiteral("Vyk"));
    QFile settings(config_.filePath(QStringLiteral("Vyk/Lumo.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nPort=" + remembered.toUtf8() + "\n");
    settings.close();

    const QJsonObject listed = Json(ctl({QStringLiteral("ports"), QStringLiteral("--json")}));
    EXPECT_EQ(listed.value(QStringLiteral("rememberedPort")).toString(), remembered);
    const CtlRun text = ctl({QStringLiteral("ports")});
    if (ports.isEmpty()) {
        EXPECT_TRUE(text.out.contains(QStringLiteral("No serial ports found.")));
        EXPECT_TRUE(text.out.contains(QStringLiteral("Remembered port ttyGONE is not present.")));
    } else {
        const QJsonObject entry = listed.value(QStringLiteral("ports")).toArray().at(0).toObject();
        EXPECT_TRUE(entry.value(QStringLiteral("remembered")).toBool());
        EXPECT_TRUE(entry.value(QStringLiteral("preselected")).toBool());
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
    const CtlRun run = RunProgram(copy, {QStringLiteral("--demo"), QStringLiteral("info")}, environment);
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
    const QString customerId = QString::fromLatin1("\x1b[J\\x1b\n\x7f\x9b");

    SimProcess instrument({QStringLiteral("--scenario"), scenario});
    ASSERT_FALSE(instrument.device().isEmpty());
    const CtlRun text = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("info")});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral(R"(Customer ID:       \x1b[J\\x1b\x0a\x7f\x9b)" "\n")))
        << text.out.toStdString();
    ExpectNoControlCharacters(text.out, "in text");

    // JSON carries the text itself, its control characters escaped by JSON.
    const CtlRun json = ctl({QStringLiteral("--port"), instrument.device(), QStringLiteral("--json"), QStringLiteral("info")});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    EXPECT_EQ(Json(json).value(QStringLiteral("identity")).toObject().value(QStringLiteral("customerId")).toString(),
              customerId);
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

CtlRun RunWithBrokenOutput(const QStringList &arguments, BrokenOutput output, const QProcessEnvironment &environment)
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
    process.start(CtlProgram(), arguments);
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
        QStringList arguments;
        BrokenOutput output;
        int error;
    };
    const Case cases[] = {
        {{QStringLiteral("--demo"), QStringLiteral("get")}, BrokenOutput::FullDisk, ENOSPC},
        {{QStringLiteral("--json"), QStringLiteral("ports")}, BrokenOutput::FullDisk, ENOSPC},
        {{QStringLiteral("--help")}, BrokenOutput::FullDisk, ENOSPC},
        {{QStringLiteral("--demo"), QStringLiteral("info")}, BrokenOutput::Closed, EBADF},
        {{QStringLiteral("--demo"), QStringLiteral("--json"), QStringLiteral("get")},
         BrokenOutput::ReaderGoneSigpipeIgnored, EPIPE},
    };
    for (const Case &c : cases) {
        const CtlRun run = RunWithBrokenOutput(c.arguments, c.output, CtlEnvironment(config_.path()));
        const std::string said = c.arguments.join(QLatin1Char(' ')).toStdString();
        ASSERT_TRUE(run.finished) << said;
        EXPECT_EQ(run.exitCode, 1) << said;
        EXPECT_EQ(run.err, QStringLiteral("r310ctl: cannot write to standard output: %1\n")
                               .arg(QString::fromLocal8Bit(std::strerror(c.error))))
            << said;
    }

    // As any tool in a pipeline, r310ctl ends by SIGPIPE when its reader has gone.
    const CtlRun piped = RunWithBrokenOutput({QStringLiteral("--demo"), QStringLiteral("get")},
                                             BrokenOutput::ReaderGone, CtlEnvironment(config_.path()));
    ASSERT_TRUE(piped.finished);
    EXPECT_EQ(piped.exitCode, -1) << "ended normally with " << piped.exitCode;

    // A command that failed and wrote nothing keeps its own code and message.
    const CtlRun failed = RunWithBrokenOutput({QStringLiteral("--port"), QStringLiteral("/dev/no-such-port"),
                                               QStringLiteral("info")},
                                              BrokenOutput::FullDisk, CtlEnvironment(config_.path()));
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
    const CtlRun printed = RunProgram(SimProgram(),
                                      {QString::fromLatin1(" #=\"\\\x1b\n ").prepend(QStringLiteral("--customer_id=")),
                                       QStringLiteral("--no_answer=1e-5%"), QStringLiteral("--print-scenario")},
                                      environment);
    ASSERT_EQ(printed.exitCode, 0) << printed.err.toStdString();
    EXPECT_TRUE(printed.out.contains(QStringLiteral(R"(customer_id = " #=\"\\\x1b\x0a ")" "\n")))
        << printed.out.toStdString();
    EXPECT_TRUE(printed.out.contains(QStringLiteral("no_answer = 1.0000000000000001e-07\n"))) << printed.out.toStdString();

    const QString path = folder.filePath(QStringLiteral("printed.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(printed.out.toUtf8());
    file.close();
    const CtlRun again = RunProgram(SimProgram(), {QStringLiteral("--scenario"), path, QStringLiteral("--print-scenario")},
                                    environment);
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, printed.out);

    // Refused before serving: no device path, a reason, a usage exit code.
    for (const QString &unreadable : {folder.path(), folder.filePath(QStringLiteral("missing.txt"))}) {
        const CtlRun refused = RunProgram(SimProgram(), {QStringLiteral("--scenario"), unreadable}, environment, 10s);
        ASSERT_TRUE(refused.finished) << unreadable.toStdString();
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("r310sim: cannot read scenario file ") + unreadable + ": "))
            << refused.err.toStdString();
    }
}
