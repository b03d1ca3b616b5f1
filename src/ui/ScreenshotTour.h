#pragma once
// --screenshot DIR: opens the preselected port, waits for the connection,
// visits every tab the instrument shows, waits for each tab's reads and
// saves a picture of the window per tab (general.png, range.png, ...).
#include <InstrumentView.h>

#include <QDir>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace r310::ui {

class TFo_R310;

// The file a tab's picture is saved as, named in lower case with words
// joined by "-" ("general.png", "event-properties.png").
QString ScreenshotFileName(InstrumentTab tab);

class ScreenshotTour : public QObject {
    Q_OBJECT
public:
    ScreenshotTour(TFo_R310 &window, const QDir &directory,
                   std::chrono::milliseconds limit = std::chrono::seconds(60));

    void start();

signals:
    // 0 when every picture was saved; the message says what failed otherwise.
    void finished(int exitCode, const QString &message);

private:
    enum class Step { Connecting, Reading, Settling };
    void check();
    void nextTab();
    void capture();
    void fail(const QString &message);

    TFo_R310 &window_;
    QDir directory_;
    QTimer poll_;
    QTimer limit_;
    Step step_ = Step::Connecting;
    int tab_ = -1;
    int settleChecks_ = 0;
    QStringList saved_;
};

} // namespace r310::ui
