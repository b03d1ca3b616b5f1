#include "RecordStore.h"

#include "RecordSchema.h"
#include "RecordSql.h"

#include <DataLoggerExport.h>

#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <map>

namespace r310::records {

namespace {

const QString kRecordColumns = QStringLiteral(
    "r.id, r.seq, i.serial, r.kind, r.recorded_at, r.host, r.os_user, r.program, r.version, r.body, r.hash, "
    "r.signature, r.key_id");

StoredRecord RecordFrom(const QSqlQuery &q, int first = 0)
{
    StoredRecord r;
    r.id = q.value(first).toLongLong();
    r.seq = q.value(first + 1).toLongLong();
    r.serial = q.value(first + 2).toString();
    r.kind = q.value(first + 3).toString();
    r.recordedAt = q.value(first + 4).toString();
    r.host = q.value(first + 5).toString();
    r.user = q.value(first + 6).toString();
    r.program = q.value(first + 7).toString();
    r.version = q.value(first + 8).toString();
    r.body = QJsonDocument::fromJson(q.value(first + 9).toString().toUtf8()).object();
    r.hash = q.value(first + 10).toString();
    r.signature = q.value(first + 11).toString();
    r.keyId = q.value(first + 12).toString();
    return r;
}

} // namespace

QString ChainHead::text() const { return QStringLiteral("%1:%2:%3").arg(serial).arg(seq).arg(hash.left(16)); }

std::optional<ChainHead> ParseChainHead(const QString &text)
{
    // The serial may hold ':' itself; the last two fields are the place and the hash.
    const QString trimmed = text.trimmed();
    const int second = trimmed.lastIndexOf(u':');
    const int first = second > 0 ? trimmed.lastIndexOf(u':', second - 1) : -1;
    if (first <= 0)
        return std::nullopt;
    ChainHead head;
    bool ok = false;
    head.serial = trimmed.left(first);
    head.seq = trimmed.mid(first + 1, second - first - 1).toLongLong(&ok);
    head.hash = trimmed.mid(second + 1).toLower();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{8,64}$"));
    if (!ok || head.seq < 1 || !hex.match(head.hash).hasMatch())
        return std::nullopt;
    return head;
}

std::optional<ChainHead> RecordStore::Head(const QString &serial, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT head_seq, head_hash FROM r310_instrument WHERE serial = ?"), {serial});
        if (q.next() && q.value(0).toLongLong() > 0)
            return ChainHead{serial, q.value(0).toLongLong(), q.value(1).toString()};
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

std::optional<StoredRecord> RecordStore::Latest(const QString &serial, const QString &kind, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE i.serial = ? AND r.kind = ? ORDER BY r.seq DESC LIMIT 1")
                               .arg(kRecordColumns),
                           {serial, kind});
        if (q.next())
            return RecordFrom(q);
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

std::optional<StoredRecord> RecordStore::Record(qint64 id, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE r.id = ?")
                               .arg(kRecordColumns),
                           {id});
        if (q.next())
            return RecordFrom(q);
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return std::nullopt;
}

std::optional<StoredRecord> RecordStore::RecordOfHash(const QString &hashStart, const QString &kind, QString *error)
{
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE r.hash LIKE ? AND r.kind = ? ORDER BY r.id LIMIT 2")
                               .arg(kRecordColumns),
                           {hashStart + u'%', kind});
        if (!q.next())
            return std::nullopt;
        StoredRecord found = RecordFrom(q);
        if (q.next()) {
            *error = QStringLiteral("two %1 records have hashes starting %2").arg(kind, hashStart);
            return std::nullopt;
        }
        return found;
    } catch (const SqlFailure &failure) {
        *error = failure.text;
    }
    return std::nullopt;
}

std::vector<InstrumentSummary> RecordStore::Instruments(QString *error)
{
    std::vector<InstrumentSummary> list;
    QSqlDatabase db = database();
    // One row per instrument: the fields of its latest records are columns of it.
    QStringList columns{QStringLiteral("serial")};
    for (const LatestKind &latest : LatestKinds()) {
        for (const LatestField &field : latest.fields)
            columns.append(QLatin1String(field.column));
    }
    columns << QStringLiteral("head_seq") << QStringLiteral("head_hash");
    try {
        QSqlQuery count = Exec(db, postgres(), QStringLiteral("SELECT COUNT(*) FROM r310_instrument"));
        if (count.next())
            list.reserve(static_cast<std::size_t>(count.value(0).toLongLong()));
        count.finish();
        QSqlQuery q = Exec(db, postgres(), QStringLiteral("SELECT %1 FROM r310_instrument").arg(columns.join(u',')));
        while (q.next()) {
            // In the order of LatestKinds().
            int column = 0;
            const auto text = [&q, &column] { return q.value(column++).toString(); };
            const auto number = [&q, &column]() -> std::optional<double> {
                const QVariant value = q.value(column++);
                return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
            };
            InstrumentSummary s;
            s.serial = text();
            s.lastSeen = text();
            s.customerId = text();
            s.softwareVersion = text();
            s.connectionGasUnit = text();
            s.settingsGasUnit = text();
            s.nextCalibration = text();
            s.nextBumpTest = text();
            s.bumpInterval = text();
            s.calibratedAt = text();
            s.calibrationKind = text();
            s.calibrationOutcome = text();
            s.bumpTestedAt = text();
            s.bumpA1 = number();
            s.bumpA2 = number();
            s.bumpT50 = number();
            s.bumpOutcome = text();
            s.bumpCylinder = text();
            s.spanCalibratedAt = text();
            s.bumpPassedAt = text();
            s.head = ChainHead{s.serial, q.value(column).toLongLong(), q.value(column + 1).toString()};
            list.push_back(std::move(s));
        }
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    // Sorted here: the table read in its own order costs less than through the serial's index.
    std::sort(list.begin(), list.end(),
              [](const InstrumentSummary &a, const InstrumentSummary &b) { return a.serial < b.serial; });
    return list;
}

std::vector<StoredRecord> RecordStore::History(const QString &serial, const QString &since, QString *error)
{
    std::vector<StoredRecord> list;
    QSqlDatabase db = database();
    try {
        QSqlQuery q = Exec(db, postgres(),
                           QStringLiteral("SELECT %1 FROM r310_record r JOIN r310_instrument i ON i.id = r.instrument_id "
                                          "WHERE i.serial = ? AND r.recorded_at >= ? ORDER BY r.seq")
                               .arg(kRecordColumns),
                           {serial, since.isEmpty() ? QStringLiteral("") : since});
        while (q.next())
            list.push_back(RecordFrom(q));
    } catch (const SqlFailure &failure) {
        if (error)
            *error = failure.text;
    }
    return list;
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
