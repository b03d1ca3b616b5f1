// r310ctl events and clear events, in German regional settings: in-process
// on a simulated instrument with known events (the file's bytes, an empty
// log, events that cannot be read, a line that goes away, a file that cannot
// be written, clearing with and without --yes and --max), and as a program
// interrupted by Ctrl+C in the middle of a download.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include "CtlBench.h"
#include "TestApplication.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace r310;
using namespace std::chrono_literals;

namespace {

using r310test::KnownEvents;
using r310test::ReadAll;
using r310test::Entries;
using clitest::ExpectContains;

const QByteArray kHeader = "No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK\r\n";
const QByteArray kAlarmLine = "0;24.12.2008 13:45:10;A1 ON;20,0;5,5;1,2;ppm CO;85%; ;\r\n";
const QByteArray kDeviceLine = "1;24.12.2008 14:00:00;Dev-OFF; ; ; ; ;80%;001-23 4711;\r\n";
const QByteArray kOddLine = "2;25.12.2008 08:00:01;\r\n";

// r310ctl in-process on the built-in instrument's place: a simulated R310
// holding the given events, whose requests are recorded.
struct Instrument {
    sim::Scenario scenario = r310test::FastInstrument(221);
    std::optional<std::vector<sim::EventRecord>> events = KnownEvents();
};

class Ctl {
public:
    explicit Ctl(const Instrument &instrument = Instrument()) : bench_(instrument.scenario)
    {
        bench_.events = instrument.events;
    }

    // In the regional settings of the test program.
    int Run(QStringList arguments)
    {
        const clitest::CtlResult result = bench_.Run(std::move(arguments), QLocale());
        output += result.out;
        errors += result.err;
        return result.code;
    }
    int Run(const char *words) { return Run(clitest::Words(words)); }
    // `r310ctl events --out path`.
    int Export(const QString &path) { return Run({"events", "--out", path}); }

    // The requests of an object, with their payloads.
    std::vector<std::vector<std::uint8_t>> Requests(std::uint8_t object, bool writes) const
    {
        std::vector<std::vector<std::uint8_t>> found;
        for (const r310test::LineFrame &frame : bench_.line()) {
            if (frame.object == object && frame.write() == writes)
                found.push_back(frame.payload);
        }
        return found;
    }
    // The writes that cleared the log.
    std::vector<std::vector<std::uint8_t>> Clears() const { return Requests(kObjectEventProperties, true); }

    QString output;
    QString errors;

private:
    clitest::CtlBench bench_;
};

// A folder for the export, and the file in it.
struct ExportFolder {
    QTemporaryDir directory;
    QString path = directory.filePath(QStringLiteral("events.csv"));

    QStringList entries() const { return Entries(directory.path()); }
    // A file of an earlier export.
    void writeOld(const QByteArray &content) const
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(content);
    }
};

TEST(CtlEvents, WritesTheKnownEventsAsTheWindowDoes)
{
    const ExportFolder folder;
    Ctl ctl;
    EXPECT_EQ(ctl.Export(folder.path), cli::kExitOk) << ctl.errors.toStdString();
    EXPECT_EQ(ReadAll(folder.path), kHeader + kAlarmLine + kDeviceLine + kOddLine);
    EXPECT_EQ(folder.entries(), QStringList{"events.csv"});
    EXPECT_TRUE(ctl.output.isEmpty());
    // Events 1 to 3, in order.
    const auto reads = ctl.Requests(kObjectEventRecord, false);
    ASSERT_EQ(reads.size(), 3u);
    for (std::uint8_t n = 1; n <= 3; ++n)
        EXPECT_EQ(reads[n - 1u], (std::vector<std::uint8_t>{n, 0}));

    // Without --out the same bytes go to standard output.
    Ctl toOutput;
    EXPECT_EQ(toOutput.Run("events"), cli::kExitOk) << toOutput.errors.toStdString();
    EXPECT_EQ(toOutput.output.toLatin1(), kHeader + kAlarmLine + kDeviceLine + kOddLine);
}

TEST(CtlEvents, EmptyLogWritesNothing)
{
    const ExportFolder folder;
    Instrument empty;
    empty.events = std::vector<sim::EventRecord>{};
    Ctl ctl(empty);
    EXPECT_EQ(ctl.Export(folder.path), cli::kExitOk);
    EXPECT_TRUE(folder.entries().isEmpty());
    EXPECT_TRUE(ctl.Requests(kObjectEventRecord, false).empty());
    ExpectContains(ctl.errors, {"empty"});
}

TEST(CtlEvents, EventsThatCannotBeReadAreLeftOutNamedAndGiveAnExitCode)
{
    const ExportFolder folder;
    Instrument instrument;
    instrument.scenario.faults.errorReport.next = 1; // the first event read is refused
    instrument.scenario.faults.objects = {kObjectEventRecord};
    Ctl ctl(instrument);
    EXPECT_EQ(ctl.Export(folder.path), cli::kExitInstrumentError);
    EXPECT_EQ(ReadAll(folder.path), kHeader + kDeviceLine + kOddLine);
    ExpectContains(ctl.errors, {"1 of 3 events could not be read and is not in the file: No 0."});
}

TEST(CtlEvents, LineThatGoesAwayWritesNothingAndKeepsTheOldFile)
{
    const ExportFolder folder;
    folder.writeOld("yesterday's export\r\n");
    Instrument instrument;
    instrument.events.reset();
    instrument.scenario.events = 30;
    // The tab's reads (objects 35 and 36) and three events, then nothing.
    instrument.scenario.faults.lineDropAfter = 5;
    Ctl ctl(instrument);
    EXPECT_EQ(ctl.Export(folder.path), cli::kExitNoInstrument);
    ExpectContains(ctl.errors, {"stopped answering at event 5 of 30"});
    EXPECT_EQ(ReadAll(folder.path), QByteArray("yesterday's export\r\n"));
    EXPECT_EQ(folder.entries(), QStringList{"events.csv"});
}

TEST(CtlEvents, FileThatCannotBeWrittenExitsWith9)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("missing folder/events.csv"));
    Ctl ctl;
    EXPECT_EQ(ctl.Export(path), cli::kExitCannotWrite);
    EXPECT_TRUE(ctl.errors.contains(QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(path)))
        << ctl.errors.toStdString();
    EXPECT_TRUE(Entries(directory.path()).isEmpty());

    Ctl empty;
    EXPECT_EQ(empty.Export(QString()), cli::kExitUsage);
}

TEST(CtlClearEvents, SaysWhatItWouldDoWithoutYesAndSendsNothing)
{
    Ctl ctl;
    EXPECT_EQ(ctl.Run("clear events"), cli::kExitUsage);
    ExpectContains(ctl.errors, {"3 events stored", "--yes"});
    EXPECT_TRUE(ctl.Clears().empty());

    for (const char *wrong : {"clear", "clear everything", "clear events now"}) {
        Ctl refused;
        EXPECT_EQ(refused.Run(wrong), cli::kExitUsage) << wrong;
        EXPECT_TRUE(refused.Clears().empty());
    }
}

TEST(CtlClearEvents, MaximumIsCheckedBeforeAnythingIsSent)
{
    for (const QString max : {"0", "514", "65728", "x"}) {
        Ctl ctl;
        EXPECT_EQ(ctl.Run({"clear", "events", "--max", max, "--yes"}), cli::kExitUsage) << max.toStdString();
        EXPECT_TRUE(ctl.Clears().empty()) << max.toStdString();
    }

    Ctl ctl;
    EXPECT_EQ(ctl.Run("clear events --max 300 --yes"), cli::kExitOk) << ctl.errors.toStdString();
    const auto writes = ctl.Clears();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0, 0}));
    ExpectContains(ctl.output, {"Event Count:    0", "Max Events:     300"});

    // Without --max the instrument keeps its own maximum.
    Instrument instrument;
    instrument.scenario.maxEvents = 250;
    Ctl keeping(instrument);
    EXPECT_EQ(keeping.Run("clear events --yes"), cli::kExitOk);
    ASSERT_EQ(keeping.Clears().size(), 1u);
    EXPECT_EQ(keeping.Clears()[0][6], 250);
}

TEST(CtlClearEvents, Before211ItIsAlways192)
{
    Instrument older;
    older.scenario.softwareVersion = 210;
    Ctl refused(older);
    EXPECT_EQ(refused.Run("clear events --max 300 --yes"), cli::kExitUsage);
    EXPECT_TRUE(refused.Clears().empty());

    Ctl ctl(older);
    EXPECT_EQ(ctl.Run("clear events --yes"), cli::kExitOk) << ctl.errors.toStdString();
    const auto writes = ctl.Clears();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0][6], 192);
    EXPECT_EQ(writes[0][7], 0);
}

#ifdef Q_OS_UNIX
TEST(CtlEventsProgram, CtrlCInTheMiddleWritesNothing)
{
    r310test::SimulatorProcess simulator({"--software=221", "--events=300"});
    ASSERT_FALSE(simulator.device().isEmpty());
    const ExportFolder folder;
    QTemporaryDir configHome;
    folder.writeOld("last week's export\r\n");
    QProcess ctl;
    ctl.setProcessEnvironment(clitest::CtlEnvironment(configHome.path(), QStringLiteral("de_DE.UTF-8")));
    ctl.start(clitest::CtlProgram(), {"--port", simulator.device(), "events", "--out", folder.path});
    ASSERT_TRUE(ctl.waitForStarted());
    // Well into the download: 300 events at 9600 baud take about 12 s.
    ctl.waitForFinished(3000);
    ASSERT_EQ(ctl.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(ctl.processId()), SIGINT);
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_EQ(ctl.exitCode(), cli::kExitInterrupted) << ctl.readAllStandardError().toStdString();
    EXPECT_EQ(ReadAll(folder.path), QByteArray("last week's export\r\n"));
    EXPECT_EQ(folder.entries(), QStringList{"events.csv"});
}
#endif

} // namespace

int main(int argc, char **argv)
{
    // German regional settings for r310ctl, as a German technician has them.
    for (const char *name : {"LANG", "LANGUAGE", "LC_NUMERIC", "LC_TIME"})
        qunsetenv(name);
    qputenv("LC_ALL", "de_DE.UTF-8");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
