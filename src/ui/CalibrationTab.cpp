#include "CalibrationTab.h"

#include "CertificateCommands.h"
#include "R310Cnf.h"

#include <ReadSequences.h>
#include <SessionRecorder.h>

#include <QLineEdit>
#include <QPushButton>

namespace r310::ui {

CalibrationTab::CalibrationTab(TFo_R310 &window, const QLocale &locale)
    : QObject(&window), window_(window), locale_(locale)
{
    setObjectName(QStringLiteral("CalibrationTab"));
    const CalibrationWidgets &c = window.widgets().calibration;
    connect(c.Button5, &QPushButton::clicked, this, &CalibrationTab::Button5Click);
    connect(c.Button7, &QPushButton::clicked, this, &CalibrationTab::Button7Click);
    connect(c.Button6, &QPushButton::clicked, this, &CalibrationTab::Button6Click);
    // The instrument is gone before it reported the end: on record without
    // an answer (before the records close its session).
    if (InstrumentConnection *connection = window.connection())
        connect(connection, &InstrumentConnection::displayCleared, this, [this] {
            if (underway_ && accepted_ && !readingAsLeft_)
                Record(QStringLiteral("no answer"), std::nullopt);
        });
    connect(&window, &TFo_R310::answerShown, this, [this](const DecodedAnswer &answer, const AnswerFrame &) {
        if (answer.calibrationState && *answer.calibrationState != 0)
            Ended(*answer.calibrationState);
    });
    window.SetLeaveHandler(InstrumentTab::Calibration, [this] { return LeaveCalibration(); });
}

void CalibrationTab::Button5Click()
{
    CalibrationRequest request;
    request.kind = CalibrationKind::Span;
    request.concentration = window_.widgets().calibration.Edit5->text();
    request.locale = locale_;
    QJsonObject cylinder;
    if (!window_.certificates().TakeCylinder(request, &cylinder))
        return;
    Start(std::move(request), std::move(cylinder));
}

void CalibrationTab::Button7Click()
{
    Start(CalibrationRequest{});
}

void CalibrationTab::Button6Click()
{
    if (InstrumentConnection *connection = window_.connection())
        connection->submit(QStringLiteral("horn check"), HornCheckJob());
}

bool CalibrationTab::LeaveCalibration() const
{
    const InstrumentConnection *connection = window_.connection();
    return !starting_ && !(connection && connection->record().CalibrationRunning);
}

void CalibrationTab::Start(CalibrationRequest request, QJsonObject cylinder)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || starting_ || readingAsLeft_)
        return;
    Underway underway;
    underway.kind = request.kind == CalibrationKind::Zero ? QStringLiteral("zero") : QStringLiteral("span");
    if (request.kind == CalibrationKind::Span) {
        bool number = false;
        const double value = locale_.toDouble(request.concentration.trimmed(), &number);
        if (number)
            underway.concentration = QString::number(value, 'g', 12);
    }
    underway.asFound = window_.recorder().lastValue();
    underway.cylinder = std::move(cylinder);
    underway_ = std::move(underway);
    accepted_ = false;
    // No second start while this one is on its way; the idle poll keeps the
    // buttons disabled once the calibration runs.
    SetButtonsEnabled(false);
    starting_ = true;
    auto result = std::make_shared<CalibrationStartResult>();
    connection->submit(QStringLiteral("calibration start"), CalibrationStartJob(std::move(request), result), this,
                       [this, result](JobOutcome) { StartFinished(result); });
}

void CalibrationTab::StartFinished(const std::shared_ptr<const CalibrationStartResult> &result)
{
    starting_ = false;
    if (result->sent()) {
        // The result field starts empty in the window colour; the status
        // reads of the idle poll follow this in order.
        QLineEdit &edit6 = *window_.widgets().calibration.Edit6;
        edit6.clear();
        window_.display().ResetResultBackground();
        edit6.repaint();
    }
    accepted_ = result->accepted();
    // A start the instrument did not take goes on record only once it was sent.
    if (!accepted_ && underway_ && result->sent())
        Record(QStringLiteral("no answer"), std::nullopt);
    else if (!accepted_)
        underway_.reset();
    if (result->noCalibrationGas)
        window_.dialogs().showMessage(kNoCalibrationGasText);
    else if (result->refused() && result->outcome != WriteOutcome::PortClosed)
        window_.dialogs().showError(result->refusal);
    const InstrumentConnection *connection = window_.connection();
    const bool connected = connection && connection->portOpen() && connection->record().InstrumentConnected;
    if (!result->accepted() && connected && !connection->record().CalibrationRunning)
        SetButtonsEnabled(true);
}

void CalibrationTab::Ended(std::int8_t state)
{
    if (!underway_ || !accepted_ || readingAsLeft_)
        return;
    const QString outcome = state > 0 ? QStringLiteral("OK") : QStringLiteral("Error");
    InstrumentConnection *connection = window_.connection();
    if (!connection || !window_.recorder().enabled()) {
        Record(outcome, std::nullopt);
        return;
    }
    // The reading as left, and the due dates the instrument holds now (a
    // calibration may move the next one), for the record and the certificate.
    readingAsLeft_ = true;
    connection->submit(
        QStringLiteral("calibration as left"),
        [](JobContext &job) {
            job.sequences().ReadValue();
            job.sequences().ReadSignals();
        },
        this,
        [this, outcome](JobOutcome) {
            readingAsLeft_ = false;
            Record(outcome, window_.recorder().lastValue());
        });
}

void CalibrationTab::Record(const QString &outcome, std::optional<double> asLeft)
{
    if (!underway_)
        return;
    const Underway done = std::move(*underway_);
    underway_.reset();
    accepted_ = false;
    records::SessionRecorder &recorder = window_.recorder();
    const QString serial = recorder.serial();
    recorder.RecordCalibration(done.kind, done.concentration, done.asFound, outcome, asLeft, done.cylinder);
    recorder.Flush();
    const bool ended = outcome == QLatin1String("OK") || outcome == QLatin1String("Error");
    if (ended && recorder.enabled() && recorder.failure().isEmpty() && !serial.isEmpty())
        window_.certificates().OfferCertificate(serial);
}

void CalibrationTab::SetButtonsEnabled(bool enabled)
{
    window_.display().SetCalibrationButtonsEnabled(enabled);
}

} // namespace r310::ui
