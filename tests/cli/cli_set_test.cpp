// r310ctl set and set-time: in-process on the simulated instrument, with
// every request and answer recorded as the instrument heard and sent them,
// and as a process against the simulator program on a pseudo-terminal.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include "CtlBench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

using namespace r310;
using namespace std::chrono_literals;
using clitest::ExpectContains;
using clitest::ExpectJson;
using clitest::ExpectMatches;
using clitest::JsonOf;

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

// A trace hook that calls act once, at the first answer for object.
clitest::CtlBench::TraceHook AtFirstAnswer(std::uint8_t object, std::function<void(sim::Device &)> act)
{
    return [object, act = std::move(act), done = false](sim::Device &device, const sim::TraceEntry &entry) mutable {
        if (!done && entry.kind == sim::TraceEntry::Kind::Answer && entry.bytes[kOffsetObject] == object) {
            done = true;
            act(device);
        }
    };
}

const QString kA1OutOfRange = QStringLiteral("r310ctl: a1: 400 is outside the allowed range -327.68 to 327.67\n");

TEST(CtlSet, WritesEachGroupOnceReadsItBackAndPrintsWhatTheInstrumentHolds)
{
    CtlBench bench(Instrument());
    const int code = bench.Run("set --force a1=20.5 stel-latching=on stel-horn-off=on bleep=louder vibrator=long "
                               "key-response=off warm-up=optical date-format=dd/mm/yy wake-up=quick time-12h=on "
                               "show-time=off show-seconds=on service-keyboard=on vibrator-disabled=on")
                         .code;
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
    ExpectContains(bench.output(), {"alarm limits: written and read back"});
    ExpectMatches(bench.output(), {"a1:\\s+20.50\\n", "bleep:\\s+louder\\n", "vibrator-disabled:\\s+on\\n"});
    EXPECT_TRUE(bench.errors().isEmpty());
}

// A1 above A2 is written only with --force.
TEST(CtlSet, AlarmLimitsInAnUnusualOrderAreRefusedUnlessForced)
{
    CtlBench bench(Instrument()); // A2 20.00
    EXPECT_EQ(bench.Run("set a1=25").code, cli::kExitUsage);
    EXPECT_TRUE(bench.errors().contains(QStringLiteral("lies above a2 20"))) << bench.errors().toStdString();
    EXPECT_TRUE(bench.writes().empty());
    ASSERT_EQ(bench.Run("set --force a1=25").code, cli::kExitOk) << bench.errors().toStdString();
    EXPECT_EQ(bench.writes().size(), 1u);
}

TEST(CtlSet, DryRunPrintsTheRequestAndWritesNothing)
{
    CtlBench bench(Instrument());
    ASSERT_EQ(bench.Run("set --dry-run --force a1=20.5").code, cli::kExitOk) << bench.errors().toStdString();
    EXPECT_TRUE(bench.writes().empty());
    ExpectContains(bench.output(), {"alarm limits: would write object 4",
                                    "56 59 4b 34 04 60 1d 00 00 00 00 00 00 00 00 02 08",
                                    "nothing was written (--dry-run)"});

    ASSERT_EQ(bench.Run("set --dry-run --json service-keyboard=on vibrator-disabled=on").code, cli::kExitOk);
    ExpectJson(JsonOf(bench.output()), {{"dryRun", true}, {"writes.0.payload", "00 19 05 ee 02 33 4a a0 00 00"}});
    EXPECT_TRUE(bench.writes().empty());
}

TEST(CtlSet, RefusalsNameTheKeyExitTwoAndSendNothing)
{
    struct Case {
        const char *words;
        std::uint16_t version;
        const char *line;
        bool connects; // the refusal needs the instrument's scale or version
    };
    const char *number = "(allowed: a number in the instrument's unit, \".\" as decimal point)\n";
    const Case cases[] = {
        {"loudness=3", 221, "unknown setting \"loudness\" (see r310ctl set --help for the keys)\n", false},
        {"a1=1,5", 221, "a1: '1,5' is not a valid floating point value ", false},
        {"bleep=loud", 221, "bleep: 'loud' is none of the choices (allowed: off|soft|louder|optical)\n", false},
        {"bleep-interval=256", 221, "bleep-interval: 256 is outside the allowed range 0 to 255\n", false},
        {"bump-interval=1", 221, "bump-interval: 1 is outside the allowed range 2 to 365\n", false},
        {"cal-interval=731", 221, "cal-interval: 731 is outside the allowed range 5 to 730\n", false},
        {"bump-info=5", 221, "bump-info: 5 is outside the allowed range 0 to 3\n", false},
        {"time-12h=yes", 221, "time-12h: 'yes' is neither on nor off (allowed: on|off)\n", false},
        {"bleep=soft a2", 221, "a2: no value given, write a2=VALUE ", false},
        {"bleep=soft a1=400", 221, "a1: 400 is outside the allowed range -327.68 to 327.67\n", true},
        {"cal-gas=-400", 221, "cal-gas: -400 is outside the allowed range -327.68 to 327.67\n", true},
        {"service-keyboard=on data-safety=on", 219,
         "data-safety: software version 2.19 does not offer this option (from 2.20 on)\n", true},
        {"display-mode=off", 220, "display-mode: software version 2.20 does not offer this option (from 2.21 on)\n",
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.words);
        CtlBench bench(Instrument(c.version));
        EXPECT_EQ(bench.Run(clitest::Words("set") + clitest::Words(c.words)).code, cli::kExitUsage);
        // Texts that end in a space go on with the allowed numbers.
        const QString line = QString::fromUtf8(c.line);
        EXPECT_EQ(bench.errors(), "r310ctl: " + line + (line.endsWith(u'\n') ? "" : number));
        EXPECT_TRUE(bench.writes().empty());
        EXPECT_EQ(bench.requests().empty(), !c.connects);
    }
}

TEST(CtlSet, AReadBackThatDiffersExitsSevenAndShowsBoth)
{
    CtlBench bench(Instrument());
    // The instrument answers the write but keeps A1 at 9.99.
    const int code = bench.Run("set a1=20.5 a2=30", [](sim::Device &device, const sim::TraceEntry &entry) {
                              if (entry.kind == sim::TraceEntry::Kind::Answer
                                  && entry.bytes[kOffsetObject] == kObjectRange)
                                  device.state().range.thresholds[0] = 999;
                          }).code;
    EXPECT_EQ(code, cli::kExitReadBackDiffers);
    EXPECT_EQ(bench.errors(), QStringLiteral("r310ctl: alarm limits: the instrument does not hold what was written: "
                                             "a1 written 20.50, instrument holds 9.99\n"));
    ExpectMatches(bench.output(), {"a1:\\s+9.99\\n", "a2:\\s+30.00\\n"});
}

TEST(CtlSet, AWriteTheInstrumentDoesNotTakeEndsWithoutReadBack)
{
    sim::Scenario refusing = Instrument();
    refusing.faults.errorReport.probability = 1.0;
    refusing.faults.objects = {kObjectSignals};
    CtlBench bench(refusing);
    EXPECT_EQ(bench.Run("set bump-alarm=off").code, cli::kExitInstrumentError);
    EXPECT_TRUE(bench.errors().contains(QStringLiteral("error report"))) << bench.errors().toStdString();
    EXPECT_TRUE(bench.writes().empty()); // the read before already got the error report

    // A write answered with an error report: no read-back follows.
    CtlBench late(Instrument());
    const int code = late.Run("set bump-alarm=off", AtFirstAnswer(kObjectSignals, [](sim::Device &device) {
                                  sim::FaultPlan plan;
                                  plan.errorReport.probability = 1.0;
                                  plan.objects = {kObjectSignals};
                                  device.setFaults(plan);
                              })).code;
    EXPECT_EQ(code, cli::kExitInstrumentError);
    EXPECT_EQ(late.requests().back(), "W31");
}

TEST(CtlSet, SetTimeWritesTheClockAndShowsBothClocks)
{
    CtlBench bench(Instrument());
    ASSERT_EQ(bench.Run("set-time").code, cli::kExitOk) << bench.errors().toStdString();
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
    ASSERT_EQ(bench.Run("--json get").code, cli::kExitOk) << bench.errors().toStdString();
    const QJsonObject settings = JsonOf(bench.output()).value(QStringLiteral("settings")).toObject();
    ExpectJson(settings, {{"a1", "10.00"}, {"cal-gas", "50.00"}, {"a1-latching", "off"}, {"bleep", "soft"},
                          {"bump-interval", "30"}, {"service-keyboard", "off"}});
    // Version 2.19 offers neither the safety options nor the display mode.
    EXPECT_FALSE(settings.contains(QStringLiteral("data-safety")));
    EXPECT_FALSE(settings.contains(QStringLiteral("display-mode")));
    EXPECT_EQ(settings.size(), 38);
}

// The requests from index `from` on that wrote (the connect request writes nothing).
std::vector<clitest::LoggedRequest> WritesHeard(clitest::SimProcess &instrument, std::size_t from = 0)
{
    const std::vector<clitest::LoggedRequest> all = instrument.requests();
    std::vector<clitest::LoggedRequest> writes;
    for (std::size_t i = from; i < all.size(); ++i)
        if (all[i].frame.size() > kOffsetPayload && all[i].object() != kObjectConnect
            && (all[i].frame[kOffsetFlags] & kFlagWriteBit))
            writes.push_back(all[i]);
    return writes;
}

// The same through the programs: r310ctl against the simulator program on a
// pseudo-terminal, and what the instrument heard.
TEST(CtlSetProcess, TheInstrumentOnAPseudoTerminalHearsTheBytesAndAnswersTheReadBack)
{
    clitest::SimProcess instrument(
        clitest::Words("--no-pacing --software=221 --exponent=-2 --range_end=30000 --hw_options=0"));
    ASSERT_FALSE(instrument.device().isEmpty());
    QTemporaryDir config;
    const auto ctl = [&](const char *words) {
        return clitest::RunProgram(clitest::CtlProgram(),
                                   QStringList{QStringLiteral("--port"), instrument.device()} + clitest::Words(words),
                                   clitest::CtlEnvironment(config.path()));
    };
    const clitest::CtlRun run = ctl("set --force a1=20.5 service-keyboard=on vibrator-disabled=on");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, cli::kExitOk) << run.err.toStdString();

    const std::vector<clitest::LoggedRequest> writes = WritesHeard(instrument);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].object(), kObjectRange);
    EXPECT_EQ(Slice(writes[0].frame, kOffsetPayload + 8, 2), (Bytes{0x02, 0x08}));
    EXPECT_EQ(writes[1].object(), kObjectHardware);
    EXPECT_EQ(Slice(writes[1].frame, kOffsetPayload, 10),
              (Bytes{0x00, 0x19, 0x05, 0xEE, 0x02, 0x33, 0x4A, 0xA0, 0x00, 0x00}));
    ExpectMatches(run.out, {"a1:\\s+20.50\\n"});

    // What the instrument holds now, read by another run.
    const clitest::CtlRun get = ctl("--json get");
    ASSERT_EQ(get.exitCode, cli::kExitOk) << get.err.toStdString();
    ExpectJson(JsonOf(get.out), {{"settings.a1", "20.50"}, {"settings.vibrator-disabled", "on"}});

    // Refused input reaches neither the instrument nor its line.
    const std::size_t heard = instrument.requests().size();
    const clitest::CtlRun refused = ctl("set a1=400");
    EXPECT_EQ(refused.exitCode, cli::kExitUsage);
    EXPECT_EQ(refused.err, kA1OutOfRange);
    EXPECT_EQ(WritesHeard(instrument, heard).size(), 0u);
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

// `r310ctl profile VERB [options] PATHS` on bench.
clitest::CtlResult Profile(CtlBench &bench, const char *verb, const QStringList &paths,
                           clitest::CtlBench::TraceHook hook = nullptr)
{
    return bench.Run(clitest::Words("profile") + clitest::Words(verb) + paths, std::move(hook));
}

} // namespace

TEST(CtlProfile, AppliedProfileWritesWhatSetWouldWriteAndNothingElse)
{
    QTemporaryDir folder;
    const QString path = WriteFile(folder, QStringLiteral("shelf.json"), kShelfProfile);

    CtlBench dry(Instrument());
    ASSERT_EQ(Profile(dry, "apply --dry-run", {path}).code, cli::kExitOk) << dry.errors().toStdString();
    EXPECT_TRUE(dry.writes().empty());
    ExpectMatches(dry.output(), {"a1 +10.00 +12.50\\n"});
    ExpectContains(dry.output(), {"nothing was written (--dry-run)"});

    CtlBench apply(Instrument());
    ASSERT_EQ(Profile(apply, "apply", {path}).code, cli::kExitOk) << apply.errors().toStdString();
    ExpectContains(apply.output(), {"the instrument now holds the profile"});

    // The same keys through set, on an instrument as it was before.
    CtlBench set(Instrument());
    ASSERT_EQ(set.Run("set a1=12.5 a1-latching=on bleep=louder bump-interval=60 service-keyboard=on "
                      "customer-id=SHELF")
                  .code,
              cli::kExitOk)
        << set.errors().toStdString();
    std::vector<LineFrame> expected = set.writes();
    set.forget();
    ASSERT_EQ(set.Run("set logger-interval=90").code, cli::kExitOk);
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
    ASSERT_EQ(Profile(save, "save", {path}).code, cli::kExitOk) << save.errors().toStdString();
    EXPECT_TRUE(save.writes().empty());

    CtlBench apply(Instrument());
    ASSERT_EQ(Profile(apply, "apply", {path}).code, cli::kExitOk) << apply.errors().toStdString();
    EXPECT_EQ(apply.writes().size(), 2u) << "alarm limits and signals differ";

    // An invalid profile never opens the port.
    const QString invalid =
        WriteFile(folder, QStringLiteral("invalid.json"),
                  R"({"format": "r310conf-settings-profile", "version": 1, "settings": {"a1": "x", "horn": true}})");
    CtlBench refused(Instrument());
    EXPECT_EQ(Profile(refused, "apply", {invalid}).code, cli::kExitUsage);
    EXPECT_TRUE(refused.line().empty());
    ExpectContains(refused.errors(), {"unknown setting \"horn\"", "a1: a number is expected"});

    // A profile for another gas is read against the instrument, then refused.
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray otherGas = saved.readAll().replace("\"gasCode\": 1", "\"gasCode\": 4");
    CtlBench gas(Instrument());
    EXPECT_EQ(Profile(gas, "apply", {WriteFile(folder, QStringLiteral("gas.json"), otherGas)}).code, cli::kExitUsage);
    EXPECT_TRUE(gas.writes().empty());
    ExpectContains(gas.errors(), {"the profile is for the gas"});
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
    const auto hook = [&](sim::Device &device, const sim::TraceEntry &entry) {
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
    };
    const int code = Profile(bench, "apply --each --log", {log, path}, hook).code;
    EXPECT_EQ(code, cli::kExitOk) << bench.errors().toStdString();
    EXPECT_TRUE(interrupted);
    const QStringList summaries = bench.output().split(u'\n').filter(QRegularExpression(QStringLiteral("^== ")));
    ASSERT_EQ(summaries.size(), 2) << bench.output().toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(summaries[i], QStringLiteral("== 0000050%1: alarm limits, signals and service intervals, hardware "
                                               "options, customer ID, data logger: holds the profile")
                                    .arg(i + 1));
    ExpectContains(bench.errors(), {"2 instruments handled"});

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
    const int code = bench.Run("set a2=21", AtFirstAnswer(kObjectRange, [&](sim::Device &device) {
                                   swapped = true;
                                   device.state() = sim::Device(second).state();
                               })).code;
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(bench.writes().empty()) << "the second instrument received a write";
    ExpectContains(bench.errors(), {"The instrument changed (serial 1234 → 5678); nothing was written."});
}
