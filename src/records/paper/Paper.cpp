#include "Paper.h"

#include <algorithm>

#include <QBuffer>
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QPageLayout>
#include <QAbstractTextDocumentLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace r310::records {

namespace {

QString Html(const QString &text) { return text.toHtmlEscaped(); }

const char *const kStyle = "body { font-family: 'DejaVu Sans', sans-serif; font-size: 9pt; }"
                           "h1 { font-size: 16pt; margin-bottom: 2px; }"
                           "h2 { font-size: 10.5pt; margin-top: 10px; margin-bottom: 3px; }"
                           "td.label { color: #444444; padding-right: 12px; }"
                           "th { background-color: #dddddd; text-align: left; padding: 3px; }"
                           "td.cell { padding: 3px; border-bottom: 1px solid #cccccc; }"
                           "td.overdue { padding: 3px; border-bottom: 1px solid #cccccc; color: #b00000; font-weight: bold; }"
                           ".small { font-size: 7.5pt; color: #444444; }";

// Lays the HTML out on the page's printable area and draws it page by page
// (a certificate fits one). No ligatures, so every word of the PDF's text
// is found as typed.
// The mark across a page: large grey letters from the lower left to the upper right.
void DrawMark(QPainter &painter, const QRect &page, const QString &mark)
{
    painter.save();
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(std::min(page.width(), page.height()) / 22);
    painter.setFont(font);
    painter.setPen(QColor(200, 0, 0, 90));
    painter.translate(page.width() / 2.0, page.height() / 2.0);
    painter.rotate(page.height() > page.width() ? -55 : -30);
    const QRectF box(-page.height(), -font.pixelSize(), 2.0 * page.height(), 2.0 * font.pixelSize());
    painter.drawText(box, Qt::AlignCenter, mark);
    painter.restore();
}

QByteArray Print(const QString &html, QPageLayout::Orientation orientation, const QString &title,
                 const QString &mark = {})
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("R310Conf"));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF(18, 15, 18, 15),
                                         QPageLayout::Millimeter));
        QTextDocument document;
        document.documentLayout()->setPaintDevice(&writer);
        document.setDefaultStyleSheet(QString::fromLatin1(kStyle));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(9);
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        document.setDocumentMargin(0);
        document.setHtml(html);
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
        document.setPageSize(QSizeF(page.width(), page.height()));
        QPainter painter(&writer);
        for (int n = 0; n < document.pageCount(); ++n) {
            if (n > 0)
                writer.newPage();
            painter.save();
            painter.translate(0, -n * page.height());
            document.drawContents(&painter, QRectF(0, n * page.height(), page.width(), page.height()));
            painter.restore();
            if (!mark.isEmpty())
                DrawMark(painter, page, mark);
        }
    }
    return bytes;
}

} // namespace

QByteArray CertificatePdf(const CertificateData &d)
{
    const bool passed = d.outcome == QLatin1String("passed");
    QString html = QStringLiteral("<h1>%4</h1>"
                                  "<p>%5 number <b>%1</b><br/>%2, serial number %3</p>")
                       .arg(Html(d.number), Html(kInstrumentType), Html(d.serial), Html(CertificateTitle(d)),
                            passed ? QStringLiteral("Certificate") : QStringLiteral("Report"));
    if (d.simulated)
        html += QStringLiteral("<p><b>%1</b>: made from the built-in simulated instrument.</p>").arg(Html(kSimulatedMark));
    for (const CertificateSection &section : CertificateSections(d)) {
        html += QStringLiteral("<h2>%1</h2><table cellspacing='0' cellpadding='1'>").arg(Html(section.title));
        for (const auto &[label, value] : section.rows) {
            const bool strong = label == QLatin1String("Outcome");
            html += QStringLiteral("<tr><td class='label' width='190'>%1</td><td>%2%3%4</td></tr>")
                        .arg(Html(label), strong ? QStringLiteral("<b>") : QString(), Html(value),
                             strong ? QStringLiteral("</b>") : QString());
        }
        html += QStringLiteral("</table>");
    }
    html += QStringLiteral("<p class='small'>Printed from the service records. The record hash ties this certificate "
                           "to its calibration record: \"r310ctl records history %1 --json\" shows it, and "
                           "\"r310ctl records verify\" checks the record chain.</p>"
                           "<p><br/>Signature: ______________________________&nbsp;&nbsp;&nbsp;Date: "
                           "______________</p>")
                .arg(Html(d.serial));
    return Print(html, QPageLayout::Portrait, QStringLiteral("%1 %2").arg(CertificateTitle(d), d.number),
                 d.simulated ? kSimulatedMark : QString());
}

QByteArray FleetReportPdf(const std::vector<FleetRow> &rows, const QDate &today, const QString &workstation,
                          bool simulated)
{
    int overdue = 0;
    QString table = QStringLiteral("<table width='100%' cellspacing='0'><tr>");
    for (const QString &heading : FleetHeadings())
        table += QStringLiteral("<th>%1</th>").arg(Html(heading));
    table += QStringLiteral("</tr>");
    for (const FleetRow &row : rows) {
        const QStringList cells = FleetCells(row);
        const bool late = row.instrument.calibrationOverdue || row.instrument.bumpTestOverdue;
        overdue += late ? 1 : 0;
        table += QStringLiteral("<tr>");
        for (qsizetype c = 0; c < cells.size(); ++c)
            table += QStringLiteral("<td class='%1'>%2</td>")
                         .arg(cells[c].endsWith(QLatin1String("OVERDUE")) ? QStringLiteral("overdue")
                                                                         : QStringLiteral("cell"),
                              Html(cells[c]));
        table += QStringLiteral("</tr>");
    }
    table += QStringLiteral("</table>");
    const QString html =
        QStringLiteral("<h1>Fleet Report</h1><p>%1 instruments on record, %2 with a calibration or bump test "
                       "overdue on %3. Printed %4 on %5. Next due dates as each instrument last reported "
                       "them; each row names the head of the instrument's record chain it was made from "
                       "(\"r310ctl records verify --head HEAD\" checks it).</p>%6")
            .arg(rows.size())
            .arg(overdue)
            .arg(today.toString(Qt::ISODate),
                 QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")), Html(workstation),
                 table);
    return Print(simulated ? QStringLiteral("<p><b>%1</b></p>").arg(Html(kSimulatedMark)) + html : html,
                 QPageLayout::Landscape, QStringLiteral("Fleet Report %1").arg(today.toString(Qt::ISODate)),
                 simulated ? kSimulatedMark : QString());
}

bool SavePdf(const QByteArray &pdf, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (pdf.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit()) {
        *error = pdf.isEmpty() ? QStringLiteral("the PDF could not be made") : file.errorString();
        return false;
    }
    return true;
}

} // namespace r310::records
