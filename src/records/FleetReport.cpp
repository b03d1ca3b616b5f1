#include "FleetReport.h"

#include <algorithm>

namespace r310::records {

namespace {

// A field of the due list's CSV. A text a spreadsheet would run as a
// formula (=, +, -, @, tab or carriage return first) gets a leading ' so it
// stays text; quotes, commas and line breaks are quoted.
QString CsvField(const QString &text)
{
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    const bool formula = !text.isEmpty() && kFormulaStarts.contains(text.front());
    const QString field = formula ? QLatin1Char('\'') + text : text;
    if (!formula && !field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Dash(const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; }

QString Due(const QString &date, bool overdue) { return overdue ? date + QStringLiteral(" OVERDUE") : Dash(date); }

} // namespace

std::vector<DueItem> DueItems(const std::vector<InstrumentRow> &rows, const QDate &today, int withinDays)
{
    std::vector<DueItem> items;
    const QDate limit = today.addDays(withinDays);
    for (const InstrumentRow &row : rows) {
        const std::pair<QString, QString> dates[] = {{QStringLiteral("calibration"), row.nextCalibration},
                                                     {QStringLiteral("bump test"), row.nextBumpTest}};
        for (const auto &[what, text] : dates) {
            const QDate due = QDate::fromString(text, Qt::ISODate);
            if (due.isValid() && due <= limit)
                items.push_back({row.serial, row.customerId, what, due, static_cast<int>(due.daysTo(today))});
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const DueItem &a, const DueItem &b) {
        return a.due != b.due ? a.due < b.due : a.serial < b.serial;
    });
    return items;
}

QJsonObject DueJson(const DueItem &item)
{
    return {{QStringLiteral("serial"), item.serial},
            {QStringLiteral("customerId"), item.customerId},
            {QStringLiteral("due"), item.what},
            {QStringLiteral("date"), item.due.toString(Qt::ISODate)},
            {QStringLiteral("daysOverdue"), item.daysOverdue}};
}

QStringList DueLines(const std::vector<DueItem> &items)
{
    std::vector<QStringList> table{{QStringLiteral("Serial"), QStringLiteral("Customer ID"), QStringLiteral("Due"),
                                    QStringLiteral("Date"), QStringLiteral("Days overdue")}};
    for (const DueItem &item : items)
        table.push_back({item.serial, Dash(item.customerId), item.what, item.due.toString(Qt::ISODate),
                         QString::number(item.daysOverdue)});
    std::vector<qsizetype> widths(table.front().size(), 0);
    for (const QStringList &cells : table) {
        for (qsizetype c = 0; c < cells.size(); ++c)
            widths[static_cast<std::size_t>(c)] = std::max(widths[static_cast<std::size_t>(c)], cells[c].size());
    }
    QStringList lines;
    for (const QStringList &cells : table) {
        QString line;
        for (qsizetype c = 0; c < cells.size(); ++c)
            line += cells[c].leftJustified(widths[static_cast<std::size_t>(c)] + 2);
        lines.append(line.trimmed());
    }
    return lines;
}

QStringList DueCsvLines(const std::vector<DueItem> &items)
{
    QStringList lines{QStringLiteral("serial,customer_id,due,date,days_overdue")};
    for (const DueItem &item : items)
        lines.append(QStringList{CsvField(item.serial), CsvField(item.customerId), item.what,
                                 item.due.toString(Qt::ISODate), QString::number(item.daysOverdue)}
                         .join(QLatin1Char(',')));
    return lines;
}

std::vector<FleetRow> FleetRows(const std::vector<InstrumentSummary> &instruments, const QDate &today)
{
    std::vector<FleetRow> fleet;
    std::vector<InstrumentRow> rows = InstrumentRows(instruments, today);
    for (std::size_t n = 0; n < rows.size(); ++n)
        fleet.push_back({std::move(rows[n]), instruments[n].head.seq > 0 ? instruments[n].head.text() : QString()});
    return fleet;
}

QStringList FleetHeadings()
{
    return {QStringLiteral("Serial"),           QStringLiteral("Customer ID"),       QStringLiteral("Gas"),
            QStringLiteral("Last calibration"), QStringLiteral("Last bump test"),    QStringLiteral("Next calibration"),
            QStringLiteral("Next bump test"),   QStringLiteral("Records head")};
}

QStringList FleetCells(const FleetRow &row)
{
    const InstrumentRow &i = row.instrument;
    const QString calibration = LastCalibrationText(i);
    const QString bump = LastBumpText(i);
    return {i.serial,
            Dash(i.customerId),
            Dash(i.gasUnit),
            calibration,
            bump,
            Due(i.nextCalibration, i.calibrationOverdue),
            Due(i.nextBumpTest, i.bumpTestOverdue),
            Dash(row.head)};
}

} // namespace r310::records
