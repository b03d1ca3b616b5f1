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
    // The instrument is gone before it reported the end; the recorder keeps
    // the calibration without an answer when the session ends.
    if (InstrumentConnection *connection = window.connection())
        connect(connection, &InstrumentConnection::displayCleared, this, [this] { running_ = false; });
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
    InstrumentConnection *connection = window_.connection();
    if (!connection)
        return;
    auto result = std::make_shared<HornCheckResult>();
    connection->submit(QStringLiteral("horn check"), HornCheckJob(result), this,
                       [this, result](Outcome) { window_.recorder().RecordHornCheck(*result); });
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
    running_ = false;
    // No second start while this one is on its way; the idle poll keeps the
    // buttons disabled once the calibration runs.
    SetButtonsEnabled(false);
    starting_ = true;
    auto result = std::make_shared<CalibrationStartResult>();
    // The recorder keeps the calibration with the reading just before the
    // start, and its end when the instrument reports it.
    const std::optional<double> asFound = window_.recorder().lastValue();
    connection->submit(QStringLiteral("calibration start"), CalibrationStartJob(request, result), this,
                       [this, result, request, asFound, cylinder](Outcome) {
                           window_.recorder().CalibrationStarted(request, *result, asFound, cylinder);
                           StartFinished(result);
                       });
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
    running_ = result->accepted();
    if (result->noCalibrationGas)
        window_.dialogs().showMessage(kNoCalibrationGasText);
    else if (result->refused() && result->outcome != Outcome::PortClosed)
        window_.dialogs().showError(result->refusal);
    const InstrumentConnection *connection = window_.connection();
    const bool connected = connection && connection->portOpen() && connection->record().InstrumentConnected;
    if (!result->accepted() && connected && !connection->record().CalibrationRunning)
        SetButtonsEnabled(true);
}

void CalibrationTab::Ended(std::int8_t)
{
    if (!running_ || readingAsLeft_)
        return;
    running_ = false;
    InstrumentConnection *connection = window_.connection();
    records::SessionRecorder &recorder = window_.recorder();
    if (!connection || !recorder.enabled())
        return;
    // The reading as left (which puts the calibration on record) and the due
    // dates the instrument holds now (a calibration may move the next one),
    // for the record and the certificate.
    readingAsLeft_ = true;
    connection->submit(
        QStringLiteral("calibration as left"),
        [](JobContext &job) {
            job.sequences().ReadValue();
            job.sequences().ReadSignals();
        },
        this,
        [this](Outcome) {
            readingAsLeft_ = false;
            records::SessionRecorder &recorder = window_.recorder();
            recorder.Flush();
            const QString serial = recorder.serial();
            if (recorder.enabled() && recorder.failure().isEmpty() && !serial.isEmpty())
                window_.certificates().OfferCertificate(serial);
        });
}

void CalibrationTab::SetButtonsEnabled(bool enabled)
{
    window_.display().SetCalibrationButtonsEnabled(enabled);
}

} // namespace r310::ui
