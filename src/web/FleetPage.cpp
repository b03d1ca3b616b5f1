#include "FleetPage.h"

#include "Html.h"

#include <array>

namespace r310::web {

namespace {

struct ColumnInfo {
    FleetColumn column;
    const char *key;
    const char *heading;
};
constexpr std::array<ColumnInfo, kFleetColumns> kColumns{{
    {FleetColumn::Serial, "serial", "Serial"},
    {FleetColumn::Customer, "customer", "Customer ID"},
    {FleetColumn::Gas, "gas", "Gas"},
    {FleetColumn::LastSeen, "seen", "Last seen"},
    {FleetColumn::Calibrated, "calibrated", "Last calibration"},
    {FleetColumn::BumpTested, "bumped", "Last bump test"},
    {FleetColumn::NextCalibration, "nextcal", "Next calibration"},
    {FleetColumn::NextBumpTest, "nextbump", "Next bump test"},
}};

const char *KeyOf(FleetColumn column) { return kColumns[static_cast<std::size_t>(column)].key; }

bool Matches(const records::FleetRow &row, const QString &filter)
{
    for (const ColumnInfo &info : kColumns) {
        if (FleetText(row, info.column).contains(filter, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString SeenText(const QString &iso)
{
    return iso.isEmpty() ? QStringLiteral("-") : iso.left(16).replace(QLatin1Char('T'), QLatin1Char(' '));
}

QString DueCell(const QString &date, DueState state)
{
    if (date.isEmpty())
        return QStringLiteral("<td>-</td>");
    switch (state) {
    case DueState::Overdue: return QStringLiteral("<td class=\"overdue\">%1 overdue</td>").arg(Escape(date));
    case DueState::Soon: return QStringLiteral("<td class=\"soon\">%1</td>").arg(Escape(date));
    case DueState::None: break;
    }
    return QStringLiteral("<td>%1</td>").arg(Escape(date));
}

QueryItems LinkItems(const FleetQuery &q, FleetColumn column, bool descending, int page)
{
    QueryItems items;
    if (!q.filter.isEmpty())
        items.emplace_back(QStringLiteral("q"), q.filter);
    items.emplace_back(QStringLiteral("sort"), QLatin1String(KeyOf(column)));
    if (descending)
        items.emplace_back(QStringLiteral("order"), QStringLiteral("desc"));
    if (page > 1)
        items.emplace_back(QStringLiteral("page"), QString::number(page));
    return items;
}

} // namespace

FleetQuery ParseFleetQuery(const std::function<QString(const char *)> &value)
{
    FleetQuery q;
    q.filter = value("q").left(200);
    const QString sort = value("sort");
    for (const ColumnInfo &info : kColumns) {
        if (sort == QLatin1String(info.key))
            q.column = info.column;
    }
    q.descending = value("order") == QLatin1String("desc");
    bool ok = false;
    const int page = value("page").toInt(&ok);
    q.page = ok && page > 0 ? page : 1;
    return q;
}

FleetSelection SelectFleet(const FleetSnapshot &fleet, const FleetQuery &query)
{
    const std::shared_ptr<const std::vector<int>> order = fleet.Order(query.column);
    const auto &rows = fleet.rows();
    std::vector<const records::FleetRow *> kept;
    kept.reserve(query.filter.isEmpty() ? rows.size() : 64);
    for (std::size_t n = 0; n < order->size(); ++n) {
        const int index = (*order)[query.descending ? order->size() - 1 - n : n];
        const records::FleetRow &row = rows[static_cast<std::size_t>(index)];
        if (query.filter.isEmpty() || Matches(row, query.filter))
            kept.push_back(&row);
    }
    FleetSelection s;
    s.matching = static_cast<int>(kept.size());
    s.pages = std::max(1, (s.matching + kFleetPageRows - 1) / kFleetPageRows);
    s.page = std::min(query.page, s.pages);
    const auto first = kept.begin() + std::min<std::ptrdiff_t>((s.page - 1) * kFleetPageRows, s.matching);
    const auto last = first + std::min<std::ptrdiff_t>(kFleetPageRows, kept.end() - first);
    s.rows.assign(first, last);
    return s;
}

DueState DueStateOf(const QString &date, const QDate &today, int soonDays)
{
    const QDate due = QDate::fromString(date, Qt::ISODate);
    if (!due.isValid())
        return DueState::None;
    if (due < today)
        return DueState::Overdue;
    return due <= today.addDays(soonDays) ? DueState::Soon : DueState::None;
}

QString FleetBody(const FleetSnapshot &fleet, const FleetQuery &query, int soonDays)
{
    const FleetSelection s = SelectFleet(fleet, query);
    QString html = QStringLiteral("<h2>Fleet</h2>\n<form class=\"filter\" method=\"get\" action=\"/\">"
                                  "<label for=\"q\">Filter</label> <input id=\"q\" name=\"q\" value=\"%1\"> "
                                  "<input type=\"hidden\" name=\"sort\" value=\"%2\">"
                                  "<button type=\"submit\">Show</button></form>\n")
                       .arg(Escape(query.filter), QLatin1String(KeyOf(query.column)));
    html += QStringLiteral("<p class=\"muted\">%1 of %2 instruments; read %3; overdue in red, due within %4 days in "
                           "amber.</p>\n")
                .arg(s.matching)
                .arg(fleet.rows().size())
                .arg(fleet.readAt().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")))
                .arg(soonDays);
    html += QStringLiteral("<table class=\"fleet\"><thead><tr>");
    for (const ColumnInfo &info : kColumns) {
        const bool current = info.column == query.column;
        const bool descending = current && !query.descending;
        const QString mark =
            current ? (query.descending ? QStringLiteral(" &#9660;") : QStringLiteral(" &#9650;")) : QString();
        html += QStringLiteral("<th><a href=\"%1\">%2</a>%3</th>")
                    .arg(QueryHref(QStringLiteral("/"), LinkItems(query, info.column, descending, 1)),
                         QLatin1String(info.heading), mark);
    }
    html += QStringLiteral("</tr></thead><tbody>\n");
    for (const records::FleetRow *row : s.rows) {
        const records::InstrumentRow &i = row->instrument;
        const DueState calibration = DueStateOf(i.nextCalibration, fleet.today(), soonDays);
        const DueState bump = DueStateOf(i.nextBumpTest, fleet.today(), soonDays);
        const bool overdue = calibration == DueState::Overdue || bump == DueState::Overdue;
        // As the fleet report shows them: only a passed span counts as the last calibration.
        const QString calibrated = Escape(records::LastCalibrationText(i));
        const QString bumped = Escape(records::LastBumpText(i));
        // Joined, never through arg(): a record's text may hold "%1".
        html += (overdue ? QStringLiteral("<tr class=\"overdue\">") : QStringLiteral("<tr>"))
                + QStringLiteral("<td class=\"serial\"><a href=\"")
                + QueryHref(QStringLiteral("/instrument"), {{QStringLiteral("serial"), i.serial}})
                + QStringLiteral("\">") + Escape(i.serial) + QStringLiteral("</a></td><td>")
                + EscapeOrDash(i.customerId) + QStringLiteral("</td><td>") + EscapeOrDash(i.gasUnit)
                + QStringLiteral("</td><td>") + Escape(SeenText(i.lastSeen)) + QStringLiteral("</td><td>") + calibrated
                + QStringLiteral("</td><td>") + bumped + QStringLiteral("</td>")
                + DueCell(i.nextCalibration, calibration) + DueCell(i.nextBumpTest, bump) + QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody></table>\n<div class=\"pages\">");
    if (s.page > 1)
        html += QStringLiteral("<a href=\"%1\">Previous</a>")
                    .arg(QueryHref(QStringLiteral("/"), LinkItems(query, query.column, query.descending, s.page - 1)));
    html += QStringLiteral("<span>Page %1 of %2</span>").arg(s.page).arg(s.pages);
    if (s.page < s.pages)
        html += QStringLiteral("<a href=\"%1\">Next</a>")
                    .arg(QueryHref(QStringLiteral("/"), LinkItems(query, query.column, query.descending, s.page + 1)));
    html += QStringLiteral("</div>\n");
    return html;
}

} // namespace r310::web
