#include "RecordsCommands.h"

#include "CertificateCommands.h"
#include "Dialogs.h"
#include "R310Cnf.h"
#include "RecordsLogs.h"

#include <GasTable.h>
#include <RecordExport.h>
#include <RecordStore.h>
#include <RecordViews.h>
#include <SessionRecorder.h>

#include <ExportFile.h>

#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace r310::ui {

namespace {

GasTextLookup LookupOf(const GasTable *gasTable)
{
    if (!gasTable)
        return {};
    return [gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable->GasTexts(unit, gas); };
}

QTableWidget *NewTable(QWidget *parent, const char *name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

QTableWidgetItem *Cell(const QString &text, bool overdue = false)
{
    auto *item = new QTableWidgetItem(text);
    if (overdue)
        item->setForeground(Qt::red);
    return item;
}

} // namespace

RecordsWindow::RecordsWindow(records::RecordsTarget target, const GasTable *gasTable, TFo_R310 &window,
                             bool demoRun)
    : QDialog(&window), target_(std::move(target)), gasTable_(gasTable), window_(window)
{
    setObjectName(QStringLiteral("RecordsWindow"));
    // A run on the simulated instrument keeps records of its own, gone with the run.
    setWindowTitle(demoRun
                       ? QStringLiteral("Records — simulated instrument, this run only (not the service records)")
                       : QStringLiteral("Records"));
    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("RecordsFilter"));
    filter_->setPlaceholderText(QStringLiteral("Filter: serial, customer ID, gas"));
    instruments_ = NewTable(this, "RecordsInstruments",
                            {QStringLiteral("Serial"), QStringLiteral("Customer ID"), QStringLiteral("Gas"),
                             QStringLiteral("Version"), QStringLiteral("Last seen"), QStringLiteral("Last calibration"),
                             QStringLiteral("Last bump test"), QStringLiteral("Next calibration"),
                             QStringLiteral("Next bump test")});
    instruments_->setSortingEnabled(true);
    history_ = NewTable(this, "RecordsHistory", {QStringLiteral("Time (UTC)"), QStringLiteral("Kind"),
                                                 QStringLiteral("Record"), QStringLiteral("By")});
    save_ = new QPushButton(QStringLiteral("Save export file…"), this);
    save_->setObjectName(QStringLiteral("RecordsSaveExport"));
    save_->setEnabled(false);
    show_ = new QPushButton(QStringLiteral("Show…"), this);
    show_->setObjectName(QStringLiteral("RecordsShowLog"));
    show_->setEnabled(false);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("RecordsProblem"));
    problem_->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(filter_);
    layout->addWidget(instruments_, 2);
    layout->addWidget(history_, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(problem_, 1);
    buttons->addWidget(show_);
    buttons->addWidget(save_);
    layout->addLayout(buttons);
    auto *certificates = new CertificateBar(window_.certificates(), this);
    layout->addWidget(certificates);
    resize(900, 600);

    connect(filter_, &QLineEdit::textChanged, this, &RecordsWindow::Filter);
    connect(instruments_, &QTableWidget::itemSelectionChanged, this, &RecordsWindow::ShowHistory);
    connect(history_, &QTableWidget::itemSelectionChanged, this, [this, certificates] {
        const QTableWidgetItem *item = history_->currentItem();
        const QString kind = item ? history_->item(item->row(), 1)->text() : QString();
        save_->setEnabled(kind == records::kind::kEvents || kind == records::kind::kDatalog);
        show_->setEnabled(save_->isEnabled());
        const QTableWidgetItem *instrument = instruments_->currentItem();
        certificates->Select(instrument ? instruments_->item(instrument->row(), 0)->text() : QString(),
                             item ? history_->item(item->row(), 2)->data(Qt::UserRole).toLongLong() : 0, kind);
    });
    connect(show_, &QPushButton::clicked, this, [this] {
        QString error;
        if (store_ && history_->currentItem()
            && !ShowRecordedLog(*store_, history_->item(history_->currentItem()->row(), 2)->data(Qt::UserRole).toLongLong(),
                                gasTable_, window_, &error))
            window_.dialogs().showError(error);
    });
    connect(save_, &QPushButton::clicked, this, [this] {
        window_.dialogs().askSaveFileName(QStringLiteral("Save export file"), QStringLiteral("csv"), QString(),
                                          [this](const QString &path) {
                                              if (path.isEmpty())
                                                  return;
                                              if (const QString problem = SaveExport(path); !problem.isEmpty())
                                                  window_.dialogs().showError(problem);
                                          });
    });
    Reload();
}

RecordsWindow::~RecordsWindow() = default;

void RecordsWindow::Reload()
{
    QString error;
    if (!store_)
        store_ = records::RecordStore::Open(target_, &error);
    instruments_->setSortingEnabled(false);
    instruments_->setRowCount(0);
    if (!store_) {
        problem_->setText(QStringLiteral("The records %1 cannot be read: %2").arg(target_.text(), error));
        return;
    }
    const auto rows = records::InstrumentRows(store_->Instruments(&error), QDate::currentDate());
    problem_->setText(error);
    instruments_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const records::InstrumentRow &row = rows[static_cast<std::size_t>(r)];
        const QString cells[] = {row.serial,
                                 row.customerId,
                                 row.gasUnit,
                                 row.softwareVersion,
                                 row.lastSeen.left(16).replace(u'T', u' '),
                                 records::LastCalibrationText(row),
                                 records::LastBumpText(row)};
        for (int c = 0; c < 7; ++c)
            instruments_->setItem(r, c, Cell(cells[c]));
        instruments_->setItem(r, 7, Cell(row.nextCalibration, row.calibrationOverdue));
        instruments_->setItem(r, 8, Cell(row.nextBumpTest, row.bumpTestOverdue));
    }
    instruments_->setSortingEnabled(true);
    instruments_->resizeColumnsToContents();
    Filter(filter_->text());
}

void RecordsWindow::Filter(const QString &text)
{
    for (int r = 0; r < instruments_->rowCount(); ++r) {
        bool shown = text.trimmed().isEmpty();
        for (int c = 0; c < 3 && !shown; ++c)
            shown = instruments_->item(r, c)->text().contains(text.trimmed(), Qt::CaseInsensitive);
        instruments_->setRowHidden(r, !shown);
    }
}

void RecordsWindow::ShowHistory()
{
    history_->setRowCount(0);
    save_->setEnabled(false);
    show_->setEnabled(false);
    const QTableWidgetItem *item = instruments_->currentItem();
    if (!item || !store_)
        return;
    const QString serial = instruments_->item(item->row(), 0)->text();
    const std::vector<records::StoredRecord> list = store_->History(serial, {});
    history_->setRowCount(static_cast<int>(list.size()));
    for (int r = 0; r < static_cast<int>(list.size()); ++r) {
        const records::StoredRecord &record = list[static_cast<std::size_t>(r)];
        history_->setItem(r, 0, Cell(record.recordedAt));
        history_->setItem(r, 1, Cell(record.kind));
        QTableWidgetItem *summary = Cell(records::HistorySummary(record));
        summary->setData(Qt::UserRole, record.id);
        history_->setItem(r, 2, summary);
        history_->setItem(r, 3, Cell(QStringLiteral("%1@%2 (%3 %4)").arg(record.user, record.host, record.program,
                                                                            record.version)));
    }
    history_->resizeColumnsToContents();
}

QString RecordsWindow::SaveExport(const QString &path)
{
    const QTableWidgetItem *item = history_->currentItem();
    if (!item || !store_)
        return QStringLiteral("No download is selected.");
    const qint64 id = history_->item(item->row(), 2)->data(Qt::UserRole).toLongLong();
    QString error;
    const std::optional<records::StoredRecord> record = store_->Record(id, &error);
    if (!record)
        return error;
    const std::optional<QStringList> lines =
        records::DownloadExportLines(*store_, *record, QLocale::system(), LookupOf(gasTable_), &error);
    if (!lines)
        return error;
    const logs::ExportResult written = logs::WriteExportFile(path, *lines);
    return written.ok ? QString() : written.message;
}

RecordsCommands::RecordsCommands(TFo_R310 &window, records::RecordsChoice choice, const GasTable *gasTable)
    : QObject(&window), window_(window), choice_(std::move(choice)), gasTable_(gasTable),
      recorder_(std::make_unique<records::SessionRecorder>(choice_, QStringLiteral("R310Conf"), LookupOf(gasTable)))
{
    recorder_->Attach(*window.connection());
    // Under the profile buttons.
    const MainWidgets &w = window.widgets();
    button_ = new QPushButton(QStringLiteral("Records…"), w.control.Panel1);
    button_->setObjectName(QStringLiteral("ButtonRecords"));
    button_->setAutoDefault(false);
    button_->setEnabled(choice_.target.enabled());
    if (!choice_.ok())
        button_->setToolTip(QStringLiteral("No service records: %1").arg(choice_.error));
    else if (!choice_.target.enabled())
        button_->setToolTip(QStringLiteral("No service records: this run was started with --no-records"));
    else if (choice_.demo)
        button_->setToolTip(QStringLiteral("The records of this run on the simulated instrument; they go away with "
                                           "the run, the service records stay untouched"));
    else
        button_->setToolTip(QStringLiteral("The service records in %1").arg(choice_.target.text()));
    if (auto *layout = qobject_cast<QVBoxLayout *>(w.control.Panel1->layout()))
        layout->insertWidget(layout->indexOf(w.control.ButtonApplyProfile) + 1, button_);
    connect(button_, &QPushButton::clicked, this, &RecordsCommands::OpenRecordsWindow);

    status_ = new QLabel(&window);
    status_->setObjectName(QStringLiteral("RecordsStatus"));
    status_->setStyleSheet(QStringLiteral("color: red"));
    window.statusBar()->addPermanentWidget(status_);
    connect(recorder_.get(), &records::SessionRecorder::notRecorded, this, [this](const QString &reason) {
        status_->setText(QStringLiteral("not recorded"));
        status_->setToolTip(reason);
        window_.dialogs().showError(QStringLiteral("This session could not be recorded in the service records (%1): "
                                                   "%2\nThe work with the instrument goes on.")
                                        .arg(choice_.target.text(), reason));
    });
    // The window never waits for the database: its records are queued, and
    // the status bar says how many wait to be written.
    recorder_->setQueued(true);
    auto *waitingTimer = new QTimer(this);
    connect(waitingTimer, &QTimer::timeout, this, [this] {
        const int count = recorder_->waitingCount();
        const QString notRecorded = QStringLiteral("not recorded");
        const QString lead = status_->text().startsWith(notRecorded) ? notRecorded + QStringLiteral("; ") : QString();
        if (count > 0)
            status_->setText(lead + QStringLiteral("records waiting: %1").arg(count));
        else if (status_->text().contains(QLatin1String("records waiting")))
            status_->setText(lead.isEmpty() ? QString() : notRecorded);
    });
    waitingTimer->start(500);
    connect(recorder_.get(), &records::SessionRecorder::recorded, this, [this] {
        status_->clear();
        status_->setToolTip(QString());
    });
}

RecordsCommands::~RecordsCommands()
{
    // The window's widgets may be gone already: what is kept now is no more shown.
    recorder_->disconnect(this);
    recorder_->Finish();
}

void RecordsCommands::OpenRecordsWindow()
{
    recorder_->Flush(); // what the connection showed so far is on record before it is shown
    auto *records = new RecordsWindow(choice_.target, gasTable_, window_, choice_.demo);
    records->setAttribute(Qt::WA_DeleteOnClose);
    records->show();
}

} // namespace r310::ui
