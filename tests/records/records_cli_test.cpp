// r310ctl keeping the service records against the simulator program: a whole
// session on record and written out again, tampering found by another SQLite
// client, a read-only file, and two processes recording at once into one
// SQLite file and one PostgreSQL database.
#include "CtlRecords.h"
#include "PgCluster.h"

#include <QDate>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <map>

namespace {

using namespace recordstest;
using r310test::ReadAll;

constexpr int kExitTampered = 10;

class CtlRecords : public CtlTest {
protected:
    // r310ctl on the instrument with the records in `url`.
    CtlRun on(SimProcess &sim, const QString &url, const QStringList &arguments)
    {
        return ctl(QStringList{QStringLiteral("--port"), sim.device(), QStringLiteral("--records"), url} + arguments);
    }
    // "records" with these words on the records in `url`.
    CtlRun onRecords(const QString &url, const QStringList &arguments)
    {
        return ctl(QStringList{QStringLiteral("--records"), url, QStringLiteral("records")} + arguments);
    }
    QJsonArray json(const QString &url, const QStringList &arguments)
    {
        return CtlTest::json(QStringList{QStringLiteral("--records"), url, QStringLiteral("records")} + arguments);
    }
};

TEST_F(CtlRecords, ASessionIsOnRecordAndItsDownloadsAreWrittenAgainByteForByte)
{
    SimProcess sim(Args({"--serial=4711", "--software=221", "--customer_id=Bau;7'", "--events=9", "--logger_blocks=3",
                         "--no-pacing"}));
    ASSERT_FALSE(sim.device().isEmpty());
    const QString url = QStringLiteral("sqlite:") + file("records.sqlite");
    for (const QStringList &arguments :
         {Args({"get"}), Args({"profile", "save"}) << file("before.json"), Args({"set", "a1=25"}),
          Args({"profile", "apply"}) << file("before.json"), Args({"calibrate", "span", "50"}),
          Args({"events", "--out"}) << file("events.csv"), Args({"datalog", "--out"}) << file("datalog.csv"),
          Args({"events", "--out"}) << file("again.csv")}) {
        const CtlRun run = on(sim, url, arguments);
        EXPECT_EQ(run.exitCode, 0) << arguments.join(u' ') << ": " << run.err;
        EXPECT_FALSE(run.err.contains(QLatin1String("not recorded"))) << run.err;
    }

    const QJsonArray instruments = json(url, Args({"instruments"}));
    ASSERT_EQ(instruments.size(), 1);
    const QJsonObject instrument = instruments[0].toObject();
    EXPECT_EQ(instrument[QStringLiteral("serial")].toString(), QStringLiteral("00004711"));
    EXPECT_EQ(instrument[QStringLiteral("customerId")].toString(), QStringLiteral("Bau;7'"));
    for (const char *date : {"nextCalibration", "nextBumpTest"})
        EXPECT_TRUE(QDate::fromString(instrument[QLatin1String(date)].toString(), Qt::ISODate).isValid()) << date;
    EXPECT_EQ(instrument[QStringLiteral("lastCalibration")][QStringLiteral("outcome")].toString(),
              QStringLiteral("passed"));

    std::map<QString, std::vector<QJsonObject>> byKind;
    for (const QJsonValue &v : json(url, Args({"history", "00004711"})))
        byKind[v[QStringLiteral("kind")].toString()].push_back(v[QStringLiteral("record")].toObject());
    EXPECT_EQ(byKind[QStringLiteral("connection")].size(), 8u);
    // The write, then the profile's apply that takes a1 back, each key with
    // its old and new value and the read-back.
    const std::vector<QJsonObject> &writes = byKind[QStringLiteral("write")];
    ASSERT_EQ(writes.size(), 2u);
    const QJsonObject change = writes[0][QStringLiteral("changes")][0].toObject();
    EXPECT_EQ(change[QStringLiteral("key")].toString(), QStringLiteral("a1"));
    EXPECT_TRUE(change[QStringLiteral("old")].isDouble());
    EXPECT_NE(change[QStringLiteral("old")].toDouble(), 25.0);
    EXPECT_EQ(change[QStringLiteral("new")].toDouble(), 25.0);
    EXPECT_EQ(writes[0][QStringLiteral("outcome")].toString(), QStringLiteral("read back equal"));
    EXPECT_EQ(writes[1][QStringLiteral("what")].toString(), QStringLiteral("profile before.json"));
    const QJsonArray applied = writes[1][QStringLiteral("changes")].toArray();
    ASSERT_EQ(applied.size(), 1) << QJsonDocument(writes[1]).toJson().toStdString();
    EXPECT_EQ(applied[0][QStringLiteral("key")].toString(), QStringLiteral("a1"));
    EXPECT_EQ(applied[0][QStringLiteral("old")].toDouble(), 25.0);
    EXPECT_EQ(applied[0][QStringLiteral("new")].toDouble(), change[QStringLiteral("old")].toDouble());
    EXPECT_EQ(applied[0][QStringLiteral("readBack")].toDouble(), change[QStringLiteral("old")].toDouble());
    EXPECT_EQ(writes[1][QStringLiteral("outcome")].toString(), QStringLiteral("read back equal"));
    ASSERT_EQ(byKind[QStringLiteral("calibration")].size(), 1u);
    const QJsonObject calibration = byKind[QStringLiteral("calibration")][0];
    EXPECT_EQ(calibration[QStringLiteral("outcome")].toString(), QStringLiteral("passed"));
    EXPECT_EQ(calibration[QStringLiteral("instrumentReport")].toString(), QStringLiteral("OK"));
    EXPECT_EQ(calibration[QStringLiteral("concentration")].toDouble(), 50.0);
    EXPECT_TRUE(calibration[QStringLiteral("asFound")].isDouble());
    EXPECT_TRUE(calibration[QStringLiteral("asLeft")].isDouble());
    EXPECT_GE(byKind[QStringLiteral("settings")].size(), 2u); // as read, and after the write
    ASSERT_EQ(byKind[QStringLiteral("events")].size(), 2u);
    EXPECT_EQ(byKind[QStringLiteral("events")][0][QStringLiteral("added")].toInt(), 9);
    EXPECT_EQ(byKind[QStringLiteral("events")][1][QStringLiteral("added")].toInt(), 0);
    ASSERT_EQ(byKind[QStringLiteral("datalog")].size(), 1u);

    for (const auto &[option, download] :
         {std::pair{"--events", "events.csv"}, std::pair{"--datalog", "datalog.csv"}}) {
        const CtlRun run = onRecords(url, Args({"export", "00004711", option, "--out"}) << file("x.csv"));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(ReadAll(file("x.csv")), ReadAll(file(download))) << option;
    }

    const CtlRun verified = onRecords(url, Args({"verify"}));
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_TRUE(verified.out.contains(QLatin1String("records checked"))) << verified.out;

    // Another SQLite client changes one value of one row.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tamper"));
        db.setDatabaseName(file("records.sqlite"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE r310_sample SET raws = zeroblob(length(raws)) "
                                          "WHERE time = (SELECT MAX(time) FROM r310_sample)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tamper"));
    const CtlRun tampered = onRecords(url, Args({"verify"}));
    EXPECT_EQ(tampered.exitCode, kExitTampered);
    EXPECT_TRUE(tampered.err.contains(QLatin1String("record"))) << tampered.err;

    // A read-only file: the instrument work goes on, one line says so.
    QFile::setPermissions(file("records.sqlite"), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    const CtlRun readOnly = on(sim, url, Args({"info"}));
    EXPECT_EQ(readOnly.exitCode, 0) << readOnly.err;
    EXPECT_EQ(readOnly.err.count(QLatin1String("r310ctl: not recorded: ")), 1) << readOnly.err;
}

TEST_F(CtlRecords, TwoProcessesRecordTwoInstrumentsAtOnceAndNothingIsLost)
{
    recordstest::PgCluster cluster;
    std::vector<QString> urls{QStringLiteral("sqlite:") + file("shared.sqlite")};
    if (cluster.problem().isEmpty() && cluster.CreateDatabase(QStringLiteral("fleet")))
        urls.push_back(cluster.Url(QStringLiteral("fleet")));
    else
        ADD_FAILURE() << "no PostgreSQL server for this test: " << cluster.problem().toStdString();
    SimProcess first(Args({"--serial=1001", "--software=221", "--events=30", "--logger_blocks=20", "--no-pacing"}));
    SimProcess second(Args({"--serial=1002", "--software=221", "--events=30", "--logger_blocks=20", "--no-pacing"}));
    for (const QString &url : urls) {
        for (const char *command : {"events", "datalog"}) {
            QProcess a;
            QProcess b;
            for (auto [process, sim] : {std::pair{&a, &first}, std::pair{&b, &second}}) {
                process->setProcessEnvironment(clitest::CtlEnvironment(home.path()));
                process->start(clitest::CtlProgram(), QStringList{QStringLiteral("--port"), sim->device(),
                                                                  QStringLiteral("--records"), url}
                                                          + Args({command, "--out", "/dev/null"}));
            }
            for (QProcess *process : {&a, &b}) {
                ASSERT_TRUE(process->waitForFinished(120000));
                const QString err = QString::fromUtf8(process->readAllStandardError());
                EXPECT_EQ(process->exitCode(), 0) << command << ": " << err.toStdString();
                EXPECT_FALSE(err.contains(QLatin1String("not recorded"))) << err.toStdString();
            }
        }
        for (const char *serial : {"00001001", "00001002"}) {
            QStringList kinds;
            for (const QJsonValue &v : json(url, Args({"history", serial})))
                kinds.append(v[QStringLiteral("kind")].toString());
            EXPECT_TRUE(kinds.contains(QStringLiteral("events")) && kinds.contains(QStringLiteral("datalog")))
                << url.toStdString() << " " << serial << ": " << kinds.join(u',').toStdString();
        }
        const CtlRun verified = onRecords(url, Args({"verify"}));
        EXPECT_EQ(verified.exitCode, 0) << url << verified.err;
    }
}

TEST_F(CtlRecords, AHungServerCostsADownloadSecondsAndItsRecordsArriveWithTheNextRun)
{
    recordstest::PgCluster cluster;
    ASSERT_TRUE(cluster.problem().isEmpty() && cluster.CreateDatabase(QStringLiteral("hung"))) << cluster.problem();
    const QString url = cluster.Url(QStringLiteral("hung"));
    SimProcess sim(Args({"--serial=4712", "--software=221", "--logger_blocks=40", "--logger_sets=2", "--no-pacing"}));
    const CtlRun free = on(sim, url, Args({"datalog", "--out"}) << file("free.csv"));
    ASSERT_EQ(free.exitCode, 0) << free.err;
    CtlRun hung;
    {
        const recordstest::ServerStopped stopped(cluster);
        hung = on(sim, url, Args({"datalog", "--out"}) << file("hung.csv"));
    }
    EXPECT_EQ(hung.exitCode, 0) << hung.err;
    EXPECT_LE(hung.took, free.took + std::chrono::seconds(5));
    EXPECT_TRUE(hung.err.contains(QLatin1String("records waiting"))) << hung.err;
    EXPECT_EQ(ReadAll(file("hung.csv")), ReadAll(file("free.csv")));
    const CtlRun next = on(sim, url, Args({"get"}));
    EXPECT_TRUE(next.err.contains(QLatin1String("records from earlier sessions delivered"))) << next.err;
    const CtlRun verified = onRecords(url, Args({"verify"}));
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    int downloads = 0;
    for (const QJsonValue &v : json(url, Args({"history", "00004712"})))
        downloads += v[QStringLiteral("kind")].toString() == QLatin1String("datalog");
    EXPECT_EQ(downloads, 2);
}

} // namespace
