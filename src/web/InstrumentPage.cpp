#include "InstrumentPage.h"

#include "FleetPage.h"
#include "Html.h"

#include <Exposure.h>

#include <QLocale>

namespace r310::web {

namespace {

QString Figure(double value, int decimals) { return QString::number(value, 'f', decimals); }
// STEL and TWA are figures of toxic gases only; "—" for oxygen and combustibles.
QString Figure(const std::optional<double> &value, int decimals)
{
    return value ? Figure(*value, decimals) : QString(QChar(0x2014));
}

QString Duration(std::int64_t seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString Time(std::int64_t wallClockSeconds)
{
    return QDateTime::fromSecsSinceEpoch(wallClockSeconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString RecordTime(const QString &iso) { return iso.left(19).replace(QLatin1Char('T'), QLatin1Char(' ')); }

QString Row(const QString &label, const QString &cellHtml)
{
    return QStringLiteral("<tr><th>") + Escape(label) + QStringLiteral("</th>") + cellHtml + QStringLiteral("</tr>");
}

QString SummaryTable(const records::FleetRow &row, const QDate &today, int soonDays)
{
    const records::InstrumentRow &i = row.instrument;
    auto cell = [](const QString &text) {
        return QStringLiteral("<td>") + EscapeOrDash(text) + QStringLiteral("</td>");
    };
    auto due = [&](const QString &date) {
        switch (DueStateOf(date, today, soonDays)) {
        case DueState::Overdue:
            return QStringLiteral("<td class=\"overdue\">") + Escape(date) + QStringLiteral(" overdue</td>");
        case DueState::Soon: return QStringLiteral("<td class=\"soon\">") + Escape(date) + QStringLiteral("</td>");
        case DueState::None: break;
        }
        return cell(date);
    };
    return QStringLiteral("<table class=\"summary\">") + Row(QStringLiteral("Customer ID"), cell(i.customerId))
           + Row(QStringLiteral("Gas"), cell(i.gasUnit)) + Row(QStringLiteral("Software"), cell(i.softwareVersion))
           + Row(QStringLiteral("Last seen"), cell(RecordTime(i.lastSeen)))
           + Row(QStringLiteral("Next calibration"), due(i.nextCalibration))
           + Row(QStringLiteral("Next bump test"), due(i.nextBumpTest)) + QStringLiteral("</table>\n");
}

QString Certificates(const std::vector<records::StoredRecord> &history)
{
    QString html = QStringLiteral("<h3>Calibration certificates</h3>\n");
    QString rows;
    for (const records::StoredRecord &r : history) {
        if (r.kind != records::kind::kCalibration)
            continue;
        rows += QStringLiteral("<tr><td>") + Escape(RecordTime(r.recordedAt)) + QStringLiteral("</td><td>")
                + Escape(records::HistorySummary(r)) + QStringLiteral("</td><td><a href=\"")
                + QueryHref(QStringLiteral("/certificate.pdf"), {{QStringLiteral("id"), QString::number(r.id)}})
                + QStringLiteral("\">Certificate (PDF)</a></td></tr>\n");
    }
    if (rows.isEmpty())
        return html + QStringLiteral("<p class=\"muted\">No calibration on record.</p>\n");
    return html + QStringLiteral("<table><tr><th>Calibrated (UTC)</th><th>Calibration</th><th></th></tr>\n") + rows
           + QStringLiteral("</table>\n");
}

QString ExposureTable(const records::RecordedLog &log)
{
    const std::vector<logs::ExposureFigures> figures = logs::ComputeExposure(log.log->series, log.levels);
    if (figures.empty())
        return QStringLiteral("<p class=\"muted\">No samples.</p>\n");
    const logs::AlarmLevels &l = log.levels;
    QString html = QStringLiteral("<p>Alarm levels: ")
                   + Escape(l.any() ? logs::AlarmLevelsText(l) + QStringLiteral(" (A1, A2, A3, STEL, TWA)")
                                    : QStringLiteral("not on record for this gas"))
                   + QStringLiteral("</p>\n<table><tr><th>Gas</th><th>Section</th><th>From</th><th>To</th>"
                                    "<th>Samples</th><th>Peak</th><th>Peak at</th><th>STEL</th><th>TWA (8 h)</th>"
                                    "<th>In alarm A1</th><th>A2</th><th>A3</th></tr>\n");
    for (const logs::ExposureFigures &f : figures) {
        const int decimals = 2;
        html += QStringLiteral("<tr><td>") + EscapeOrDash(f.gas) + QStringLiteral("</td><td>")
                + QString::number(f.section + 1) + QStringLiteral("</td><td>") + Time(f.start)
                + QStringLiteral("</td><td>") + Time(f.end) + QStringLiteral("</td><td>") + QString::number(f.samples)
                + QStringLiteral("</td><td>") + Figure(f.peak, decimals) + QStringLiteral("</td><td>")
                + Time(f.peakTime) + QStringLiteral("</td><td>") + Figure(f.stel, decimals)
                + QStringLiteral("</td><td>") + Figure(f.twa, decimals) + QStringLiteral("</td>");
        for (std::size_t i = 0; i < f.inAlarm.size(); ++i) {
            const std::optional<std::int64_t> &seconds = f.inAlarm[i];
            // A falling level (oxygen) counts the time at or below it.
            html += QStringLiteral("<td>")
                    + (seconds ? Duration(*seconds) + (f.falling[i] ? QStringLiteral(" (at or below)") : QString())
                               : QStringLiteral("-"))
                    + QStringLiteral("</td>");
        }
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table>\n");
}

QString Downloads(records::RecordStore &store, const std::vector<records::StoredRecord> &history,
                  const GasTextLookup &gasTexts)
{
    QString html = QStringLiteral("<h3>Data logger downloads</h3>\n");
    bool any = false;
    for (const records::StoredRecord &r : history) {
        if (r.kind != records::kind::kDatalog)
            continue;
        any = true;
        html += QStringLiteral("<section class=\"download\"><h4>Downloaded ") + Escape(RecordTime(r.recordedAt))
                + QStringLiteral(" UTC (record ") + QString::number(r.id) + QStringLiteral(")</h4>\n");
        QString error;
        const std::optional<records::RecordedLog> log =
            records::RecordedLogOf(store, r, QLocale::c(), gasTexts, &error);
        if (!log) {
            html += QStringLiteral("<p class=\"message\">") + Escape(error) + QStringLiteral("</p></section>\n");
            continue;
        }
        html +=
            QStringLiteral("<img class=\"chart\" width=\"1000\" height=\"450\" alt=\"Chart of the download\" src=\"")
            + QueryHref(QStringLiteral("/chart.svg"), {{QStringLiteral("id"), QString::number(r.id)}})
            + QStringLiteral("\">\n") + ExposureTable(*log) + QStringLiteral("</section>\n");
    }
    return any ? html : html + QStringLiteral("<p class=\"muted\">No data logger download on record.</p>\n");
}

QString History(const std::vector<records::StoredRecord> &history)
{
    QString html = QStringLiteral("<h3>History</h3>\n<table class=\"history\"><tr><th>Time (UTC)</th><th>Record</th>"
                                  "<th>By</th><th>What</th></tr>\n");
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        html += QStringLiteral("<tr><td>") + Escape(RecordTime(it->recordedAt)) + QStringLiteral("</td><td>")
                + Escape(it->kind) + QStringLiteral("</td><td>")
                + Escape(QStringLiteral("%1@%2, %3 %4").arg(it->user, it->host, it->program, it->version))
                + QStringLiteral("</td><td>") + Escape(records::HistorySummary(*it)) + QStringLiteral("</td></tr>\n");
    return html + QStringLiteral("</table>\n");
}

} // namespace

InstrumentPageResult InstrumentBody(records::RecordStore &store, const FleetSnapshot &fleet, const QString &serial,
                                    int soonDays, const GasTextLookup &gasTexts)
{
    InstrumentPageResult result;
    const records::FleetRow *row = fleet.Find(serial);
    if (!row)
        return result;
    result.found = true;
    const std::vector<records::StoredRecord> history = store.History(serial, {}, &result.error);
    if (!result.error.isEmpty())
        return result;
    result.body = QStringLiteral("<h2>Instrument ") + Escape(serial) + QStringLiteral("</h2>\n")
                  + SummaryTable(*row, fleet.today(), soonDays) + Certificates(history)
                  + Downloads(store, history, gasTexts) + History(history);
    return result;
}

std::optional<records::RecordedLog> LoggerDownloadOf(records::RecordStore &store, qint64 id,
                                                     const GasTextLookup &gasTexts, QString *error)
{
    const std::optional<records::StoredRecord> record = store.Record(id, error);
    if (!record || record->kind != records::kind::kDatalog) {
        if (error->isEmpty())
            *error = QStringLiteral("no data logger download with record id %1").arg(id);
        return std::nullopt;
    }
    return records::RecordedLogOf(store, *record, QLocale::c(), gasTexts, error);
}

} // namespace r310::web
