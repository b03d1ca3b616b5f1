#pragma once
// The service records in the window: the recorder that keeps what the
// connection shows (identity and clock, settings, bump test results), the
// "Records…" button under the profile buttons and the records window it
// opens, and "not recorded" in the status bar while the records cannot be
// kept (said once in a message, too).
#include <RecordsLocation.h>

#include <QDialog>
#include <QObject>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace r310 {
class GasTable;
namespace records {
class SessionRecorder;
class RecordStore;
} // namespace records
} // namespace r310

namespace r310::ui {

class TFo_R310;

// The instrument list (sortable, a filter field, overdue dates in red) and
// the selected instrument's history; a download in the history can be saved
// as its export file again.
class RecordsWindow : public QDialog {
    Q_OBJECT
public:
    // demoRun: the records are those of a run on the simulated instrument.
    RecordsWindow(records::RecordsTarget target, const GasTable *gasTable, TFo_R310 &window, bool demoRun = false);
    ~RecordsWindow() override;

    // Reads the records again.
    void Reload();
    // Writes the export file of the selected download to path; empty or why not.
    QString SaveExport(const QString &path);

private:
    void ShowHistory();
    void Filter(const QString &text);

    records::RecordsTarget target_;
    const GasTable *gasTable_;
    TFo_R310 &window_;
    std::unique_ptr<records::RecordStore> store_;
    QLineEdit *filter_ = nullptr;
    QTableWidget *instruments_ = nullptr;
    QTableWidget *history_ = nullptr;
    QPushButton *save_ = nullptr;
    QPushButton *show_ = nullptr; // the selected download in a log viewer
    QLabel *problem_ = nullptr;
};

class RecordsCommands : public QObject {
    Q_OBJECT
public:
    RecordsCommands(TFo_R310 &window, records::RecordsChoice choice, const GasTable *gasTable);
    ~RecordsCommands() override;

    records::SessionRecorder &recorder() { return *recorder_; }
    // The records are a run's own on the simulated instrument (--demo), gone with the run.
    bool demoRun() const { return choice_.demo; }
    void OpenRecordsWindow();

private:
    TFo_R310 &window_;
    records::RecordsChoice choice_;
    const GasTable *gasTable_;
    std::unique_ptr<records::SessionRecorder> recorder_;
    QLabel *status_ = nullptr;
    QPushButton *button_ = nullptr;
};

} // namespace r310::ui
