#include "RecordSchema.h"
#include "RecordChain.h"
#include "RecordKeys.h"
#include "RecordLoggerRows.h"
#include "RecordStore.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <vector>

namespace r310::records {

namespace {

bool ExecAll(QSqlDatabase &db, const QStringList &statements, QString *error)
{
    for (const QString &sql : statements) {
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

QStringList VersionOne(bool postgres)
{
    const QString key = postgres ? QStringLiteral("BIGSERIAL PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
    const QString blob = postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
    const QString integer = postgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    const QString rowid = postgres ? QString() : QStringLiteral(" WITHOUT ROWID");
    return {
        QStringLiteral("CREATE TABLE r310_schema (version INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE r310_instrument (id %1, serial TEXT NOT NULL UNIQUE, "
                       "head_seq %2 NOT NULL, head_hash TEXT NOT NULL)")
            .arg(key, integer),
        QStringLiteral("CREATE TABLE r310_record (id %1, instrument_id %2 NOT NULL, seq %2 NOT NULL, "
                       "kind TEXT NOT NULL, recorded_at TEXT NOT NULL, host TEXT NOT NULL, os_user TEXT NOT NULL, "
                       "program TEXT NOT NULL, version TEXT NOT NULL, body TEXT NOT NULL, detail %3, "
                       "prev_hash TEXT NOT NULL, hash TEXT NOT NULL, UNIQUE (instrument_id, seq))")
            .arg(key, integer, blob),
        QStringLiteral("CREATE TABLE r310_event (instrument_id %1 NOT NULL, number INTEGER NOT NULL, "
                       "type INTEGER NOT NULL, time INTEGER NOT NULL, bytes %2 NOT NULL, added_seq %1 NOT NULL, "
                       "PRIMARY KEY (instrument_id, number, type, time))%3")
            .arg(integer, blob, rowid),
        // Logger samples in runs: `count` samples of one gas and unit from
        // `time` on, `step` seconds apart, their raw values in `raws` (two
        // bytes each, little-endian), bit k of `alarm` for sample k.
        QStringLiteral("CREATE TABLE r310_sample (instrument_id %1 NOT NULL, gas INTEGER NOT NULL, "
                       "unit INTEGER NOT NULL, time INTEGER NOT NULL, step INTEGER NOT NULL, count INTEGER NOT NULL, "
                       "exponent INTEGER NOT NULL, alarm INTEGER NOT NULL, raws %3 NOT NULL, added_seq %1 NOT NULL, "
                       "PRIMARY KEY (instrument_id, gas, unit, time))%2")
            .arg(integer, rowid, blob),
    };
}

QStringList VersionTwo(bool postgres)
{
    const QString integer = postgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    QStringList steps;
    for (const char *column : {"last_connection", "last_settings", "last_calibration", "last_bump"})
        steps.append(QStringLiteral("ALTER TABLE r310_instrument ADD COLUMN %1 %2").arg(QLatin1String(column), integer));
    // Filled from the records already kept.
    const std::pair<const char *, const char *> kinds[] = {{"last_connection", "connection"},
                                                            {"last_settings", "settings"},
                                                            {"last_calibration", "calibration"},
                                                            {"last_bump", "bump-test"}};
    for (const auto &[column, kind] : kinds)
        steps.append(QStringLiteral("UPDATE r310_instrument SET %1 = (SELECT MAX(r.id) FROM r310_record r "
                                    "WHERE r.instrument_id = r310_instrument.id AND r.kind = '%2')")
                         .arg(QLatin1String(column), QLatin1String(kind)));
    return steps;
}

// The register of test-gas cylinders, by lot: what each certifies and
// until when, and whether it was taken out of use.
QStringList VersionThree(bool postgres)
{
    const QString real = postgres ? QStringLiteral("DOUBLE PRECISION") : QStringLiteral("REAL");
    return {QStringLiteral("CREATE TABLE r310_cylinder (lot TEXT PRIMARY KEY, gas_code INTEGER NOT NULL, "
                           "unit_code INTEGER NOT NULL, gas TEXT NOT NULL, unit TEXT NOT NULL, concentration %1 NOT NULL, "
                           "expires TEXT NOT NULL, balance TEXT NOT NULL, supplier TEXT NOT NULL, "
                           "retired INTEGER NOT NULL, added_at TEXT NOT NULL)")
                .arg(real)};
}

// One entry of an instrument's facts: a latest record's id, time and body
// (as stored, parsed).
QJsonObject LatestFact(qint64 id, const QString &recordedAt, const QString &bodyText)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("at"), recordedAt},
            {QStringLiteral("body"), QJsonDocument::fromJson(bodyText.toUtf8()).object()}};
}

// Each instrument's latest facts in its own row (its latest connection,
// settings, calibration and bump test: id, time and body), so the instrument
// list reads one row per instrument; filled from the records already kept.
bool VersionFour(QSqlDatabase &db, QString *error)
{
    if (!ExecAll(db, {QStringLiteral("ALTER TABLE r310_instrument ADD COLUMN facts TEXT")}, error))
        return false;
    QSqlQuery instruments(db);
    if (!instruments.exec(QStringLiteral("SELECT id, last_connection, last_settings, last_calibration, last_bump "
                                         "FROM r310_instrument"))) {
        *error = instruments.lastError().text();
        return false;
    }
    std::vector<std::pair<qint64, QString>> filled;
    const char *const kinds[] = {"connection", "settings", "calibration", "bump-test"};
    while (instruments.next()) {
        QJsonObject facts;
        for (int n = 0; n < 4; ++n) {
            if (instruments.isNull(1 + n))
                continue;
            QSqlQuery record(db);
            record.prepare(QStringLiteral("SELECT id, recorded_at, body FROM r310_record WHERE id = ?"));
            record.addBindValue(instruments.value(1 + n).toLongLong());
            if (!record.exec() || !record.next()) {
                *error = record.lastError().text();
                return false;
            }
            facts.insert(QLatin1String(kinds[n]), LatestFact(record.value(0).toLongLong(), record.value(1).toString(),
                                                              record.value(2).toString()));
        }
        if (!facts.isEmpty())
            filled.emplace_back(instruments.value(0).toLongLong(),
                                QString::fromUtf8(QJsonDocument(facts).toJson(QJsonDocument::Compact)));
    }
    instruments.finish();
    for (const auto &[id, text] : filled) {
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE r310_instrument SET facts = ? WHERE id = ?"));
        update.addBindValue(text);
        update.addBindValue(id);
        if (!update.exec()) {
            *error = update.lastError().text();
            return false;
        }
    }
    return true;
}

// The fields the instrument list shows of each latest record, in columns of
// their own instead of the facts, filled from them.
// The entries and fields as version `version` had them.
std::vector<LatestKind> LatestKindsOf(int version)
{
    std::vector<LatestKind> kinds;
    for (LatestKind latest : LatestKinds()) {
        if (latest.since > version)
            continue;
        latest.fields.erase(std::remove_if(latest.fields.begin(), latest.fields.end(),
                                           [version](const LatestField &f) { return f.since > version; }),
                            latest.fields.end());
        kinds.push_back(std::move(latest));
    }
    return kinds;
}

QString ColumnType(const LatestField &field, bool postgres)
{
    return !field.number ? QStringLiteral("TEXT") : postgres ? QStringLiteral("DOUBLE PRECISION") : QStringLiteral("REAL");
}

bool VersionFive(QSqlDatabase &db, bool postgres, QString *error)
{
    QStringList added;
    const std::vector<LatestKind> kindsOfFive = LatestKindsOf(5);
    for (const LatestKind &latest : kindsOfFive) {
        for (const LatestField &field : latest.fields)
            added.append(QStringLiteral("ALTER TABLE r310_instrument ADD COLUMN %1 %2")
                             .arg(QLatin1String(field.column), ColumnType(field, postgres)));
    }
    if (!ExecAll(db, added, error))
        return false;
    QSqlQuery instruments(db);
    instruments.setForwardOnly(true);
    if (!instruments.exec(QStringLiteral("SELECT id, facts FROM r310_instrument WHERE facts IS NOT NULL"))) {
        *error = instruments.lastError().text();
        return false;
    }
    std::vector<std::pair<qint64, QJsonObject>> facts;
    while (instruments.next())
        facts.emplace_back(instruments.value(0).toLongLong(),
                           QJsonDocument::fromJson(instruments.value(1).toString().toUtf8()).object());
    instruments.finish();
    for (const LatestKind &latest : kindsOfFive) {
        QStringList assignments;
        for (const LatestField &field : latest.fields)
            assignments.append(QLatin1String(field.column) + QStringLiteral(" = ?"));
        QSqlQuery update(db);
        if (!update.prepare(QStringLiteral("UPDATE r310_instrument SET %1 WHERE id = ?").arg(assignments.join(u',')))) {
            *error = update.lastError().text();
            return false;
        }
        for (const auto &[id, kept] : facts) {
            const QJsonObject fact = kept.value(latest.kind).toObject();
            if (fact.isEmpty())
                continue;
            const QVariantList values = LatestValues(latest, fact.value(QLatin1String("at")).toString(),
                                                     fact.value(QLatin1String("body")).toObject());
            for (int n = 0; n < values.size(); ++n)
                update.bindValue(n, values.at(n));
            update.bindValue(static_cast<int>(values.size()), id);
            if (!update.exec()) {
                *error = update.lastError().text();
                return false;
            }
        }
    }
    return ExecAll(db, {QStringLiteral("ALTER TABLE r310_instrument DROP COLUMN facts")}, error);
}

// Version 7: the bump test's outcome and cylinder, the settings' bump
// interval and the latest passed span calibration join the instrument's
// row, filled from the records already kept (each instrument's newest
// record each entry follows).
bool VersionSeven(QSqlDatabase &db, bool postgres, QString *error)
{
    const QString integer = postgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    for (const LatestKind &latest : LatestKinds()) {
        const bool newKind = latest.since == 7;
        std::vector<const LatestField *> fields;
        for (const LatestField &field : latest.fields) {
            if (newKind || field.since == 7)
                fields.push_back(&field);
        }
        if (fields.empty())
            continue;
        QStringList added;
        QStringList assignments;
        if (newKind) {
            added.append(QStringLiteral("ALTER TABLE r310_instrument ADD COLUMN %1 %2")
                             .arg(QLatin1String(latest.idColumn), integer));
            assignments.append(QLatin1String(latest.idColumn) + QStringLiteral(" = ?"));
        }
        for (const LatestField *field : fields) {
            added.append(QStringLiteral("ALTER TABLE r310_instrument ADD COLUMN %1 %2")
                             .arg(QLatin1String(field->column), ColumnType(*field, postgres)));
            assignments.append(QLatin1String(field->column) + QStringLiteral(" = ?"));
        }
        if (!ExecAll(db, added, error))
            return false;
        QSqlQuery records(db);
        records.setForwardOnly(true);
        records.prepare(QStringLiteral("SELECT instrument_id, id, recorded_at, body FROM r310_record WHERE kind = ? "
                                       "ORDER BY instrument_id, seq DESC"));
        records.addBindValue(latest.kind);
        if (!records.exec()) {
            *error = records.lastError().text();
            return false;
        }
        std::vector<std::pair<qint64, QVariantList>> updates;
        qint64 done = -1; // the instrument whose newest followed record was found
        while (records.next()) {
            const qint64 instrument = records.value(0).toLongLong();
            if (instrument == done)
                continue;
            const QJsonObject body = QJsonDocument::fromJson(records.value(3).toString().toUtf8()).object();
            if (!latest.follows(latest.kind, body))
                continue;
            done = instrument;
            const QVariantList all = LatestValues(latest, records.value(2).toString(), body);
            QVariantList values;
            if (newKind)
                values.append(records.value(1).toLongLong());
            for (const LatestField *field : fields)
                values.append(all.at(field - latest.fields.data()));
            updates.emplace_back(instrument, values);
        }
        records.finish();
        for (const auto &[id, values] : updates) {
            QSqlQuery update(db);
            update.prepare(QStringLiteral("UPDATE r310_instrument SET %1 WHERE id = ?").arg(assignments.join(u',')));
            for (const QVariant &value : values)
                update.addBindValue(value);
            update.addBindValue(id);
            if (!update.exec()) {
                *error = update.lastError().text();
                return false;
            }
        }
    }
    return true;
}

// ---- version 8: signatures, key ids, the keys that made them ----
// Each record and each cylinder's row keeps the signature over its content
// hash and the id of the key that made it; the table of keys keeps each
// key's public half and where it was first used. Records kept before are
// signed by the key of the workstation that updates the schema, over the
// hashes they had; the rows of the register get their hash first.
bool VersionEight(QSqlDatabase &db, const KeyPair *signer, QString *error)
{
    if (!ExecAll(db,
                 {QStringLiteral("ALTER TABLE r310_record ADD COLUMN signature TEXT"),
                  QStringLiteral("ALTER TABLE r310_record ADD COLUMN key_id TEXT"),
                  QStringLiteral("ALTER TABLE r310_cylinder ADD COLUMN hash TEXT"),
                  QStringLiteral("ALTER TABLE r310_cylinder ADD COLUMN signature TEXT"),
                  QStringLiteral("ALTER TABLE r310_cylinder ADD COLUMN key_id TEXT"),
                  QStringLiteral("CREATE TABLE r310_key (key_id TEXT PRIMARY KEY, public_key TEXT NOT NULL, "
                                 "host TEXT NOT NULL, os_user TEXT NOT NULL, added_at TEXT NOT NULL)")},
                 error))
        return false;
    if (!signer)
        return true;
    const QString keyId = KeyId(signer->publicKey);
    const RecordOrigin origin = CurrentOrigin(QString());
    QSqlQuery noted(db);
    noted.prepare(QStringLiteral("INSERT INTO r310_key (key_id, public_key, host, os_user, added_at) VALUES (?, ?, ?, ?, ?)"));
    for (const QVariant &value : QVariantList{keyId, PublicKeyText(signer->publicKey), origin.host, origin.user,
                                              QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)})
        noted.addBindValue(value);
    if (!noted.exec()) {
        *error = noted.lastError().text();
        return false;
    }
    std::vector<std::pair<qint64, QString>> signatures;
    {
        QSqlQuery records(db);
        records.setForwardOnly(true);
        if (!records.exec(QStringLiteral("SELECT id, hash FROM r310_record"))) {
            *error = records.lastError().text();
            return false;
        }
        while (records.next()) {
            const qint64 id = records.value(0).toLongLong();
            signatures.emplace_back(id, SignText(*signer, RecordSignedText(id, records.value(1).toString())));
        }
    }
    for (const auto &[id, signature] : signatures) {
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE r310_record SET signature = ?, key_id = ? WHERE id = ?"));
        update.addBindValue(signature);
        update.addBindValue(keyId);
        update.addBindValue(id);
        if (!update.exec()) {
            *error = update.lastError().text();
            return false;
        }
    }
    std::vector<std::pair<QString, QString>> cylinders; // lot, hash
    {
        QSqlQuery rows(db);
        rows.setForwardOnly(true);
        if (!rows.exec(QStringLiteral("SELECT %1 FROM r310_cylinder").arg(kCylinderSignedColumns))) {
            *error = rows.lastError().text();
            return false;
        }
        while (rows.next()) {
            QVariantList values;
            for (int n = 0; n < 11; ++n)
                values.append(rows.value(n));
            cylinders.emplace_back(rows.value(0).toString(), CylinderHash(values));
        }
    }
    for (const auto &[lot, hash] : cylinders) {
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE r310_cylinder SET hash = ?, signature = ?, key_id = ? WHERE lot = ?"));
        update.addBindValue(hash);
        update.addBindValue(SignText(*signer, CylinderSignedText(hash)));
        update.addBindValue(keyId);
        update.addBindValue(lot);
        if (!update.exec()) {
            *error = update.lastError().text();
            return false;
        }
    }
    return true;
}
// ---- end of version 8 ----

bool NoteVersion(QSqlDatabase &db, int version, QString *error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("UPDATE r310_schema SET version = ?"));
    query.addBindValue(version);
    if (!query.exec()) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

} // namespace

const std::vector<LatestKind> &LatestKinds()
{
    static const std::vector<LatestKind> kinds{
        {kind::kConnection,
         "last_connection",
         {{"seen_at", nullptr, false},
          {"customer_id", "customerId", false},
          {"software_version", "softwareVersion", false},
          {"connection_gas_unit", "gasUnit", false}}},
        {kind::kSettings,
         "last_settings",
         {{"settings_gas_unit", "gasUnit", false},
          {"next_calibration", "nextCalibration", false},
          {"next_bump_test", "nextBumpTest", false},
          {"bump_interval", "settings.bump-interval", false, 7}}},
        {kind::kCalibration,
         "last_calibration",
         {{"calibrated_at", nullptr, false},
          {"calibration_kind", "calibration", false},
          {"calibration_outcome", "outcome", false}}},
        {kind::kBumpTest,
         "last_bump",
         {{"bump_tested_at", nullptr, false},
          {"bump_a1", "a1", true},
          {"bump_a2", "a2", true},
          {"bump_t50", "t50", true},
          {"bump_outcome", "outcome", false, 7},
          {"bump_cylinder", "cylinder.lot", false, 7}}},
        {kind::kCalibration, "last_span", {{"span_calibrated_at", nullptr, false, 7}}, &PassedSpanCalibration, 7},
        {kind::kBumpTest, "last_passed_bump", {{"bump_passed_at", nullptr, false, 7}}, &PassedBumpTest, 7},
    };
    return kinds;
}

bool PassedSpanCalibration(const QJsonObject &body)
{
    const QString outcome = body.value(QLatin1String("outcome")).toString();
    return body.value(QLatin1String("calibration")).toString() == QLatin1String("span")
           && (outcome == QLatin1String("passed") || outcome == QLatin1String("OK"));
}

bool PassedBumpTest(const QJsonObject &body)
{
    if (body.contains(QLatin1String("outcome")))
        return body.value(QLatin1String("outcome")).toString() == QLatin1String("passed");
    // Older records keep only the values.
    return body.value(QLatin1String("a1")).toDouble() > 0 && body.value(QLatin1String("a2")).toDouble() > 0
           && body.value(QLatin1String("t50")).toDouble() > 0;
}

std::vector<const LatestKind *> LatestKindsFollowing(const QString &kind, const QJsonObject &body)
{
    std::vector<const LatestKind *> following;
    for (const LatestKind &latest : LatestKinds()) {
        if (latest.follows(kind, body))
            following.push_back(&latest);
    }
    return following;
}

bool FollowsKind(const QString &kind)
{
    return std::any_of(LatestKinds().begin(), LatestKinds().end(),
                       [&kind](const LatestKind &latest) { return latest.kind == kind; });
}

QVariantList LatestValues(const LatestKind &latest, const QString &recordedAt, const QJsonObject &body)
{
    QVariantList values;
    for (const LatestField &field : latest.fields) {
        if (!field.key) {
            values.append(recordedAt);
            continue;
        }
        // "a.b": the member b of the object a.
        const QString key = QLatin1String(field.key);
        const qsizetype dot = key.indexOf(u'.');
        const QJsonValue value = dot < 0 ? body.value(key)
                                         : body.value(key.left(dot)).toObject().value(key.mid(dot + 1));
        if (!field.number)
            values.append(value.isString() ? value.toString() : QStringLiteral(""));
        else
            values.append(value.isDouble() ? QVariant(value.toDouble()) : QVariant(QMetaType::fromType<double>()));
    }
    return values;
}

bool SameLatestValues(const LatestKind &latest, const QVariantList &stored, const QVariantList &expected)
{
    if (stored.size() != expected.size() || stored.size() != static_cast<qsizetype>(latest.fields.size()))
        return false;
    for (qsizetype n = 0; n < stored.size(); ++n) {
        const QVariant &a = stored.at(n);
        const QVariant &b = expected.at(n);
        const bool same = latest.fields[static_cast<std::size_t>(n)].number
                              ? a.isNull() == b.isNull() && (a.isNull() || a.toDouble() == b.toDouble())
                              : a.toString() == b.toString();
        if (!same)
            return false;
    }
    return true;
}

bool CreateSchema(QSqlDatabase &db, bool postgres, int version, QString *error, const KeyPair *signer)
{
    if (!ExecAll(db, VersionOne(postgres), error))
        return false;
    if (!ExecAll(db, {QStringLiteral("INSERT INTO r310_schema (version) VALUES (1)")}, error))
        return false;
    return version < 2 || MigrateSchema(db, postgres, 1, error, signer);
}

int SchemaVersion(QSqlDatabase &db, QString *error)
{
    if (!db.tables().contains(QStringLiteral("r310_schema")))
        return 0;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM r310_schema")) || !query.next()) {
        *error = query.lastError().text();
        return -1;
    }
    return query.value(0).toInt();
}

bool MigrateSchema(QSqlDatabase &db, bool postgres, int from, QString *error, const KeyPair *signer)
{
    if (from < 2) {
        if (!ExecAll(db, VersionTwo(postgres), error) || !NoteVersion(db, 2, error))
            return false;
    }
    if (from < 3) {
        if (!ExecAll(db, VersionThree(postgres), error) || !NoteVersion(db, 3, error))
            return false;
    }
    if (from < 4) {
        if (!VersionFour(db, error) || !NoteVersion(db, 4, error))
            return false;
    }
    if (from < 5) {
        if (!VersionFive(db, postgres, error) || !NoteVersion(db, 5, error))
            return false;
    }
    // Version 6: logger samples keyed by block, set and index.
    if (from < 6) {
        if (!detail::KeySamplesBySet(db, postgres, error) || !NoteVersion(db, 6, error))
            return false;
    }
    if (from < 7) {
        if (!VersionSeven(db, postgres, error) || !NoteVersion(db, 7, error))
            return false;
    }
    if (from < 8) {
        if (!VersionEight(db, signer, error) || !NoteVersion(db, 8, error))
            return false;
    }
    return true;
}

} // namespace r310::records
