#include "ScreenshotTour.h"

#include "R310Cnf.h"

#include <QPixmap>
#include <QRegularExpression>
#include <QTabWidget>

namespace r310::ui {

namespace {
constexpr int kCheckMilliseconds = 50;
// Checks after a tab's reads ended, so their answers and the paint are through.
constexpr int kSettleChecks = 6;
} // namespace

QString ScreenshotFileName(InstrumentTab tab)
{
    switch (tab) {
    case InstrumentTab::General:
        return QStringLiteral("general.png");
    case InstrumentTab::Range:
        return QStringLiteral("range.png");
    case InstrumentTab::Signals:
        return QStringLiteral("signals.png");
    case InstrumentTab::Hardware:
        return QStringLiteral("hardware.png");
    case InstrumentTab::Calibration:
        return QStringLiteral("calibration.png");
    case InstrumentTab::SpecialFunction:
        return QStringLiteral("service-functions.png");
    case InstrumentTab::EventProperties:
        return QStringLiteral("event-properties.png");
    case InstrumentTab::Datalogging:
        return QStringLiteral("datalogging.png");
    }
    return QStringLiteral("tab.png");
}

ScreenshotTour::ScreenshotTour(TFo_R310 &window, const QDir &directory, std::chrono::milliseconds limit)
    : window_(window), directory_(directory)
{
    poll_.setInterval(kCheckMilliseconds);
    connect(&poll_, &QTimer::timeout, this, &ScreenshotTour::check);
    limit_.setSingleShot(true);
    limit_.setInterval(limit);
    connect(&limit_, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the instrument did not answer in time (%1 of the tabs saved)").arg(saved_.size()));
    });
}

void ScreenshotTour::start()
{
    if (!directory_.mkpath(QStringLiteral("."))) {
        fail(QStringLiteral("cannot create %1").arg(directory_.path()));
        return;
    }
    step_ = Step::Connecting;
    window_.OpenPort();
    if (!window_.connection()->busy()) {
        fail(QStringLiteral("no port is preselected; use --demo or --port DEVICE"));
        return;
    }
    poll_.start();
    limit_.start();
}

void ScreenshotTour::check()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection) {
        fail(QStringLiteral("the window was closed"));
        return;
    }
    switch (step_) {
    case Step::Connecting:
        if (connection->phase() == ConnectionPhase::Connected && !connection->busy())
            nextTab();
        break;
    case Step::Reading:
        if (!connection->busy()) {
            step_ = Step::Settling;
            settleChecks_ = 0;
        }
        break;
    case Step::Settling:
        if (++settleChecks_ >= kSettleChecks)
            capture();
        break;
    }
}

void ScreenshotTour::nextTab()
{
    QTabWidget &tabs = *window_.widgets().PageControl1;
    do {
        ++tab_;
    } while (tab_ < tabs.count() && !tabs.isTabVisible(tab_));
    if (tab_ >= tabs.count()) {
        poll_.stop();
        limit_.stop();
        emit finished(0, QStringLiteral("saved %1 in %2").arg(saved_.join(QStringLiteral(", ")), directory_.path()));
        return;
    }
    // The General tab was read by the connect sequence; every other tab is
    // read as it comes to the front.
    tabs.setCurrentIndex(tab_);
    step_ = Step::Reading;
}

void ScreenshotTour::capture()
{
    const QString file = ScreenshotFileName(window_.TabAt(tab_));
    if (!window_.grab().save(directory_.filePath(file))) {
        fail(QStringLiteral("cannot write %1").arg(directory_.filePath(file)));
        return;
    }
    saved_.append(file);
    nextTab();
}

void ScreenshotTour::fail(const QString &message)
{
    poll_.stop();
    limit_.stop();
    emit finished(1, message);
}

} // namespace r310::ui
