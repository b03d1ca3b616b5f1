// r310ctl datalog, clear datalog and set logger-interval as a process,
// against the simulator program on a pseudo-terminal: the export file in
// German and English regional settings, standard output, the exit codes of a
// file that cannot be written, a lost instrument and Ctrl+C (each leaving an
// existing file as it was and nothing beside it), and what the two commands
// send.
#include "CliProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <thread>

#include <unistd.h>

using namespace clitest;
using namespace std::chrono_literals;
using r310test::ReadAll;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoInstrument = 3;
constexpr int kExitCannotWriteFile = 9;
constexpr int kExitInterrupted = 130;

// Blocks of every kind: two sets each, a short block (12 samples), an hour
// without logging, a gas peak, three sets, a block that may not be read, and
// values with one decimal.
const QStringList kKnownLogger =
    Words("--software=221 --logger-blocks=6 --logger-sets=2 --exponent=-1 --block2=samples=12 --block3=alarm=yes "
          "--block4=gap=3600")
    + QStringList{QStringLiteral("--block5=sets=3 alarm=yes"), QStringLiteral("--block6=state=3")};

// Sample lines: 2x15, 2x12, 2x15, 2x15, 3x15, none.
constexpr int kKnownSampleLines = 30 + 24 + 30 + 30 + 45;

class CtlDatalog : public CtlProgramTest {
protected:
    void SetUp() override
    {
        CtlProgramTest::SetUp();
        ASSERT_TRUE(files_.isValid());
    }

    QString file(const QString &name) const { return files_.filePath(name); }

    QStringList entries() const { return r310test::Entries(files_.path()); }

    void WriteOldFile(const QString &path)
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(kOldContent);
    }

    static std::vector<std::string> Heard(SimProcess &instrument, int object)
    {
        std::vector<std::string> names;
        for (const LoggedRequest &request : instrument.requests()) {
            if (request.object() == object)
                names.push_back(request.name());
        }
        return names;
    }

    static constexpr const char *kOldContent = "yesterday's download\r\n";
    QTemporaryDir files_;
};

// The lines of an export file, each checked to end in CR LF.
QStringList Lines(const QByteArray &bytes)
{
    QStringList lines;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        lines.append(QString::fromLatin1(line.chopped(1)));
    }
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    return lines;
}

// Where the separator lines stand.
std::vector<int> SeparatorPositions(const QStringList &lines)
{
    std::vector<int> positions;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i] == QLatin1String(" ; ; ; ;"))
            positions.push_back(i);
    }
    return positions;
}

} // namespace

TEST_F(CtlDatalog, TheFileInGermanAndEnglishRegionalSettings)
{
    SimProcess instrument(kKnownLogger);
    ASSERT_FALSE(instrument.device().isEmpty());

    const CtlRun german = onPort(instrument, "datalog --out", {file("de.csv")}, QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(german.exitCode, 0) << german.err.toStdString();
    // Not a terminal: no progress lines.
    EXPECT_FALSE(german.err.contains(u'\r')) << german.err.toStdString();
    const QByteArray germanBytes = ReadAll(file("de.csv"));
    EXPECT_FALSE(germanBytes.startsWith("\xef\xbb\xbf"));
    const QStringList de = Lines(germanBytes);
    ASSERT_EQ(de.size(), 1 + kKnownSampleLines + 2);
    EXPECT_EQ(de.front(), QStringLiteral("Date/Time;Value;Gas;Alarm;"));
    // A section after the short block 2 and one after the hour without logging.
    EXPECT_EQ(SeparatorPositions(de), (std::vector<int>{1 + 30 + 24, 1 + 30 + 24 + 1 + 30}));
    const QRegularExpression germanLine(
        QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d;-?\\d+,\\d;ppm CO;( |ALARM);$"));
    int alarms = 0;
    for (const QString &line : de) {
        if (line == de.front() || line == QLatin1String(" ; ; ; ;"))
            continue;
        EXPECT_TRUE(germanLine.match(line).hasMatch()) << line.toStdString();
        alarms += line.endsWith(QLatin1String(";ALARM;")) ? 1 : 0;
    }
    EXPECT_GT(alarms, 0);
    // The sets of a block run over the same times, a minute apart.
    EXPECT_EQ(de[1].left(19), de[16].left(19));
    EXPECT_NE(de[1].left(19), de[2].left(19));

    const CtlRun english = onPort(instrument, "datalog --out", {file("en.csv")}, QStringLiteral("en_US.UTF-8"));
    ASSERT_EQ(english.exitCode, 0) << english.err.toStdString();
    const QStringList en = Lines(ReadAll(file("en.csv")));
    ASSERT_EQ(en.size(), de.size());
    EXPECT_EQ(SeparatorPositions(en), SeparatorPositions(de));
    const QRegularExpression englishLine(
        QStringLiteral("^\\d{1,2}/\\d{1,2}/\\d{4} \\d{1,2}:\\d\\d:\\d\\d\\W?[AP]M;-?\\d+\\.\\d;ppm CO;( |ALARM);$"));
    for (int i = 1; i < en.size(); ++i) {
        if (en[i] == QLatin1String(" ; ; ; ;"))
            continue;
        EXPECT_TRUE(englishLine.match(en[i]).hasMatch()) << en[i].toStdString();
        // The same value and alarm mark in both settings.
        EXPECT_EQ(en[i].section(u';', 1).replace(u'.', u','), de[i].section(u';', 1)) << i;
    }
}

TEST_F(CtlDatalog, WithoutOutTheBytesGoToStandardOutput)
{
    SimProcess instrument(kKnownLogger);
    const CtlRun toFile = onPort(instrument, "datalog --out", {file("logger.csv")});
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err.toStdString();
    const CtlRun toOutput = onPort(instrument, "datalog");
    ASSERT_EQ(toOutput.exitCode, 0) << toOutput.err.toStdString();
    EXPECT_EQ(toOutput.out.toLatin1(), ReadAll(file("logger.csv")));
}

TEST_F(CtlDatalog, AFileThatCannotBeWrittenExitsWithNine)
{
    SimProcess instrument(Words("--software=221 --logger-blocks=2"));
    const QString path = file("missing/logger.csv");
    const CtlRun run = onPort(instrument, "datalog --out", {path});
    EXPECT_EQ(run.exitCode, kExitCannotWriteFile);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("r310ctl: Cannot create file ") + path)) << run.err.toStdString();
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(CtlDatalog, ALostInstrumentExitsWithThreeAndLeavesTheOldFile)
{
    SimProcess instrument(Words("--software=221 --logger-blocks=20 --line-drop-after=9"));
    const QString path = file("logger.csv");
    WriteOldFile(path);
    const CtlRun run = onPort(instrument, "datalog --out", {path});
    EXPECT_EQ(run.exitCode, kExitNoInstrument);
    // 36, then blocks 1 to 4 with their set: block 5's header is the first lost.
    EXPECT_EQ(run.err, QStringLiteral("r310ctl: the instrument did not answer at block 5 of 20 on %1; nothing "
                                      "was written\n")
                           .arg(instrument.device()));
    EXPECT_EQ(ReadAll(path), QByteArray(kOldContent));
    EXPECT_EQ(entries(), QStringList{"logger.csv"});
}

TEST_F(CtlDatalog, CtrlCExitsWith130AndLeavesTheOldFile)
{
    SimProcess instrument(Words("--software=221 --logger-blocks=200 --logger-sets=4"));
    const QString path = file("logger.csv");
    WriteOldFile(path);
    QProcess process;
    process.setProcessEnvironment(CtlEnvironment(config_.path()));
    process.start(CtlProgram(), {"--port", instrument.device(), "datalog", "--out", path});
    ASSERT_TRUE(process.waitForStarted());
    // Interrupt in the middle of the download.
    for (int wait = 0; wait < 200 && Heard(instrument, 37).size() < 3; ++wait)
        std::this_thread::sleep_for(50ms);
    ASSERT_GE(Heard(instrument, 37).size(), 3u);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), kExitInterrupted);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()), QStringLiteral("r310ctl: interrupted\n"));
    EXPECT_EQ(ReadAll(path), QByteArray(kOldContent));
    EXPECT_EQ(entries(), QStringList{"logger.csv"});
}

// An empty logger and an instrument without one: the reason, and no file.
TEST_F(CtlDatalog, AnEmptyLoggerSaysNoDataAndAnInstrumentWithoutLoggerIsRefused)
{
    SimProcess empty(Words("--software=221 --logger-blocks=0"));
    const CtlRun run = onPort(empty, "datalog --out", {file("logger.csv")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, QStringLiteral("r310ctl: No Data (the data logger holds no block); nothing was written\n"));
    EXPECT_TRUE(entries().isEmpty());

    SimProcess old(Words("--software=210"));
    const CtlRun refused = onPort(old, "datalog --out", {file("logger.csv")});
    EXPECT_EQ(refused.exitCode, kExitFailure);
    EXPECT_EQ(refused.err, QStringLiteral("r310ctl: the data logger is not available: software version 2.10 has "
                                          "none (from 2.11 on)\n"));
    EXPECT_TRUE(Heard(old, 37).empty());
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(CtlDatalog, ClearDatalogAsksForYesThenErases)
{
    SimProcess instrument(Words("--software=221 --logger-blocks=8"));
    const CtlRun asked = onPort(instrument, "clear datalog");
    EXPECT_EQ(asked.exitCode, kExitUsage);
    EXPECT_EQ(asked.err, QStringLiteral("r310ctl: would erase the data logger of the instrument on %1 (8 blocks "
                                        "stored); add --yes to do it\n")
                             .arg(instrument.device()));
    EXPECT_TRUE(Heard(instrument, 127).empty());

    const CtlRun cleared = onPort(instrument, "clear datalog --yes");
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err.toStdString();
    EXPECT_EQ(Heard(instrument, 127), std::vector<std::string>{"W127"});
    ExpectMatches(cleared.out, {"DL Block Cnt: +0\n"});
    const std::vector<LoggedRequest> requests = instrument.requests();
    const auto erase = std::find_if(requests.begin(), requests.end(),
                                    [](const LoggedRequest &r) { return r.object() == 127; });
    ASSERT_NE(erase, requests.end());
    EXPECT_EQ(erase->frame.at(7), 7); // the payload: erase the data logger
    ASSERT_NE(erase + 1, requests.end());
    EXPECT_EQ((erase + 1)->name(), "R36");

    const CtlRun empty = onPort(instrument, "datalog");
    EXPECT_TRUE(empty.err.startsWith(QStringLiteral("r310ctl: No Data"))) << empty.err.toStdString();
    EXPECT_TRUE(empty.out.isEmpty());
}

TEST_F(CtlDatalog, SetLoggerIntervalRefusesWithoutSendingAndWritesTheRecordAsRead)
{
    SimProcess instrument(Words("--software=221 --logger-objects=9,8,7,6"));
    for (const char *value : {"29", "301", "65566", "soon"}) {
        const CtlRun refused = onPort(instrument, "set", {QStringLiteral("logger-interval=") + value});
        EXPECT_EQ(refused.exitCode, kExitUsage) << value;
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("r310ctl: logger-interval: "))) << refused.err.toStdString();
    }
    EXPECT_TRUE(Heard(instrument, 36).empty());

    const CtlRun dry = onPort(instrument, "set --dry-run logger-interval=120");
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(Heard(instrument, 36), std::vector<std::string>{"R36"});
    ExpectContains(dry.out, {"nothing was written"});

    const CtlRun set = onPort(instrument, "set logger-interval=120");
    ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
    EXPECT_EQ(Heard(instrument, 36), (std::vector<std::string>{"R36", "R36", "W36", "R36"}));
    ExpectMatches(set.out, {"logger-interval: +120\n"});
    for (const LoggedRequest &request : instrument.requests()) {
        if (request.name() != "W36")
            continue;
        ASSERT_EQ(request.frame.size(), 9u + 18u);
        // Obj1, Obj2, the hidden byte and Obj3 as the instrument holds them; 120 s.
        EXPECT_EQ(std::vector<std::uint8_t>(request.frame.begin() + 7 + 6, request.frame.begin() + 7 + 10),
                  (std::vector<std::uint8_t>{9, 8, 7, 6}));
        EXPECT_EQ(request.frame.at(7 + 12), 120);
        EXPECT_EQ(request.frame.at(7 + 13), 0);
    }

    // Scripts see the payload that went out, as for every other setting.
    const CtlRun json = onPort(instrument, "--json set logger-interval=150");
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const std::vector<LoggedRequest> requests = instrument.requests();
    const auto last = std::find_if(requests.rbegin(), requests.rend(),
                                   [](const LoggedRequest &r) { return r.name() == "W36"; });
    ASSERT_NE(last, requests.rend());
    const QByteArray sent(reinterpret_cast<const char *>(last->frame.data()) + 7, last->frame[6]);
    ExpectJson(JsonOf(json.out), {{"writes.0.payload", QString::fromLatin1(sent.toHex(' '))},
                                  {"writes.0.heldAsWritten", true}});
    EXPECT_EQ(last->frame.at(7 + 12), 150);
}
