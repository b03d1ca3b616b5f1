#pragma once
// The pictures the pages link to: a data logger download's chart as SVG
// (the log viewer's own chart) and a calibration certificate as PDF. Both
// paint with Qt Gui on the thread of the application object, so a request's
// thread hands the painting over and waits for it. A download never changes
// once recorded, so its charts are kept for the next request.
#include <Certificate.h>
#include <RecordedLogs.h>

#include <QByteArray>

#include <functional>
#include <map>
#include <mutex>

namespace r310::web {

class Drawings {
public:
    QByteArray ChartSvg(qint64 recordId, const records::RecordedLog &log, const QString &title);
    // The chart of a download drawn before, if kept.
    QByteArray KeptChart(qint64 recordId);
    QByteArray CertificatePdf(const records::CertificateData &certificate);

private:
    static QByteArray OnApplicationThread(const std::function<QByteArray()> &work);

    std::mutex mutex_;
    std::map<qint64, QByteArray> charts_;
};

} // namespace r310::web
