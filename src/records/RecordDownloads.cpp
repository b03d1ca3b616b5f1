#include "RecordStore.h"

#include "RecordSql.h"

#include <map>
#include <set>

namespace r310::records {

using namespace detail;

AppendResult RecordStore::AppendEvents(const QString &serial, QJsonObject body, const logs::EventTable &table,
                                       const QString &recordKind)
{
    body.insert(QStringLiteral("count"), table.size());
    body.insert(QStringLiteral("read"), table.filledCount());
    return AppendWith(serial, recordKind, body, [&table](Pending &p) {
        std::set<EventKey> stored;
        QSqlQuery existing = Exec(p.db, p.postgres,
                                  QStringLiteral("SELECT number, type, time FROM r310_event WHERE instrument_id = ?"),
                                  {p.instrumentId});
        while (existing.next())
            stored.insert({existing.value(0).toInt(), existing.value(1).toInt(), existing.value(2).toInt()});
        existing.finish();
        // The layout: the count, then number, type and time of every entry read.
        PutI32(p.layout, table.size());
        std::map<EventKey, QByteArray> added;
        for (int j = 0; j < table.size(); ++j) {
            const auto &event = table.at(j);
            if (!event)
                continue;
            const QByteArray bytes(reinterpret_cast<const char *>(event->data()), static_cast<int>(event->size()));
            const EventKey key{j + 1, (*event)[2], static_cast<std::int32_t>(Reader(bytes.mid(4, 4)).i32())};
            PutU16(p.layout, static_cast<std::uint16_t>(key.number));
            p.layout.append(static_cast<char>(key.type));
            PutI32(p.layout, key.time);
            if (!stored.count(key))
                added.emplace(key, bytes);
        }
        QCryptographicHash rows(QCryptographicHash::Sha256);
        BulkInsert insert(p.db, p.postgres, QStringLiteral("r310_event"),
                          {QStringLiteral("instrument_id"), QStringLiteral("number"), QStringLiteral("type"),
                           QStringLiteral("time"), QStringLiteral("bytes"), QStringLiteral("added_seq")});
        for (const auto &[key, bytes] : added) {
            insert.Add({p.instrumentId, key.number, key.type, key.time, bytes, p.seq});
            rows.addData(EventRowBytes(key.number, key.type, key.time, bytes));
        }
        insert.Flush();
        p.rowsDigest = rows.result();
        p.added = static_cast<qint64>(added.size());
        p.extra.insert(QStringLiteral("added"), p.added);
        p.detailed = true;
        return true;
    });
}

std::optional<logs::EventTable> RecordStore::EventDownload(qint64 recordId, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery r = Exec(db, postgres(),
                           QStringLiteral("SELECT instrument_id, detail FROM r310_record WHERE id = ? AND "
                                          "(kind = ? OR kind = ?)"),
                           {recordId, kind::kEvents, kind::kEventsUnfinished});
        if (!r.next())
            throw SqlFailure{QStringLiteral("no event download with record id %1").arg(recordId)};
        const qint64 instrument = r.value(0).toLongLong();
        const QByteArray layout = r.value(1).toByteArray();
        r.finish();
        std::map<EventKey, QByteArray> events;
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT number, type, time, bytes FROM r310_event WHERE instrument_id = ?"),
                           {instrument});
        while (q.next())
            events.emplace(EventKey{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt()}, q.value(3).toByteArray());
        Reader in(layout);
        if (!in.ok(4))
            throw SqlFailure{QStringLiteral("the download's record holds no layout")};
        logs::EventTable table;
        table.Prepare(in.i32());
        while (!in.atEnd() && in.ok(7)) {
            EventKey key{};
            key.number = in.u16();
            key.type = in.u8();
            key.time = in.i32();
            const auto found = events.find(key);
            if (found == events.end())
                throw SqlFailure{QStringLiteral("event %1 of the download is not on record").arg(key.number)};
            AnswerFrame frame;
            frame.object = kObjectEventRecord;
            frame.flags = kFlagsDataAnswer;
            frame.intact = true;
            frame.payload.assign(found->second.begin(), found->second.end());
            table.Fill(key.number - 1, frame);
        }
        return table;
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

} // namespace r310::records
