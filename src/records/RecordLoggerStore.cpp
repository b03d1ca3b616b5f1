// A data logger download kept and read back: every sample of every set of
// every block once, keyed by block, set and index (see RecordLoggerRows.h).
#include "RecordStore.h"

#include "RecordLoggerRows.h"
#include "RecordSql.h"

#include <DataLoggerExport.h>

#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>
#include <utility>

namespace r310::records {

using namespace detail;

namespace {

using BlockSet = std::pair<std::int32_t, int>; // the block's first-sample time, the set's number

// The earliest and latest first-sample time of the blocks.
std::pair<std::int32_t, std::int32_t> BlockTimeSpan(const std::vector<logs::LoggerBlock> &blocks)
{
    std::int32_t low = 0;
    std::int32_t high = -1;
    for (const logs::LoggerBlock &block : blocks) {
        const std::int32_t t = block.header.firstSampleTime;
        if (high < low) {
            low = high = t;
        } else {
            low = std::min(low, t);
            high = std::max(high, t);
        }
    }
    return {low, high};
}

// Which samples of each block's sets are on record, by block and set.
std::map<BlockSet, std::array<bool, logs::kSamplesPerSet>> StoredSamples(QSqlDatabase &db, bool pg, qint64 instrument,
                                                                         const std::vector<logs::LoggerBlock> &blocks)
{
    std::map<BlockSet, std::array<bool, logs::kSamplesPerSet>> stored;
    const auto [low, high] = BlockTimeSpan(blocks);
    if (high < low)
        return stored;
    QSqlQuery q = Exec(db, pg,
                       QStringLiteral("SELECT block_time, set_no, first_index, count FROM r310_sample WHERE "
                                      "instrument_id = ? AND block_time >= ? AND block_time <= ?"),
                       {instrument, low, high});
    while (q.next()) {
        auto &held = stored[{q.value(0).toInt(), q.value(1).toInt()}];
        const int first = q.value(2).toInt();
        for (int i = std::max(first, 0); i < std::min(first + q.value(3).toInt(), logs::kSamplesPerSet); ++i)
            held[static_cast<std::size_t>(i)] = true;
    }
    return stored;
}

// The samples of the blocks not on record yet, in runs along each set.
std::vector<SampleRow> NewSampleRows(const std::vector<logs::LoggerBlock> &blocks,
                                     std::map<BlockSet, std::array<bool, logs::kSamplesPerSet>> &stored)
{
    std::vector<SampleRow> runs;
    for (const logs::LoggerBlock &block : blocks) {
        const logs::LoggerBlockHeader &h = block.header;
        if (!h.setsReadable())
            continue;
        for (std::size_t k = 0; k < block.sets.size(); ++k) {
            const logs::LoggerSampleSet &set = block.sets[k];
            if (!set.valid())
                continue;
            const int number = static_cast<int>(k) + 1;
            auto &held = stored[{h.firstSampleTime, number}];
            bool open = false;
            for (int i = 0; i < h.samplesPerSet(); ++i) {
                if (held[static_cast<std::size_t>(i)]) {
                    open = false;
                    continue;
                }
                held[static_cast<std::size_t>(i)] = true;
                if (!open) {
                    runs.push_back({h.firstSampleTime, number, i, set.gasCode, set.unitCode,
                                    logs::LoggerSampleTime(h, i), h.interval, set.exponent, 0, {}});
                    open = true;
                }
                SampleRow &run = runs.back();
                if (set.inAlarm(i))
                    run.alarm |= 1 << run.count();
                PutU16(run.raws, static_cast<std::uint16_t>(set.samples[static_cast<std::size_t>(i)]));
            }
        }
    }
    std::sort(runs.begin(), runs.end(), DigestOrder);
    return runs;
}

// Fills the sets' samples of a download keyed by block, set and index.
void FillBySet(QSqlDatabase &db, bool pg, qint64 instrument, std::vector<logs::LoggerBlock> &blocks)
{
    struct Held {
        int gas = 0;
        int unit = 0;
        std::array<std::optional<std::int16_t>, logs::kSamplesPerSet> raws;
    };
    std::map<BlockSet, Held> held;
    const auto [low, high] = BlockTimeSpan(blocks);
    QSqlQuery q = Exec(db, pg,
                       QStringLiteral("SELECT block_time, set_no, first_index, gas, unit, raws FROM r310_sample "
                                      "WHERE instrument_id = ? AND block_time >= ? AND block_time <= ?"),
                       {instrument, low, high});
    while (q.next()) {
        Held &h = held[{q.value(0).toInt(), q.value(1).toInt()}];
        h.gas = q.value(3).toInt();
        h.unit = q.value(4).toInt();
        const QByteArray raws = q.value(5).toByteArray();
        Reader values(raws);
        for (int i = q.value(2).toInt(); values.ok(2); ++i) {
            const auto raw = static_cast<std::int16_t>(values.u16());
            if (i >= 0 && i < logs::kSamplesPerSet)
                h.raws[static_cast<std::size_t>(i)] = raw;
        }
    }
    for (logs::LoggerBlock &block : blocks) {
        if (!block.header.setsReadable())
            continue;
        for (std::size_t k = 0; k < block.sets.size(); ++k) {
            logs::LoggerSampleSet &set = block.sets[k];
            if (!set.valid())
                continue;
            const auto found = held.find({block.header.firstSampleTime, static_cast<int>(k) + 1});
            for (int i = 0; i < block.header.samplesPerSet(); ++i) {
                if (found == held.end() || found->second.gas != set.gasCode || found->second.unit != set.unitCode
                    || !found->second.raws[static_cast<std::size_t>(i)])
                    throw SqlFailure{QStringLiteral("a sample of the download is not on record")};
                set.samples[static_cast<std::size_t>(i)] = *found->second.raws[static_cast<std::size_t>(i)];
            }
        }
    }
}

// Fills the sets' samples of a download made before samples were keyed by
// set: by gas, unit and time, as they were kept then. A later set of the
// same gas and unit as an earlier one was not kept; it shows that one's samples.
void FillByTime(QSqlDatabase &db, bool pg, qint64 instrument, std::vector<logs::LoggerBlock> &blocks)
{
    std::map<std::pair<int, int>, std::unordered_map<std::int32_t, std::int16_t>> samples;
    for (const logs::LoggerBlock &block : blocks) {
        for (const logs::LoggerSampleSet &set : block.sets)
            samples[{set.gasCode, set.unitCode}];
    }
    for (auto &[key, byTime] : samples) {
        QSqlQuery q = Exec(db, pg,
                           QStringLiteral("SELECT time, step, raws FROM r310_sample WHERE instrument_id = ? AND "
                                          "gas = ? AND unit = ?"),
                           {instrument, key.first, key.second});
        while (q.next()) {
            const std::int64_t time = q.value(0).toLongLong();
            const std::int64_t step = q.value(1).toLongLong();
            const QByteArray raws = q.value(2).toByteArray();
            Reader values(raws);
            for (int k = 0; values.ok(2); ++k)
                byTime.emplace(static_cast<std::int32_t>(time + step * k), static_cast<std::int16_t>(values.u16()));
        }
    }
    for (logs::LoggerBlock &block : blocks) {
        if (!block.header.setsReadable())
            continue;
        for (logs::LoggerSampleSet &set : block.sets) {
            if (!set.valid())
                continue;
            const auto &byTime = samples[{set.gasCode, set.unitCode}];
            for (int i = 0; i < block.header.samplesPerSet(); ++i) {
                const auto found = byTime.find(logs::LoggerSampleTime(block.header, i));
                if (found == byTime.end())
                    throw SqlFailure{QStringLiteral("a sample of the download is not on record")};
                set.samples[static_cast<std::size_t>(i)] = found->second;
            }
        }
    }
}

} // namespace

AppendResult RecordStore::AppendLogger(const QString &serial, QJsonObject body,
                                       const std::vector<logs::LoggerBlock> &blocks, const QString &recordKind)
{
    body.insert(kSampleRowsKey, kSampleRowsBySet);
    return AppendWith(serial, recordKind, body, [&blocks](Pending &p) {
        p.layout = LoggerLayout(blocks);
        auto stored = StoredSamples(p.db, p.postgres, p.instrumentId, blocks);
        const std::vector<SampleRow> runs = NewSampleRows(blocks, stored);
        QCryptographicHash rows(QCryptographicHash::Sha256);
        BulkInsert insert(p.db, p.postgres, QStringLiteral("r310_sample"),
                          {QStringLiteral("instrument_id"), QStringLiteral("block_time"), QStringLiteral("set_no"),
                           QStringLiteral("first_index"), QStringLiteral("gas"), QStringLiteral("unit"),
                           QStringLiteral("time"), QStringLiteral("step"), QStringLiteral("count"),
                           QStringLiteral("exponent"), QStringLiteral("alarm"), QStringLiteral("raws"),
                           QStringLiteral("added_seq")});
        for (const SampleRow &run : runs) {
            insert.Add({p.instrumentId, run.blockTime, run.setNumber, run.first, run.gas, run.unit, run.time, run.step,
                        run.count(), run.exponent, run.alarm, run.raws, p.seq});
            rows.addData(SampleRowBytes(run, run.count()));
            p.added += run.count();
        }
        insert.Flush();
        p.rowsDigest = rows.result();
        p.extra.insert(QStringLiteral("added"), p.added);
        p.detailed = true;
        return true;
    });
}

std::optional<std::vector<logs::LoggerBlock>> RecordStore::LoggerDownload(qint64 recordId, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery r = Exec(db, postgres(),
                           QStringLiteral("SELECT instrument_id, detail, body FROM r310_record WHERE id = ? AND "
                                          "(kind = ? OR kind = ?)"),
                           {recordId, kind::kDatalog, kind::kDatalogUnfinished});
        if (!r.next())
            throw SqlFailure{QStringLiteral("no logger download with record id %1").arg(recordId)};
        const qint64 instrument = r.value(0).toLongLong();
        std::optional<std::vector<logs::LoggerBlock>> blocks = BlocksOfLayout(r.value(1).toByteArray());
        const QJsonObject body = QJsonDocument::fromJson(r.value(2).toString().toUtf8()).object();
        r.finish();
        if (!blocks)
            throw SqlFailure{QStringLiteral("the download's layout is cut short")};
        if (body.value(kSampleRowsKey).toInt() >= kSampleRowsBySet)
            FillBySet(db, postgres(), instrument, *blocks);
        else
            FillByTime(db, postgres(), instrument, *blocks);
        return blocks;
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

} // namespace r310::records
