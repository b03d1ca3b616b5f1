#pragma once
// The calibration certificate and the fleet report as PDF, with Qt's own
// PDF output: an A4 page of searchable text with its fonts embedded. Needs
// Qt's paint system (a QGuiApplication, the offscreen platform will do),
// no widgets.
#include <Certificate.h>
#include <FleetReport.h>

#include <QByteArray>
#include <QDate>
#include <QString>

#include <vector>

namespace r310::records {

// The PDF's bytes.
QByteArray CertificatePdf(const CertificateData &certificate);
// simulated: the records are those of the built-in simulated instrument,
// and every page says so across it.
QByteArray FleetReportPdf(const std::vector<FleetRow> &rows, const QDate &today, const QString &workstation,
                          bool simulated = false);

// Writes the bytes to the file whole, or leaves it as it was; false with *error.
bool SavePdf(const QByteArray &pdf, const QString &path, QString *error);

} // namespace r310::records
