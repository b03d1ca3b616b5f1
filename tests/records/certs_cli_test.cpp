// Calibrating with a registered test-gas cylinder, its certificate, what falls
// due and the fleet report, through r310ctl against the simulator program.
#include "CtlRecords.h"

#include <Cylinders.h>

#include <QScopeGuard>

#include <QDate>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>

namespace {

using namespace recordstest;

constexpr int kExitUsage = 2;
constexpr int kExitDue = 10;
constexpr int kExitTampered = 10;

QString Day(int fromToday)
{
    return QDate::currentDate().addDays(fromToday).toString(Qt::ISODate);
}

bool HeardStart(SimProcess &sim)
{
    const std::vector<std::string> names = sim.requestNames();
    return std::find(names.begin(), names.end(), "W9") != names.end();
}

class CtlCertificates : public CtlTest {
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        records = QStringLiteral("sqlite:") + file("records.sqlite");
    }
    QJsonObject instrument(const QString &serial)
    {
        for (const QJsonValue &v : json(Args({"records", "instruments"}))) {
            if (v[QStringLiteral("serial")].toString() == serial)
                return v.toObject();
        }
        return {};
    }
};

TEST_F(CtlCertificates, ACalibrationWithARegisteredCylinderIsOnItsCertificateAndUnusableOnesSendNothing)
{
    SimProcess sim(Args({"--serial=4711", "--customer_id=Werk 3/B", "--exponent=-1", "--no-pacing"}));
    ASSERT_FALSE(sim.device().isEmpty());
    const QString expires = Day(200);
    const std::pair<QStringList, int> added[] = {
        {Args({"--lot", "L-GOOD", "--gas", "co", "--unit", "ppm", "--concentration", "50", "--balance", "N2 (air)",
               "--supplier", "Gasco AG", "--expires"}) << expires, 0},
        // Expired already: not registered (it is put in below as one that expired meanwhile).
        {Args({"--lot", "L-OLD", "--gas", "CO", "--unit", "0", "--concentration", "50", "--expires"}) << Day(-1),
         kExitUsage},
        {Args({"--lot", "L-H2S", "--gas", "2", "--unit", "ppm", "--concentration", "25", "--expires"}) << expires, 0},
        {Args({"--lot", "L-RET", "--gas", "CO", "--unit", "ppm", "--concentration", "50", "--expires"}) << expires, 0},
        // The lot is taken.
        {Args({"--lot", "L-GOOD", "--gas", "CO", "--unit", "ppm", "--concentration", "50", "--expires"}) << expires,
         kExitUsage},
        {Args({"--lot", "L-X", "--gas", "no such gas", "--unit", "ppm", "--concentration", "50", "--expires"})
             << expires,
         kExitUsage},
        {Args({"--lot", "L-X", "--gas", "CO", "--unit", "ppm", "--concentration", "50", "--expires", "31.12.2030"}),
         kExitUsage}};
    for (const auto &[arguments, exitCode] : added) {
        const CtlRun run = ctl(Args({"cylinders", "add"}) + arguments);
        EXPECT_EQ(run.exitCode, exitCode) << arguments.join(u' ') << ": " << run.err;
    }
    {
        // Signed with the key r310ctl's runs use: the user's files of the test's own.
        const QByteArray config = qgetenv("XDG_CONFIG_HOME"), data = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_CONFIG_HOME", config);
            qputenv("XDG_DATA_HOME", data);
        });
        QString error;
        const auto store = r310::records::RecordStore::Open(r310::records::ParseRecordsUrl(records).target, &error);
        ASSERT_TRUE(store) << error;
        r310::records::Cylinder old;
        old.lot = QStringLiteral("L-OLD");
        old.gasCode = 1;
        old.gas = QStringLiteral("CO");
        old.unit = QStringLiteral("ppm");
        old.concentration = 50;
        old.expires = QDate::currentDate().addDays(-1);
        ASSERT_TRUE(r310::records::CylinderRegister(*store).Add(old, &error)) << error;
    }
    EXPECT_EQ(ctl(Args({"cylinders", "retire", "L-RET"})).exitCode, 0);
    const QJsonArray cylinders = json(Args({"cylinders", "list"}));
    ASSERT_EQ(cylinders.size(), 4);
    for (const auto &[row, key, text] : {std::tuple{0, "lot", "L-GOOD"}, std::tuple{0, "gas", "CO"},
                                         std::tuple{1, "gas", "H2S"}})
        EXPECT_EQ(cylinders[row][QLatin1String(key)].toString(), QLatin1String(text)) << row << key;
    EXPECT_TRUE(cylinders[2][QStringLiteral("expired")].toBool());
    EXPECT_TRUE(cylinders[3][QStringLiteral("retired")].toBool());

    ASSERT_EQ(on(sim, Args({"get"})).exitCode, 0);
    // Refused before the start: nothing goes to the instrument.
    const std::pair<QStringList, const char *> refused[] = {
        {Args({"span", "--cylinder", "L-OLD"}), "expired on"},
        {Args({"span", "--cylinder", "L-RET"}), "retired"},
        {Args({"span", "--cylinder", "L-H2S"}), "not the instrument's gas"},
        {Args({"span", "--cylinder", "L-NONE"}), "not in the register"},
        {Args({"span", "40", "--cylinder", "L-GOOD"}), "differs"}};
    for (const auto &[arguments, reason] : refused) {
        const CtlRun run = on(sim, Args({"calibrate"}) + arguments);
        EXPECT_EQ(run.exitCode, kExitUsage) << arguments.join(u' ') << ": " << run.err;
        EXPECT_TRUE(run.err.contains(QLatin1String(reason))) << run.err;
        EXPECT_FALSE(HeardStart(sim)) << arguments.join(u' ');
    }

    const CtlRun calibrated = on(sim, Args({"calibrate", "span", "--cylinder", "L-GOOD", "--technician", "Jana Nováková"}));
    ASSERT_EQ(calibrated.exitCode, 0) << calibrated.err;
    EXPECT_TRUE(calibrated.out.contains(QLatin1String("raw 500 at decimal exponent -1"))) << calibrated.out;
    EXPECT_TRUE(HeardStart(sim));
    ASSERT_EQ(on(sim, Args({"calibrate", "span", "50"})).exitCode, 0);

    std::vector<QJsonObject> calibrations;
    std::vector<qint64> ids;
    for (const QJsonValue &v : json(Args({"records", "history", "00004711"}))) {
        if (v[QStringLiteral("kind")].toString() == QLatin1String("calibration")) {
            calibrations.push_back(v[QStringLiteral("record")].toObject());
            ids.push_back(v[QStringLiteral("id")].toInteger());
        }
    }
    ASSERT_EQ(calibrations.size(), 2u);
    EXPECT_EQ(calibrations[0][QStringLiteral("cylinder")][QStringLiteral("lot")].toString(), QStringLiteral("L-GOOD"));
    EXPECT_EQ(calibrations[1][QStringLiteral("testGas")].toString(), QStringLiteral("test gas not recorded"));

    const QJsonObject held = instrument(QStringLiteral("00004711"));
    const QString pdf = file("certificate.pdf");
    const QStringList certificate = Args({"certificate", "00004711", "--calibration"}) << QString::number(ids[0]);
    const CtlRun printed = ctl(certificate + Args({"--technician", "Someone Else", "--out"}) << pdf);
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    EXPECT_EQ(PdfPages(pdf), 1);
    const QString text = PdfText(pdf);
    const auto reading = [&](const char *key) {
        return QString::number(calibrations[0][QLatin1String(key)].toDouble(), 'g', 12) + QStringLiteral(" ppm");
    };
    for (const QString &expected :
         {QStringLiteral("00004711"), QStringLiteral("Werk 3/B"), QStringLiteral("ppm CO"), QStringLiteral("50 ppm"),
          QStringLiteral("L-GOOD"), expires, QStringLiteral("N2 (air)"), QStringLiteral("Gasco AG"),
          QStringLiteral("passed"), QStringLiteral("As found ") + reading("asFound"),
          QStringLiteral("As left ") + reading("asLeft"), QStringLiteral("Jana Nováková"),
          held[QStringLiteral("nextCalibration")].toString(), held[QStringLiteral("nextBumpTest")].toString()})
        EXPECT_TRUE(text.simplified().contains(expected.simplified())) << expected << " not in:\n" << text;
    // The same record prints the same number; the other calibration another.
    const CtlRun again = ctl(certificate + Args({"--out"}) << file("again.pdf"));
    EXPECT_EQ(again.out, QString(printed.out).replace(pdf, file("again.pdf")));
    // A limit set afterwards leaves the certificate as it was printed; its
    // code and head prove it against the records with this workstation's key.
    ASSERT_EQ(on(sim, Args({"set", "--force", "a1=25"})).exitCode, 0);
    ASSERT_EQ(ctl(certificate + Args({"--out"}) << file("reprint.pdf")).exitCode, 0);
    EXPECT_EQ(PdfText(file("reprint.pdf")), text);
    const QString code = text.simplified().section(QStringLiteral("Verification code "), 1).section(u' ', 0, 0);
    const QString head = text.simplified().section(QStringLiteral("Records head "), 1).section(u' ', 0, 0);
    EXPECT_EQ(ctl(Args({"certificate", "check"}) << code).exitCode, kExitTampered) << "no key trusted yet";
    const QString key = ctl(Args({"records", "key"})).out.section(QStringLiteral("public key:"), 1).section(u'\n', 0, 0);
    ASSERT_EQ(ctl(Args({"records", "trust", "add"}) << key.trimmed() << "--name" << "Workshop PC 2").exitCode, 0);
    const CtlRun checked = ctl(Args({"certificate", "check"}) << code);
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
    EXPECT_TRUE(checked.out.contains(QString::fromUtf8("Jana Nováková"))) << checked.out;
    EXPECT_EQ(ctl(Args({"records", "verify", "--head"}) << head).exitCode, 0);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
        db.setDatabaseName(file("records.sqlite"));
        ASSERT_TRUE(db.open());
        EXPECT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE r310_record SET body = replace(body, '\"OK\"', "
                                                      "'\"Error\"') WHERE id = %1").arg(ids[0])));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("edit"));
    EXPECT_EQ(ctl(Args({"certificate", "check"}) << code).exitCode, kExitTampered);
    const CtlRun verified = ctl(Args({"records", "verify"}));
    EXPECT_EQ(verified.exitCode, kExitTampered);
    EXPECT_TRUE(verified.err.contains(QString::number(ids[0]))) << verified.err;

    const CtlRun latest = ctl(Args({"certificate", "00004711", "--out"}) << file("latest.pdf"));
    ASSERT_EQ(latest.exitCode, 0) << latest.err;
    EXPECT_NE(latest.out.section(QLatin1Char(' '), 1, 1), again.out.section(QLatin1Char(' '), 1, 1));
    EXPECT_TRUE(PdfText(file("latest.pdf")).contains(QLatin1String("test gas not recorded")));

    for (const QStringList &unknown : {Args({"certificate", "00009999", "--out", "/dev/null"}),
                                       Args({"certificate", "00004711", "--calibration", "1", "--out", "/dev/null"})})
        EXPECT_EQ(ctl(unknown).exitCode, kExitUsage) << unknown.join(u' ');
}

TEST_F(CtlCertificates, WhatFallsDueIsListedExitsTenAndTheFleetReportMarksIt)
{
    SimProcess inDate(Args({"--serial=1001", "--customer_id=Halle 1", "--next_cal_in=40", "--next_bump_in=10",
                            "--no-pacing"}));
    ASSERT_EQ(on(inDate, Args({"get"})).exitCode, 0);
    EXPECT_EQ(ctl(Args({"due"})).exitCode, 0);
    const QJsonArray listed = json(Args({"due", "--within", "3650"}), kExitDue);
    ASSERT_EQ(listed.size(), 2);
    const QJsonObject held = instrument(QStringLiteral("00001001"));
    const std::tuple<int, const char *, QString> fields[] = {
        {0, "due", QStringLiteral("bump test")},
        {0, "date", held[QStringLiteral("nextBumpTest")].toString()},
        {1, "date", held[QStringLiteral("nextCalibration")].toString()},
        {1, "customerId", QStringLiteral("Halle 1")}};
    for (const auto &[row, key, text] : fields)
        EXPECT_EQ(listed[row][QLatin1String(key)].toString(), text) << row << key;
    EXPECT_EQ(listed[0][QStringLiteral("daysOverdue")].toInt(), -10);
    EXPECT_EQ(json(Args({"due", "--within", "20"}), kExitDue).size(), 1);

    SimProcess overdue(Args({"--serial=1002", "--customer_id=Tor, Nord", "--next_cal_in=-3", "--next_bump_in=5",
                             "--no-pacing"}));
    ASSERT_EQ(on(overdue, Args({"get"})).exitCode, 0);
    const CtlRun due = ctl(Args({"due", "--csv"}) << file("due.csv"));
    EXPECT_EQ(due.exitCode, kExitDue) << due.err;
    EXPECT_TRUE(due.out.contains(QLatin1String("00001002"))) << due.out;
    EXPECT_FALSE(due.out.contains(QLatin1String("00001001"))) << due.out;
    EXPECT_EQ(QString::fromUtf8(r310test::ReadAll(file("due.csv"))),
              QStringLiteral("serial,customer_id,due,date,days_overdue\n00001002,\"Tor, Nord\",calibration,%1,3\n")
                  .arg(Day(-3)));

    const QString pdf = file("fleet.pdf");
    ASSERT_EQ(ctl(Args({"report", "fleet", "--out"}) << pdf).exitCode, 0);
    const QStringList lines = PdfText(pdf).split(QLatin1Char('\n'));
    const auto row = [&lines](const char *serial) {
        for (const QString &line : lines) {
            if (line.contains(QLatin1String(serial)))
                return line.simplified();
        }
        return QString();
    };
    EXPECT_TRUE(row("00001001").contains(QStringLiteral("Halle 1"))) << row("00001001");
    EXPECT_TRUE(row("00001001").contains(Day(40))) << row("00001001");
    EXPECT_FALSE(row("00001001").contains(QLatin1String("OVERDUE"))) << row("00001001");
    EXPECT_TRUE(row("00001002").contains(Day(-3) + QStringLiteral(" OVERDUE"))) << row("00001002");
}

} // namespace
