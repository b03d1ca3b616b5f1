#include "RecordViews.h"

#include <Formats.h>
#include <SettingsKeys.h>

#include <QJsonArray>

#include <algorithm>
#include <limits>

namespace r310::records {

namespace {

QString Number(const QJsonValue &value)
{
    return value.isDouble() ? QString::number(value.toDouble(), 'g', 12) : value.toString();
}

// Settings values as JSON: numbers where the key takes a number.
QJsonObject SettingsJson(const QJsonObject &settings)
{
    QJsonObject json;
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        const SettingsKey *key = FindSettingsKey(it.key());
        bool isNumber = false;
        const double number = it.value().toString().toDouble(&isNumber);
        if (key && key->kind == SettingsValueKind::Number && isNumber)
            json.insert(it.key(), number);
        else
            json.insert(it.key(), it.value());
    }
    return json;
}

} // namespace

QString NormalizedSerial(const QString &typed)
{
    const QString text = typed.trimmed();
    bool digits = !text.isEmpty();
    for (const QChar c : text)
        digits = digits && c >= u'0' && c <= u'9';
    bool ok = false;
    const qlonglong number = digits ? text.toLongLong(&ok) : 0;
    if (!ok || number > std::numeric_limits<std::int32_t>::max())
        return typed;
    return FormatSerialNumber(static_cast<std::int32_t>(number));
}

std::vector<InstrumentRow> InstrumentRows(const std::vector<InstrumentSummary> &instruments, const QDate &today)
{
    std::vector<InstrumentRow> rows;
    rows.reserve(instruments.size());
    for (const InstrumentSummary &s : instruments) {
        InstrumentRow row;
        row.serial = s.serial;
        row.customerId = s.customerId;
        row.softwareVersion = s.softwareVersion;
        row.gasUnit = s.settingsGasUnit.isEmpty() ? s.connectionGasUnit : s.settingsGasUnit;
        row.lastSeen = s.lastSeen;
        row.lastCalibrationDate = s.calibratedAt.left(10);
        row.lastCalibrationKind = s.calibrationKind;
        row.lastCalibrationOutcome = s.calibrationOutcome;
        row.nextCalibration = s.nextCalibration;
        row.lastPassedSpanDate = s.spanCalibratedAt.left(10);
        row.lastBumpDate = s.bumpTestedAt.left(10);
        row.lastBumpOutcome = s.bumpOutcome;
        if (s.bumpOutcome.isEmpty() && s.bumpA1 && s.bumpA2 && s.bumpT50) // older records: from the values
            row.lastBumpOutcome = *s.bumpA1 > 0 && *s.bumpA2 > 0 && *s.bumpT50 > 0 ? QStringLiteral("passed")
                                                                                  : QStringLiteral("failed");
        if (s.bumpA1 || s.bumpA2 || s.bumpT50) {
            const auto value = [](const std::optional<double> &v) { return v ? QJsonValue(*v) : QJsonValue(); };
            row.lastBumpResult = BumpTestText(value(s.bumpA1), value(s.bumpA2), value(s.bumpT50));
        }
        row.lastBumpCylinder = s.bumpCylinder;
        row.nextBumpTest = s.nextBumpTest;
        bool interval = false;
        const int days = s.bumpInterval.toInt(&interval);
        const QDate tested = QDate::fromString(s.bumpPassedAt.left(10), Qt::ISODate);
        if (interval && tested.isValid()) {
            const QDate fromTest = tested.addDays(days);
            const QDate own = QDate::fromString(row.nextBumpTest, Qt::ISODate);
            if (!own.isValid() || fromTest > own)
                row.nextBumpTest = fromTest.toString(Qt::ISODate);
        }
        const QDate calibration = QDate::fromString(row.nextCalibration, Qt::ISODate);
        const QDate bump = QDate::fromString(row.nextBumpTest, Qt::ISODate);
        row.calibrationOverdue = calibration.isValid() && calibration < today;
        row.bumpTestOverdue = bump.isValid() && bump < today;
        rows.push_back(std::move(row));
    }
    return rows;
}

QJsonObject InstrumentJson(const InstrumentRow &row)
{
    auto orNull = [](const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    QJsonObject lastCalibration;
    if (!row.lastCalibrationDate.isEmpty())
        lastCalibration = {{QStringLiteral("date"), row.lastCalibrationDate},
                           {QStringLiteral("kind"), row.lastCalibrationKind},
                           {QStringLiteral("outcome"), row.lastCalibrationOutcome}};
    QJsonObject lastBump;
    if (!row.lastBumpDate.isEmpty())
        lastBump = {{QStringLiteral("date"), row.lastBumpDate},
                    {QStringLiteral("outcome"), orNull(row.lastBumpOutcome)},
                    {QStringLiteral("result"), orNull(row.lastBumpResult)},
                    {QStringLiteral("cylinder"), orNull(row.lastBumpCylinder)}};
    return {{QStringLiteral("serial"), row.serial},
            {QStringLiteral("customerId"), row.customerId},
            {QStringLiteral("gasUnit"), orNull(row.gasUnit)},
            {QStringLiteral("softwareVersion"), orNull(row.softwareVersion)},
            {QStringLiteral("lastSeen"), orNull(row.lastSeen)},
            {QStringLiteral("lastCalibration"), lastCalibration.isEmpty() ? QJsonValue() : QJsonValue(lastCalibration)},
            {QStringLiteral("lastPassedSpanCalibration"), orNull(row.lastPassedSpanDate)},
            {QStringLiteral("lastBumpTest"), lastBump.isEmpty() ? QJsonValue() : QJsonValue(lastBump)},
            {QStringLiteral("nextCalibration"), orNull(row.nextCalibration)},
            {QStringLiteral("nextBumpTest"), orNull(row.nextBumpTest)},
            {QStringLiteral("calibrationOverdue"), row.calibrationOverdue},
            {QStringLiteral("bumpTestOverdue"), row.bumpTestOverdue}};
}

QStringList InstrumentLines(const std::vector<InstrumentRow> &rows)
{
    std::vector<QStringList> table{{QStringLiteral("Serial"), QStringLiteral("Customer ID"), QStringLiteral("Gas"),
                                    QStringLiteral("Version"), QStringLiteral("Last seen"),
                                    QStringLiteral("Last calibration"), QStringLiteral("Last bump test"),
                                    QStringLiteral("Next calibration"), QStringLiteral("Next bump test")}};
    auto due = [](const QString &date, bool overdue) {
        return date.isEmpty() ? QStringLiteral("-") : overdue ? date + QStringLiteral(" OVERDUE") : date;
    };
    for (const InstrumentRow &row : rows) {
        const QString calibration = LastCalibrationText(row);
        table.push_back({row.serial, row.customerId.isEmpty() ? QStringLiteral("-") : row.customerId,
                         row.gasUnit.isEmpty() ? QStringLiteral("-") : row.gasUnit,
                         row.softwareVersion.isEmpty() ? QStringLiteral("-") : row.softwareVersion,
                         row.lastSeen.isEmpty() ? QStringLiteral("-") : row.lastSeen.left(16).replace(u'T', u' '),
                         calibration, LastBumpText(row), due(row.nextCalibration, row.calibrationOverdue),
                         due(row.nextBumpTest, row.bumpTestOverdue)});
    }
    std::vector<qsizetype> widths(table.front().size(), 0);
    for (const QStringList &cells : table) {
        for (qsizetype c = 0; c < cells.size(); ++c)
            widths[static_cast<std::size_t>(c)] = std::max(widths[static_cast<std::size_t>(c)], cells[c].size());
    }
    QStringList lines;
    for (const QStringList &cells : table) {
        QString line;
        for (qsizetype c = 0; c < cells.size(); ++c)
            line += c + 1 == cells.size() ? cells[c] : cells[c].leftJustified(widths[static_cast<std::size_t>(c)] + 2);
        lines.append(line);
    }
    return lines;
}

QString LastCalibrationText(const InstrumentRow &row)
{
    if (!row.lastPassedSpanDate.isEmpty())
        return QStringLiteral("%1 span passed").arg(row.lastPassedSpanDate);
    if (row.lastCalibrationDate.isEmpty())
        return QStringLiteral("-");
    return QStringLiteral("%1 %2 %3, no passed span")
        .arg(row.lastCalibrationDate, row.lastCalibrationKind, row.lastCalibrationOutcome);
}

QString LastBumpText(const InstrumentRow &row)
{
    if (row.lastBumpDate.isEmpty())
        return QStringLiteral("-");
    QStringList parts{row.lastBumpDate};
    if (!row.lastBumpOutcome.isEmpty())
        parts.append(row.lastBumpOutcome);
    if (!row.lastBumpResult.isEmpty())
        parts.append(row.lastBumpResult);
    QString text = parts.join(u' ');
    if (!row.lastBumpCylinder.isEmpty())
        text += QStringLiteral(", cylinder %1").arg(row.lastBumpCylinder);
    return text;
}

QString BumpTestText(const QJsonValue &a1, const QJsonValue &a2, const QJsonValue &t50)
{
    return QStringLiteral("A1 %1, A2 %2, T50 %3").arg(Number(a1), Number(a2), Number(t50));
}

QString HistorySummary(const StoredRecord &record)
{
    const QJsonObject &b = record.body;
    if (record.kind == kind::kConnection)
        return QStringLiteral("software %1, sensor %2 %3, customer ID \"%4\", battery %5, clock offset %6 s")
            .arg(b.value(QStringLiteral("softwareVersion")).toString(), b.value(QStringLiteral("sensorType")).toString(),
                 b.value(QStringLiteral("sensorSerial")).toString(), b.value(QStringLiteral("customerId")).toString(),
                 Number(b.value(QStringLiteral("battery"))), Number(b.value(QStringLiteral("clockOffsetSeconds"))));
    if (record.kind == kind::kSettings) {
        QStringList parts;
        const QJsonObject settings = b.value(QStringLiteral("settings")).toObject();
        for (auto it = settings.begin(); it != settings.end(); ++it)
            parts.append(it.key() + u'=' + it.value().toString());
        return QStringLiteral("next calibration %1, next bump test %2: %3")
            .arg(b.value(QStringLiteral("nextCalibration")).toString(QStringLiteral("-")),
                 b.value(QStringLiteral("nextBumpTest")).toString(QStringLiteral("-")), parts.join(u' '));
    }
    if (record.kind == kind::kWrite) {
        QStringList parts;
        for (const QJsonValue &v : b.value(QStringLiteral("changes")).toArray()) {
            const QJsonObject c = v.toObject();
            parts.append(QStringLiteral("%1 %2 -> %3").arg(c.value(QStringLiteral("key")).toString(),
                                                         c.value(QStringLiteral("old")).toString(),
                                                         c.value(QStringLiteral("new")).toString()));
        }
        return QStringLiteral("%1: %2 (%3)").arg(b.value(QStringLiteral("what")).toString(), parts.join(QStringLiteral(", ")),
                                                b.value(QStringLiteral("outcome")).toString());
    }
    if (record.kind == kind::kCalibration) {
        QString text = QStringLiteral("%1 %2, as found %3, as left %4: %5")
                           .arg(b.value(QStringLiteral("calibration")).toString(),
                                Number(b.value(QStringLiteral("concentration"))),
                                Number(b.value(QStringLiteral("asFound"))), Number(b.value(QStringLiteral("asLeft"))),
                                b.value(QStringLiteral("outcome")).toString());
        if (const QString reason = b.value(QStringLiteral("reason")).toString(); !reason.isEmpty())
            text += QStringLiteral(" (%1)").arg(reason);
        return text;
    }
    if (record.kind == kind::kHornCheck)
        return b.value(QStringLiteral("outcome")).toString();
    if (record.kind == kind::kBumpTest) {
        QStringList parts;
        if (b.contains(QStringLiteral("outcome")))
            parts.append(b.value(QStringLiteral("outcome")).toString() + u':');
        if (b.contains(QStringLiteral("a1")))
            parts.append(BumpTestText(b.value(QStringLiteral("a1")), b.value(QStringLiteral("a2")),
                                      b.value(QStringLiteral("t50"))));
        const QString lot = b.value(QStringLiteral("cylinder")).toObject().value(QStringLiteral("lot")).toString();
        if (!lot.isEmpty())
            parts.append(QStringLiteral("cylinder %1").arg(lot));
        return parts.join(u' ');
    }
    if (record.kind == kind::kEventsUnfinished)
        return QStringLiteral("stopped after %1 of %2 events, %3 new; the next download goes on from there")
            .arg(Number(b.value(QStringLiteral("read"))), Number(b.value(QStringLiteral("count"))),
                 Number(b.value(QStringLiteral("added"))));
    if (record.kind == kind::kDatalogUnfinished)
        return QStringLiteral("stopped after %1 blocks, %2 new samples; the next download goes on from there")
            .arg(Number(b.value(QStringLiteral("blocks"))), Number(b.value(QStringLiteral("added"))));
    if (record.kind == kind::kEvents)
        return QStringLiteral("%1 of %2 events read, %3 new (record %4)")
            .arg(Number(b.value(QStringLiteral("read"))), Number(b.value(QStringLiteral("count"))),
                 Number(b.value(QStringLiteral("added"))))
            .arg(record.id);
    if (record.kind == kind::kDatalog)
        return QStringLiteral("%1 blocks, %2 samples, %3 new (record %4)")
            .arg(Number(b.value(QStringLiteral("blocks"))), Number(b.value(QStringLiteral("samples"))),
                 Number(b.value(QStringLiteral("added"))))
            .arg(record.id);
    return {};
}

QString HistoryLine(const StoredRecord &record)
{
    return QStringLiteral("%1  %2  %3  (%4@%5)")
        .arg(record.recordedAt, record.kind.leftJustified(11), HistorySummary(record), record.user, record.host);
}

QJsonObject HistoryJson(const StoredRecord &record)
{
    QJsonObject body = record.body;
    if (body.contains(QStringLiteral("settings")))
        body.insert(QStringLiteral("settings"), SettingsJson(body.value(QStringLiteral("settings")).toObject()));
    if (body.contains(QStringLiteral("changes"))) {
        QJsonArray changes;
        for (const QJsonValue &value : body.value(QStringLiteral("changes")).toArray()) {
            QJsonObject change = value.toObject();
            const QString key = change.value(QStringLiteral("key")).toString();
            for (const char *field : {"old", "new", "readBack"}) {
                const QString name = QLatin1String(field);
                if (change.contains(name))
                    change.insert(name, SettingsJson({{key, change.value(name)}}).value(key));
            }
            changes.append(change);
        }
        body.insert(QStringLiteral("changes"), changes);
    }
    return {{QStringLiteral("id"), record.id},
            {QStringLiteral("seq"), record.seq},
            {QStringLiteral("kind"), record.kind},
            {QStringLiteral("time"), record.recordedAt},
            {QStringLiteral("host"), record.host},
            {QStringLiteral("user"), record.user},
            {QStringLiteral("program"), record.program},
            {QStringLiteral("version"), record.version},
            {QStringLiteral("hash"), record.hash},
            {QStringLiteral("record"), body}};
}

} // namespace r310::records
