#include "RecordChain.h"

#include "RecordLoggerRows.h"
#include "RecordSchema.h"
#include "RecordSql.h"

#include <QJsonDocument>

#include <map>
#include <memory>
#include <set>
#include <tuple>

namespace r310::records {

QString RecordHash(const QString &previous, const QString &serial, qint64 seq, const StoredRecord &r,
                   const QString &bodyText, const QString &detailDigest)
{
    const QStringList parts{previous, serial, QString::number(seq), r.kind, r.recordedAt, r.host, r.user,
                            r.program, r.version, bodyText, detailDigest};
    return Hex(Sha256(parts.join(QChar(0x1f)).toUtf8()));
}

// A download's digest: of its layout, and of the rows it added in key order.
QString DetailDigest(const QByteArray &layout, const QByteArray &rowsDigest)
{
    return Hex(Sha256(Sha256(layout) + rowsDigest));
}

QString CylinderHash(const QVariantList &values)
{
    QStringList parts;
    for (const QVariant &value : values) {
        switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
            parts.append(QString::number(value.toDouble(), 'g', 17));
            break;
        case QMetaType::QString:
        case QMetaType::QByteArray:
            parts.append(value.toString());
            break;
        default: // the integers, whichever type the driver gives them
            parts.append(QString::number(value.toLongLong()));
        }
    }
    return Hex(Sha256(parts.join(QChar(0x1f)).toUtf8()));
}

QByteArray CylinderSignedText(const QString &hash) { return QByteArrayLiteral("r310 cylinder ") + hash.toLatin1(); }

QByteArray EventRowBytes(int number, int type, std::int32_t time, const QByteArray &bytes)
{
    QByteArray row;
    PutU16(row, static_cast<std::uint16_t>(number));
    row.append(static_cast<char>(type));
    PutI32(row, time);
    row.append(bytes);
    return row;
}

QByteArray SampleRunBytes(int gas, int unit, std::int32_t time, int step, int count, int exponent, int alarm,
                          const QByteArray &raws)
{
    QByteArray row;
    row.append(static_cast<char>(gas));
    row.append(static_cast<char>(unit));
    PutI32(row, time);
    PutI32(row, step);
    row.append(static_cast<char>(count));
    row.append(static_cast<char>(exponent));
    PutU16(row, static_cast<std::uint16_t>(alarm));
    row.append(raws);
    return row;
}

namespace {

// The keys a verify counts: the trusted list's, else those the database names.
struct KeyBook {
    std::map<QString, QByteArray> keys; // by key id
    std::map<QString, QString> names;   // trusted ones
    std::map<QString, std::pair<QString, QString>> origins; // host, user
    std::map<QString, qint64> counts;
    bool trustedList = false;

    // Why `signature` of `message` does not count; empty when it does.
    QString Problem(const QString &keyId, const QByteArray &message, const QString &signature)
    {
        if (signature.isEmpty() || keyId.isEmpty())
            return QStringLiteral("has no signature");
        ++counts[keyId];
        const auto found = keys.find(keyId);
        if (found == keys.end())
            return trustedList ? QStringLiteral("is signed by key %1, which is not trusted").arg(keyId)
                               : QStringLiteral("is signed by key %1, which is not on record").arg(keyId);
        if (!SignatureHolds(found->second, message, signature))
            return QStringLiteral("has a wrong signature (key %1)").arg(keyId);
        return {};
    }
};

KeyBook ReadKeys(QSqlDatabase &db, bool pg, const VerifyOptions &options)
{
    KeyBook book;
    QSqlQuery q = Exec(db, pg, QStringLiteral("SELECT key_id, public_key, host, os_user FROM r310_key"));
    while (q.next()) {
        const QString id = q.value(0).toString();
        book.origins[id] = {q.value(2).toString(), q.value(3).toString()};
        if (!options.trusted) {
            const QByteArray key = PublicKeyFromText(q.value(1).toString());
            if (KeyId(key) == id)
                book.keys[id] = key;
        }
    }
    if (options.trusted) {
        book.trustedList = true;
        for (const TrustedKey &key : *options.trusted) {
            book.keys[key.id] = key.publicKey;
            book.names[key.id] = key.name;
        }
    }
    return book;
}

// The first cylinder whose row differs from what its signature covers.
QString CylinderProblem(QSqlDatabase &db, bool pg, KeyBook &book)
{
    QSqlQuery q = Exec(db, pg,
                       QStringLiteral("SELECT %1, hash, signature, key_id FROM r310_cylinder ORDER BY lot")
                           .arg(kCylinderSignedColumns));
    while (q.next()) {
        QVariantList values;
        for (int n = 0; n < 11; ++n)
            values.append(q.value(n));
        const QString lot = q.value(0).toString();
        const QString hash = CylinderHash(values);
        if (hash != q.value(11).toString())
            return QStringLiteral("cylinder %1 of the register was changed").arg(lot);
        const QString problem = book.Problem(q.value(13).toString(), CylinderSignedText(hash), q.value(12).toString());
        if (!problem.isEmpty())
            return QStringLiteral("cylinder %1 of the register %2").arg(lot, problem);
    }
    return {};
}

} // namespace

VerifyResult RecordStore::Verify(const VerifyOptions &options)
{
    VerifyResult result;
    QSqlDatabase db = database();
    const bool pg = postgres();
    KeyBook book;
    const auto signers = [&book, &result] {
        for (const auto &[id, count] : book.counts) {
            const auto origin = book.origins.find(id);
            const auto name = book.names.find(id);
            result.signers.push_back({id, origin == book.origins.end() ? QString() : origin->second.first,
                                      origin == book.origins.end() ? QString() : origin->second.second, count,
                                      name == book.names.end() ? QString() : name->second});
        }
    };
    try {
        book = ReadKeys(db, pg, options);
        QSqlQuery orphans = Exec(db, pg, QStringLiteral("SELECT id, seq FROM r310_record WHERE instrument_id NOT IN "
                                                        "(SELECT id FROM r310_instrument) ORDER BY id LIMIT 1"));
        if (orphans.next()) {
            result.problem = QStringLiteral("record id %1 belongs to no instrument on record (changed)")
                                 .arg(orphans.value(0).toLongLong());
            return result;
        }
        orphans.finish();
        // The instrument's row: its chain's head, then for each kind it follows
        // the latest record's id and fields.
        QStringList columns{QStringLiteral("id"), QStringLiteral("serial"), QStringLiteral("head_seq"),
                            QStringLiteral("head_hash")};
        for (const LatestKind &latest : LatestKinds()) {
            columns.append(QLatin1String(latest.idColumn));
            for (const LatestField &field : latest.fields)
                columns.append(QLatin1String(field.column));
        }
        QSqlQuery instruments =
            Exec(db, pg, QStringLiteral("SELECT %1 FROM r310_instrument ORDER BY id").arg(columns.join(u',')));
        struct Head {
            qint64 id;
            QString serial;
            qint64 seq;
            QString hash;
            std::vector<qint64> latest;       // by LatestKinds(); 0 for none
            std::vector<QVariantList> fields; // by LatestKinds()
        };
        std::vector<Head> heads;
        while (instruments.next()) {
            Head h{instruments.value(0).toLongLong(), instruments.value(1).toString(),
                   instruments.value(2).toLongLong(), instruments.value(3).toString(), {}, {}};
            int column = 4;
            for (const LatestKind &latest : LatestKinds()) {
                h.latest.push_back(instruments.isNull(column) ? 0 : instruments.value(column).toLongLong());
                ++column;
                QVariantList values;
                for (std::size_t n = 0; n < latest.fields.size(); ++n)
                    values.append(instruments.value(column++));
                h.fields.push_back(values);
            }
            heads.push_back(std::move(h));
        }
        instruments.finish();
        for (const Head &h : heads) {
            const QString who = QStringLiteral("instrument %1").arg(h.serial);
            // The rows each download added, digested in key order.
            std::map<qint64, std::unique_ptr<QCryptographicHash>> rows;
            auto rowsOf = [&rows](qint64 seq) -> QCryptographicHash & {
                auto &slot = rows[seq];
                if (!slot)
                    slot = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
                return *slot;
            };
            QSqlQuery events = Exec(db, pg, QStringLiteral("SELECT number, type, time, bytes, added_seq FROM r310_event "
                                                           "WHERE instrument_id = ? ORDER BY number, type, time"),
                                    {h.id});
            while (events.next())
                rowsOf(events.value(4).toLongLong())
                    .addData(EventRowBytes(events.value(0).toInt(), events.value(1).toInt(), events.value(2).toInt(),
                                           events.value(3).toByteArray()));
            events.finish();
            QSqlQuery samples = Exec(db, pg, QStringLiteral("SELECT gas, unit, time, step, count, exponent, alarm, raws, "
                                                            "added_seq FROM r310_sample WHERE instrument_id = ? "
                                                            "ORDER BY gas, unit, time, block_time, set_no, first_index"),
                                     {h.id});
            while (samples.next())
                rowsOf(samples.value(8).toLongLong())
                    .addData(SampleRunBytes(samples.value(0).toInt(), samples.value(1).toInt(), samples.value(2).toInt(),
                                            samples.value(3).toInt(), samples.value(4).toInt(),
                                            samples.value(5).toInt(), samples.value(6).toInt(),
                                            samples.value(7).toByteArray()));
            samples.finish();
            // The same rows as downloads keyed by block, set and index digest them.
            std::map<qint64, QByteArray> rowsBySet;
            try {
                rowsBySet = detail::SampleDigestsBySet(db, pg, h.id);
            } catch (const detail::RowsFailure &failure) {
                throw SqlFailure{failure.text};
            }

            QSqlQuery records = Exec(db, pg, QStringLiteral("SELECT id, seq, kind, recorded_at, host, os_user, program, "
                                                            "version, body, detail, prev_hash, hash, signature, key_id "
                                                            "FROM r310_record "
                                                            "WHERE instrument_id = ? ORDER BY seq"),
                                     {h.id});
            QString previous;
            qint64 expected = 1;
            // The newest record of each kind the row follows: its id, time and body.
            std::map<std::size_t, std::tuple<qint64, QString, QString>> newest; // by LatestKinds()
            std::set<qint64> downloads;
            while (records.next()) {
                const qint64 id = records.value(0).toLongLong();
                const qint64 seq = records.value(1).toLongLong();
                if (seq != expected) {
                    result.problem = QStringLiteral("record %1 of %2 was removed or reordered (record %3 follows "
                                                    "record %4)")
                                         .arg(expected).arg(who).arg(seq).arg(expected - 1);
                    return result;
                }
                StoredRecord r;
                r.kind = records.value(2).toString();
                r.recordedAt = records.value(3).toString();
                r.host = records.value(4).toString();
                r.user = records.value(5).toString();
                r.program = records.value(6).toString();
                r.version = records.value(7).toString();
                const QString body = records.value(8).toString();
                const QByteArray detail = records.value(9).toByteArray();
                QString digest;
                const bool logger = r.kind == kind::kDatalog || r.kind == kind::kDatalogUnfinished;
                if (logger || r.kind == kind::kEvents || r.kind == kind::kEventsUnfinished) {
                    const auto found = rows.find(seq);
                    const auto bySet = rowsBySet.find(seq);
                    const bool keyedBySet =
                        logger && QJsonDocument::fromJson(body.toUtf8()).object().value(detail::kSampleRowsKey).toInt()
                                      >= detail::kSampleRowsBySet;
                    const QByteArray none = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256);
                    const QByteArray rowsDigest = keyedBySet ? (bySet == rowsBySet.end() ? none : bySet->second)
                                                  : found == rows.end() ? none
                                                                        : found->second->result();
                    digest = DetailDigest(detail, rowsDigest);
                    downloads.insert(seq);
                }
                if (records.value(10).toString() != previous) {
                    result.problem = QStringLiteral("record %1 of %2 (id %3) does not follow record %4: a record was "
                                                    "removed, reordered or changed")
                                         .arg(seq).arg(who).arg(id).arg(seq - 1);
                    return result;
                }
                const QString hash = RecordHash(previous, h.serial, seq, r, body, digest);
                if (hash != records.value(11).toString()) {
                    result.problem = QStringLiteral("record %1 of %2 (id %3, %4 of %5) was changed")
                                         .arg(seq).arg(who).arg(id).arg(r.kind, r.recordedAt);
                    return result;
                }
                const QString unsigned_ = book.Problem(records.value(13).toString(), RecordSignedText(id, hash),
                                                       records.value(12).toString());
                if (!unsigned_.isEmpty()) {
                    result.problem = QStringLiteral("record %1 of %2 (id %3, %4 of %5) %6")
                                         .arg(seq).arg(who).arg(id).arg(r.kind, r.recordedAt, unsigned_);
                    signers();
                    return result;
                }
                if (FollowsKind(r.kind)) {
                    const QJsonObject parsed = QJsonDocument::fromJson(body.toUtf8()).object();
                    for (std::size_t n = 0; n < LatestKinds().size(); ++n) {
                        if (LatestKinds()[n].follows(r.kind, parsed))
                            newest[n] = {id, r.recordedAt, body};
                    }
                }
                previous = hash;
                ++expected;
                ++result.checked;
            }
            records.finish();
            for (const auto &entry : rows) {
                if (!downloads.count(entry.first)) {
                    result.problem = QStringLiteral("stored events or samples of %1 name record %2, which is no "
                                                    "download of it (changed)")
                                         .arg(who).arg(entry.first);
                    return result;
                }
            }
            if (h.seq != expected - 1 || h.hash != previous) {
                result.problem = QStringLiteral("the last records of %1 were removed or changed: the chain ends at "
                                                "record %2, its head names record %3")
                                     .arg(who).arg(expected - 1).arg(h.seq);
                return result;
            }
            for (std::size_t n = 0; n < LatestKinds().size(); ++n) {
                const LatestKind &latest = LatestKinds()[n];
                const auto found = newest.find(n);
                if ((found == newest.end() ? 0 : std::get<0>(found->second)) != h.latest[n]) {
                    result.problem = QStringLiteral("the latest %1 record that %2 names is not its newest (changed)")
                                         .arg(latest.kind, who);
                    return result;
                }
                const QVariantList wanted =
                    found == newest.end()
                        ? QVariantList(static_cast<qsizetype>(latest.fields.size()))
                        : LatestValues(latest, std::get<1>(found->second),
                                       QJsonDocument::fromJson(std::get<2>(found->second).toUtf8()).object());
                if (!SameLatestValues(latest, h.fields[n], wanted)) {
                    result.problem = QStringLiteral("what %1 keeps in its row of its latest %2 record differs from "
                                                    "that record (changed)")
                                         .arg(who, latest.kind);
                    return result;
                }
            }
        }
        result.problem = CylinderProblem(db, pg, book);
        for (const ChainHead &head : options.heads) {
            if (!result.problem.isEmpty())
                break;
            QSqlQuery q = Exec(db, pg,
                               QStringLiteral("SELECT r.hash FROM r310_record r JOIN r310_instrument i ON i.id = "
                                              "r.instrument_id WHERE i.serial = ? AND r.seq = ?"),
                               {head.serial, head.seq});
            if (!q.next())
                result.problem = QStringLiteral("the head %1 is no longer on record: instrument %2 has lost its "
                                                "records from %3 on, or all of them")
                                     .arg(head.text(), head.serial)
                                     .arg(head.seq);
            else if (!q.value(0).toString().startsWith(head.hash))
                result.problem = QStringLiteral("record %1 of instrument %2 is not the one the head %3 names")
                                     .arg(head.seq)
                                     .arg(head.serial, head.text());
        }
        result.ok = result.problem.isEmpty();
    } catch (const SqlFailure &failure) {
        result.problem = failure.text;
    }
    signers();
    return result;
}

} // namespace r310::records
