#include "Cylinders.h"

#include "RecordChain.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

namespace r310::records {

namespace {

const QString kColumns = QStringLiteral(
    "lot, gas_code, unit_code, gas, unit, concentration, expires, balance, supplier, retired");

Cylinder CylinderFrom(const QSqlQuery &q)
{
    Cylinder c;
    c.lot = q.value(0).toString();
    c.gasCode = static_cast<std::uint8_t>(q.value(1).toInt());
    c.unitCode = static_cast<std::uint8_t>(q.value(2).toInt());
    c.gas = q.value(3).toString();
    c.unit = q.value(4).toString();
    c.concentration = q.value(5).toDouble();
    c.expires = QDate::fromString(q.value(6).toString(), Qt::ISODate);
    c.balance = q.value(7).toString();
    c.supplier = q.value(8).toString();
    c.retired = q.value(9).toInt() != 0;
    return c;
}

bool Run(QSqlQuery &query, const QString &sql, const QVariantList &values, QString *error)
{
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    ok = ok && query.exec();
    if (!ok && error)
        *error = query.lastError().databaseText().trimmed().isEmpty() ? query.lastError().text()
                                                                      : query.lastError().databaseText().trimmed();
    return ok;
}

QString Number(double value) { return QString::number(value, 'g', 12); }

} // namespace

QJsonObject CylinderJson(const Cylinder &c)
{
    return {{QStringLiteral("lot"), c.lot},
            {QStringLiteral("gas"), c.gas},
            {QStringLiteral("unit"), c.unit},
            {QStringLiteral("gasCode"), c.gasCode},
            {QStringLiteral("unitCode"), c.unitCode},
            {QStringLiteral("concentration"), c.concentration},
            {QStringLiteral("expires"), c.expires.toString(Qt::ISODate)},
            {QStringLiteral("balance"), c.balance},
            {QStringLiteral("supplier"), c.supplier},
            {QStringLiteral("retired"), c.retired}};
}

QString CylinderText(const Cylinder &c)
{
    return QStringLiteral("%1 %2 %3, lot %4, expires %5")
        .arg(c.gas, Number(c.concentration), c.unit, c.lot, c.expires.toString(Qt::ISODate));
}

CylinderCheck CheckCylinderEntry(const CylinderEntry &entry, const std::function<QString(std::uint8_t)> &gasText,
                                 const std::function<QString(std::uint8_t)> &unitText)
{
    CylinderCheck check;
    Cylinder c;
    c.lot = entry.lot.trimmed();
    if (c.lot.isEmpty() || entry.gas.trimmed().isEmpty() || entry.unit.trimmed().isEmpty() ||
        entry.concentration.trimmed().isEmpty() || entry.expires.trimmed().isEmpty()) {
        check.problem = QStringLiteral("needs its lot, gas, unit, certified concentration and expiry date");
        return check;
    }
    const auto gas = CodeNamed(entry.gas, gasText);
    const auto unit = CodeNamed(entry.unit, unitText);
    bool number = false;
    c.concentration = entry.concentration.trimmed().toDouble(&number);
    c.expires = QDate::fromString(entry.expires.trimmed(), Qt::ISODate);
    if (!gas) {
        check.field = QStringLiteral("gas");
        check.problem = QStringLiteral("the gas table names no such gas");
    } else if (!unit) {
        check.field = QStringLiteral("unit");
        check.problem = QStringLiteral("the gas table names no such unit");
    } else if (!number || !(c.concentration > 0)) {
        check.field = QStringLiteral("concentration");
        check.problem = QStringLiteral("a number above 0 is needed (\".\" is the decimal point)");
    } else if (!c.expires.isValid()) {
        check.field = QStringLiteral("expires");
        check.problem = QStringLiteral("a date YYYY-MM-DD is needed");
    } else if (c.expires < QDate::currentDate()) {
        check.field = QStringLiteral("expires");
        check.problem = QStringLiteral("the cylinder expired on %1; only a cylinder in date is registered")
                            .arg(c.expires.toString(Qt::ISODate));
    } else if (unitText(*unit).trimmed().startsWith(u'%') && c.concentration > 100) {
        // %Vol and %LEL: a share of the whole, never above all of it.
        check.field = QStringLiteral("concentration");
        check.problem = QStringLiteral("%1 %2 is above 100 % of its scale")
                            .arg(entry.concentration.trimmed(), unitText(*unit).trimmed());
    }
    if (!check.problem.isEmpty())
        return check;
    c.gasCode = *gas;
    c.unitCode = *unit;
    c.gas = gasText(*gas).trimmed();
    c.unit = unitText(*unit).trimmed();
    c.balance = entry.balance.trimmed();
    c.supplier = entry.supplier.trimmed();
    check.cylinder = c;
    return check;
}

std::optional<std::uint8_t> CodeNamed(const QString &word, const std::function<QString(std::uint8_t)> &textOf)
{
    const QString wanted = word.trimmed();
    bool isNumber = false;
    const int code = wanted.toInt(&isNumber);
    if (isNumber)
        return code >= 0 && code <= 255 ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(code)) : std::nullopt;
    for (int c = 0; c <= 255 && !wanted.isEmpty(); ++c) {
        if (textOf(static_cast<std::uint8_t>(c)).trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<std::uint8_t>(c);
    }
    return std::nullopt;
}

QString CylinderDateRefusal(const std::optional<Cylinder> &cylinder, const QString &lot, const QDate &today)
{
    if (!cylinder)
        return QStringLiteral("cylinder %1 is not in the register").arg(lot);
    if (cylinder->retired)
        return QStringLiteral("cylinder %1 is retired").arg(lot);
    if (cylinder->expires < today)
        return QStringLiteral("cylinder %1 expired on %2").arg(lot, cylinder->expires.toString(Qt::ISODate));
    return {};
}

QString CylinderRefusal(const std::optional<Cylinder> &cylinder, const QString &lot, std::uint8_t gasCode,
                        std::uint8_t unitCode, const QDate &today)
{
    if (QString refusal = CylinderDateRefusal(cylinder, lot, today); !refusal.isEmpty())
        return refusal;
    if (cylinder->gasCode != gasCode || cylinder->unitCode != unitCode)
        return QStringLiteral("cylinder %1 holds %2 in %3, not the instrument's gas and unit")
            .arg(lot, cylinder->gas, cylinder->unit);
    return {};
}

bool CylinderRegister::Add(const Cylinder &c, QString *error)
{
    if (c.lot.trimmed().isEmpty() || !c.expires.isValid() || !(c.concentration > 0)) {
        *error = QStringLiteral("a cylinder needs a lot, a concentration above 0 and an expiry date");
        return false;
    }
    if (Find(c.lot, error)) {
        *error = QStringLiteral("cylinder %1 is already in the register").arg(c.lot);
        return false;
    }
    // An optional text left out is kept empty, not as NULL.
    const auto text = [](const QString &value) { return value.isNull() ? QStringLiteral("") : value; };
    QVariantList values{c.lot,
                        static_cast<int>(c.gasCode),
                        static_cast<int>(c.unitCode),
                        c.gas,
                        c.unit,
                        c.concentration,
                        c.expires.toString(Qt::ISODate),
                        text(c.balance),
                        text(c.supplier),
                        0,
                        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)};
    if (!AppendSignature(values, error))
        return false;
    QSqlQuery query(store_.database());
    return Run(query,
               QStringLiteral("INSERT INTO r310_cylinder (%1, hash, signature, key_id) VALUES (%2)")
                   .arg(kCylinderSignedColumns, QStringList(values.size(), QStringLiteral("?")).join(u',')),
               values, error);
}

bool CylinderRegister::AppendSignature(QVariantList &values, QString *error) const
{
    const QString hash = CylinderHash(values);
    QString signature;
    QString keyId;
    if (!store_.SignRow(CylinderSignedText(hash), &signature, &keyId, error))
        return false;
    values << hash << signature << keyId;
    return true;
}

std::vector<Cylinder> CylinderRegister::List(QString *error) const
{
    std::vector<Cylinder> list;
    QSqlQuery query(store_.database());
    if (Run(query, QStringLiteral("SELECT %1 FROM r310_cylinder ORDER BY lot").arg(kColumns), {}, error)) {
        while (query.next())
            list.push_back(CylinderFrom(query));
    }
    return list;
}

std::optional<Cylinder> CylinderRegister::Find(const QString &lot, QString *error) const
{
    QSqlQuery query(store_.database());
    if (Run(query, QStringLiteral("SELECT %1 FROM r310_cylinder WHERE lot = ?").arg(kColumns), {lot}, error)
        && query.next())
        return CylinderFrom(query);
    return std::nullopt;
}

bool CylinderRegister::Retire(const QString &lot, QString *error)
{
    if (!Find(lot, error)) {
        *error = QStringLiteral("cylinder %1 is not in the register").arg(lot);
        return false;
    }
    // The row as it will be, signed again.
    QSqlQuery row(store_.database());
    if (!Run(row, QStringLiteral("SELECT %1 FROM r310_cylinder WHERE lot = ?").arg(kCylinderSignedColumns), {lot}, error)
        || !row.next())
        return false;
    QVariantList values;
    for (int n = 0; n < 11; ++n)
        values.append(n == 9 ? QVariant(1) : row.value(n));
    row.finish();
    if (!AppendSignature(values, error))
        return false;
    QSqlQuery query(store_.database());
    return Run(query, QStringLiteral("UPDATE r310_cylinder SET retired = 1, hash = ?, signature = ?, key_id = ? WHERE lot = ?"),
               {values.at(11), values.at(12), values.at(13), lot}, error);
}

std::vector<Cylinder> CylinderRegister::Usable(std::uint8_t gasCode, std::uint8_t unitCode, const QDate &today) const
{
    std::vector<Cylinder> usable;
    for (const Cylinder &c : List()) {
        if (CylinderRefusal(c, c.lot, gasCode, unitCode, today).isEmpty())
            usable.push_back(c);
    }
    return usable;
}

QString CylinderRangeWarning(RecordStore &store, const Cylinder &cylinder, QString *error)
{
    QString failure;
    const std::vector<InstrumentSummary> instruments = store.Instruments(&failure);
    QStringList ranges;
    for (const InstrumentSummary &instrument : instruments) {
        if (!failure.isEmpty())
            break;
        const std::optional<StoredRecord> settings = store.Latest(instrument.serial, kind::kSettings, &failure);
        if (!settings || !settings->body.contains(QStringLiteral("rangeEnd")))
            continue;
        const QJsonObject &body = settings->body;
        if (body.value(QStringLiteral("gasCode")).toInt(-1) != cylinder.gasCode
            || body.value(QStringLiteral("unitCode")).toInt(-1) != cylinder.unitCode)
            continue;
        const double rangeEnd = body.value(QStringLiteral("rangeEnd")).toDouble();
        if (cylinder.concentration <= rangeEnd)
            return {};
        const QString text = QString::number(rangeEnd, 'g', 7);
        if (!ranges.contains(text))
            ranges << text;
    }
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return {};
    }
    const QString what = QStringLiteral("%1 %2 %3").arg(cylinder.gas, QString::number(cylinder.concentration, 'g', 7),
                                                        cylinder.unit);
    if (ranges.isEmpty())
        return QStringLiteral("no instrument on record measures %1 in %2, so none can use %3 yet")
            .arg(cylinder.gas, cylinder.unit, what);
    return QStringLiteral("no instrument on record can use %1: their ranges end at %2 %3")
        .arg(what, ranges.join(QStringLiteral(", ")), cylinder.unit);
}

} // namespace r310::records
