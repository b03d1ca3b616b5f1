// The record store on SQLite and on a real PostgreSQL server: every kind of
// record in its chain, downloads kept once and written out again, tampering
// found, schemas migrated or refused, and a store killed mid-download.
#include "PgCluster.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <DataLoggerExport.h>
#include <FleetReport.h>
#include <RecordSchema.h>
#include <RecordStore.h>
#include <RecordViews.h>
#include <RecordedLogs.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace r310;
using namespace r310::records;

namespace {

const QString kSerial = QStringLiteral("00001234");

// An alarm event (type 1, "A1 ON") or a switch-on (19) at `time`.
AnswerFrame EventFrame(std::uint8_t type, std::int32_t time, std::int16_t value)
{
    AnswerFrame frame;
    frame.object = kObjectEventRecord;
    frame.flags = kFlagsDataAnswer;
    frame.intact = true;
    frame.payload.assign(logs::kEventRecordSize, 0);
    frame.payload[2] = type;
    for (int i = 0; i < 4; ++i)
        frame.payload[4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(time) >> (8 * i));
    frame.payload[8] = 1;  // gas
    frame.payload[9] = 1;  // unit
    frame.payload[10] = 0xff; // exponent -1
    frame.payload[11] = static_cast<std::uint8_t>(value & 0xff);
    frame.payload[12] = static_cast<std::uint8_t>(value >> 8);
    frame.payload[17] = 80;
    return frame;
}

// count entries; `read` of them filled, each at its own minute.
logs::EventTable Events(int count, const std::vector<int> &read)
{
    logs::EventTable table;
    table.Prepare(count);
    for (const int j : read)
        table.Fill(j, EventFrame(j % 2 ? 19 : 1, 900000000 + 60 * j, static_cast<std::int16_t>(100 + j)));
    return table;
}

// Blocks of 15 samples a set, two gases, logged back to back from `start`.
std::vector<logs::LoggerBlock> Blocks(int count, std::int32_t start)
{
    std::vector<logs::LoggerBlock> blocks;
    for (int b = 0; b < count; ++b) {
        logs::LoggerBlock block;
        block.header = {logs::kValidState, start + b * 15 * 60, 60, 15, 2};
        for (std::uint8_t gas : {1, 2}) {
            logs::LoggerSampleSet set;
            set.state = logs::kValidState;
            set.gasCode = gas;
            set.unitCode = 1;
            set.exponent = -1;
            set.alarmBits = static_cast<std::uint16_t>(b);
            for (int i = 0; i < logs::kSamplesPerSet; ++i)
                set.samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(gas * 1000 + b * 15 + i);
            block.sets.push_back(set);
        }
        blocks.push_back(block);
    }
    return blocks;
}

QString GasText(std::uint8_t, std::uint8_t gas)
{
    return gas == 1 ? QStringLiteral("ppm CO") : QStringLiteral("ppm H2S");
}

const logs::EventLineFormat kFormat{QLocale::c(), GasText};

QStringList LoggerLines(const std::vector<logs::LoggerBlock> &blocks)
{
    logs::LoggerExportData data;
    data.blocks = blocks;
    data.gasTexts = {{logs::GasTextKey(1, 1), GasText(1, 1)}, {logs::GasTextKey(1, 2), GasText(1, 2)}};
    return logs::LoggerExportLines(data);
}

} // namespace

class RecordStoreTest : public recordstest::StoreTest {
protected:
    // Runs `sql` in a transaction that is rolled back after the check.
    VerifyResult VerifyAfter(const QString &sql)
    {
        QSqlDatabase db = store_->database();
        QSqlQuery(db).exec(QStringLiteral("BEGIN"));
        QSqlQuery tamper(db);
        EXPECT_TRUE(tamper.exec(sql)) << sql.toStdString() << ": " << tamper.lastError().text().toStdString();
        EXPECT_GT(tamper.numRowsAffected(), 0) << sql.toStdString();
        tamper.finish();
        const VerifyResult result = store_->Verify();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return result;
    }

    void RecordSession()
    {
        const QJsonObject limits{{QStringLiteral("a1"), "20"}, {QStringLiteral("stel"), "2.5"}};
        const std::pair<QString, QJsonObject> session[] = {
            {kind::kConnection,
             {{QStringLiteral("customerId"), QStringLiteral("Bau';--")}, {QStringLiteral("softwareVersion"), "2.21"}}},
            {kind::kSettings,
             {{QStringLiteral("settings"), limits},
              {QStringLiteral("gasUnit"), QStringLiteral("ppm CO")},
              {QStringLiteral("gasCode"), 1},
              {QStringLiteral("unitCode"), 1},
              {QStringLiteral("nextCalibration"), QStringLiteral("2001-02-03")},
              {QStringLiteral("nextBumpTest"), QStringLiteral("2999-01-01")}}},
            {kind::kCalibration, {{QStringLiteral("calibration"), "span"}, {QStringLiteral("outcome"), "OK"}}}};
        for (const auto &[recordKind, body] : session)
            ASSERT_TRUE(store_->Append(kSerial, recordKind, body).ok) << recordKind.toStdString();
        ASSERT_TRUE(store_->Append(QStringLiteral("00000007"), kind::kConnection, {}).ok);
    }
};

TEST_P(RecordStoreTest, KeepsEveryKindInItsChainAndEachDownloadedRowOnce)
{
    RecordSession();
    // A second download of the same log adds only what is new.
    const logs::EventTable first = Events(5, {0, 1, 3, 4});
    const logs::EventTable second = Events(7, {0, 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(store_->AppendEvents(kSerial, {}, first).added, 4);
    const AppendResult events = store_->AppendEvents(kSerial, {}, second);
    EXPECT_EQ(events.added, 3);
    const std::vector<logs::LoggerBlock> blocks = Blocks(40, 1000000);
    const AppendResult logger = store_->AppendLogger(kSerial, {}, blocks);
    EXPECT_EQ(logger.added, 40 * 2 * 15);
    const AppendResult again = store_->AppendLogger(kSerial, {}, Blocks(41, 1000000));
    EXPECT_EQ(again.added, 2 * 15);
    // A block the instrument was still filling: only its later samples are new.
    std::vector<logs::LoggerBlock> filling = Blocks(1, 2000000);
    filling[0].header.reportedSamples = 10;
    EXPECT_EQ(store_->AppendLogger(kSerial, {}, filling).added, 2 * 10);
    const std::vector<logs::LoggerBlock> filled = Blocks(1, 2000000);
    const AppendResult grown = store_->AppendLogger(kSerial, {}, filled);
    EXPECT_EQ(grown.added, 2 * 5);

    // Each download's file again, from the records.
    const auto expectLogger = [this](qint64 id, const std::vector<logs::LoggerBlock> &downloaded) {
        const auto stored = store_->LoggerDownload(id);
        ASSERT_TRUE(stored) << id;
        EXPECT_EQ(LoggerLines(*stored), LoggerLines(downloaded)) << id;
    };
    const auto expectEvents = [this](qint64 id, const logs::EventTable &downloaded) {
        const auto stored = store_->EventDownload(id);
        ASSERT_TRUE(stored) << id;
        EXPECT_EQ(logs::EventExportLines(*stored, kFormat), logs::EventExportLines(downloaded, kFormat)) << id;
    };
    expectLogger(grown.id, filled);
    expectEvents(store_->History(kSerial, {})[3].id, first);
    expectEvents(events.id, second);
    expectLogger(logger.id, blocks);

    // The download as the log viewer shows it: a series per gas, the logging
    // interval of its blocks, the alarm levels of the settings on record.
    QString error;
    const std::optional<RecordedLog> shown =
        RecordedLogOf(*store_, *store_->Record(logger.id), QLocale::c(), GasText, &error);
    ASSERT_TRUE(shown) << error.toStdString();
    ASSERT_EQ(shown->log->series.size(), 2u);
    EXPECT_EQ(shown->log->series[0].size(), 40u * 15);
    EXPECT_EQ(shown->log->series[0].runs[0].interval, 60);
    EXPECT_EQ(shown->levels.a1, 20.0);
    EXPECT_EQ(shown->levels.stel, 2.5);
    EXPECT_FALSE(shown->levels.a2 || shown->levels.a3 || shown->levels.twa);
    EXPECT_FALSE(AlarmLevelsOfSettings(store_->History(kSerial, {})[1].body, 2, 1).any()); // another gas

    QStringList kinds;
    for (const StoredRecord &r : store_->History(kSerial, {}))
        kinds.append(r.kind);
    EXPECT_EQ(kinds.join(u' '), QStringLiteral("connection settings calibration events events "
                                               "datalog datalog datalog datalog"));
    EXPECT_TRUE(store_->History(kSerial, QStringLiteral("2999-01-01")).empty());

    const std::vector<InstrumentRow> rows = InstrumentRows(store_->Instruments(), QDate(2026, 1, 1));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].serial, kSerial);
    EXPECT_EQ(rows[1].customerId, QStringLiteral("Bau';--"));
    EXPECT_EQ(rows[1].lastCalibrationOutcome, QStringLiteral("OK"));
    EXPECT_TRUE(rows[1].calibrationOverdue);
    EXPECT_FALSE(rows[1].bumpTestOverdue);

    const VerifyResult verified = store_->Verify();
    EXPECT_TRUE(verified.ok) << verified.problem.toStdString();
    EXPECT_EQ(verified.checked, 10);
}

TEST_P(RecordStoreTest, VerifyNamesTheRecordOfAnyChangedRemovedOrReorderedRow)
{
    RecordSession();
    store_->AppendEvents(kSerial, {}, Events(4, {0, 1, 2, 3}));
    store_->AppendLogger(kSerial, {}, Blocks(3, 5000));
    store_->Append(kSerial, kind::kHornCheck, {{QStringLiteral("outcome"), QStringLiteral("OK")}});
    store_->Append(kSerial, kind::kBumpTest, {{QStringLiteral("a1"), 1}}); // no A2 or T50 reported
    const char *const tampering[] = {
        "UPDATE r310_record SET body = body || ' ' WHERE seq = 2",
        "UPDATE r310_record SET recorded_at = '2000-01-01T00:00:00.000Z' WHERE seq = 3",
        "UPDATE r310_record SET os_user = 'someone' WHERE kind = 'events'",
        "DELETE FROM r310_record WHERE seq = 2 AND kind = 'settings'",
        "DELETE FROM r310_record WHERE kind = 'horn-check'",
        "UPDATE r310_record SET seq = 99 WHERE kind = 'calibration'",
        "UPDATE r310_record SET hash = prev_hash WHERE kind = 'horn-check'",
        "UPDATE r310_event SET time = time + 1 WHERE number = 2",
        "DELETE FROM r310_event WHERE number = 4",
        "UPDATE r310_sample SET alarm = alarm + 1 WHERE time = 5900",
        "UPDATE r310_sample SET count = count - 1 WHERE time = 6800 AND gas = 1",
        "DELETE FROM r310_sample WHERE time = 5900 AND gas = 2",
        "UPDATE r310_sample SET added_seq = 1 WHERE time = 5000",
        "UPDATE r310_instrument SET serial = '99999999' WHERE serial = '00001234'",
        "UPDATE r310_instrument SET last_calibration = NULL",
        "UPDATE r310_instrument SET calibration_outcome = 'Error' WHERE serial = '00001234'",
        "UPDATE r310_instrument SET customer_id = 'Site 9' WHERE serial = '00001234'",
        "UPDATE r310_instrument SET bump_a1 = 2 WHERE serial = '00001234'",
        "UPDATE r310_instrument SET bump_t50 = 0 WHERE serial = '00001234'",
        "UPDATE r310_instrument SET head_seq = head_seq - 1 WHERE serial = '00001234'",
    };
    for (const char *sql : tampering) {
        const VerifyResult result = VerifyAfter(QString::fromLatin1(sql));
        EXPECT_FALSE(result.ok) << sql;
        EXPECT_TRUE(result.problem.contains(QLatin1String("record"))) << sql << ": " << result.problem.toStdString();
    }
    EXPECT_TRUE(store_->Verify().ok);
}

TEST_P(RecordStoreTest, TheFirstSchemaIsMigratedInPlaceAndANewerOneRefused)
{
    const RecordsTarget target = store_->target();
    QString error;
    {
        const std::unique_ptr<RecordStore> store = std::move(store_);
        store->Append(kSerial, kind::kConnection, {{QStringLiteral("customerId"), QStringLiteral("Site 4")}});
        store->Append(kSerial, kind::kCalibration,
                      {{QStringLiteral("calibration"), "zero"}, {QStringLiteral("outcome"), "Error"}});
        store->Append(kSerial, kind::kBumpTest, {{QStringLiteral("a1"), 1}, {QStringLiteral("t50"), 12}});
        // Back to the first schema: no latest-record columns.
        QSqlDatabase db = store->database();
        QStringList columns;
        for (const LatestKind &latest : LatestKinds()) {
            columns.append(QLatin1String(latest.idColumn));
            for (const LatestField &field : latest.fields)
                columns.append(QLatin1String(field.column));
        }
        for (const QString &column : columns)
            ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("ALTER TABLE r310_instrument DROP COLUMN %1").arg(column)));
        for (const char *column : {"signature", "key_id"})
            ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("ALTER TABLE r310_record DROP COLUMN %1").arg(QLatin1String(column))));
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("DROP TABLE r310_cylinder")));
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("DROP TABLE r310_key")));
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE r310_schema SET version = 1")));
    }
    {
        // Through every version: each latest record's fields in the instrument's row again.
        auto store = RecordStore::Open(target, &error);
        ASSERT_TRUE(store) << error.toStdString();
        if (target.kind == RecordsTarget::Kind::Sqlite) {
            EXPECT_TRUE(QFile::exists(target.path + QStringLiteral(".schema1")));
        }
        const std::vector<InstrumentSummary> list = store->Instruments();
        ASSERT_EQ(list.size(), 1u);
        const QString today = QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate);
        EXPECT_EQ(FleetCells(FleetRows(list, QDate::currentDate()).at(0)),
                  QStringList({kSerial, QStringLiteral("Site 4"), QStringLiteral("-"),
                               today + QStringLiteral(" zero Error, no passed span"), today + QStringLiteral(" A1 1, A2 , T50 12"),
                               QStringLiteral("-"), QStringLiteral("-"), list.at(0).head.text()}));
        const VerifyResult migrated = store->Verify();
        EXPECT_TRUE(migrated.ok) << migrated.problem.toStdString();
        QSqlDatabase db = store->database();
        EXPECT_TRUE(db.tables().contains(QStringLiteral("r310_cylinder"))); // the register came with the update
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE r310_schema SET version = %1").arg(kSchemaVersion + 1)));
    }
    EXPECT_FALSE(RecordStore::Open(target, &error));
    EXPECT_TRUE(error.contains(QLatin1String("newer"))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Databases, RecordStoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto &info) { return std::string(info.param); });

TEST(RecordStoreKilled, AProgramKilledWhileItStoresADownloadLeavesItWholeOrAbsentAndTheChainsVerified)
{
    r310test::EnsureApplication();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("killed.sqlite"));
    constexpr int kLargeBlocks = 40000; // 1.2 million samples: seconds of storing
    QProcess child;
    child.start(QString::fromUtf8(R310_STORE_CHILD), {path, QString::number(kLargeBlocks)});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray said;
    while (!said.contains("storing\n") && child.waitForReadyRead(30000))
        said += child.readAllStandardOutput();
    ASSERT_TRUE(said.contains("stored\nstoring\n")) << said.toStdString();
    // Killed once the transaction's pages spill into the write-ahead log, or
    // a second into the seconds the large download takes.
    const QString wal = path + QStringLiteral("-wal");
    const qint64 walBefore = QFileInfo(wal).size();
    for (int waited = 0; waited < 1000 && QFileInfo(wal).size() <= walBefore; waited += 10)
        child.waitForFinished(10);
    child.kill(); // SIGKILL
    ASSERT_TRUE(child.waitForFinished());
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the large download was stored before the kill";

    QString error;
    auto store = RecordStore::Open(ParseRecordsUrl(path).target, &error);
    ASSERT_TRUE(store) << error.toStdString();
    const VerifyResult verified = store->Verify();
    EXPECT_TRUE(verified.ok) << verified.problem.toStdString();
    QSqlQuery samples(store->database());
    ASSERT_TRUE(samples.exec(QStringLiteral("SELECT COALESCE(SUM(count), 0) FROM r310_sample")) && samples.next());
    const qint64 stored = samples.value(0).toLongLong();
    std::vector<qint64> added;
    for (const StoredRecord &record : store->History(QStringLiteral("00000042"), {}))
        if (record.kind == kind::kDatalog)
            added.push_back(record.body.value(QStringLiteral("added")).toInteger());
    ASSERT_FALSE(added.empty());
    EXPECT_EQ(added[0], 3 * 30);
    if (added.size() == 1)
        EXPECT_EQ(stored, 3 * 30); // absent
    else
        EXPECT_EQ(stored, 3 * 30 + kLargeBlocks * 30); // whole
}

// A customer ID a spreadsheet would run as a formula stays text in the due
// list's CSV; commas and quotes are quoted.
TEST(DueCsv, CellsThatWouldRunAsFormulasStayText)
{
    const QDate day(2026, 12, 1);
    const std::vector<r310::records::DueItem> items{
        {QStringLiteral("00000001"), QStringLiteral("=HYPERLINK(\"x\")"), QStringLiteral("calibration"), day, 2},
        {QStringLiteral("00000002"), QStringLiteral("@SUM(A1)"), QStringLiteral("bump test"), day, 2},
        {QStringLiteral("00000003"), QStringLiteral("Hall 1, east"), QStringLiteral("bump test"), day, 2}};
    const QStringList lines = r310::records::DueCsvLines(items);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[1], QStringLiteral("00000001,\"'=HYPERLINK(\"\"x\"\")\",calibration,2026-12-01,2"));
    EXPECT_EQ(lines[2], QStringLiteral("00000002,\"'@SUM(A1)\",bump test,2026-12-01,2"));
    EXPECT_EQ(lines[3], QStringLiteral("00000003,\"Hall 1, east\",bump test,2026-12-01,2"));
}
