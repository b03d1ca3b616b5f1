#include "Certificate.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>
#include <QJsonObject>
#include <QSettings>

namespace r310::records {

namespace {

QString Number(const QJsonValue &value, const QString &unit)
{
    if (!value.isDouble())
        return QStringLiteral("not recorded");
    const QString number = QString::number(value.toDouble(), 'g', 12);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

// The unit alone of "ppm CO".
QString UnitOf(const QString &gasUnit) { return gasUnit.section(QLatin1Char(' '), 0, 0); }

QString NotRead(const QString &text) { return text.isEmpty() ? QStringLiteral("not read") : text; }

// The calibration, and the connection and settings in force for it: the
// newest before it, or the first read in its session after it.
struct Context {
    std::optional<StoredRecord> calibration;
    std::optional<StoredRecord> connection;
    std::optional<StoredRecord> settings;
    std::optional<StoredRecord> firstAfter; // the first settings its session read after it
};

Context FindContext(const std::vector<StoredRecord> &history, std::optional<qint64> calibrationId)
{
    Context found;
    std::size_t at = history.size();
    for (std::size_t n = 0; n < history.size(); ++n) {
        const StoredRecord &r = history[n];
        if (r.kind == kind::kCalibration && (!calibrationId || r.id == *calibrationId))
            at = n;
    }
    if (at == history.size())
        return found;
    found.calibration = history[at];
    for (std::size_t n = 0; n < at; ++n) {
        if (history[n].kind == kind::kConnection)
            found.connection = history[n];
        if (history[n].kind == kind::kSettings)
            found.settings = history[n];
    }
    // What the same session read after the calibration is what the
    // instrument holds now (a calibration may move its due dates).
    for (std::size_t n = at + 1; n < history.size() && history[n].kind != kind::kConnection; ++n) {
        if (history[n].kind == kind::kSettings) {
            found.settings = history[n];
            if (!found.firstAfter)
                found.firstAfter = history[n];
        }
    }
    return found;
}

// Each ASCII letter and digit; the code's groups are four long.
const int kCodeDigits = 12;

QSettings ProgramSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vyk"), QStringLiteral("Lumo"));
}

const QString kTechnicianKey = QStringLiteral("records/technician");

} // namespace

QString TechnicianName(const QString &given)
{
    if (!given.trimmed().isEmpty())
        return given.trimmed();
    const QString set = ProgramSettings().value(kTechnicianKey).toString().trimmed();
    return set.isEmpty() ? CurrentOrigin(QString()).user : set;
}

void SetTechnicianName(const QString &name)
{
    QSettings settings = ProgramSettings();
    if (name.trimmed().isEmpty())
        settings.remove(kTechnicianKey);
    else
        settings.setValue(kTechnicianKey, name.trimmed());
}

QJsonObject CertificateFacts(const QJsonObject &connection, const QJsonObject &settings, const QString &technician)
{
    const auto text = [](const QJsonObject &body, const char *key) { return body.value(QLatin1String(key)).toString(); };
    QString gasUnit = text(settings, "gasUnit");
    if (gasUnit.isEmpty())
        gasUnit = text(connection, "gasUnit");
    const QString unit = UnitOf(gasUnit);
    const QJsonValue rangeEnd = settings.contains(QStringLiteral("rangeEnd")) ? settings.value(QStringLiteral("rangeEnd"))
                                                                             : connection.value(QStringLiteral("rangeEnd"));
    QJsonArray limits;
    const QJsonObject held = settings.value(QStringLiteral("settings")).toObject();
    for (const char *key : {"a1", "a2", "a3", "stel", "twa"}) {
        const QString value = held.value(QLatin1String(key)).toString();
        limits.append(QJsonArray{QString::fromLatin1(key).toUpper(),
                                 value.isEmpty() ? QStringLiteral("not read") : value + QLatin1Char(' ') + unit});
    }
    return {{QStringLiteral("softwareVersion"), text(connection, "softwareVersion")},
            {QStringLiteral("customerId"), text(connection, "customerId")},
            {QStringLiteral("sensorType"), text(connection, "sensorType")},
            {QStringLiteral("sensorSerial"), text(connection, "sensorSerial")},
            {QStringLiteral("gasUnit"), gasUnit},
            {QStringLiteral("range"), rangeEnd.isDouble() ? QStringLiteral("0 to %1").arg(Number(rangeEnd, gasUnit))
                                                          : QStringLiteral("not read")},
            {QStringLiteral("alarmLimits"), limits},
            {QStringLiteral("nextCalibration"), NotRead(text(settings, "nextCalibration"))},
            {QStringLiteral("nextBumpTest"), NotRead(text(settings, "nextBumpTest"))},
            {QStringLiteral("technician"), technician}};
}

QString VerificationCode(const QString &recordHash)
{
    const QString digits = recordHash.left(kCodeDigits).toUpper();
    return QStringLiteral("%1-%2-%3").arg(digits.left(4), digits.mid(4, 4), digits.mid(8, 4));
}

QString HashOfCode(const QString &code)
{
    QString digits = code.trimmed().toLower();
    digits.remove(u'-');
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{12}$"));
    return hex.match(digits).hasMatch() ? digits : QString();
}

std::optional<CertificateData> CertificateOfCode(RecordStore &store, const QString &code, QString *error)
{
    const QString start = HashOfCode(code);
    if (start.isEmpty()) {
        *error = QStringLiteral("\"%1\" is no verification code: it has 12 hex digits, as ABCD-EF01-2345").arg(code);
        return std::nullopt;
    }
    const std::optional<StoredRecord> record = store.RecordOfHash(start, kind::kCalibration, error);
    if (!record) {
        if (error->isEmpty())
            *error = QStringLiteral("no calibration on record has the verification code %1").arg(VerificationCode(start));
        return std::nullopt;
    }
    return CertificateFor(store, record->serial, record->id, QString(), error);
}

QString CertificateOutcome(const QString &recordedOutcome)
{
    // Older records keep the instrument's report as the outcome.
    if (recordedOutcome == QLatin1String("passed") || recordedOutcome == QLatin1String("OK"))
        return QStringLiteral("passed");
    if (recordedOutcome == QLatin1String("failed") || recordedOutcome == QLatin1String("Error"))
        return QStringLiteral("failed");
    return QStringLiteral("not completed");
}

QString CertificateTitle(const CertificateData &data)
{
    if (data.outcome == QLatin1String("passed"))
        return QStringLiteral("Calibration Certificate");
    return data.outcome == QLatin1String("failed") ? QStringLiteral("Calibration report — FAILED")
                                                   : QStringLiteral("Calibration report — NOT COMPLETED");
}

std::optional<CertificateData> CertificateFor(RecordStore &store, const QString &serial,
                                              std::optional<qint64> calibrationId, const QString &technician,
                                              QString *error)
{
    QString failure;
    const std::vector<StoredRecord> history = store.History(serial, QString(), &failure);
    if (!failure.isEmpty()) {
        *error = failure;
        return std::nullopt;
    }
    if (history.empty()) {
        *error = QStringLiteral("instrument %1 is not on record").arg(serial);
        return std::nullopt;
    }
    const Context context = FindContext(history, calibrationId);
    if (!context.calibration) {
        *error = calibrationId ? QStringLiteral("instrument %1 has no calibration with record id %2 on record")
                                     .arg(serial)
                                     .arg(*calibrationId)
                               : QStringLiteral("instrument %1 has no calibration on record").arg(serial);
        return std::nullopt;
    }
    const StoredRecord &cal = *context.calibration;
    const QJsonObject &body = cal.body;
    CertificateData d;
    d.recordId = cal.id;
    d.recordHash = cal.hash;
    d.serial = serial;
    d.number = QStringLiteral("R310-%1-%2-%3").arg(serial).arg(cal.seq).arg(cal.hash.left(8).toUpper());
    d.chainSeq = cal.seq;
    d.head = ChainHead{serial, cal.seq, cal.hash}.text();
    d.verificationCode = VerificationCode(cal.hash);

    const QJsonObject connectionBody = context.connection ? context.connection->body : QJsonObject();
    QJsonObject facts = body.contains(QStringLiteral("certificate"))
                            ? body.value(QStringLiteral("certificate")).toObject()
                            : CertificateFacts(connectionBody, context.settings ? context.settings->body : QJsonObject(),
                                               technician);
    if (context.firstAfter) {
        // What the calibration's session read only after it (a calibration
        // changes no limit) fills what was not read before; the chain keeps
        // that record, so a reprint finds the same.
        const QJsonObject after = CertificateFacts(connectionBody, context.firstAfter->body, QString());
        const auto unread = [](const QJsonValue &v) {
            return v.toString().isEmpty() || v.toString() == QLatin1String("not read");
        };
        for (const char *key : {"gasUnit", "range"}) {
            if (unread(facts.value(QLatin1String(key))))
                facts.insert(QLatin1String(key), after.value(QLatin1String(key)));
        }
        QJsonArray limits = facts.value(QStringLiteral("alarmLimits")).toArray();
        const QJsonArray later = after.value(QStringLiteral("alarmLimits")).toArray();
        for (qsizetype n = 0; n < limits.size() && n < later.size(); ++n) {
            if (unread(limits.at(n).toArray().at(1)))
                limits.replace(n, later.at(n));
        }
        facts.insert(QStringLiteral("alarmLimits"), limits);
    }
    const auto fact = [&facts](const char *key) { return facts.value(QLatin1String(key)).toString(); };
    d.softwareVersion = fact("softwareVersion");
    d.customerId = fact("customerId");
    d.sensorType = fact("sensorType");
    d.sensorSerial = fact("sensorSerial");
    d.gasUnit = body.value(QStringLiteral("gasUnit")).toString();
    if (d.gasUnit.isEmpty())
        d.gasUnit = fact("gasUnit");
    const QString unit = UnitOf(d.gasUnit);
    d.range = fact("range");
    for (const QJsonValue &limit : facts.value(QStringLiteral("alarmLimits")).toArray())
        d.alarmLimits.emplace_back(limit[0].toString(), limit[1].toString());
    // The due dates the calibration set, as its session read them right
    // after it; the chain keeps that record, so a reprint finds the same.
    const QJsonObject after = context.firstAfter ? context.firstAfter->body : QJsonObject();
    d.nextCalibration = after.contains(QStringLiteral("nextCalibration"))
                            ? NotRead(after.value(QStringLiteral("nextCalibration")).toString())
                            : fact("nextCalibration");
    d.nextBumpTest = after.contains(QStringLiteral("nextBumpTest"))
                         ? NotRead(after.value(QStringLiteral("nextBumpTest")).toString())
                         : fact("nextBumpTest");
    d.technician = fact("technician");

    d.calibratedAt = QDateTime::fromString(cal.recordedAt, Qt::ISODateWithMs).toUTC().toString(
                         QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                     + QStringLiteral(" UTC");
    d.kind = body.value(QStringLiteral("calibration")).toString();
    d.concentration = d.kind == QLatin1String("zero") ? QStringLiteral("0 %1 (zero)").arg(unit)
                                                      : Number(body.value(QStringLiteral("concentration")), unit);
    d.asFound = Number(body.value(QStringLiteral("asFound")), unit);
    d.asLeft = Number(body.value(QStringLiteral("asLeft")), unit);
    const QString recorded = body.value(QStringLiteral("outcome")).toString();
    d.outcome = CertificateOutcome(recorded);
    d.instrumentOutcome = body.value(QStringLiteral("instrumentReport")).toString();
    if (d.instrumentOutcome.isEmpty())
        d.instrumentOutcome = recorded == QLatin1String("passed") || recorded == QLatin1String("failed")
                                  ? QStringLiteral("not recorded")
                                  : recorded;
    d.reason = body.value(QStringLiteral("reason")).toString();
    d.criterion = body.value(QStringLiteral("criterion")).toString(QStringLiteral("not recorded"));
    d.simulated = body.value(QStringLiteral("simulated")).toBool()
                  || (context.connection && context.connection->body.value(QStringLiteral("simulated")).toBool());

    const QJsonObject cylinder = body.value(QStringLiteral("cylinder")).toObject();
    d.testGasRecorded = !cylinder.isEmpty();
    if (d.testGasRecorded) {
        d.cylinderLot = cylinder.value(QStringLiteral("lot")).toString();
        d.certifiedConcentration = QStringLiteral("%1 %2 %3")
                                       .arg(Number(cylinder.value(QStringLiteral("concentration")), QString()),
                                            cylinder.value(QStringLiteral("unit")).toString(),
                                            cylinder.value(QStringLiteral("gas")).toString());
        d.balance = cylinder.value(QStringLiteral("balance")).toString();
        d.supplier = cylinder.value(QStringLiteral("supplier")).toString();
        d.cylinderExpires = cylinder.value(QStringLiteral("expires")).toString();
    }

    d.workstation = cal.host;
    d.program = QStringLiteral("%1 %2").arg(cal.program, cal.version);
    return d;
}

std::vector<CertificateSection> CertificateSections(const CertificateData &d)
{
    const auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    std::vector<CertificateSection> sections;
    sections.push_back({QStringLiteral("Instrument"),
                        {{QStringLiteral("Serial number"), d.serial},
                         {QStringLiteral("Type"), kInstrumentType},
                         {QStringLiteral("Software version"), orDash(d.softwareVersion)},
                         {QStringLiteral("Customer ID"), orDash(d.customerId)},
                         {QStringLiteral("Sensor type"), orDash(d.sensorType)},
                         {QStringLiteral("Sensor serial number"), orDash(d.sensorSerial)}}});
    CertificateSection gas{QStringLiteral("Gas and alarm limits in force"),
                           {{QStringLiteral("Gas and unit"), orDash(d.gasUnit)},
                            {QStringLiteral("Measuring range"), d.range}}};
    for (const auto &[name, value] : d.alarmLimits)
        gas.rows.emplace_back(QStringLiteral("Alarm limit %1").arg(name), value);
    sections.push_back(gas);
    sections.push_back({QStringLiteral("Calibration"),
                        {{QStringLiteral("Date and time"), d.calibratedAt},
                         {QStringLiteral("Kind"), d.kind},
                         {QStringLiteral("Concentration applied"), d.concentration},
                         {QStringLiteral("As found"), d.asFound},
                         {QStringLiteral("As left"), d.asLeft},
                         {QStringLiteral("Pass criterion"), d.criterion},
                         {QStringLiteral("Outcome"), QStringLiteral("%1 (instrument: %2)").arg(d.outcome, d.instrumentOutcome)}}});
    if (!d.reason.isEmpty())
        sections.back().rows.emplace_back(QStringLiteral("Reason"), d.reason);
    if (d.testGasRecorded)
        sections.push_back({QStringLiteral("Test gas"),
                            {{QStringLiteral("Cylinder lot"), d.cylinderLot},
                             {QStringLiteral("Certified concentration"), d.certifiedConcentration},
                             {QStringLiteral("Balance gas"), orDash(d.balance)},
                             {QStringLiteral("Supplier"), orDash(d.supplier)},
                             {QStringLiteral("Cylinder expiry"), d.cylinderExpires}}});
    else
        sections.push_back({QStringLiteral("Test gas"), {{QStringLiteral("Cylinder"), kTestGasNotRecorded}}});
    sections.push_back({QStringLiteral("Next due, as the instrument holds them"),
                        {{QStringLiteral("Next calibration due"), d.nextCalibration},
                         {QStringLiteral("Next bump test due"), d.nextBumpTest}}});
    sections.push_back({QStringLiteral("Performed by"),
                        {{QStringLiteral("Technician"), d.technician},
                         {QStringLiteral("Workstation"), d.workstation},
                         {QStringLiteral("Program"), d.program}}});
    sections.push_back({QStringLiteral("Record"),
                        {{QStringLiteral("Record id"), QString::number(d.recordId)},
                         {QStringLiteral("Record hash (SHA-256)"), d.recordHash},
                         {QStringLiteral("Chain position"), QStringLiteral("record %1 of instrument %2").arg(d.chainSeq).arg(d.serial)},
                         {QStringLiteral("Records head"), d.head},
                         {QStringLiteral("Verification code"), d.verificationCode}}});
    return sections;
}

} // namespace r310::records
