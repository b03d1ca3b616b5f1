// Schema 6: logger samples keyed by their block's first-sample time, their
// set's number and their index instead of by gas, unit and time. Each run
// kept before is moved whole to the block and set its download read it
// from (the first set of its gas and unit in the first block covering its
// time, as it was kept then), so every download on record still verifies
// and writes out as it did. Sets that were not kept then stay missing.
#include "RecordLoggerRows.h"
#include "RecordSql.h"

#include <DataLoggerExport.h>

#include <map>
#include <tuple>

namespace r310::records::detail {

namespace {

using SampleKey = std::tuple<int, int, std::int32_t>; // gas, unit, time
using SamplePlace = std::tuple<std::int32_t, int, int>; // block time, set number, index

// Where the instrument's downloads, oldest first, read each sample from.
std::map<SampleKey, SamplePlace> SamplePlaces(QSqlDatabase &db, bool pg, qint64 instrument)
{
    std::map<SampleKey, SamplePlace> places;
    QSqlQuery q = Exec(db, pg,
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
        Exec(db, postgres,
             QStringLiteral("CREATE TABLE r310_sample_by_set (instrument_id %1 NOT NULL, block_time INTEGER NOT NULL, "
                            "set_no INTEGER NOT NULL, first_index INTEGER NOT NULL, gas INTEGER NOT NULL, "
                            "unit INTEGER NOT NULL, time INTEGER NOT NULL, step INTEGER NOT NULL, count INTEGER NOT NULL, "
                            "exponent INTEGER NOT NULL, alarm INTEGER NOT NULL, raws %2 NOT NULL, added_seq %1 NOT NULL, "
                            "PRIMARY KEY (instrument_id, block_time, set_no, first_index))%3")
                 .arg(integer, blob, rowid));
        std::vector<qint64> instruments;
        QSqlQuery ids = Exec(db, postgres, QStringLiteral("SELECT DISTINCT instrument_id FROM r310_sample"));
        while (ids.next())
            instruments.push_back(ids.value(0).toLongLong());
        ids.finish();
        for (const qint64 instrument : instruments) {
            const std::map<SampleKey, SamplePlace> places = SamplePlaces(db, postgres, instrument);
            BulkInsert insert(db, postgres, QStringLiteral("r310_sample_by_set"),
                              {QStringLiteral("instrument_id"), QStringLiteral("block_time"), QStringLiteral("set_no"),
                               QStringLiteral("first_index"), QStringLiteral("gas"), QStringLiteral("unit"),
                               QStringLiteral("time"), QStringLiteral("step"), QStringLiteral("count"),
                               QStringLiteral("exponent"), QStringLiteral("alarm"), QStringLiteral("raws"),
                               QStringLiteral("added_seq")});
            QSqlQuery runs = Exec(db, postgres,
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
        Exec(db, postgres, QStringLiteral("DROP TABLE r310_sample"));
        Exec(db, postgres, QStringLiteral("ALTER TABLE r310_sample_by_set RENAME TO r310_sample"));
    } catch (const SqlFailure &failure) {
        *error = failure.text;
        return false;
    }
    return true;
}

} // namespace r310::records::detail
