// Prints how fast the service records keep a 40,000-block logger download
// (2.4 million samples) in SQLite and in PostgreSQL (a private server
// started for the run), and how long the instrument list takes over 10,000
// instruments with a million records. Goals: at least 500,000 samples a
// second into SQLite; the list within 100 ms.
//
//   records_bench [--list] [--fleet FILE]
//
// --list measures only the instrument list. --fleet keeps the fleet in FILE:
// made there when FILE does not exist, else reused as it is (a fleet made by
// an older build is updated to this schema when it is opened).
#include "LoggerBlocks.h"
#include "PgCluster.h"

#include <RecordSchema.h>
#include <RecordStore.h>
#include <RecordViews.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

using namespace r310;
using namespace r310::records;

namespace {

constexpr int kBlocks = 40000;

std::vector<logs::LoggerBlock> FullLogger()
{
    return recordstest::LoggerBlocks(kBlocks, 400000000, 4);
}

void StoreDownload(const char *name, const RecordsTarget &target, const std::vector<logs::LoggerBlock> &blocks)
{
    QString error;
    auto store = RecordStore::Open(target, &error);
    if (!store) {
        std::printf("%-12s cannot open: %s\n", name, qPrintable(error));
        return;
    }
    QElapsedTimer timer;
    timer.start();
    const AppendResult first = store->AppendLogger(QStringLiteral("00000001"), {}, blocks);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    const AppendResult second = store->AppendLogger(QStringLiteral("00000001"), {}, blocks);
    const double again = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::printf("%-12s %lld samples stored in %.2f s: %.0f samples/s%s, signed; the same download again: %.2f s, "
                "%lld new\n",
                name, static_cast<long long>(first.added), seconds, static_cast<double>(first.added) / seconds,
                first.ok ? "" : " (failed)", again, static_cast<long long>(second.added));
    // Small records, each signed on its own, and the check of every signature.
    constexpr int kRecords = 2000;
    timer.restart();
    for (int n = 0; n < kRecords; ++n)
        store->Append(QStringLiteral("00000002"), kind::kHornCheck, {{QStringLiteral("outcome"), QStringLiteral("OK")}});
    const double appended = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    VerifyOptions trusted;
    trusted.trusted = std::vector<TrustedKey>{{store->key()->publicKey, KeyId(store->key()->publicKey), name}};
    const VerifyResult verified = store->Verify(trusted);
    std::printf("%-12s %d signed records appended in %.2f s: %.0f records/s; verify with signatures: %lld records "
                "in %.2f s%s\n",
                name, kRecords, appended, kRecords / appended, static_cast<long long>(verified.checked),
                static_cast<double>(timer.nsecsElapsed()) / 1e9, verified.ok ? "" : " (failed)");
}

// 10,000 instruments, 100 records each; each instrument's latest connection,
// settings and calibration named in its row, with the fields the list shows.
void MakeFleet(const RecordsTarget &target)
{
    QString error;
    auto store = RecordStore::Open(target, &error);
    if (!store)
        return;
    QSqlDatabase db = store->database();
    QElapsedTimer timer;
    timer.start();
    QSqlQuery(db).exec(QStringLiteral("BEGIN"));
    QSqlQuery record(db);
    record.prepare(QStringLiteral("INSERT INTO r310_record (id, instrument_id, seq, kind, recorded_at, host, os_user, "
                                  "program, version, body, detail, prev_hash, hash) VALUES (?, ?, ?, ?, "
                                  "'2026-01-01T00:00:00.000Z', 'bench', 'bench', 'r310ctl', '0', ?, x'', '', '')"));
    QStringList columns{QStringLiteral("id"), QStringLiteral("serial"), QStringLiteral("head_seq"),
                        QStringLiteral("head_hash")};
    for (int k = 0; k < 3; ++k) {
        const LatestKind &latest = LatestKinds()[static_cast<std::size_t>(k)];
        columns.append(QLatin1String(latest.idColumn));
        for (const LatestField &field : latest.fields)
            columns.append(QLatin1String(field.column));
    }
    QSqlQuery instrument(db);
    instrument.prepare(QStringLiteral("INSERT INTO r310_instrument (%1) VALUES (%2)")
                           .arg(columns.join(u','), QStringList(columns.size(), QStringLiteral("?")).join(u',')));
    const QString kinds[] = {QStringLiteral("connection"), QStringLiteral("settings"), QStringLiteral("calibration"),
                             QStringLiteral("write")};
    const QString bodies[] = {
        QStringLiteral("{\"customerId\":\"Site 4\",\"softwareVersion\":\"2.21\",\"sensorType\":\"103-01\"}"),
        QStringLiteral("{\"gasUnit\":\"ppm CO\",\"nextBumpTest\":\"2026-03-01\",\"nextCalibration\":\"2026-06-01\","
                       "\"settings\":{\"a1\":\"20\",\"a2\":\"40\",\"a3\":\"60\",\"stel\":\"30\",\"twa\":\"20\"}}"),
        QStringLiteral("{\"calibration\":\"span\",\"concentration\":50,\"outcome\":\"OK\"}"),
        QStringLiteral("{\"what\":\"alarm limits\",\"outcome\":\"read back equal\"}")};
    qint64 id = 0;
    for (int i = 1; i <= 10000; ++i) {
        qint64 latest[3] = {};
        for (int seq = 1; seq <= 100; ++seq) {
            const int k = seq <= 3 ? seq - 1 : seq % 4;
            record.bindValue(0, ++id);
            record.bindValue(1, i);
            record.bindValue(2, seq);
            record.bindValue(3, kinds[k]);
            record.bindValue(4, bodies[k]);
            record.exec();
            if (k < 3)
                latest[k] = id;
        }
        // The latest records' fields, as an append keeps them.
        QVariantList values{i, QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0')), 100, QStringLiteral("")};
        for (int k = 0; k < 3; ++k) {
            values.append(latest[k]);
            values += LatestValues(LatestKinds()[static_cast<std::size_t>(k)],
                                   QStringLiteral("2026-01-01T00:00:00.000Z"),
                                   QJsonDocument::fromJson(bodies[k].toUtf8()).object());
        }
        for (int n = 0; n < values.size(); ++n)
            instrument.bindValue(n, values.at(n));
        instrument.exec();
    }
    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
    // Written back from the write-ahead log into the file, as SQLite does on
    // its own after ordinary appends.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    std::printf("fleet        %lld records of 10000 instruments made in %.1f s\n", static_cast<long long>(id),
                static_cast<double>(timer.elapsed()) / 1000.0);
}

void FleetList(const RecordsTarget &target)
{
    if (!QFileInfo::exists(target.path))
        MakeFleet(target);
    QString error;
    QElapsedTimer timer;
    // As `r310ctl records instruments` does it: the store opened, the list read.
    for (int run = 0; run < 3; ++run) {
        timer.restart();
        const std::clock_t cpu = std::clock();
        const auto opened = RecordStore::Open(target, &error);
        if (!opened)
            return;
        const qint64 open = timer.elapsed();
        const std::vector<InstrumentSummary> list = opened->Instruments();
        const qint64 read = timer.elapsed() - open;
        const std::vector<InstrumentRow> rows = InstrumentRows(list, QDate::currentDate());
        // The processor time too: on a busy machine the elapsed time counts other programs' turns.
        const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf("records instruments: %zu instruments in %lld ms, %.0f ms of processor time (goal 100 ms; "
                    "opening %lld ms, reading the records %lld ms)\n",
                    rows.size(), static_cast<long long>(timer.elapsed()), cpuMs, static_cast<long long>(open),
                    static_cast<long long>(read));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool listOnly = args.contains(QStringLiteral("--list"));
    const qsizetype fleetAt = args.indexOf(QStringLiteral("--fleet"));
    if (args.size() != (listOnly ? 1 : 0) + (fleetAt >= 0 ? 2 : 0) || (fleetAt >= 0 && fleetAt + 1 == args.size())) {
        std::fprintf(stderr, "usage: records_bench [--list] [--fleet FILE]\n");
        return 2;
    }
    QTemporaryDir dir;
    // The bench's own signing key, not the user's.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    const QString fleet = fleetAt >= 0 ? args.at(fleetAt + 1) : dir.filePath(QStringLiteral("fleet.sqlite"));
    if (listOnly) {
        FleetList(ParseRecordsUrl(fleet).target);
        return 0;
    }
    const std::vector<logs::LoggerBlock> blocks = FullLogger();
    std::printf("a logger download of %d blocks, 4 sets of 15 samples each: %d samples (goal into SQLite: 500000/s)\n",
                kBlocks, kBlocks * 60);
    StoreDownload("SQLite", ParseRecordsUrl(dir.filePath(QStringLiteral("bench.sqlite"))).target, blocks);
    {
        recordstest::PgCluster cluster;
        if (cluster.problem().isEmpty() && cluster.CreateDatabase(QStringLiteral("bench")))
            StoreDownload("PostgreSQL", cluster.Target(QStringLiteral("bench")), blocks);
        else
            std::printf("PostgreSQL   not measured: %s\n", qPrintable(cluster.problem()));
    }
    FleetList(ParseRecordsUrl(fleet).target);
    return 0;
}
