// r310ctl set and set-time: in-process on the simulated instrument, with
// every request and answer recorded as the instrument heard and sent them,
// and as a process against the simulator program on a pseudo-terminal.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include "CtlBench.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

using namespace r310;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

using clitest::LineFrame;

// r310ctl in-process with the instrument's answers recorded too.
struct CtlBench : clitest::CtlBench {
    explicit CtlBench(sim::Scenario scenario) : clitest::CtlBench(std::move(scenario)) { recordAnswers = true; }
};

sim::Scenario Instrument(std::uint16_t softwareVersion = 221)
{
    sim::Scenario scenario;
    scenario.softwareVersion = softwareVersion;
    scenario.exponent = -2;
    scenario.rangeEnd = 30000;
    scenario.thresholds = {1000, 2000, 3000, 1500, 500};
    scenario.alarmFlags = {0, 0, 0, 0, 0};
    scenario.calibrationGas = 5000;
    scenario.hwOptions = 0x00;
    return scenario;
}

Bytes Slice(const Bytes &bytes, std::size_t from, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

TEST(CtlSet, WritesEachGroupOnceReadsItBackAndPrintsWhatTheInstrumentHolds)
{
    CtlBench bench(Instrument());
    const int code = bench.Run({QStringLiteral("set"), QStringLiteral("a1=20.5"), QStringLiteral("stel-latching=on"),
                                QStringLiteral("stel-horn-off=on"), QStringLiteral("bleep=louder"),
                                QStringLiteral("vibrator=long"), QStringLiteral("key-response=off"),
                                QStringLiteral("warm-up=optical"), QStringLiteral("date-format=dd/mm/yy"),
                                QStringLiteral("wake-up=quick"), QStringLiteral("time-12h=on"),
                                QStringLiteral("show-time=off"), QStringLiteral("show-seconds=on"),
                                QStringLiteral("service-keyboard=on"), QStringLiteral("vibrator-disabled=on")}).code;
    ASSERT_EQ(code, cli::kExitOk) << bench.errors().toStdString();

    Names requests = bench.requests();
    const auto firstRead = std::find(requests.begin(), requests.end(), "R4");
    ASSERT_NE(firstRead, requests.end());
    // Read each group, then write each once and read it back (the hardware
    // write reads the instrument's sensor values first).
    EXPECT_EQ(Names(firstRead, requests.end()),
              (Names{"R4", "R31", "R33", "R2", "W4", "R4", "R2", "W31", "R31", "R33", "R2", "W33", "R33"}));

    const std::vector<LineFrame> writes = bench.writes();
    ASSERT_EQ(writes.size(), 3u);
    for (const LineFrame &w : writes)
        EXPECT_EQ(w.flags, 0x60);
    EXPECT_EQ(Slice(writes[0].payload, 8, 2), (Bytes{0x02, 0x08}));
    EXPECT_EQ(writes[0].payload[21], 0x06);
    EXPECT_EQ(Slice(writes[0].payload, 0, 8), Bytes(8, 0));
    EXPECT_EQ(Slice(writes[0].payload, 25, 4), Bytes(4, 0));
    EXPECT_EQ(writes[1].payload[0], 0xCE);
    EXPECT_EQ(writes[1].payload[2], 0x59);
    EXPECT_EQ(Slice(writes[1].payload, 12, 4), Bytes(4, 0));
    EXPECT_EQ(writes[2].payload, (Bytes{0x00, 0x19, 0x05, 0xEE, 0x02, 0x33, 0x4A, 0xA0, 0x00, 0x00}));

    // Each write is followed by the answer to its read-back, holding what was written.
    const std::vector<LineFrame> line = bench.line();
    for (const LineFrame &w : writes) {
        const std::string read = "R" + std::to_string(w.object);
        std::size_t last = 0;
        for (std::size_t i = 0; i + 1 < line.size(); ++i)
            if (line[i].name() == read)
                last = i;
        ASSERT_GT(last, 0u);
        EXPECT_EQ(line[last + 1].name(), "A" + std::to_string(w.object));
    }
    const QString out = bench.output();
    EXPECT_TRUE(out.contains(QStringLiteral("alarm limits: written and read back"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("a1:\\s+20.50\\n"))));
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("bleep:\\s+louder\\n"))));
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("vibrator-disabled:\\s+on\\n"))));
    EXPECT_TRUE(bench.errors().isEmpty());
}

TEST(CtlSet, DryRunPrintsTheRequestAndWritesNothing)
{
    CtlBench bench(Instrument());
    ASSERT_EQ(bench.Run({QStringLiteral("set"), QStringLiteral("--dry-run"), QStringLiteral("a1=20.5")}).code, cli::kExitOk)
        << bench.errors().toStdString();
    EXPECT_TRUE(bench.writes().empty());
    EXPECT_TRUE(bench.output().contains(QStringLiteral("alarm limits: would write object 4")));
    EXPECT_TRUE(bench.output().contains(QStringLiteral("56 59 4b 34 04 60 1d 00 00 00 00 00 00 00 00 02 08")))
        << bench.output().toStdString();
    EXPECT_TRUE(bench.output().contains(QStringLiteral("nothing was written (--dry-run)")));

    ASSERT_EQ(bench.Run({QStringLiteral("set"), QStringLiteral("--dry-run"), QStringLiteral("--json"),
                         QStringLiteral("service-keyboard=on"), QStringLiteral("vibrator-disabled=on")}).code,
              cli::kExitOk);
    const QJsonObject json = QJsonDocument::fromJson(bench.output().toUtf8()).object();
    EXPECT_TRUE(json.value(QStringLiteral("dryRun")).toBool());
    const QJsonObject write = json.value(QStringLiteral("writes")).toArray().at(0).toObject();
    EXPECT_EQ(write.value(QStringLiteral("payload")).toString(), QStringLiteral("00 19 05 ee 02 33 4a a0 00 00"));
    EXPECT_TRUE(bench.writes().empty());
}

TEST(CtlSet, RefusalsNameTheKeyExitTwoAndSendNothing)
{
    struct Case {
        QStringList words;
        std::uint16_t version;
        const char *line;
        bool connects; // the refusal needs the instrument's scale or version
    };
    const Case cases[] = {
        {{QStringLiteral("loudness=3")}, 221, "r310ctl: unknown setting \"loudness\" (see r310ctl set --help for the keys)\n", false},
        {{QStringLiteral("a1=1,5")}, 221,
         "r310ctl: a1: '1,5' is not a valid floating point value (allowed: a number in the instrument's unit, \".\" as decimal point)\n",
         false},
        {{QStringLiteral("bleep=loud")}, 221, "r310ctl: bleep: 'loud' is none of the choices (allowed: off|soft|louder|optical)\n", false},
        {{QStringLiteral("bleep-interval=256")}, 221, "r310ctl: bleep-interval: 256 is outside the allowed range 0 to 255\n", false},
        {{QStringLiteral("bump-interval=1")}, 221, "r310ctl: bump-interval: 1 is outside the allowed range 2 to 365\n", false},
        {{QStringLiteral("cal-interval=731")}, 221, "r310ctl: cal-interval: 731 is outside the allowed range 5 to 730\n", false},
        {{QStringLiteral("bump-info=5")}, 221, "r310ctl: bump-info: 5 is outside the allowed range 0 to 3\n", false},
        {{QStringLiteral("time-12h=yes")}, 221, "r310ctl: time-12h: 'yes' is neither on nor off (allowed: on|off)\n", false},
        {{QStringLiteral("bleep=soft"), QStringLiteral("a2")}, 221,
         "r310ctl: a2: no value given, write a2=VALUE (allowed: a number in the instrument's unit, \".\" as decimal point)\n",
         false},
        {{QStringLiteral("bleep=soft"), QStringLiteral("a1=400")}, 221,
         "r310ctl: a1: 400 is outside the allowed range -327.68 to 327.67\n", true},
        {{QStringLiteral("cal-gas=-400")}, 221, "r310ctl: cal-gas: -400 is outside the allowed range -327.68 to 327.67\n", true},
        {{QStringLiteral("service-keyboard=on"), QStringLiteral("data-safety=on")}, 219,
         "r310ctl: data-safety: software version 2.19 does not offer this option (from 2.20 on)\n", true},
        {{QStringLiteral("display-mode=off")}, 220,
         "r310ctl: display-mode: software version 2.20 does not offer this option (from 2.21 on)\n", true},
    };
    for (const Case &c : cases) {
        CtlBench bench(Instrument(c.version));
        const int code = bench.Run(QStringList{QStringLiteral("set")} + c.words).code;
        EXPECT_EQ(code, cli::kExitUsage) << c.line;
        EXPECT_EQ(bench.errors(), QString::fromUtf8(c.line));
        EXPECT_TRUE(bench.writes().empty()) << c.line;
        EXPECT_EQ(bench.requests().empty(), !c.connects) << c.line;
    }
}

TEST(CtlSet, AReadBackThatDiffersExitsSevenAndShowsBoth)
{
    CtlBench bench(Instrument());
    // The instrument answers the write but keeps A1 at 9.99.
    const int code = bench.Run({QStringLiteral("set"), QStringLiteral("a1=20.5"), QStringLiteral("a2=30")},
                               [](sim::Device &device, const sim::TraceEntry &entry) {
                                   if (entry.kind == sim::TraceEntry::Kind::Answer
                                       && entry.bytes[kOffsetObject] == kObjectRange)
                                       device.state().range.thresholds[0] = 999;
                               }).code;
    EXPECT_EQ(code, cli::kExitReadBackDiffers);
    EXPECT_EQ(bench.errors(), QStringLiteral("r310ctl: alarm limits: the instrument does not hold what was written: "
                                             "a1 written 20.50, instrument holds 9.99\n"));
    EXPECT_TRUE(bench.output().contains(QRegularExpression(QStringLiteral("a1:\\s+9.99\\n"))));
    EXPECT_TRUE(bench.output().contains(QRegularExpression(QStringLiteral("a2:\\s+30.00\\n"))));
}

TEST(CtlSet, AWriteTheInstrumentDoesNotTakeEndsWithoutReadBack)
{
    sim::Scenario refusing = Instrument();
    refusing.faults.errorReport.probability = 1.0;
    refusing.faults.objects = {kObjectSignals};
    CtlBench bench(refusing);
    EXPECT_EQ(bench.Run({QStringLiteral("set"), QStringLiteral("bump-alarm=off")}).code, cli::kExitInstrumentError);
    EXPECT_TRUE(bench.errors().contains(QStringLiteral("error report"))) << bench.errors().toStdString();
    EXPECT_TRUE(bench.writes().empty()); // the read before already got the error report

    // A write answered with an error report: no read-back follows.
    CtlBench late(Instrument());
    bool reading = true;
    const int code = late.Run({QStringLiteral("set"), QStringLiteral("bump-alarm=off")},
                              [&reading](sim::Device &device, const sim::TraceEntry &entry) {
                                  if (entry.kind == sim::TraceEntry::Kind::Answer
                                      && entry.bytes[kOffsetObject] == kObjectSignals && reading) {
                                      reading = false;
                                      sim::FaultPlan plan;
                                      plan.errorReport.probability = 1.0;
                                      plan.objects = {kObjectSignals};
                                      device.setFaults(plan);
                                  }
                              }).code;
    EXPECT_EQ(code, cli::kExitInstrumentError);
    const Names requests = late.requests();
    EXPECT_EQ(requests.back(), "W31");
}

TEST(CtlSet, SetTimeWritesTheClockAndShowsBothClocks)
{
    sim::Scenario scenario = Instrument();
    CtlBench bench(scenario);
    ASSERT_EQ(bench.Run({QStringLiteral("set-time")}).code, cli::kExitOk) << bench.errors().toStdString();
    const Names requests = bench.requests();
    const auto write = std::find(requests.begin(), requests.end(), "W3");
    ASSERT_NE(write, requests.end());
    ASSERT_NE(write + 1, requests.end());
    EXPECT_EQ(*(write + 1), "R3");
    EXPECT_EQ(bench.writes().size(), 1u);
    EXPECT_FALSE(bench.output().isEmpty());
}

TEST(CtlGet, TheSettingsObjectCarriesEveryKeyAsSetTakesIt)
{
    CtlBench bench(Instrument(219));
    ASSERT_EQ(bench.Run({QStringLiteral("--json"), QStringLiteral("get")}).code, cli::kExitOk)
        << bench.errors().toStdString();
    const QJsonObject settings =
        QJsonDocument::fromJson(bench.output().toUtf8()).object().value(QStringLiteral("settings")).toObject();
    EXPECT_EQ(settings.value(QStringLiteral("a1")).toString(), QStringLiteral("10.00"));
    EXPECT_EQ(settings.value(QStringLiteral("cal-gas")).toString(), QStringLiteral("50.00"));
    EXPECT_EQ(settings.value(QStringLiteral("a1-latching")).toString(), QStringLiteral("off"));
    EXPECT_EQ(settings.value(QStringLiteral("bleep")).toString(), QStringLiteral("soft"));
    EXPECT_EQ(settings.value(QStringLiteral("bump-interval")).toString(), QStringLiteral("30"));
    EXPECT_EQ(settings.value(QStringLiteral("service-keyboard")).toString(), QStringLiteral("off"));
    // Version 2.19 offers neither the safety options nor the display mode.
    EXPECT_FALSE(settings.contains(QStringLiteral("data-safety")));
    EXPECT_FALSE(settings.contains(QStringLiteral("display-mode")));
    EXPECT_EQ(settings.size(), 38);
}

// The same through the programs: r310ctl against the simulator program on a
// pseudo-terminal, and what the instrument heard.
TEST(CtlSetProcess, TheInstrumentOnAPseudoTerminalHearsTheBytesAndAnswersTheReadBack)
{
    clitest::SimProcess instrument({QStringLiteral("--no-pacing"), QStringLiteral("--software=221"),
                                    QStringLiteral("--exponent=-2"), QStringLiteral("--range_end=30000"),
                                    QStringLiteral("--hw_options=0")});
    ASSERT_FALSE(instrument.device().isEmpty());
    QTemporaryDir config;
    const QProcessEnvironment environment = clitest::CtlEnvironment(config.path());
    const clitest::CtlRun run = clitest::RunProgram(
        clitest::CtlProgram(),
        {QStringLiteral("--port"), instrument.device(), QStringLiteral("set"), QStringLiteral("a1=20.5"),
         QStringLiteral("service-keyboard=on"), QStringLiteral("vibrator-disabled=on")},
        environment);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, cli::kExitOk) << run.err.toStdString();

    std::vector<clitest::LoggedRequest> writes;
    for (const clitest::LoggedRequest &request : instrument.requests())
        if (request.frame.size() > kOffsetPayload && request.object() != kObjectConnect
            && (request.frame[kOffsetFlags] & kFlagWriteBit))
            writes.push_back(request);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].object(), kObjectRange);
    EXPECT_EQ(Slice(writes[0].frame, kOffsetPayload + 8, 2), (Bytes{0x02, 0x08}));
    EXPECT_EQ(writes[1].object(), kObjectHardware);
    EXPECT_EQ(Slice(writes[1].frame, kOffsetPayload, 10),
              (Bytes{0x00, 0x19, 0x05, 0xEE, 0x02, 0x33, 0x4A, 0xA0, 0x00, 0x00}));
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("a1:\\s+20.50\\n")))) << run.out.toStdString();

    // What the instrument holds now, read by another run.
    const clitest::CtlRun get = clitest::RunProgram(
        clitest::CtlProgram(), {QStringLiteral("--port"), instrument.device(), QStringLiteral("--json"), QStringLiteral("get")},
        environment);
    ASSERT_EQ(get.exitCode, cli::kExitOk) << get.err.toStdString();
    const QJsonObject settings =
        QJsonDocument::fromJson(get.out.toUtf8()).object().value(QStringLiteral("settings")).toObject();
    EXPECT_EQ(settings.value(QStringLiteral("a1")).toString(), QStringLiteral("20.50"));
    EXPECT_EQ(settings.value(QStringLiteral("vibrator-disabled")).toString(), QStringLiteral("on"));

    // Refused input reaches neither the instrument nor its line.
    const std::size_t heard = instrument.requests().size();
    const clitest::CtlRun refused = clitest::RunProgram(
        clitest::CtlProgram(), {QStringLiteral("--port"), instrument.device(), QStringLiteral("set"), QStringLiteral("a1=400")},
        environment);
    EXPECT_EQ(refused.exitCode, cli::kExitUsage);
    EXPECT_EQ(refused.err, QStringLiteral("r310ctl: a1: 400 is outside the allowed range -327.68 to 327.67\n"));
    std::size_t writesAfter = 0;
    const std::vector<clitest::LoggedRequest> all = instrument.requests();
    for (std::size_t i = heard; i < all.size(); ++i)
        if (all[i].object() != kObjectConnect && (all[i].frame[kOffsetFlags] & kFlagWriteBit))
            ++writesAfter;
    EXPECT_EQ(writesAfter, 0u);
}

} // namespace

// ---- profile ---------------------------------------------------------------------

namespace {

QString WriteFile(const QTemporaryDir &folder, const QString &name, const QByteArray &text)
{
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return file.fileName();
}

// A profile as a technician would write it for a CO instrument in ppm.
const QByteArray kShelfProfile = R"({"format": "r310conf-settings-profile", "version": 1,
    "instrument": {"gas": "CO", "unit": "ppm"},
    "settings": {"a1": 12.5, "a1-latching": true, "bleep": "louder", "bump-interval": 60,
                 "service-keyboard": true, "logger-interval": 90, "customer-id": "SHELF"}})";

} // namespace

TEST(CtlProfile, AppliedProfileWritesWhatSetWouldWriteAndNothingElse)
{
    QTemporaryDir folder;
    const QString path = WriteFile(folder, QStringLiteral("shelf.json"), kShelfProfile);

    CtlBench dry(Instrument());
    ASSERT_EQ(dry.Run({QStringLiteral("profile"), QStringLiteral("apply"), QStringLiteral("--dry-run"), path}).code,
              cli::kExitOk)
        << dry.errors().toStdString();
    EXPECT_TRUE(dry.writes().empty());
    EXPECT_TRUE(dry.output().contains(QRegularExpression(QStringLiteral("a1 +10.00 +12.50\\n"))))
        << dry.output().toStdString();
    EXPECT_TRUE(dry.output().contains(QLatin1String("nothing was written (--dry-run)")));

    CtlBench apply(Instrument());
    ASSERT_EQ(apply.Run({QStringLiteral("profile"), QStringLiteral("apply"), path}).code, cli::kExitOk)
        << apply.errors().toStdString();
    EXPECT_TRUE(apply.output().contains(QLatin1String("the instrument now holds the profile")));

    // The same keys through set, on an instrument as it was before.
    CtlBench set(Instrument());
    ASSERT_EQ(set.Run({QStringLiteral("set"), QStringLiteral("a1=12.5"), QStringLiteral("a1-latching=on"),
                       QStringLiteral("bleep=louder"), QStringLiteral("bump-interval=60"),
                       QStringLiteral("service-keyboard=on"), QStringLiteral("customer-id=SHELF")}).code,
              cli::kExitOk)
        << set.errors().toStdString();
    std::vector<LineFrame> expected = set.writes();
    set.forget();
    ASSERT_EQ(set.Run({QStringLiteral("set"), QStringLiteral("logger-interval=90")}).code, cli::kExitOk);
    for (const LineFrame &w : set.writes())
        expected.push_back(w);

    const std::vector<LineFrame> written = apply.writes();
    ASSERT_EQ(written.size(), expected.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(written[i].object, expected[i].object) << i;
        EXPECT_EQ(written[i].payload, expected[i].payload) << "write of object " << int(written[i].object);
    }
}

TEST(CtlProfile, SavedProfileAppliesToAnotherInstrumentAndRefusalsSendNothing)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("saved.json"));
    sim::Scenario source = Instrument();
    source.thresholds = {1250, 2500, 3000, 1500, 500};
    source.signalModes = 0x00;
    CtlBench save(source);
    ASSERT_EQ(save.Run({QStringLiteral("profile"), QStringLiteral("save"), path}).code, cli::kExitOk)
        << save.errors().toStdString();
    EXPECT_TRUE(save.writes().empty());

    CtlBench apply(Instrument());
    ASSERT_EQ(apply.Run({QStringLiteral("profile"), QStringLiteral("apply"), path}).code, cli::kExitOk)
        << apply.errors().toStdString();
    EXPECT_EQ(apply.writes().size(), 2u) << "alarm limits and signals differ";

    // An invalid profile never opens the port.
    const QString invalid =
        WriteFile(folder, QStringLiteral("invalid.json"),
                  R"({"format": "r310conf-settings-profile", "version": 1, "settings": {"a1": "x", "horn": true}})");
    CtlBench refused(Instrument());
    EXPECT_EQ(refused.Run({QStringLiteral("profile"), QStringLiteral("apply"), invalid}).code, cli::kExitUsage);
    EXPECT_TRUE(refused.line().empty());
    EXPECT_TRUE(refused.errors().contains(QLatin1String("unknown setting \"horn\"")));
    EXPECT_TRUE(refused.errors().contains(QLatin1String("a1: a number is expected")));

    // A profile for another gas is read against the instrument, then refused.
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QByteArray otherGas = saved.readAll().replace("\"gasCode\": 1", "\"gasCode\": 4");
    CtlBench gas(Instrument());
    EXPECT_EQ(gas.Run({QStringLiteral("profile"), QStringLiteral("apply"),
                       WriteFile(folder, QStringLiteral("gas.json"), otherGas)}).code,
              cli::kExitUsage);
    EXPECT_TRUE(gas.writes().empty());
    EXPECT_TRUE(gas.errors().contains(QLatin1String("the profile is for the gas"))) << gas.errors().toStdString();
}

TEST(CtlProfile, EachAppliesToEveryInstrumentOnThePortUntilCtrlC)
{
    QTemporaryDir folder;
    const QString path = WriteFile(folder, QStringLiteral("shelf.json"), kShelfProfile);
    const QString log = folder.filePath(QStringLiteral("shelf.csv"));
    sim::Scenario first = Instrument();
    first.serialNumber = 501;
    sim::Scenario second = Instrument();
    second.serialNumber = 502;

    // The next instrument takes the first one's place at the first identity
    // read after the first one's logger write; Ctrl+C comes at the same point
    // after the second.
    int loggerWrites = 0;
    bool swapped = false;
    bool interrupted = false;
    CtlBench bench(first);
    bench.handleSignals = true;
    const int code = bench.Run({QStringLiteral("profile"), QStringLiteral("apply"), QStringLiteral("--each"),
                                QStringLiteral("--log"), log, path},
                               [&](sim::Device &device, const sim::TraceEntry &entry) {
                                   if (entry.kind != sim::TraceEntry::Kind::Request)
                                       return;
                                   const std::uint8_t object = entry.bytes[kOffsetObject];
                                   const bool write = (entry.bytes[kOffsetFlags] & kFlagWriteBit) != 0;
                                   if (object == kObjectLoggerInfo && write)
                                       ++loggerWrites;
                                   if (object != kObjectIdentity || write)
                                       return;
                                   if (loggerWrites == 1 && !swapped) {
                                       swapped = true;
                                       device.state() = sim::Device(second).state();
                                   } else if (loggerWrites == 2 && !interrupted) {
                                       interrupted = true;
                                       std::raise(SIGINT);
                                   }
                               }).code;
    EXPECT_EQ(code, cli::kExitOk) << bench.errors().toStdString();
    EXPECT_TRUE(interrupted);
    const QStringList summaries = bench.output().split(u'\n').filter(QRegularExpression(QStringLiteral("^== ")));
    ASSERT_EQ(summaries.size(), 2) << bench.output().toStdString();
    EXPECT_EQ(summaries[0], QStringLiteral("== 00000501: alarm limits, signals and service intervals, hardware "
                                           "options, customer ID, data logger: holds the profile"));
    EXPECT_EQ(summaries[1], QStringLiteral("== 00000502: alarm limits, signals and service intervals, hardware "
                                           "options, customer ID, data logger: holds the profile"));
    EXPECT_TRUE(bench.errors().contains(QLatin1String("2 instruments handled")));

    QFile lines(log);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = lines.readAll().split('\n');
    ASSERT_EQ(rows.size(), 4); // header, two instruments, the empty rest after the last line end
    EXPECT_EQ(rows[0], "Time;Serial number;Groups written;Result\r");
    EXPECT_TRUE(rows[2].contains(";00000502;")) << rows[2].toStdString();
    EXPECT_TRUE(rows[2].endsWith(";holds the profile\r"));
}

// Another instrument put on the port after r310ctl read the limits of the
// first: the write is not sent, the message names both serial numbers, and
// the exit code is 2.
TEST(CtlSet, AnInstrumentSwappedBeforeTheWriteGetsNothingAndExitsTwo)
{
    sim::Scenario first = Instrument();
    first.serialNumber = 1234;
    sim::Scenario second = first;
    second.serialNumber = 5678;
    second.exponent = -1;
    CtlBench bench(first);
    bool swapped = false;
    const int code = bench.Run({QStringLiteral("set"), QStringLiteral("a2=21")},
                               [&](sim::Device &device, const sim::TraceEntry &entry) {
                                   if (!swapped && entry.kind == sim::TraceEntry::Kind::Answer
                                       && entry.bytes[kOffsetObject] == kObjectRange) {
                                       swapped = true;
                                       device.state() = sim::Device(second).state();
                                   }
                               }).code;

    EXPECT_EQ(code, 2);
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(bench.writes().empty()) << "the second instrument received a write";
    EXPECT_TRUE(bench.errors().contains(
        QString::fromUtf8("The instrument changed (serial 1234 → 5678); nothing was written.")))
        << bench.errors().toStdString();
}
