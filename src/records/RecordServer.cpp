#include "RecordServer.h"

#include "RecordSql.h"

#include <QStringList>

namespace r310::records {

namespace {

// The tables rows are only ever added to.
const char *const kAppendOnly[] = {"r310_record", "r310_event", "r310_sample", "r310_key"};
// The tables whose rows change forward only.
const char *const kForwardOnly[] = {"r310_instrument", "r310_cylinder"};

QStringList Statements()
{
    QStringList sql{
        // The "does not exist, skipping" notices of a first run say nothing.
        QStringLiteral("SET LOCAL client_min_messages = warning"),
        QStringLiteral("DO $$ BEGIN "
                       "IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'r310_writer') THEN "
                       "CREATE ROLE r310_writer NOLOGIN; END IF; "
                       "IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'r310_reader') THEN "
                       "CREATE ROLE r310_reader NOLOGIN; END IF; END $$"),
        QStringLiteral("CREATE OR REPLACE FUNCTION r310_refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                       "RAISE EXCEPTION 'the service records are append-only: % of % refused', TG_OP, TG_TABLE_NAME; "
                       "END $$"),
        QStringLiteral("CREATE OR REPLACE FUNCTION r310_head_forward() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                       "IF NEW.id <> OLD.id OR NEW.serial <> OLD.serial OR NEW.head_seq < OLD.head_seq THEN "
                       "RAISE EXCEPTION 'an instrument''s chain head only moves forward'; END IF; "
                       "RETURN NEW; END $$"),
        QStringLiteral("CREATE OR REPLACE FUNCTION r310_cylinder_forward() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                       "IF (NEW.lot, NEW.gas_code, NEW.unit_code, NEW.gas, NEW.unit, NEW.concentration, NEW.expires, "
                       "NEW.balance, NEW.supplier, NEW.added_at) IS DISTINCT FROM (OLD.lot, OLD.gas_code, "
                       "OLD.unit_code, OLD.gas, OLD.unit, OLD.concentration, OLD.expires, OLD.balance, OLD.supplier, "
                       "OLD.added_at) OR NEW.retired < OLD.retired THEN "
                       "RAISE EXCEPTION 'a cylinder of the register may only be retired'; END IF; "
                       "RETURN NEW; END $$"),
    };
    // `when` is "EVENTS|LEVEL": "BEFORE DELETE|ROW".
    const auto trigger = [&sql](const QString &table, const QString &name, const QString &when, const QString &function) {
        sql << QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(name, table)
            << QStringLiteral("CREATE TRIGGER %1 %2 ON %3 FOR EACH %4 EXECUTE FUNCTION %5()")
                   .arg(name, when.section(u'|', 0, 0), table, when.section(u'|', 1, 1), function);
    };
    QStringList all;
    for (const char *table : kAppendOnly) {
        const QString t = QLatin1String(table);
        all << t;
        trigger(t, QStringLiteral("r310_no_change"), QStringLiteral("BEFORE UPDATE OR DELETE|ROW"),
                QStringLiteral("r310_refuse"));
        trigger(t, QStringLiteral("r310_no_truncate"), QStringLiteral("BEFORE TRUNCATE|STATEMENT"),
                QStringLiteral("r310_refuse"));
    }
    for (const char *table : kForwardOnly) {
        const QString t = QLatin1String(table);
        all << t;
        trigger(t, QStringLiteral("r310_no_delete"), QStringLiteral("BEFORE DELETE|ROW"),
                QStringLiteral("r310_refuse"));
        trigger(t, QStringLiteral("r310_no_truncate"), QStringLiteral("BEFORE TRUNCATE|STATEMENT"),
                QStringLiteral("r310_refuse"));
        trigger(t, QStringLiteral("r310_forward"), QStringLiteral("BEFORE UPDATE|ROW"),
                t == QLatin1String("r310_instrument") ? QStringLiteral("r310_head_forward")
                                                       : QStringLiteral("r310_cylinder_forward"));
    }
    all << QStringLiteral("r310_schema"); // read by all, changed by the owner's schema updates only
    const QString tables = all.join(QStringLiteral(", "));
    sql << QStringLiteral("REVOKE ALL ON %1 FROM PUBLIC, r310_writer, r310_reader").arg(tables)
        << QStringLiteral("GRANT USAGE ON SCHEMA public TO r310_writer, r310_reader")
        << QStringLiteral("GRANT SELECT ON %1 TO r310_writer, r310_reader").arg(tables)
        << QStringLiteral("GRANT INSERT ON r310_record, r310_event, r310_sample, r310_key, r310_instrument, "
                          "r310_cylinder TO r310_writer")
        << QStringLiteral("GRANT UPDATE ON r310_instrument, r310_cylinder TO r310_writer")
        << QStringLiteral("GRANT USAGE ON SEQUENCE r310_instrument_id_seq, r310_record_id_seq TO r310_writer");
    return sql;
}

} // namespace

bool SetUpServer(RecordStore &store, QString *error)
{
    if (store.target().kind != RecordsTarget::Kind::Postgres) {
        *error = QStringLiteral("setup-server needs a PostgreSQL records database (--records postgresql://...)");
        return false;
    }
    QSqlDatabase db = store.database();
    try {
        Transaction transaction(db, true);
        for (const QString &sql : Statements())
            Exec(db, true, sql);
        transaction.Commit();
    } catch (const SqlFailure &failure) {
        *error = failure.text;
        return false;
    }
    return true;
}

} // namespace r310::records
