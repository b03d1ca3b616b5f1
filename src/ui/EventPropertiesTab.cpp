#include "EventPropertiesTab.h"

#include "LogViewer.h"
#include "R310Cnf.h"

#include <SessionRecorder.h>

#include <ExportFile.h>
#include <NumberInput.h>

#include <QBoxLayout>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

namespace r310::ui {

namespace {

const QString kSaveTitle = QStringLiteral("Save Event");
const QString kFileSuffix = QStringLiteral("csv");

// "The instrument stopped answering at event 4 of 24. No file was saved"
QString LineLostText(const logs::EventDownload &download)
{
    QString why = OutcomeText(download.outcome);
    why[0] = why[0].toUpper();
    return QStringLiteral("%1 at event %2 of %3. No file was saved").arg(why).arg(download.lastAsked).arg(download.count);
}

QString NothingReadText(const logs::EventDownload &download)
{
    return QStringLiteral("None of the %1 events could be read. No file was saved").arg(download.count);
}

QString ReadSummary(const logs::EventDownload &download)
{
    return QStringLiteral("%1 of %2 events read").arg(download.table.filledCount()).arg(download.count);
}

} // namespace

EventPropertiesTab::EventPropertiesTab(TFo_R310 &window)
    : QObject(&window), window_(window), w_(window.widgets().events)
{
    // Progress of a download: a bar and a line of text under the buttons.
    progress_ = new QProgressBar(w_.TabSheet7);
    progress_->setObjectName(QStringLiteral("EventProgress"));
    progress_->setTextVisible(true);
    progress_->hide();
    progressText_ = new QLabel(w_.TabSheet7);
    progressText_->setObjectName(QStringLiteral("EventProgressText"));
    if (auto *page = qobject_cast<QBoxLayout *>(w_.TabSheet7->layout())) {
        // Before the closing stretch, so both stand right under the buttons.
        const int at = page->count() > 0 ? page->count() - 1 : 0;
        page->insertWidget(at, progressText_);
        page->insertWidget(at, progress_);
    }

    connect(w_.Button1, &QPushButton::clicked, this, &EventPropertiesTab::Button1Click);
    // "Read all" beside "Read": every event, whatever the records hold.
    readAll_ = DownloadedLogs::MakeShowButton(w_.Button1, QStringLiteral("ButtonReadAllEvents"));
    readAll_->setText(QStringLiteral("Read all"));
    readAll_->setToolTip(QStringLiteral("Read every event, also those already on record"));
    readAll_->setEnabled(true);
    connect(readAll_, &QPushButton::clicked, this, [this] { StartDownload(true); });
    connect(w_.Button2, &QPushButton::clicked, this, &EventPropertiesTab::Button2Click);
    showButton_ = DownloadedLogs::MakeShowButton(w_.Button2, QStringLiteral("ButtonShowEvents"));
    connect(showButton_, &QPushButton::clicked, this, [this] { DownloadedLogs::Of(window_).ShowEvents(); });
    connect(&window, &TFo_R310::answerShown, this,
            [this](const DecodedAnswer &, const AnswerFrame &frame) { ShowAnswer(frame); });
    if (InstrumentConnection *connection = window.connection()) {
        connect(connection, &InstrumentConnection::progress, this, &EventPropertiesTab::ShowProgress);
    }
    window.SetLeaveHandler(InstrumentTab::EventProperties, [this] { return !Busy(); });
    // Another instrument, or the same one after a new connect: nothing of
    // its log was saved yet.
    if (InstrumentConnection *connection = window.connection())
        connect(connection, &InstrumentConnection::displayCleared, this, [this] { savedThisSession_ = false; });
}

bool EventPropertiesTab::Busy() const
{
    return downloadJob_ != 0 || clearJob_ != 0 || savePending_ || confirming_;
}

void EventPropertiesTab::ShowAnswer(const AnswerFrame &frame)
{
    const auto properties = logs::DecodeEventProperties(frame);
    if (!properties)
        return;
    const logs::EventPropertiesTexts texts = logs::EventPropertiesText(*properties);
    w_.Edit1->setText(texts.position);
    w_.Edit2->setText(texts.count);
    w_.Edit8->setText(texts.thirdCounter);
    w_.Edit9->setText(texts.maxEvents);
}

void EventPropertiesTab::Button1Click()
{
    StartDownload(false);
}

void EventPropertiesTab::StartDownload(bool full)
{
    InstrumentConnection *connection = window_.connection();
    if (Busy() || !connection)
        return;
    const Conversion<std::int32_t> count = IntegerValue(w_.Edit2->text());
    if (!count) {
        window_.dialogs().showError(count.error);
        return;
    }
    // An empty log: nothing is sent, no dialog, no message.
    if (*count.value <= 0)
        return;
    SetRunning(true);
    download_ = std::make_shared<logs::EventDownload>();
    const int total = std::min(*count.value, logs::EventTable::kMaxEntries);
    ShowProgress(0, total, QStringLiteral("Reading event 1 of %1").arg(total));
    const auto onRecord = full ? nullptr : window_.recorder().EventsOnRecord();
    downloadJob_ = connection->submit(QStringLiteral("event download"),
                                      logs::EventDownloadJob(total, download_, onRecord), this, [this](Outcome outcome) {
                                          downloadJob_ = 0;
                                          DownloadFinished(outcome);
                                      });
}

void EventPropertiesTab::Button2Click()
{
    InstrumentConnection *connection = window_.connection();
    if (Busy() || !connection)
        return;
    // Checked before anything is sent: a number the instrument cannot hold is
    // refused, never cut to 16 bits.
    const Conversion<std::uint16_t> maxEvents = logs::MaxEventsToSend(
        QStringLiteral("Max Events"), w_.Edit9->text(), connection->record().SoftwareVersion, QLocale());
    if (!maxEvents) {
        window_.dialogs().showError(maxEvents.error);
        return;
    }
    // Erasing cannot be undone: the user says yes first, and hears when the
    // events were not saved in this session.
    const Conversion<std::int32_t> count = IntegerValue(w_.Edit2->text());
    const int events = count ? std::max(*count.value, 0) : -1;
    QString question = events >= 0
        ? QStringLiteral("Erase all %1 events in the instrument? They cannot be recovered.").arg(events)
        : QStringLiteral("Erase all events in the instrument? They cannot be recovered.");
    if (events != 0 && !savedThisSession_)
        question += QStringLiteral(" They were not downloaded and saved in this session.");
    confirming_ = true;
    QPointer<EventPropertiesTab> self(this);
    const std::uint16_t maxToSend = *maxEvents.value;
    window_.dialogs().askQuestion(question, [self, maxToSend](bool yes) {
        if (!self)
            return;
        self->confirming_ = false;
        if (yes)
            self->Clear(maxToSend);
    });
}

void EventPropertiesTab::Clear(std::uint16_t maxEvents)
{
    InstrumentConnection *connection = window_.connection();
    if (Busy() || !connection)
        return;
    SetRunning(true);
    progressText_->clear();
    clearJob_ = connection->submit(QStringLiteral("event clear"),
                                   logs::EventClearJob(maxEvents, std::make_shared<logs::EventClear>()), this,
                                   [this](Outcome) {
                                       // The counters came with the read-back; a failure shows on the lamp.
                                       clearJob_ = 0;
                                       SetRunning(false);
                                   });
}

void EventPropertiesTab::ShowProgress(int done, int total, const QString &text)
{
    // Other jobs (the data logger's download) report progress of their own.
    if (downloadJob_ == 0 || total <= 0)
        return;
    progress_->setRange(0, total);
    progress_->setValue(std::min(done, total));
    progress_->setFormat(text);
    progress_->show();
    progressText_->setText(text);
}

void EventPropertiesTab::DownloadFinished(Outcome outcome)
{
    const std::shared_ptr<logs::EventDownload> download = std::move(download_);
    progress_->hide();
    // What a stopped download read goes on record, for the next one to go on from.
    if (download->outcome != Outcome::Done)
        window_.recorder().RecordEvents(download->table, true);
    const QString stopped = QStringLiteral("Event download stopped; no file was saved");
    // A failed port has shown its own message.
    if (outcome == Outcome::PortError) {
        Finish(stopped);
        return;
    }
    switch (download->outcome) {
    case Outcome::Cancelled:
        Finish(QStringLiteral("Event download cancelled; no file was saved"));
        return;
    case Outcome::LineLost:
    case Outcome::Damaged:
        Finish(QStringLiteral("Event download stopped at event %1 of %2; no file was saved")
                   .arg(download->lastAsked)
                   .arg(download->count));
        window_.dialogs().showError(LineLostText(*download));
        return;
    case Outcome::Done:
        break;
    default:
        // PortClosed: "Comport nicht geöffnet!" was shown once.
        Finish(stopped);
        return;
    }
    if (download->table.filledCount() == 0) {
        Finish(ReadSummary(*download));
        window_.dialogs().showError(NothingReadText(*download));
        return;
    }
    progressText_->setText(ReadSummary(*download));
    window_.recorder().RecordEvents(download->table);
    // The log viewer shows the download whether or not it is saved.
    DownloadedLogs::Of(window_).SetEvents(
        window_.widgets().general.Edit_DevSn->text(),
        std::make_shared<logs::LogFile>(logs::EventLogOfLines(download->lines, QLocale::system(), QStringLiteral("Events"))));
    showButton_->setEnabled(true);
    AskWhereToSave(download);
}

void EventPropertiesTab::AskWhereToSave(std::shared_ptr<logs::EventDownload> download)
{
    savePending_ = true;
    const QString proposed =
        logs::ProposedEventFileName(window_.widgets().general.Edit_DevSn->text(), QDate::currentDate())
        + QLatin1Char('.') + kFileSuffix;
    QPointer<EventPropertiesTab> self(this);
    window_.dialogs().askSaveFileName(kSaveTitle, kFileSuffix, proposed,
                                      [self, download = std::move(download)](const QString &path) {
                                          if (!self)
                                              return;
                                          self->savePending_ = false;
                                          if (path.isEmpty()) {
                                              self->Finish(ReadSummary(*download) + QStringLiteral("; not saved"));
                                              return;
                                          }
                                          self->Save(path, *download);
                                      });
}

void EventPropertiesTab::Save(const QString &path, const logs::EventDownload &download)
{
    const logs::ExportResult written = logs::WriteExportFile(path, download.lines);
    if (!written.ok) {
        Finish(ReadSummary(download) + QStringLiteral("; not saved"));
        window_.dialogs().showError(written.message);
        return;
    }
    savedThisSession_ = true;
    const QString saved = ReadSummary(download) + QStringLiteral("; saved to ") + QDir::toNativeSeparators(path);
    Finish(saved);
    window_.ShowNotice(saved);
    // One message: where the file is, and the events it lacks.
    if (download.missing.empty())
        window_.dialogs().showMessage(saved);
    else
        window_.dialogs().showMessage(saved + QStringLiteral(".\n\n")
                                      + logs::MissingEventsText(download.missing, download.count));
}

void EventPropertiesTab::SetRunning(bool running)
{
    for (QPushButton *button : {w_.Button1, readAll_, w_.Button2})
        button->setEnabled(!running);
}

void EventPropertiesTab::Finish(const QString &summary)
{
    progressText_->setText(summary);
    SetRunning(false);
}

} // namespace r310::ui
