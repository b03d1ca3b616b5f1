// r310ctl against a hostile instrument: every value at the edge of its field,
// a customer ID of control bytes without its zero, a clock standing at 0 or
// 2^32 - 1, counters at 65535, answers cut short or filled up to 64 bytes.
// In-process on the simulated instrument, and as programs against r310sim
// playing the shipped hostile scenarios. Each run ends with its documented
// exit code, prints only printable text of sensible width and writes no file
// it should not; r310sim refuses scenario files that are no scenario.
#include "CtlBench.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>

using namespace r310;
using namespace std::chrono_literals;
using clitest::CtlBench;
using clitest::CtlResult;
using clitest::Describe;
using clitest::ExpectContains;

namespace {

sim::Scenario ShippedScenario(const char *name)
{
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioFile(std::string(SIM_SCENARIO_DIR) + "/" + name, scenario, &error)) << error;
    scenario.pacing = false;
    return scenario;
}

sim::Scenario With(sim::Scenario scenario, const std::string &text)
{
    std::string error;
    EXPECT_TRUE(sim::ParseScenarioText(text, scenario, &error)) << error;
    return scenario;
}

// Output a terminal shows as it is: printable characters, lines of a
// sensible width (the tables narrower than the messages).
void ExpectCleanOutput(const QString &text, const std::string &what, int width = 120)
{
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        EXPECT_LE(line.size(), width) << what << ": " << line.toStdString();
        for (const QChar c : line)
            EXPECT_TRUE(c.isPrint() && c != QChar::ReplacementCharacter) << what << ": " << line.toStdString();
    }
}

CtlResult RunClean(const CtlBench &bench, const QStringList &arguments, int expectedCode)
{
    const CtlResult result = bench.Run(arguments);
    EXPECT_EQ(result.code, expectedCode) << Describe(arguments, result);
    // JSON is for programs: its lines may be long (a payload of 64 bytes in hex).
    const bool json = arguments.contains(QStringLiteral("--json"));
    ExpectCleanOutput(result.out, Describe(arguments, result), json ? 400 : 120);
    ExpectCleanOutput(result.err, Describe(arguments, result), 250);
    return result;
}
CtlResult RunClean(const CtlBench &bench, const char *words, int expectedCode)
{
    return RunClean(bench, clitest::Words(words), expectedCode);
}

using clitest::JsonAt;
using clitest::JsonOf;

} // namespace

TEST(CtlHostile, ValuesAtTheEdgesOfTheirFieldsPrintAsSensibleText)
{
    CtlBench bench(ShippedScenario("hostile-values.txt"));
    const CtlResult info = RunClean(bench, "info", cli::kExitOk);
    // Control bytes of the customer ID as \xHH, and only its ten characters.
    ExpectContains(info.out, {"Serial number:     -2147483648\n", "Customer ID:       \\x01AB\\x7f\u00FF\\x0aC#DE\n",
                              "Instrument time:   31 Dec 1979 23:59:59\n",
                              "the instrument did not keep the time written"});
    EXPECT_EQ(info.writes(), 3) << "three clock writes, then the clock is left as it is";

    const CtlResult get = RunClean(bench, "get", cli::kExitOk);
    EXPECT_TRUE(get.out.contains(QStringLiteral("A1    0.000000000"))) << get.out.toStdString();
    EXPECT_EQ(get.writes(), 3);

    // JSON keeps the customer ID as the instrument holds it.
    const QJsonObject document = JsonOf(RunClean(bench, "--json info", cli::kExitOk).out);
    ASSERT_FALSE(document.isEmpty());
    EXPECT_EQ(JsonAt(document, QStringLiteral("identity.customerId")).toString(),
              QString::fromLatin1("\x01" "AB\x7f\xff\x0a" "C#DE", 10));
    RunClean(bench, "--json get", cli::kExitOk);
    const CtlResult watch = RunClean(bench, "watch --samples 2", cli::kExitOk);
    // The line that says what is watched, then a line a reading.
    EXPECT_EQ(watch.out.count(QStringLiteral("31 Dec 1979 23:59:59  0.000000000 ppm CO\n")), 2)
        << watch.out.toStdString();
}

TEST(CtlHostile, LogsWithCountersBeyondTheStoredEntriesEndAsDocumented)
{
    QTemporaryDir directory;
    const QString events = directory.filePath(QStringLiteral("events.csv"));
    const QString logger = directory.filePath(QStringLiteral("logger.csv"));
    // 300 events reported, 5 stored: the file has the five, the rest are named (exit 5).
    const CtlBench eventBench(With(ShippedScenario("hostile-values.txt"), "event_counters = 0,300,0,300"));
    const CtlResult eventRun =
        RunClean(eventBench, QStringList{"events", "--out", events}, cli::kExitInstrumentError);
    EXPECT_TRUE(eventRun.err.startsWith(QStringLiteral("r310ctl: 5 of 300 events read; saved to ")))
        << eventRun.err.toStdString();
    ExpectContains(eventRun.err, {"\nr310ctl: 295 of 300 events could not be read"});
    QFile written(events);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().count('\n'), 6);

    // 65535 blocks reported, 3 stored: nothing is written (exit 5).
    const CtlBench loggerBench(ShippedScenario("hostile-values.txt"));
    const CtlResult loggerRun =
        RunClean(loggerBench, QStringList{"datalog", "--out", logger}, cli::kExitInstrumentError);
    EXPECT_TRUE(loggerRun.err.contains(QStringLiteral("block 4 of 65535"))) << loggerRun.err.toStdString();
    EXPECT_FALSE(QFile::exists(logger));
    EXPECT_EQ(loggerRun.writes(), 3) << "the clock writes of the connection only";
}

TEST(CtlHostile, AnIncompleteAnswerIsNamedAndALongOneReadsAsTheObject)
{
    struct Case {
        const char *object;
        const char *arguments;
        const char *message;
    } const cases[] = {
        {"2", "info", "object 2 with 20 of its 21 bytes"}, {"3", "info", "object 3 with 3 of its 4 bytes"},
        {"7", "info", "object 7 with 1 of its 2 bytes"},   {"4", "get", "object 4 with 28 of its 29 bytes"},
        {"31", "get", "object 31 with 15 of its 16 bytes"}, {"33", "get", "object 33 with 9 of its 10 bytes"},
        // Without the identity the software version is unknown: which tabs
        // exist, which options a payload keeps and what a profile may hold
        // all follow from it, so these stop before reading on or writing.
        {"2", "get", "object 2 with 20 of its 21 bytes"},   {"2", "set a1=20", "object 2 with 20 of its 21 bytes"},
        {"2", "profile save never-written.json", "object 2 with 20 of its 21 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        const CtlBench bench(
            With(r310test::FastInstrument(), std::string("short_answer = always\nfault_objects = ") + c.object));
        const CtlResult result = RunClean(bench, c.arguments, cli::kExitNoInstrument);
        EXPECT_EQ(result.errLines().size(), 1) << result.err.toStdString();
        ExpectContains(result.err, {c.message});
        EXPECT_EQ(result.writes(), 0);
        EXPECT_FALSE(result.out.contains(QStringLiteral("software version 0.00"))) << result.out.toStdString();
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("never-written.json")));
    // Filled up to 64 bytes: the same as the plain instrument shows.
    const sim::Scenario plain = With(r310test::FastInstrument(), "value_swing = 0\nvalue = 100");
    const CtlBench plainBench(plain);
    const CtlBench filledBench(With(plain, "long_answer = always\nlong_answer_fill = 0xFF"));
    const CtlResult expected = RunClean(plainBench, "--json get", cli::kExitOk);
    const CtlResult got = RunClean(filledBench, "--json get", cli::kExitOk);
    const QJsonObject expectedJson = JsonOf(expected.out);
    const QJsonObject gotJson = JsonOf(got.out);
    ASSERT_FALSE(gotJson.isEmpty());
    for (const char *key : {"identity", "range", "signals", "hardware", "settings"})
        EXPECT_EQ(gotJson.value(QLatin1String(key)), expectedJson.value(QLatin1String(key)))
            << key << "\nfilled: " << got.out.toStdString() << "\nplain:  " << expected.out.toStdString();
}

TEST(CtlHostile, AClockAtZeroIsShownAndWrittenThreeTimesAtMost)
{
    CtlBench bench(With(r310test::FastInstrument(), "clock_stopped_at = 0"));
    const CtlResult info = RunClean(bench, "info", cli::kExitOk);
    ExpectContains(info.out, {"Instrument time:   1 Jan 1980 00:00:00\n"});
    EXPECT_EQ(info.writes(), 3);
    const CtlResult setTime = RunClean(bench, "set-time", cli::kExitOk);
    EXPECT_LE(setTime.writes(), 6) << "the connection's writes and those of set-time, three each at most";
}

// The acceptance run: the simulator program plays the shipped hostile
// scenarios on a pseudo-terminal, r310ctl reads it as a user would.
TEST(CtlHostileProcess, TheSimulatorPlayingHostileScenariosIsReadWithoutCrashOrHang)
{
    const QString scenario = QStringLiteral(SIM_SCENARIO_DIR "/hostile-values.txt");
    r310test::SimulatorProcess instrument({"--scenario", scenario, "--no-pacing"});
    ASSERT_FALSE(instrument.device().isEmpty());
    QTemporaryDir config;
    const QProcessEnvironment environment = clitest::CtlEnvironment(config.path());
    const auto ctl = [&environment](const QString &device, const char *words) {
        return clitest::RunProgram(clitest::CtlProgram(), QStringList{"--port", device} + clitest::Words(words),
                                   environment);
    };
    for (const char *command : {"info", "get", "--json get"}) {
        const clitest::CtlRun run = ctl(instrument.device(), command);
        ASSERT_TRUE(run.finished) << command;
        EXPECT_EQ(run.exitCode, cli::kExitOk) << run.err.toStdString();
        ExpectCleanOutput(run.out, command);
    }

    // Short and long answers at random: every run ends, with 0 or a documented code.
    r310test::SimulatorProcess frames({"--scenario", SIM_SCENARIO_DIR "/hostile-frames.txt", "--no-pacing"});
    ASSERT_FALSE(frames.device().isEmpty());
    for (int i = 0; i < 3; ++i) {
        const clitest::CtlRun run = ctl(frames.device(), "get");
        ASSERT_TRUE(run.finished);
        EXPECT_TRUE(run.exitCode == cli::kExitOk || run.exitCode == cli::kExitNoInstrument) << run.err.toStdString();
        ExpectCleanOutput(run.out, "get on hostile frames");
    }
}

TEST(CtlHostileProcess, ALoggerOfFortyThousandBlocksIsInterruptedWithoutAFile)
{
    // Paced as a real line: the download would take hours.
    r310test::SimulatorProcess instrument({"--scenario", SIM_SCENARIO_DIR "/hostile-logs.txt"});
    ASSERT_FALSE(instrument.device().isEmpty());
    QTemporaryDir directory;
    const QString out = directory.filePath(QStringLiteral("logger.csv"));
    QProcess ctl;
    ctl.setProcessEnvironment(clitest::CtlEnvironment(directory.path()));
    ctl.start(clitest::CtlProgram(), {"--port", instrument.device(), "datalog", "--out", out});
    ASSERT_TRUE(ctl.waitForStarted());
    // Well into the download.
    ASSERT_FALSE(ctl.waitForFinished(3000)) << ctl.readAllStandardError().toStdString();
    ASSERT_GT(ctl.processId(), 0);
    ::kill(static_cast<pid_t>(ctl.processId()), SIGINT);
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_LT(took.elapsed(), 5000) << "Ctrl+C ends the download at once";
    EXPECT_EQ(ctl.exitCode(), cli::kExitInterrupted) << ctl.readAllStandardError().toStdString();
    EXPECT_FALSE(QFile::exists(out));
}

TEST(CtlHostileProcess, ScenarioFilesThatAreNoScenarioAreRefusedByTheSimulator)
{
    QTemporaryDir directory;
    const auto fileWith = [&directory](const char *name, const std::string &bytes) {
        const QString path = directory.filePath(QLatin1String(name));
        std::ofstream file(path.toStdString(), std::ios::binary);
        file << bytes;
        return path;
    };
    std::string enormous;
    enormous.reserve(50u * 1024 * 1024 + 32);
    while (enormous.size() < 50u * 1024 * 1024)
        enormous += "events = 24   # the same line over and over\n";
    struct Case {
        QString path;
        const char *message;
    } const cases[] = {
        {fileWith("enormous.txt", enormous), "is larger than 1048576 bytes"},
        {fileWith("binary.txt", std::string("\x7f" "ELF\x02\x01\x01\x00\x00\x00", 10)),
         "is not text: a zero byte at offset 7"},
        {fileWith("truncated.txt", "software = 221\ncustomer_id = \"DEM"),
         "line 2: quoted value without its closing quote"},
        {fileWith("garbage.txt", "\xff\xfe=\x01\n"), "line 1: unknown scenario key"},
    };
    const QProcessEnvironment environment = clitest::CtlEnvironment(directory.path());
    for (const Case &c : cases) {
        const clitest::CtlRun run =
            clitest::RunProgram(clitest::SimProgram(), {"--scenario", c.path}, environment, 20s);
        ASSERT_TRUE(run.finished) << c.path.toStdString();
        EXPECT_EQ(run.exitCode, 2) << c.path.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << "no device is served";
        EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
        ExpectContains(run.err, {c.message});
        EXPECT_LT(run.took, 10s);
    }
    // An empty file is a scenario of defaults.
    r310test::SimulatorProcess empty({"--scenario", fileWith("empty.txt", "")});
    EXPECT_FALSE(empty.device().isEmpty());
}
