#include "RecordLoggerRows.h"

#include <DataLoggerExport.h>

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <tuple>
#include <unordered_map>

namespace r310::records::detail {

namespace {

QSqlQuery Run(QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!query.exec(sql))
            throw RowsFailure{query.lastError().text(), query.lastError()};
        return query;
    }
    if (!query.prepare(sql))
        throw RowsFailure{query.lastError().text(), query.lastError()};
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw RowsFailure{query.lastError().text(), query.lastError()};
    return query;
}

template <typename T> void Put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T> T Get(const QByteArray &in, qsizetype at)
{
    return qFromLittleEndian<T>(in.constData() + at);
}

const QStringList kColumns{QStringLiteral("instrument_id"), QStringLiteral("block_time"), QStringLiteral("set_no"),
                           QStringLiteral("first_index"),   QStringLiteral("gas"),        QStringLiteral("unit"),
                           QStringLiteral("time"),          QStringLiteral("step"),       QStringLiteral("count"),
                           QStringLiteral("exponent"),      QStringLiteral("alarm"),      QStringLiteral("raws"),
                           QStringLiteral("added_seq")};

// Rows of kColumns into `table`, many to a statement.
class RowsInsert {
public:
    RowsInsert(QSqlDatabase &db, bool postgres, QString table)
        : db_(db), table_(std::move(table)), perStatement_((postgres ? 4000 : 900) / kColumns.size())
    {
    }
    void Add(const QVariantList &row)
    {
        values_.append(row);
        if (values_.size() >= perStatement_ * kColumns.size())
            Flush();
    }
    void Flush()
    {
        const qsizetype rows = values_.size() / kColumns.size();
        if (rows == 0)
            return;
        const QString one = u'(' + QStringList(kColumns.size(), QStringLiteral("?")).join(u',') + u')';
        Run(db_, QStringLiteral("INSERT INTO %1 (%2) VALUES %3").arg(table_, kColumns.join(u','),
                                                                     QStringList(rows, one).join(u',')),
            values_);
        values_.clear();
    }

private:
    QSqlDatabase &db_;
    QString table_;
    qsizetype perStatement_;
    QVariantList values_;
};

// A run of samples of one set of one block, as stored.
struct SampleRow {
    std::int32_t blockTime = 0;
    int setNumber = 0; // 1 to 4
    int first = 0;     // index of the run's first sample in its set
    int gas = 0;
    int unit = 0;
    std::int32_t time = 0; // of the run's first sample
    int step = 0;
    int exponent = 0;
    int alarm = 0;   // bit k: sample k of the run was taken in alarm
    QByteArray raws; // two bytes a sample, little-endian
    int count() const { return static_cast<int>(raws.size() / 2); }
};

bool DigestOrder(const SampleRow &a, const SampleRow &b)
{
    return std::tie(a.blockTime, a.setNumber, a.first) < std::tie(b.blockTime, b.setNumber, b.first);
}

// A run as its download's digest covers it, with its count as stored.
QByteArray RowBytes(const SampleRow &row, int count)
{
    QByteArray bytes;
    Put<std::int32_t>(bytes, row.blockTime);
    bytes.append(static_cast<char>(row.setNumber));
    bytes.append(static_cast<char>(row.first));
    bytes.append(static_cast<char>(row.gas));
    bytes.append(static_cast<char>(row.unit));
    Put<std::int32_t>(bytes, row.time);
    Put<std::int32_t>(bytes, row.step);
    bytes.append(static_cast<char>(count));
    bytes.append(static_cast<char>(row.exponent));
    Put<std::uint16_t>(bytes, static_cast<std::uint16_t>(row.alarm));
    return bytes + row.raws;
}

using BlockSet = std::pair<std::int32_t, int>; // the block's first-sample time, the set's number

// The earliest and latest first-sample time of the blocks (high < low for none).
std::pair<std::int32_t, std::int32_t> BlockTimeSpan(const std::vector<logs::LoggerBlock> &blocks)
{
    std::int32_t low = 0;
    std::int32_t high = -1;
    for (const logs::LoggerBlock &block : blocks) {
        const std::int32_t t = block.header.firstSampleTime;
        low = high < low ? t : std::min(low, t);
        high = high < low ? t : std::max(high, t);
    }
    return {low, high};
}

// Which samples of each block's sets are on record.
std::map<BlockSet, std::array<bool, logs::kSamplesPerSet>> StoredSamples(QSqlDatabase &db, qint64 instrument,
                                                                         const std::vector<logs::LoggerBlock> &blocks)
{
    std::map<BlockSet, std::array<bool, logs::kSamplesPerSet>> stored;
    const auto [low, high] = BlockTimeSpan(blocks);
    QSqlQuery q = Run(db,
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
std::vector<SampleRow> NewRows(const std::vector<logs::LoggerBlock> &blocks,
                               std::map<BlockSet, std::array<bool, logs::kSamplesPerSet>> &stored)
{
    std::vector<SampleRow> runs;
    for (const logs::LoggerBlock &block : blocks) {
        const logs::LoggerBlockHeader &h = block.header;
        for (std::size_t k = 0; h.setsReadable() && k < block.sets.size(); ++k) {
            const logs::LoggerSampleSet &set = block.sets[k];
            auto &held = stored[{h.firstSampleTime, static_cast<int>(k) + 1}];
            bool open = false;
            for (int i = 0; set.valid() && i < h.samplesPerSet(); ++i) {
                if (held[static_cast<std::size_t>(i)]) {
                    open = false;
                    continue;
                }
                held[static_cast<std::size_t>(i)] = true;
                if (!open)
                    runs.push_back({h.firstSampleTime, static_cast<int>(k) + 1, i, set.gasCode, set.unitCode,
                                    logs::LoggerSampleTime(h, i), h.interval, set.exponent, 0, {}});
                open = true;
                SampleRow &run = runs.back();
                if (set.inAlarm(i))
                    run.alarm |= 1 << run.count();
                Put<std::int16_t>(run.raws, set.samples[static_cast<std::size_t>(i)]);
            }
        }
    }
    std::sort(runs.begin(), runs.end(), DigestOrder);
    return runs;
}

} // namespace

QByteArray LoggerLayout(const std::vector<logs::LoggerBlock> &blocks)
{
    QByteArray layout;
    for (const logs::LoggerBlock &block : blocks) {
        const logs::LoggerBlockHeader &h = block.header;
        Put<std::uint16_t>(layout, h.state);
        Put<std::int32_t>(layout, h.firstSampleTime);
        Put<std::uint16_t>(layout, h.interval);
        layout.append(static_cast<char>(h.reportedSamples));
        layout.append(static_cast<char>(h.setCount));
        layout.append(static_cast<char>(block.sets.size()));
        for (const logs::LoggerSampleSet &set : block.sets) {
            for (const std::uint8_t byte : {set.state, set.gasCode, set.unitCode})
                layout.append(static_cast<char>(byte));
            layout.append(static_cast<char>(set.exponent));
            Put<std::uint16_t>(layout, set.alarmBits);
        }
    }
    return layout;
}

std::optional<std::vector<logs::LoggerBlock>> BlocksOfLayout(const QByteArray &layout)
{
    std::vector<logs::LoggerBlock> blocks;
    qsizetype at = 0;
    while (at < layout.size()) {
        if (at + 11 > layout.size())
            return std::nullopt;
        logs::LoggerBlock block;
        block.header.state = Get<std::uint16_t>(layout, at);
        block.header.firstSampleTime = Get<std::int32_t>(layout, at + 2);
        block.header.interval = Get<std::uint16_t>(layout, at + 6);
        block.header.reportedSamples = static_cast<std::uint8_t>(layout.at(at + 8));
        block.header.setCount = static_cast<std::uint8_t>(layout.at(at + 9));
        const int sets = static_cast<std::uint8_t>(layout.at(at + 10));
        at += 11;
        for (int k = 0; k < sets; ++k, at += 6) {
            if (at + 6 > layout.size())
                return std::nullopt;
            logs::LoggerSampleSet set;
            set.state = static_cast<std::uint8_t>(layout.at(at));
            set.gasCode = static_cast<std::uint8_t>(layout.at(at + 1));
            set.unitCode = static_cast<std::uint8_t>(layout.at(at + 2));
            set.exponent = static_cast<std::int8_t>(layout.at(at + 3));
            set.alarmBits = Get<std::uint16_t>(layout, at + 4);
            block.sets.push_back(set);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

LoggerRowsAdded StoreLoggerRows(QSqlDatabase &db, bool postgres, qint64 instrument, qint64 seq,
                                const std::vector<logs::LoggerBlock> &blocks)
{
    LoggerRowsAdded added;
    added.layout = LoggerLayout(blocks);
    auto stored = StoredSamples(db, instrument, blocks);
    QCryptographicHash digest(QCryptographicHash::Sha256);
    RowsInsert insert(db, postgres, QStringLiteral("r310_sample"));
    for (const SampleRow &run : NewRows(blocks, stored)) {
        insert.Add({instrument, run.blockTime, run.setNumber, run.first, run.gas, run.unit, run.time, run.step,
                    run.count(), run.exponent, run.alarm, run.raws, seq});
        digest.addData(RowBytes(run, run.count()));
        added.samples += run.count();
    }
    insert.Flush();
    added.rowsDigest = digest.result();
    return added;
}

std::map<qint64, QByteArray> SampleDigestsBySet(QSqlDatabase &db, bool, qint64 instrument)
{
    std::map<qint64, QCryptographicHash> digests;
    QSqlQuery q = Run(db,
                      QStringLiteral("SELECT block_time, set_no, first_index, gas, unit, time, step, count, exponent, "
                                     "alarm, raws, added_seq FROM r310_sample WHERE instrument_id = ? ORDER BY "
                                     "block_time, set_no, first_index"),
                      {instrument});
    while (q.next()) {
        const SampleRow row{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                            q.value(4).toInt(), q.value(5).toInt(), q.value(6).toInt(), q.value(8).toInt(),
                            q.value(9).toInt(), q.value(10).toByteArray()};
        digests.try_emplace(q.value(11).toLongLong(), QCryptographicHash::Sha256)
            .first->second.addData(RowBytes(row, q.value(7).toInt()));
    }
    std::map<qint64, QByteArray> results;
    for (const auto &[seq, digest] : digests)
        results.emplace(seq, digest.result());
    return results;
}

void FillSamples(QSqlDatabase &db, bool, qint64 instrument, bool bySet, std::vector<logs::LoggerBlock> &blocks)
{
    // By block and set: gas, unit and each index's raw value; before: by gas, unit and time.
    std::map<BlockSet, std::pair<std::pair<int, int>, std::array<std::optional<std::int16_t>, logs::kSamplesPerSet>>>
        held;
    std::map<std::pair<int, int>, std::unordered_map<std::int32_t, std::int16_t>> byTime;
    const auto [low, high] = BlockTimeSpan(blocks);
    QSqlQuery q = bySet ? Run(db,
                              QStringLiteral("SELECT block_time, set_no, first_index, gas, unit, raws FROM r310_sample "
                                             "WHERE instrument_id = ? AND block_time >= ? AND block_time <= ?"),
                              {instrument, low, high})
                        : Run(db, QStringLiteral("SELECT time, step, 0, gas, unit, raws FROM r310_sample WHERE "
                                                 "instrument_id = ?"),
                              {instrument});
    while (q.next()) {
        const QByteArray raws = q.value(5).toByteArray();
        const std::pair<int, int> gasUnit{q.value(3).toInt(), q.value(4).toInt()};
        for (qsizetype k = 0; k + 1 < raws.size(); k += 2) {
            const auto raw = Get<std::int16_t>(raws, k);
            if (!bySet) {
                // A run from `time` on, `step` seconds apart.
                const std::int64_t time = q.value(0).toLongLong() + q.value(1).toLongLong() * (k / 2);
                byTime[gasUnit].emplace(static_cast<std::int32_t>(time), raw);
                continue;
            }
            const int i = q.value(2).toInt() + static_cast<int>(k / 2);
            if (i < 0 || i >= logs::kSamplesPerSet)
                continue;
            auto &set = held[{q.value(0).toInt(), q.value(1).toInt()}];
            set.first = gasUnit;
            set.second[static_cast<std::size_t>(i)] = raw;
        }
    }
    for (logs::LoggerBlock &block : blocks) {
        for (std::size_t k = 0; block.header.setsReadable() && k < block.sets.size(); ++k) {
            logs::LoggerSampleSet &set = block.sets[k];
            const std::pair<int, int> gasUnit{set.gasCode, set.unitCode};
            const auto found = held.find({block.header.firstSampleTime, static_cast<int>(k) + 1});
            for (int i = 0; set.valid() && i < block.header.samplesPerSet(); ++i) {
                std::optional<std::int16_t> raw;
                if (bySet && found != held.end() && found->second.first == gasUnit)
                    raw = found->second.second[static_cast<std::size_t>(i)];
                if (!bySet) {
                    const auto &values = byTime[gasUnit];
                    const auto at = values.find(logs::LoggerSampleTime(block.header, i));
                    raw = at == values.end() ? std::nullopt : std::optional<std::int16_t>(at->second);
                }
                if (!raw)
                    throw RowsFailure{QStringLiteral("a sample of the download is not on record"), {}};
                set.samples[static_cast<std::size_t>(i)] = *raw;
            }
        }
    }
}


// Schema 6: each run kept before by gas, unit and time is moved whole to the
// block and set its download read it from (the first set of its gas and
// unit in the first block covering its time, as it was kept then), so every
// download on record still verifies and writes out as it did. Sets that
// were not kept then stay missing.
namespace {

using SampleKey = std::tuple<int, int, std::int32_t>; // gas, unit, time
using SamplePlace = std::tuple<std::int32_t, int, int>; // block time, set number, index

// Where the instrument's downloads, oldest first, read each sample from.
std::map<SampleKey, SamplePlace> SamplePlaces(QSqlDatabase &db, qint64 instrument)
{
    std::map<SampleKey, SamplePlace> places;
    QSqlQuery q = Run(db,
                      QStringLiteral("SELECT detail FROM r310_record WHERE instrument_id = ? AND kind = 'datalog' "
                                      "ORDER BY seq"),
                       {instrument});
    while (q.next()) {
        const std::optional<std::vector<logs::LoggerBlock>> blocks = BlocksOfLayout(q.value(0).toByteArray());
        for (const logs::LoggerBlock &block : blocks.value_or(std::vector<logs::LoggerBlock>())) {
            if (!block.header.setsReadable())
                continue;
            for (std::size_t k = 0; k < block.sets.size(); ++k) {
                const logs::LoggerSampleSet &set = block.sets[k];
                for (int i = 0; set.valid() && i < block.header.samplesPerSet(); ++i)
                    places.emplace(SampleKey{set.gasCode, set.unitCode, logs::LoggerSampleTime(block.header, i)},
                                   SamplePlace{block.header.firstSampleTime, static_cast<int>(k) + 1, i});
            }
        }
    }
    return places;
}

} // namespace

bool KeySamplesBySet(QSqlDatabase &db, bool postgres, QString *error)
{
    const QString integer = postgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    const QString blob = postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
    const QString rowid = postgres ? QString() : QStringLiteral(" WITHOUT ROWID");
    try {
        Run(db,
            QStringLiteral("CREATE TABLE r310_sample_by_set (instrument_id %1 NOT NULL, block_time INTEGER NOT NULL, "
                            "set_no INTEGER NOT NULL, first_index INTEGER NOT NULL, gas INTEGER NOT NULL, "
                            "unit INTEGER NOT NULL, time INTEGER NOT NULL, step INTEGER NOT NULL, count INTEGER NOT NULL, "
                            "exponent INTEGER NOT NULL, alarm INTEGER NOT NULL, raws %2 NOT NULL, added_seq %1 NOT NULL, "
                            "PRIMARY KEY (instrument_id, block_time, set_no, first_index))%3")
                 .arg(integer, blob, rowid));
        std::vector<qint64> instruments;
        QSqlQuery ids = Run(db, QStringLiteral("SELECT DISTINCT instrument_id FROM r310_sample"));
        while (ids.next())
            instruments.push_back(ids.value(0).toLongLong());
        ids.finish();
        for (const qint64 instrument : instruments) {
            const std::map<SampleKey, SamplePlace> places = SamplePlaces(db, instrument);
            RowsInsert insert(db, postgres, QStringLiteral("r310_sample_by_set"));
            QSqlQuery runs = Run(db,
                                  QStringLiteral("SELECT gas, unit, time, step, count, exponent, alarm, raws, added_seq "
                                                 "FROM r310_sample WHERE instrument_id = ?"),
                                  {instrument});
            while (runs.next()) {
                const int gas = runs.value(0).toInt();
                const int unit = runs.value(1).toInt();
                const std::int32_t time = runs.value(2).toInt();
                const auto found = places.find({gas, unit, time});
                // A run no download on record names: kept under no set, apart from every other.
                const SamplePlace place = found != places.end() ? found->second
                                                                : SamplePlace{time, 0, -(1 + gas * 256 + unit)};
                insert.Add({instrument, std::get<0>(place), std::get<1>(place), std::get<2>(place), gas, unit, time,
                            runs.value(3), runs.value(4), runs.value(5), runs.value(6), runs.value(7), runs.value(8)});
            }
            runs.finish();
            insert.Flush();
        }
        Run(db, QStringLiteral("DROP TABLE r310_sample"));
        Run(db, QStringLiteral("ALTER TABLE r310_sample_by_set RENAME TO r310_sample"));
    } catch (const RowsFailure &failure) {
        *error = failure.text;
        return false;
    }
    return true;
}

} // namespace r310::records::detail
