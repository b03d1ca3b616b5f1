#pragma once
// The log viewer: a top-level window of its own (more than one may be open)
// with the data logger chart, the exposure figures under it, and the event
// table. It shows a download ("Show..." on the Datalogging and Event
// properties tabs) or export files ("Open..." here, R310Conf --view FILE).
// Where a data logger and an event log are both shown, the events are marked
// on the chart's time axis.
#include <Exposure.h>
#include <LogFileReader.h>

#include <QLocale>
#include <QPointer>
#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class QTableWidget;
class QTabWidget;
class QSplitter;

namespace r310::ui {

class LogChart;
class LogChartView;

// The instrument as the viewer's title names it: "SN 1234567, ppm CO, range
// 0 to 500"; what is not known is left out.
QString InstrumentText(const QString &serialNumber, const QString &gasText = {}, const QString &rangeText = {});

class LogViewer : public QWidget {
    Q_OBJECT
public:
    explicit LogViewer(const QLocale &locale, QWidget *parent = nullptr);
    ~LogViewer() override;

    // Reads an export file and shows it beside what is shown already (a data
    // logger file replaces the data logger, an event log file the events).
    // A file that cannot be read whole shows the message naming the first
    // bad line; the lines that could be read are shown. False when nothing
    // could be read.
    bool OpenFile(const QString &path);
    // name: what the title calls the log (the file it was saved to); the
    // log's own file name when empty.
    void ShowLogger(std::shared_ptr<const logs::LogFile> logger, const logs::AlarmLevels &levels,
                    const QString &name = {});
    void ShowEvents(std::shared_ptr<const logs::LogFile> events);
    // The alarm levels drawn and counted, as known from the instrument or typed
    // into the viewer's field ("30,60,100,50,20").
    void SetAlarmLevels(const logs::AlarmLevels &levels);
    // The instrument the data logger is of ("SN 1234567, ppm CO, 0-500"),
    // shown under the chart's title and so in every export; empty: unknown.
    void SetInstrument(const QString &instrument);

    LogChart &chart() const { return *chart_; }
    LogChartView &chartView() const { return *chartView_; }
    QTabWidget &tabs() const { return *tabs_; }
    // The problem of the last file read; empty when it was read whole.
    QString message() const;
    void SetMessage(const QString &text) { ShowMessage(text); }

    // "Open..." and "Export..." with the file dialogs.
    void OpenClicked();
    void ExportClicked();

private:
    void FillExposure();
    void FillEvents();
    void FilterEvents(int index);
    void UpdateCaption();
    void ShowMessage(const QString &text);
    void UpdateTitle();

    QLocale locale_;
    QString loggerName_;
    QString instrument_;
    std::shared_ptr<const logs::LogFile> logger_;
    std::shared_ptr<const logs::LogFile> events_;
    logs::AlarmLevels levels_;

    QTabWidget *tabs_ = nullptr;
    LogChart *chart_ = nullptr; // owned by the view
    LogChartView *chartView_ = nullptr;
    QLabel *readout_ = nullptr;
    QLabel *message_ = nullptr;
    QTableWidget *exposure_ = nullptr;
    QSplitter *splitter_ = nullptr;
    QTableView *eventTable_ = nullptr;
    QStandardItemModel *eventModel_ = nullptr;
    QSortFilterProxyModel *eventFilter_ = nullptr;
    QComboBox *typeFilter_ = nullptr;
    QPushButton *exportButton_ = nullptr;
    QPushButton *wholeButton_ = nullptr;
    QLineEdit *levelsEdit_ = nullptr;
};

// The latest downloads of the window's instrument, for "Show..." on the log
// tabs: a viewer opened from one log shows the other too when both were
// downloaded from the same instrument (same serial number).
class DownloadedLogs : public QObject {
    Q_OBJECT
public:
    // The window's one instance, made on first use.
    static DownloadedLogs &Of(QWidget &window);

    // instrument: as LogViewer::SetInstrument shows it.
    void SetLogger(const QString &serialNumber, std::shared_ptr<const logs::LogFile> logger,
                   const logs::AlarmLevels &levels, const QString &instrument = {});
    // The file the last data logger download was saved to, for the titles.
    void SetLoggerSaved(const QString &path);
    void SetEvents(const QString &serialNumber, std::shared_ptr<const logs::LogFile> events);
    // Opens a new viewer window with the data logger (or the events) and,
    // when they are of the same instrument, the other log too.
    LogViewer *ShowLogger();
    LogViewer *ShowEvents();

    // A "Show..." button placed right after `after` in its row, disabled
    // until there is something to show.
    static QPushButton *MakeShowButton(QPushButton *after, const QString &objectName);

private:
    explicit DownloadedLogs(QWidget &window);
    LogViewer *Open(bool loggerFirst);

    QWidget &window_;
    QString loggerSerial_, eventsSerial_;
    QString loggerName_, loggerInstrument_;
    std::shared_ptr<const logs::LogFile> logger_, events_;
    logs::AlarmLevels levels_;
};


} // namespace r310::ui
