#pragma once
// The "Event properties" tab: the event log's counters, "Read" (download
// every event and offer to save them) and "Clear" (empty the log). The
// download and the clear run as jobs on the instrument connection; this tab
// only takes the fields, shows the progress and writes the file the user
// chose, with the lines the download made.
#include <EventLogJobs.h>

#include <QObject>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace r310::ui {

class TFo_R310;
struct EventWidgets;

class EventPropertiesTab : public QObject {
    Q_OBJECT
public:
    explicit EventPropertiesTab(TFo_R310 &window);

    // "Read": downloads the number of events "Event Count" shows, then asks
    // where to save them. Nothing is sent for a count of 0.
    void Button1Click();
    // "Clear": asks first, then empties the log; "Max Events" is sent from
    // 2.11 on, 192 before.
    void Button2Click();

    // A download, a clear or the save dialog is under way: the tab cannot be
    // left and "Read" and "Clear" are disabled.
    bool Busy() const;

    QProgressBar *progressBar() const { return progress_; }
    QLabel *progressLabel() const { return progressText_; }

private:
    void ShowAnswer(const AnswerFrame &frame);
    // full: "Read all", every event whatever is on record.
    void StartDownload(bool full);
    void ShowProgress(int done, int total, const QString &text);
    void DownloadFinished(Outcome outcome);
    void AskWhereToSave(std::shared_ptr<logs::EventDownload> download);
    void Save(const QString &path, const logs::EventDownload &download);
    void Clear(std::uint16_t maxEvents);
    void SetRunning(bool running);
    void Finish(const QString &summary);

    TFo_R310 &window_;
    const EventWidgets &w_;
    QProgressBar *progress_ = nullptr;
    QLabel *progressText_ = nullptr;
    JobId downloadJob_ = 0;
    JobId clearJob_ = 0;
    bool savePending_ = false;
    // The question before "Clear" is open.
    bool confirming_ = false;
    // The events were downloaded and saved since the instrument was connected.
    bool savedThisSession_ = false;
    std::shared_ptr<logs::EventDownload> download_;
    QPushButton *showButton_ = nullptr; // "Show...": the last download in the log viewer
    QPushButton *readAll_ = nullptr;    // "Read all"
};

} // namespace r310::ui
