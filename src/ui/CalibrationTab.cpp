#include "CalibrationTab.h"

#include "R310Cnf.h"

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
    if (InstrumentConnection *connection = window.connection())
        connect(connection, &InstrumentConnection::jobFinished, this,
                [this](JobId id, JobOutcome) { JobFinished(id); });
    window.SetLeaveHandler(InstrumentTab::Calibration, [this] { return LeaveCalibration(); });
}

void CalibrationTab::Button5Click()
{
    CalibrationRequest request;
    request.kind = CalibrationKind::Span;
    request.concentration = window_.widgets().calibration.Edit5->text();
    request.locale = locale_;
    Start(std::move(request));
}

void CalibrationTab::Button7Click()
{
    Start(CalibrationRequest{});
}

void CalibrationTab::Button6Click()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || hornJob_ != 0)
        return;
    hornResult_ = std::make_shared<HornCheckResult>();
    hornJob_ = connection->submit(QStringLiteral("horn check"), HornCheckJob(hornResult_));
}

bool CalibrationTab::LeaveCalibration() const
{
    const InstrumentConnection *connection = window_.connection();
    return startJob_ == 0 && !(connection && connection->record().CalibrationRunning);
}

void CalibrationTab::Start(CalibrationRequest request)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || startJob_ != 0)
        return;
    // No second start while this one is on its way; the idle poll keeps the
    // buttons disabled once the calibration runs.
    SetButtonsEnabled(false);
    startResult_ = std::make_shared<CalibrationStartResult>();
    startRequest_ = request;
    asFound_ = window_.recorder().lastValue();
    startJob_ = connection->submit(QStringLiteral("calibration start"),
                                   CalibrationStartJob(std::move(request), startResult_));
}

void CalibrationTab::JobFinished(JobId id)
{
    if (id != 0 && id == hornJob_) {
        hornJob_ = 0;
        if (const std::shared_ptr<HornCheckResult> horn = std::move(hornResult_))
            window_.recorder().RecordHornCheck(*horn);
        return;
    }
    if (id == 0 || id != startJob_)
        return;
    startJob_ = 0;
    const std::shared_ptr<CalibrationStartResult> result = std::move(startResult_);
    if (!result)
        return;
    // The recorder keeps the calibration when the instrument reports its end.
    window_.recorder().CalibrationStarted(startRequest_, *result, asFound_);
    if (result->sent()) {
        // The result field starts empty in the window colour; the status
        // reads of the idle poll follow this in order.
        QLineEdit &edit6 = *window_.widgets().calibration.Edit6;
        edit6.clear();
        window_.display().ResetResultBackground();
        edit6.repaint();
    }
    if (result->noCalibrationGas)
        window_.dialogs().showMessage(kNoCalibrationGasText);
    else if (result->refused() && result->outcome != WriteOutcome::PortClosed)
        window_.dialogs().showError(result->refusal);
    const InstrumentConnection *connection = window_.connection();
    const bool connected = connection && connection->portOpen() && connection->record().InstrumentConnected;
    if (!result->accepted() && connected && !connection->record().CalibrationRunning)
        SetButtonsEnabled(true);
}

void CalibrationTab::SetButtonsEnabled(bool enabled)
{
    window_.display().SetCalibrationButtonsEnabled(enabled);
}

} // namespace r310::ui
