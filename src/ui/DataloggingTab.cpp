#include "DataloggingTab.h"

#include "LogViewer.h"
#include "R310Cnf.h"

#include <SessionRecorder.h>

#include <DataLoggerExport.h>
#include <Formats.h>

#include <QBoxLayout>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace r310::ui {

namespace {

const QString kSaveTitle = QStringLiteral("Save Event");
const QString kSaveSuffix = QStringLiteral("csv");
const QString kNoData = QStringLiteral("No Data");

} // namespace

DataloggingTab::DataloggingTab(TFo_R310 &window, const QLocale &locale)
    : QObject(&window), window_(window), w_(window.widgets().logger), locale_(locale)
{
    // Obj1 to Obj3 are what the instrument holds; the interval command sends
    // them back as read, so typing into them would change nothing.
    for (QLineEdit *edit : {w_.Edit14, w_.Edit15, w_.Edit16})
        edit->setReadOnly(true);

    connect(w_.Button8, &QPushButton::clicked, this, &DataloggingTab::Button8Click);
    connect(w_.Button10, &QPushButton::clicked, this, &DataloggingTab::Button10Click);
    connect(w_.Button11, &QPushButton::clicked, this, &DataloggingTab::Button11Click);
    showButton_ = DownloadedLogs::MakeShowButton(w_.Button11, QStringLiteral("ButtonShowLogger"));
    connect(showButton_, &QPushButton::clicked, this, [this] { DownloadedLogs::Of(window_).ShowLogger(); });
    window.SetLeaveHandler(InstrumentTab::Datalogging, [this] { return Leave(); });
    connect(&window, &TFo_R310::answerShown, this,
            [this](const DecodedAnswer &, const AnswerFrame &frame) { ShowAnswer(frame); });

    AddCancelButton();
    InstrumentConnection *connection = window.connection();
    connect(connection, &InstrumentConnection::displayCleared, this, [this] { savedThisSession_ = false; });
    connect(connection, &InstrumentConnection::jobStarted, this, [this](JobId id, const QString &) { JobStarted(id); });
    connect(connection, &InstrumentConnection::progress, this,
            [this](int done, int total, const QString &) { Progress(done, total); });
    connect(connection, &InstrumentConnection::displayCleared, this, [this] { info_.reset(); });
    connect(connection, &InstrumentConnection::portError, this, [this](const QString &message) {
        if (DownloadRunning() && portError_.isEmpty())
            portError_ = message;
    });
}

QString DataloggingTab::ProposedFileName(const QString &serialNumber, const QDateTime &now)
{
    QString serial;
    for (const QChar c : serialNumber) {
        if (c.isLetterOrNumber() && c.unicode() < 0x80)
            serial += c;
    }
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd_HHmm"));
    return QStringLiteral("Logger_") + (serial.isEmpty() ? QString() : serial + u'_') + stamp + u'.' + kSaveSuffix;
}

void DataloggingTab::AddCancelButton()
{
    // Beside the bar, usable only while a download runs.
    cancel_ = new QPushButton(QStringLiteral("Cancel"), w_.TabSheet8);
    cancel_->setObjectName(QStringLiteral("ButtonCancelDownload"));
    cancel_->setAutoDefault(false);
    cancel_->setEnabled(false);
    connect(cancel_, &QPushButton::clicked, this, &DataloggingTab::CancelClick);
    auto *page = qobject_cast<QBoxLayout *>(w_.TabSheet8->layout());
    const int at = page ? page->indexOf(w_.ProgressBar1) : -1;
    if (at < 0)
        return;
    page->removeWidget(w_.ProgressBar1);
    auto *row = new QHBoxLayout;
    row->addWidget(w_.ProgressBar1, 1);
    row->addWidget(cancel_);
    page->insertLayout(at, row);
}

void DataloggingTab::CancelClick()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || !DownloadRunning() || !downloadStarted_)
        return;
    cancelledByUser_ = true;
    cancel_->setEnabled(false);
    // Ends the download after the running exchange; the port stays open.
    connection->cancel();
}

void DataloggingTab::ShowAnswer(const AnswerFrame &frame)
{
    const std::optional<logs::LoggerInfo> info = logs::LoggerInfoFromAnswer(frame);
    if (!info)
        return;
    info_ = info;
    const std::array<QString, 7> texts = info->fieldTexts();
    QLineEdit *const fields[] = {w_.Edit10, w_.Edit11, w_.Edit12, w_.Edit13, w_.Edit14, w_.Edit15, w_.Edit16};
    for (std::size_t i = 0; i < texts.size(); ++i)
        fields[i]->setText(texts[i]);
}

void DataloggingTab::Button8Click()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || DownloadRunning())
        return;
    SetButtonsEnabled(false);
    w_.ProgressBar1->setMinimum(0);
    w_.ProgressBar1->setValue(0);
    w_.ProgressBar1->setFormat(QStringLiteral("Reading the logger information"));
    w_.ProgressBar1->setTextVisible(true);
    cancelledByUser_ = false;
    cancel_->setEnabled(true);
    portError_.clear();
    downloadStarted_ = false;
    download_ = std::make_shared<logs::LoggerDownloadResult>();
    downloadJob_ = connection->submit(QStringLiteral("data logger download"), logs::DataLoggerDownloadJob(download_),
                                      this, [this](Outcome) {
                                          downloadStarted_ = false;
                                          DownloadFinished();
                                      });
}

void DataloggingTab::Button10Click()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || DownloadRunning() || confirming_)
        return;
    // Erasing cannot be undone: the user says yes first, and hears when the
    // blocks were not saved in this session.
    const int blocks = info_ ? info_->blockCount() : -1;
    QString question =
        blocks >= 0 ? QStringLiteral("Erase all %1 blocks of the data logger? They cannot be recovered.").arg(blocks)
                    : QStringLiteral("Erase all blocks of the data logger? They cannot be recovered.");
    if (blocks != 0 && !savedThisSession_)
        question += QStringLiteral(" They were not downloaded and saved in this session.");
    confirming_ = true;
    QPointer<DataloggingTab> self(this);
    window_.dialogs().askQuestion(question, [self](bool yes) {
        if (!self)
            return;
        self->confirming_ = false;
        InstrumentConnection *connection = self->window_.connection();
        if (!yes || !connection || self->DownloadRunning())
            return;
        // Lamp, status panel and the read-back show how it went.
        connection->submit(QStringLiteral("data logger clear"),
                           logs::ClearDataLoggerJob(std::make_shared<logs::LoggerCommandResult>()));
    });
}

void DataloggingTab::Button11Click()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || DownloadRunning())
        return;
    const logs::LoggerIntervalInput input = logs::LoggerIntervalFromText(w_.Edit13->text(), locale_);
    switch (input.refusal) {
    case logs::LoggerIntervalInput::Refusal::NotAnInteger:
        window_.dialogs().showError(input.message);
        return;
    case logs::LoggerIntervalInput::Refusal::OutOfRange:
        window_.dialogs().showMessage(input.message);
        if (info_)
            w_.Edit13->setText(QString::number(info_->interval()));
        return;
    case logs::LoggerIntervalInput::Refusal::None:
        break;
    }
    auto result = std::make_shared<logs::LoggerCommandResult>();
    const std::optional<int> before = info_ ? std::optional<int>(info_->interval()) : std::nullopt;
    const std::uint16_t seconds = *input.seconds;
    connection->submit(QStringLiteral("data logger interval"), logs::SetLoggerIntervalJob(seconds, result), this,
                       [this, result, before, seconds](Outcome) {
                           window_.recorder().RecordLoggerInterval(before, seconds, *result);
                       });
}

void DataloggingTab::JobStarted(JobId id)
{
    if (id == downloadJob_ && id != 0)
        downloadStarted_ = true;
}

void DataloggingTab::Progress(int done, int total)
{
    // The connection reports the progress of whatever job runs; only the
    // download's moves this bar.
    if (!downloadStarted_)
        return;
    // A maximum of 0 would turn the bar into a busy indicator.
    w_.ProgressBar1->setMaximum(std::max(total, 1));
    w_.ProgressBar1->setValue(std::clamp(done, 0, std::max(total, 1)));
    w_.ProgressBar1->setFormat(logs::LoggerProgressText(done, total));
}

void DataloggingTab::DownloadFinished()
{
    const std::shared_ptr<logs::LoggerDownloadResult> download = std::move(download_);
    if (!download->completed()) {
        // Closing the port or Cancel was the user's own doing, a closed port
        // has had its message from the link, and a port that failed has had
        // its one message from the connection; anything else is told.
        const bool portWasClosed = download->outcome == Outcome::PortClosed;
        const bool cancelled = cancelledByUser_ && portError_.isEmpty()
                            && download->outcome == Outcome::Cancelled;
        if (cancelled) {
            window_.ShowNotice(QStringLiteral("Data logger download cancelled at block %1 of %2; nothing was saved")
                                   .arg(download->currentBlock)
                                   .arg(download->blockCount));
        } else if (!ClosedByUser(*download) && !portWasClosed && portError_.isEmpty()) {
            window_.dialogs().showError(download->failureText(QString()));
        }
        EndDownload();
        return;
    }
    window_.recorder().RecordDatalog(download->data.blocks);
    if (!logs::HasLoggerExportLines(download->data)) {
        window_.dialogs().showMessage(kNoData);
        EndDownload();
        return;
    }
    OfferToShow(*download);
    SaveDownload(download);
}

void DataloggingTab::OfferToShow(const logs::LoggerDownloadResult &download)
{
    auto log = std::make_shared<logs::LogFile>(logs::LoggerLogOfDownload(
        download.data, ProposedFileName(window_.widgets().general.Edit_DevSn->text(), QDateTime::currentDateTime())));
    const std::optional<RangeAlarmSettings> &range = window_.display().LastRange();
    const logs::AlarmLevels levels = range ? logs::AlarmLevelsOf(*range, log->series) : logs::AlarmLevels{};
    const QString serial = window_.widgets().general.Edit_DevSn->text();
    const QString instrument =
        range ? InstrumentText(serial, range->gasText,
                               QStringLiteral("%1 to %2")
                                   .arg(QLocale::system().toString(ScaleByExponent(range->rangeBegin, range->exponent), 'g', 6),
                                        range->rangeEndText))
              : InstrumentText(serial);
    DownloadedLogs::Of(window_).SetLogger(serial, std::move(log), levels, instrument);
    showButton_->setEnabled(true);
}

bool DataloggingTab::ClosedByUser(const logs::LoggerDownloadResult &download) const
{
    // "&Close Comport" puts the connection into its closed phase at once; a
    // failing port closes it only after the job has ended, and reports first.
    const InstrumentConnection *connection = window_.connection();
    const bool cancelled = download.outcome == Outcome::NotRun || download.outcome == Outcome::Cancelled;
    return cancelled && portError_.isEmpty() && connection && connection->phase() == ConnectionPhase::Closed;
}

void DataloggingTab::SaveDownload(const std::shared_ptr<logs::LoggerDownloadResult> &download)
{
    const QString proposed =
        ProposedFileName(window_.widgets().general.Edit_DevSn->text(), QDateTime::currentDateTime());
    window_.dialogs().askSaveFileName(kSaveTitle, kSaveSuffix, proposed, [this, download](const QString &path) {
        if (!path.isEmpty()) {
            const logs::ExportResult written = logs::WriteLoggerExport(path, download->data);
            if (!written.ok) {
                window_.dialogs().showError(written.message);
            } else {
                savedThisSession_ = true;
                DownloadedLogs::Of(window_).SetLoggerSaved(path);
                const QString saved = QStringLiteral("%1 data logger blocks read; saved to %2")
                                          .arg(download->data.blocks.size())
                                          .arg(QDir::toNativeSeparators(path));
                window_.ShowNotice(saved);
                window_.dialogs().showMessage(saved);
            }
        }
        EndDownload();
    });
}

void DataloggingTab::EndDownload()
{
    downloadJob_ = 0;
    cancelledByUser_ = false;
    cancel_->setEnabled(false);
    w_.ProgressBar1->setTextVisible(false);
    w_.ProgressBar1->setValue(0);
    SetButtonsEnabled(true);
}

void DataloggingTab::SetButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {w_.Button8, w_.Button10, w_.Button11})
        button->setEnabled(enabled);
}

} // namespace r310::ui
