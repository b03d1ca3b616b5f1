// The bump test and calibrations that judge their gas, through r310ctl
// against the simulator program; the demo keeping its records apart.
#include "CtlRecords.h"

#include <QDate>
#include <QFile>

#include <algorithm>

namespace {

using namespace recordstest;

constexpr int kExitUsage = 2;
constexpr int kExitNoResult = 3;
constexpr int kExitFailed = 8;

bool Heard(SimProcess &sim, const char *request)
{
    const std::vector<std::string> names = sim.requestNames();
    return std::find(names.begin(), names.end(), request) != names.end();
}

class CtlOperations : public CtlTest {
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        records = QStringLiteral("sqlite:") + file("records.sqlite");
    }
    // The newest record of `kind` in the instrument's history.
    QJsonObject latest(const char *serial, const char *kind)
    {
        QJsonObject found;
        for (const QJsonValue &v : json(Args({"records", "history", serial}))) {
            if (v[QStringLiteral("kind")].toString() == QLatin1String(kind))
                found = v[QStringLiteral("record")].toObject();
        }
        return found;
    }
    void addCylinder(const char *lot, const char *gas, const char *concentration)
    {
        const QString expires = QDate::currentDate().addDays(100).toString(Qt::ISODate);
        const CtlRun run = ctl(Args({"cylinders", "add", "--lot", lot, "--gas", gas, "--unit", "ppm", "--concentration",
                                     concentration, "--expires"})
                               << expires);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
};

TEST_F(CtlOperations, ABumpTestPassesFailsOrFindsNoResultAndTheRecordsShowIt)
{
    addCylinder("B-1", "CO", "100");
    struct Case {
        QStringList simulator;
        QStringList bump;
        int exitCode;
        const char *serial;
        const char *outcome;
    } cases[] = {
        {Args({"--serial=501", "--bump=running", "--bump_reads=3", "--next_bump_in=5"}), Args({"--cylinder", "B-1"}), 0,
         "00000501", "passed"},
        {Args({"--serial=502", "--bump=running", "--bump_reads=2", "--bump_fails=on"}), {}, kExitFailed, "00000502",
         "failed"},
        {Args({"--serial=503", "--bump=running", "--bump_reads=100000"}), Args({"--timeout-s", "3"}), kExitNoResult,
         "00000503", "no result"},
    };
    for (const Case &c : cases) {
        SimProcess sim(c.simulator + Args({"--no-pacing"}));
        const CtlRun run = on(sim, Args({"bump", "--technician", "Ann"}) + c.bump);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.serial << ": " << run.err;
        const QJsonObject bump = latest(c.serial, "bump-test");
        EXPECT_EQ(bump[QStringLiteral("outcome")].toString(), QLatin1String(c.outcome)) << c.serial;
        EXPECT_EQ(bump[QStringLiteral("technician")].toString(), QStringLiteral("Ann"));
        EXPECT_EQ(bump.contains(QStringLiteral("a1")), c.exitCode != kExitNoResult) << c.serial;
    }
    const QJsonObject passed = latest("501", "bump-test"); // the serial without its zeros
    EXPECT_EQ(passed[QStringLiteral("a1")].toInt(), 28);
    EXPECT_EQ(passed[QStringLiteral("cylinder")][QStringLiteral("lot")].toString(), QStringLiteral("B-1"));

    // The passed test counts from today plus the bump interval (30 days),
    // later than the instrument's own date (5 days).
    const QString next = QDate::currentDate().addDays(30).toString(Qt::ISODate);
    QJsonObject listed;
    for (const QJsonValue &v : json(Args({"records", "instruments"}))) {
        if (v[QStringLiteral("serial")].toString() == QLatin1String("00000501"))
            listed = v.toObject();
    }
    EXPECT_EQ(listed[QStringLiteral("lastBumpTest")][QStringLiteral("outcome")].toString(), QStringLiteral("passed"));
    EXPECT_EQ(listed[QStringLiteral("lastBumpTest")][QStringLiteral("cylinder")].toString(), QStringLiteral("B-1"));
    EXPECT_EQ(listed[QStringLiteral("nextBumpTest")].toString(), next);
    bool due = false;
    for (const QJsonValue &v : json(Args({"due", "--within", "40"}), 10))
        due = due || (v[QStringLiteral("serial")].toString() == QLatin1String("00000501")
                      && v[QStringLiteral("date")].toString() == next);
    EXPECT_TRUE(due);
    ASSERT_EQ(ctl(Args({"report", "fleet", "--out"}) << file("fleet.pdf")).exitCode, 0);
    const QString fleet = PdfText(file("fleet.pdf")).simplified(); // its narrow cells may wrap
    for (const char *part : {"passed A1 28", "T50 12", "00000501:"})
        EXPECT_TRUE(fleet.contains(QLatin1String(part))) << part << ": " << fleet.toStdString();
}

TEST_F(CtlOperations, CalibrationsOutsideTheRangeOrWithTheWrongGasSendNothingAndOneOutOfToleranceFails)
{
    addCylinder("C-100", "CO", "100");
    addCylinder("C-H2S", "H2S", "25");
    SimProcess sim(Args({"--serial=601", "--no-pacing"}));
    const std::pair<QStringList, const char *> refused[] = {
        {Args({"span", "900"}), "outside the instrument's measuring range (above 0, up to 500)"},
        {Args({"span", "50", "--cylinder", "C-100"}), "differs from the certified concentration"},
        {Args({"span", "--cylinder", "C-H2S"}), "not the instrument's gas"},
        {Args({"span", "50", "--tolerance", "0"}), "--tolerance"}};
    for (const auto &[arguments, reason] : refused) {
        const CtlRun run = on(sim, Args({"calibrate"}) + arguments);
        EXPECT_EQ(run.exitCode, kExitUsage) << arguments.join(u' ') << ": " << run.err;
        EXPECT_TRUE(run.err.contains(QLatin1String(reason))) << run.err;
    }
    EXPECT_FALSE(Heard(sim, "W9"));
    EXPECT_EQ(on(sim, Args({"calibrate", "span", "--cylinder", "C-100"})).exitCode, 0);
    EXPECT_EQ(latest("601", "calibration")[QStringLiteral("outcome")].toString(), QStringLiteral("passed"));

    SimProcess drifting(Args({"--serial=602", "--span_drift=40", "--no-pacing"}));
    const CtlRun failed = on(drifting, Args({"calibrate", "span", "100"}));
    EXPECT_EQ(failed.exitCode, kExitFailed) << failed.err;
    const QJsonObject record = latest("602", "calibration");
    EXPECT_EQ(record[QStringLiteral("outcome")].toString(), QStringLiteral("failed"));
    EXPECT_TRUE(record[QStringLiteral("reason")].toString().contains(QStringLiteral("outside 90–110 ppm")));
    ASSERT_EQ(ctl(Args({"certificate", "602", "--out"}) << file("failed.pdf")).exitCode, 0);
    const QString text = PdfText(file("failed.pdf"));
    EXPECT_TRUE(text.contains(QStringLiteral("Calibration report — FAILED"))) << text;
    // Only a passed span counts as the last calibration.
    const QString listed = ctl(Args({"records", "instruments"})).out;
    EXPECT_TRUE(listed.contains(QStringLiteral("span failed, no passed span"))) << listed;

    // A cylinder no instrument on record can use is registered with a warning.
    const QString expires = QDate::currentDate().addDays(100).toString(Qt::ISODate);
    const std::pair<const char *, const char *> added[] = {{"900", "their ranges end at 500 ppm"}, {"400", ""}};
    for (const auto &[concentration, warning] : added) {
        const CtlRun run = ctl(Args({"cylinders", "add", "--lot", concentration, "--gas", "CO", "--unit", "ppm",
                                     "--concentration", concentration, "--expires"})
                               << expires);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err.contains(QLatin1String("warning")), *warning != 0) << run.err;
        EXPECT_TRUE(run.err.contains(QLatin1String(warning))) << run.err;
    }
}

TEST_F(CtlOperations, DemoRunsLeaveTheUsersRecordsAloneAndMarkTheirPaper)
{
    records.clear(); // the default file in the user's data folder
    QTemporaryDir runtime;
    QProcessEnvironment environment = clitest::CtlEnvironment(home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.remove(QStringLiteral("R310_RECORDS"));
    const auto demo = [&](const QStringList &arguments) {
        return clitest::RunProgram(clitest::CtlProgram(), QStringList{QStringLiteral("--demo")} + arguments,
                                   environment, 120s);
    };
    for (const QStringList &arguments : {Args({"info"}), Args({"calibrate", "zero"})}) {
        const CtlRun run = demo(arguments);
        EXPECT_EQ(run.exitCode, 0) << arguments.join(u' ') << ": " << run.err;
    }
    const CtlRun paper = demo(Args({"certificate", "1234", "--out"}) << file("demo.pdf"));
    ASSERT_EQ(paper.exitCode, 0) << paper.err;
    EXPECT_TRUE(PdfText(file("demo.pdf")).contains(QStringLiteral("SIMULATED INSTRUMENT — NOT A CERTIFICATE")));
    EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("R310Conf/records.sqlite"))));
    EXPECT_TRUE(QFile::exists(runtime.filePath(QStringLiteral("r310-demo-records.sqlite"))));
    EXPECT_EQ(demo(Args({"records", "instruments", "--records", "sqlite:/tmp/x.sqlite"})).exitCode, kExitUsage);
}

} // namespace
