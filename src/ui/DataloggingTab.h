#pragma once
// The "Datalogging" tab: the logger information in Edit10 to Edit16, "Read"
// (the download with ProgressBar1 and the save dialog; it reads only what
// the records do not hold yet), "Read all" (everything), "Clear" and "Set
// Paramet" (the logging interval). The download, the file's lines and the
// two commands are the logs module's; the tab gathers the input, follows
// the download's progress and shows the outcome.
//
// While a download runs (from "Read" until the file is written or the save
// dialog is cancelled) "Read", "Clear" and "Set Paramet" are disabled and the
// tab cannot be left: no command of this tab reaches the wire between the
// download's requests, and its progress stays in view.
#include <DataLoggerDownload.h>
#include <LoggerRecords.h>
#include <LoggerSettings.h>

#include <InstrumentConnection.h>

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QPushButton;

namespace r310::ui {

class TFo_R310;
struct LoggerWidgets;

class DataloggingTab : public QObject {
    Q_OBJECT
public:
    // locale: the user's regional settings, the same the decoder uses.
    DataloggingTab(TFo_R310 &window, const QLocale &locale);

    void Button8Click();  // "Read": only what the records do not hold yet
    void Button10Click(); // "Clear"
    void Button11Click(); // "Set Paramet"

    // A download runs or waits for its file name.
    bool DownloadRunning() const { return downloadJob_ != 0; }
    // Leaving the tab while connected: refused during a download.
    bool Leave() const { return !DownloadRunning(); }

    // The save dialog's proposal: "Logger", the instrument's serial number
    // (when known) and the PC's date and time, as a file name that every
    // system accepts: "Logger_00001234_20081224_1345.csv".
    static QString ProposedFileName(const QString &serialNumber, const QDateTime &now);

private:
    void ShowAnswer(const AnswerFrame &frame);
    void JobStarted(JobId id);
    // full: "Read all", every block whatever is on record.
    void StartDownload(bool full);
    void Progress(int done, int total, const QString &text);
    void DownloadFinished();
    bool ClosedByUser(const logs::LoggerDownloadResult &download) const;
    void SaveDownload(const std::shared_ptr<logs::LoggerDownloadResult> &download);
    void EndDownload();
    void SetButtonsEnabled(bool enabled);
    void AddCancelButton();
    void CancelClick();
    // Keeps a completed download for the log viewer and enables "Show...".
    void OfferToShow(const logs::LoggerDownloadResult &download);

    TFo_R310 &window_;
    const LoggerWidgets &w_;
    const QLocale locale_;
    // The logger information last shown; its interval refills Edit13 when a
    // typed interval is refused.
    std::optional<logs::LoggerInfo> info_;

    std::shared_ptr<logs::LoggerDownloadResult> download_;
    JobId downloadJob_ = 0;
    bool downloadStarted_ = false;
    // A port failure during the download: the reason it stopped.
    QString portError_;
    // "Cancel" beside the bar, enabled while a download runs.
    QPushButton *cancel_ = nullptr;
    bool cancelledByUser_ = false;
    // The question before "Clear" is open.
    bool confirming_ = false;
    // A download was saved since the instrument was connected.
    bool savedThisSession_ = false;
    QPushButton *showButton_ = nullptr; // "Show...": the last download in the log viewer
    QPushButton *readAll_ = nullptr;    // "Read all"
};

} // namespace r310::ui
