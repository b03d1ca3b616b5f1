// r310ctl keeping the service records as a user runs it, against the
// simulator program on a pseudo-terminal: a whole session on record and
// written out again, tampering found by another SQLite client, a read-only
// file that costs one line, and two processes recording two instruments at
// once into one SQLite file and one PostgreSQL database.
#include "CliProcess.h"
#include "TestApplication.h"
#include "PgCluster.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace clitest;
using namespace std::chrono_literals;
using r310test::ReadAll;

QT_BEGIN_NAMESPACE
inline std::ostream &operator<<(std::ostream &out, const QString &text) { return out << text.toStdString(); }
QT_END_NAMESPACE

namespace {

constexpr int kExitTampered = 10;

class CtlRecords : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    CtlRun ctl(const QStringList &arguments)
    {
        return RunProgram(CtlProgram(), arguments, CtlEnvironment(home_.path()), 120s);
    }
    // r310ctl on the instrument with the records in `url`.
    CtlRun on(SimProcess &sim, const QString &url, const QStringList &arguments)
    {
        return ctl(QStringList{QStringLiteral("--port"), sim.device(), QStringLiteral("--records"), url} + arguments);
    }
    QJsonArray json(const QString &url, const QStringList &arguments)
    {
        const CtlRun run = ctl(QStringList{QStringLiteral("--records"), url, QStringLiteral("records")} + arguments
                               + QStringList{QStringLiteral("--json")});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    }
    QString file(const QString &name) const { return files_.filePath(name); }

    QTemporaryDir home_;
    QTemporaryDir files_;
};

TEST_F(CtlRecords, ASessionIsOnRecordAndItsDownloadsAreWrittenAgainByteForByte)
{
    SimProcess sim({QStringLiteral("--serial=4711"), QStringLiteral("--software=221"), QStringLiteral("--customer_id=Bau;7'"), QStringLiteral("--events=9"),
                    QStringLiteral("--logger_blocks=3"), QStringLiteral("--no-pacing")});
    ASSERT_FALSE(sim.device().isEmpty());
    const QString url = QStringLiteral("sqlite:") + file(QStringLiteral("records.sqlite"));
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("get")}, QStringList{QStringLiteral("set"), QStringLiteral("a1=25")},
          QStringList{QStringLiteral("calibrate"), QStringLiteral("span"), QStringLiteral("50")},
          QStringList{QStringLiteral("events"), QStringLiteral("--out"), file(QStringLiteral("events.csv"))},
          QStringList{QStringLiteral("datalog"), QStringLiteral("--out"), file(QStringLiteral("datalog.csv"))},
          QStringList{QStringLiteral("events"), QStringLiteral("--out"), file(QStringLiteral("again.csv"))}}) {
        const CtlRun run = on(sim, url, arguments);
        EXPECT_EQ(run.exitCode, 0) << arguments.join(u' ') << ": " << run.err;
        EXPECT_FALSE(run.err.contains(QLatin1String("not recorded"))) << run.err;
    }

    const QJsonArray instruments = json(url, {QStringLiteral("instruments")});
    ASSERT_EQ(instruments.size(), 1);
    const QJsonObject instrument = instruments[0].toObject();
    EXPECT_EQ(instrument[QStringLiteral("serial")].toString(), QStringLiteral("00004711"));
    EXPECT_EQ(instrument[QStringLiteral("customerId")].toString(), QStringLiteral("Bau;7'"));
    EXPECT_TRUE(QDate::fromString(instrument[QStringLiteral("nextCalibration")].toString(), Qt::ISODate).isValid());
    EXPECT_TRUE(QDate::fromString(instrument[QStringLiteral("nextBumpTest")].toString(), Qt::ISODate).isValid());
    EXPECT_EQ(instrument[QStringLiteral("lastCalibration")][QStringLiteral("outcome")].toString(), QStringLiteral("OK"));

    std::map<QString, std::vector<QJsonObject>> byKind;
    for (const QJsonValue &v : json(url, {QStringLiteral("history"), QStringLiteral("00004711")}))
        byKind[v[QStringLiteral("kind")].toString()].push_back(v[QStringLiteral("record")].toObject());
    EXPECT_EQ(byKind[QStringLiteral("connection")].size(), 6u);
    ASSERT_EQ(byKind[QStringLiteral("write")].size(), 1u);
    const QJsonObject change = byKind[QStringLiteral("write")][0][QStringLiteral("changes")][0].toObject();
    EXPECT_EQ(change[QStringLiteral("key")].toString(), QStringLiteral("a1"));
    EXPECT_TRUE(change[QStringLiteral("old")].isDouble());
    EXPECT_NE(change[QStringLiteral("old")].toDouble(), 25.0);
    EXPECT_EQ(change[QStringLiteral("new")].toDouble(), 25.0);
    EXPECT_EQ(byKind[QStringLiteral("write")][0][QStringLiteral("outcome")].toString(), QStringLiteral("read back equal"));
    ASSERT_EQ(byKind[QStringLiteral("calibration")].size(), 1u);
    const QJsonObject calibration = byKind[QStringLiteral("calibration")][0];
    EXPECT_EQ(calibration[QStringLiteral("outcome")].toString(), QStringLiteral("OK"));
    EXPECT_EQ(calibration[QStringLiteral("concentration")].toDouble(), 50.0);
    EXPECT_TRUE(calibration[QStringLiteral("asFound")].isDouble());
    EXPECT_TRUE(calibration[QStringLiteral("asLeft")].isDouble());
    EXPECT_GE(byKind[QStringLiteral("settings")].size(), 2u); // as read, and after the write
    ASSERT_EQ(byKind[QStringLiteral("events")].size(), 2u);
    EXPECT_EQ(byKind[QStringLiteral("events")][0][QStringLiteral("added")].toInt(), 9);
    EXPECT_EQ(byKind[QStringLiteral("events")][1][QStringLiteral("added")].toInt(), 0);
    ASSERT_EQ(byKind[QStringLiteral("datalog")].size(), 1u);

    for (const auto &[option, download] : {std::pair{QStringLiteral("--events"), QStringLiteral("events.csv")},
                                           std::pair{QStringLiteral("--datalog"), QStringLiteral("datalog.csv")}}) {
        const CtlRun run = ctl({QStringLiteral("--records"), url, QStringLiteral("records"), QStringLiteral("export"),
                                QStringLiteral("00004711"), option, QStringLiteral("--out"), file(QStringLiteral("x.csv"))});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(ReadAll(file(QStringLiteral("x.csv"))), ReadAll(file(download))) << option;
    }

    const CtlRun verified = ctl({QStringLiteral("--records"), url, QStringLiteral("records"), QStringLiteral("verify")});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_TRUE(verified.out.contains(QLatin1String("records checked"))) << verified.out;

    // Another SQLite client changes one value of one row.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tamper"));
        db.setDatabaseName(file(QStringLiteral("records.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE r310_sample SET raws = zeroblob(length(raws)) WHERE time = (SELECT MAX(time) FROM r310_sample)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tamper"));
    const CtlRun tampered = ctl({QStringLiteral("--records"), url, QStringLiteral("records"), QStringLiteral("verify")});
    EXPECT_EQ(tampered.exitCode, kExitTampered);
    EXPECT_TRUE(tampered.err.contains(QLatin1String("record"))) << tampered.err;

    // A read-only file: the instrument work goes on, one line says so.
    QFile::setPermissions(file(QStringLiteral("records.sqlite")), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    const CtlRun readOnly = on(sim, url, {QStringLiteral("info")});
    EXPECT_EQ(readOnly.exitCode, 0) << readOnly.err;
    EXPECT_EQ(readOnly.err.count(QLatin1String("r310ctl: not recorded: ")), 1) << readOnly.err;
}

TEST_F(CtlRecords, TwoProcessesRecordTwoInstrumentsAtOnceAndNothingIsLost)
{
    recordstest::PgCluster cluster;
    std::vector<QString> urls{QStringLiteral("sqlite:") + file(QStringLiteral("shared.sqlite"))};
    if (cluster.problem().isEmpty() && cluster.CreateDatabase(QStringLiteral("fleet")))
        urls.push_back(cluster.Url(QStringLiteral("fleet")));
    else
        ADD_FAILURE() << "no PostgreSQL server for this test: " << cluster.problem().toStdString();
    SimProcess first({QStringLiteral("--serial=1001"), QStringLiteral("--software=221"), QStringLiteral("--events=30"), QStringLiteral("--logger_blocks=20"),
                      QStringLiteral("--no-pacing")});
    SimProcess second({QStringLiteral("--serial=1002"), QStringLiteral("--software=221"), QStringLiteral("--events=30"), QStringLiteral("--logger_blocks=20"),
                       QStringLiteral("--no-pacing")});
    for (const QString &url : urls) {
        for (const char *command : {"events", "datalog"}) {
            QProcess a;
            QProcess b;
            for (auto [process, sim] : {std::pair{&a, &first}, std::pair{&b, &second}}) {
                process->setProcessEnvironment(CtlEnvironment(home_.path()));
                process->start(CtlProgram(), {QStringLiteral("--port"), sim->device(), QStringLiteral("--records"), url,
                                              QString::fromLatin1(command), QStringLiteral("--out"), QStringLiteral("/dev/null")});
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
            for (const QJsonValue &v : json(url, {QStringLiteral("history"), QString::fromLatin1(serial)}))
                kinds.append(v[QStringLiteral("kind")].toString());
            EXPECT_TRUE(kinds.contains(QStringLiteral("events")) && kinds.contains(QStringLiteral("datalog")))
                << url.toStdString() << " " << serial << ": " << kinds.join(u',').toStdString();
        }
        const CtlRun verified = ctl({QStringLiteral("--records"), url, QStringLiteral("records"), QStringLiteral("verify")});
        EXPECT_EQ(verified.exitCode, 0) << url << verified.err;
    }
}

} // namespace
