#include "CalibrationTab.h"

#include "CertificateCommands.h"
#include "R310Cnf.h"

#include <Certificate.h>
#include <ReadSequences.h>
#include <SessionRecorder.h>

#include <QBoxLayout>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

namespace r310::ui {

namespace {

const QString kToleranceKey = QStringLiteral("calibration/tolerance-percent");
const QString kBumpText = QStringLiteral("Bump Test");

QSettings ProgramSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vyk"), QStringLiteral("Lumo"));
}

} // namespace

CalibrationTab::CalibrationTab(TFo_R310 &window, const QLocale &locale)
    : QObject(&window), window_(window), locale_(locale)
{
    setObjectName(QStringLiteral("CalibrationTab"));
    const CalibrationWidgets &c = window.widgets().calibration;
    connect(c.Button5, &QPushButton::clicked, this, &CalibrationTab::Button5Click);
    connect(c.Button7, &QPushButton::clicked, this, &CalibrationTab::Button7Click);
    connect(c.Button6, &QPushButton::clicked, this, &CalibrationTab::Button6Click);

    // The tolerance of the pass criterion, before "Start Cal"; "Bump Test" after "Horn Check".
    tolerance_ = new QDoubleSpinBox(c.TabSheet5);
    tolerance_->setObjectName(QStringLiteral("CalibrationTolerance"));
    tolerance_->setRange(0, 100);
    tolerance_->setDecimals(1);
    tolerance_->setSuffix(QStringLiteral(" %"));
    tolerance_->setSpecialValueText(QStringLiteral("default"));
    tolerance_->setToolTip(QStringLiteral("How far the reading as left may lie from the target: span, percent of "
                                          "the concentration (default 10 %); zero, percent of the range end "
                                          "(default 2 %)"));
    tolerance_->setValue(ProgramSettings().value(kToleranceKey, 0.0).toDouble());
    connect(tolerance_, &QDoubleSpinBox::valueChanged, this,
            [](double value) { ProgramSettings().setValue(kToleranceKey, value); });
    bumpButton_ = new QPushButton(kBumpText, c.TabSheet5);
    bumpButton_->setObjectName(QStringLiteral("ButtonBumpTest"));
    bumpButton_->setAutoDefault(false);
    bumpButton_->setToolTip(QStringLiteral("Follow a bump test started on the instrument with the test gas chosen "
                                           "beside \"Start Cal\", and record it"));
    bumpButton_->setEnabled(false);
    if (QBoxLayout *row = LayoutHolding(c.TabSheet5->layout(), c.Button5)) {
        auto *label = new QLabel(QStringLiteral("Tolerance:"), c.TabSheet5);
        label->setBuddy(tolerance_);
        const int at = row->indexOf(c.Button5);
        row->insertWidget(at, label);
        row->insertWidget(at + 1, tolerance_);
    }
    if (QBoxLayout *row = LayoutHolding(c.TabSheet5->layout(), c.Button6))
        row->insertWidget(row->indexOf(c.Button6) + 1, bumpButton_);
    connect(bumpButton_, &QPushButton::clicked, this, &CalibrationTab::BumpClick);
    bumpTimer_ = new QTimer(this);
    bumpTimer_->setSingleShot(true);
    connect(bumpTimer_, &QTimer::timeout, this, &CalibrationTab::BumpRead);
    if (InstrumentConnection *connection = window.connection()) {
        // The instrument is gone before it reported the end; the recorder
        // keeps the calibration without an answer when the session ends.
        connect(connection, &InstrumentConnection::displayCleared, this, [this] {
            running_ = false;
            if (bump_)
                BumpEnded(QStringLiteral("no answer"));
        });
        // The bump button follows the calibration buttons, unless a bump test runs.
        connect(connection, &InstrumentConnection::calibrationButtonsEnabled, this,
                [this](bool enabled) { bumpButton_->setEnabled(enabled || bump_); });
    }
    connect(&window, &TFo_R310::answerShown, this, [this](const DecodedAnswer &answer, const AnswerFrame &) {
        if (answer.calibrationState && *answer.calibrationState != 0)
            Ended(*answer.calibrationState);
    });
    window.SetLeaveHandler(InstrumentTab::Calibration, [this] { return LeaveCalibration(); });
}

std::optional<operations::GasUnit> CalibrationTab::KnownGasUnit() const
{
    const InstrumentConnection *connection = window_.connection();
    if (!connection || !connection->record().RangeRead)
        return std::nullopt;
    return operations::GasUnit{connection->record().GasCode, connection->record().UnitCode};
}

QString CalibrationTab::LiveValueText() const
{
    const records::SessionRecorder &recorder = const_cast<TFo_R310 &>(window_).recorder();
    if (!recorder.lastValue())
        return QStringLiteral("not read yet");
    return QStringLiteral("%1 %2").arg(locale_.toString(*recorder.lastValue(), 'g', 10), recorder.unitText()).trimmed();
}

void CalibrationTab::Button5Click()
{
    operations::CalibrationInput input;
    input.kind = CalibrationKind::Span;
    input.concentration = window_.widgets().calibration.Edit5->text();
    input.locale = locale_;
    input.cylinderLot = window_.certificates().ChosenLot();
    // A concentration that is no number is refused before anything else.
    if (input.cylinderLot.isEmpty()
        && SpanCalibrationRaw(input.concentration, 0, locale_).error == NotAFloatMessage(input.concentration)) {
        window_.dialogs().showError(NotAFloatMessage(input.concentration));
        return;
    }
    // Once the instrument's scale is known, what it cannot take is refused before the question.
    const InstrumentConnection *connection = window_.connection();
    if (input.cylinderLot.isEmpty() && connection && AlarmSettingsKnown(connection->record())) {
        const Conversion<std::int16_t> raw =
            SpanCalibrationRaw(input.concentration, connection->record().DecimalExponent, locale_);
        const QString refusal = !raw ? raw.error : SpanOutsideRange(*raw.value, connection->record());
        if (refusal == kNoCalibrationGasText)
            window_.dialogs().showMessage(refusal);
        else if (!refusal.isEmpty())
            window_.dialogs().showError(refusal);
        if (!refusal.isEmpty())
            return;
    }
    if (!input.cylinderLot.isEmpty())
        input.concentration.clear(); // the cylinder's certified concentration
    Prepare(std::move(input));
}

void CalibrationTab::Button7Click()
{
    Prepare(operations::CalibrationInput{});
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
    return !starting_ && !bump_ && !(connection && connection->record().CalibrationRunning);
}

void CalibrationTab::Prepare(operations::CalibrationInput input)
{
    if (!window_.connection() || starting_ || readingAsLeft_ || bump_)
        return;
    if (tolerance_->value() > 0)
        input.tolerancePercent = tolerance_->value();
    input.technician = records::TechnicianName(QString());
    input.simulated = window_.recorder().simulated();
    std::unique_ptr<records::RecordStore> store;
    if (!input.cylinderLot.isEmpty() && !(store = window_.certificates().OpenRecords()))
        return;
    auto prepared = operations::CalibrationOperation::Prepare(input, store.get(), KnownGasUnit(), QDate::currentDate());
    if (const auto *refusal = std::get_if<operations::Refusal>(&prepared)) {
        window_.dialogs().showError(refusal->text);
        window_.certificates().RefillCylinders();
        return;
    }
    const operations::CalibrationPlan plan = std::get<operations::CalibrationPlan>(std::move(prepared));
    if (plan.testGas)
        window_.certificates().ShowConcentration(plan.testGas->cylinder.concentration);
    // The guided step: what to apply, with the reading now; started on Yes.
    window_.dialogs().askQuestionYesFirst(
        QStringLiteral("%1\n\nLive value: %2").arg(plan.confirmation.question, LiveValueText()),
        [this, plan](bool yes) {
            if (yes)
                Start(plan);
        });
}

void CalibrationTab::Start(const operations::CalibrationPlan &plan)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || starting_ || readingAsLeft_)
        return;
    running_ = false;
    // No second start while this one is on its way; the idle poll keeps the
    // buttons disabled once the calibration runs.
    SetButtonsEnabled(false);
    starting_ = true;
    plan_ = plan;
    seen_ = operations::CalibrationSeen{};
    // As found: the reading just before the start.
    seen_.asFound = window_.recorder().lastValue();
    auto result = std::make_shared<CalibrationStartResult>();
    connection->submit(QStringLiteral("calibration start"), operations::CalibrationOperation::StartJob(plan, result),
                       this, [this, result](Outcome) { StartFinished(result); });
}

void CalibrationTab::StartFinished(const std::shared_ptr<const CalibrationStartResult> &result)
{
    starting_ = false;
    seen_.start = *result;
    records::SessionRecorder &recorder = window_.recorder();
    const InstrumentConnection *connection = window_.connection();
    if (result->sent()) {
        // The result field starts empty in the window colour; the status
        // reads of the idle poll follow this in order.
        QLineEdit &edit6 = *window_.widgets().calibration.Edit6;
        edit6.clear();
        window_.display().ResetResultBackground();
        edit6.repaint();
        operations::CalibrationSeen unfinished = seen_;
        unfinished.stoppedBy = result->outcome == Outcome::Cancelled ? QStringLiteral("cancelled")
                                                                     : QStringLiteral("no answer");
        const QJsonObject record = operations::CalibrationOperation::Finish(*plan_, unfinished, connection->record(),
                                                                            recorder.unitText())
                                       .record;
        if (result->accepted())
            recorder.CalibrationStarted(record);
        else
            recorder.RecordReport(records::kind::kCalibration, record);
    }
    running_ = result->accepted();
    if (result->noCalibrationGas)
        window_.dialogs().showMessage(kNoCalibrationGasText);
    else if (result->refused() && result->outcome != Outcome::PortClosed)
        window_.dialogs().showError(result->refusal);
    const bool connected = connection && connection->portOpen() && connection->record().InstrumentConnected;
    if (!result->accepted() && connected && !connection->record().CalibrationRunning)
        SetButtonsEnabled(true);
}

void CalibrationTab::Ended(std::int8_t state)
{
    if (!running_ || readingAsLeft_ || !plan_)
        return;
    running_ = false;
    seen_.reported = CalibrationStateOf(state);
    readingAsLeft_ = true;
    ReadAsLeft(operations::kAsLeftReads);
}

void CalibrationTab::ReadAsLeft(int readsLeft)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection) {
        readingAsLeft_ = false;
        return;
    }
    // Three readings a second apart, the last kept; then the due dates the
    // instrument holds now (a calibration may move the next one).
    auto read = std::make_shared<bool>(false);
    connection->submit(
        QStringLiteral("calibration as left"),
        [read, readsLeft](JobContext &job) {
            *read = job.sequences().ReadValue();
            if (readsLeft == 1)
                job.sequences().ReadSignals();
        },
        this,
        [this, read, readsLeft](Outcome) {
            if (*read)
                seen_.asLeft = window_.recorder().lastValue();
            if (readsLeft > 1 && window_.connection() && window_.connection()->portOpen())
                QTimer::singleShot(operations::kAsLeftPeriod, this, [this, readsLeft] { ReadAsLeft(readsLeft - 1); });
            else
                Judge();
        });
}

void CalibrationTab::Judge()
{
    readingAsLeft_ = false;
    records::SessionRecorder &recorder = window_.recorder();
    const InstrumentConnection *connection = window_.connection();
    if (!plan_ || !connection)
        return;
    const operations::OperationReport report =
        operations::CalibrationOperation::Finish(*plan_, seen_, connection->record(), recorder.unitText());
    plan_.reset();
    recorder.RecordReport(report.recordKind, report.record);
    recorder.Flush();
    recorder.Settle();
    window_.ShowNotice(report.text);
    const QString serial = recorder.serial();
    if (recorder.enabled() && recorder.failure().isEmpty() && !serial.isEmpty())
        window_.certificates().OfferCertificate(serial, report.passed());
    else if (!report.passed())
        window_.dialogs().showError(report.text);
}

void CalibrationTab::BumpClick()
{
    if (bump_) {
        BumpEnded(QStringLiteral("cancelled"));
        return;
    }
    if (!window_.connection() || starting_ || readingAsLeft_ || running_)
        return;
    operations::BumpTestRequest request;
    request.cylinderLot = window_.certificates().ChosenLot();
    request.technician = records::TechnicianName(QString());
    request.simulated = window_.recorder().simulated();
    std::unique_ptr<records::RecordStore> store;
    if (!request.cylinderLot.isEmpty() && !(store = window_.certificates().OpenRecords()))
        return;
    auto prepared = operations::BumpTestOperation::Prepare(request, store.get(), KnownGasUnit(), QDate::currentDate());
    if (const auto *refusal = std::get_if<operations::Refusal>(&prepared)) {
        window_.dialogs().showError(refusal->text);
        return;
    }
    const operations::BumpTestPlan plan = std::get<operations::BumpTestPlan>(std::move(prepared));
    window_.dialogs().askQuestionYesFirst(
        QStringLiteral("%1\n\nLive value: %2").arg(plan.confirmation.question, LiveValueText()), [this, plan](bool yes) {
            if (!yes || bump_ || !window_.connection())
                return;
            bump_ = std::make_unique<operations::BumpTestOperation>(plan);
            bumpStartedAt_ = QDateTime::currentMSecsSinceEpoch();
            window_.recorder().setBumpTestFollowed(true);
            SetButtonsEnabled(false);
            bumpButton_->setText(QStringLiteral("Cancel Bump Test"));
            bumpButton_->setEnabled(true);
            window_.ShowNotice(plan.instruction);
            BumpRead();
        });
}

void CalibrationTab::BumpRead()
{
    InstrumentConnection *connection = window_.connection();
    if (!bump_ || !connection)
        return;
    auto read = std::make_shared<operations::BumpRead>();
    connection->submit(QStringLiteral("bump result"), operations::BumpTestOperation::ReadJob(read), this,
                       [this, read](Outcome) {
                           if (!bump_)
                               return; // cancelled meanwhile
                           if (!read->result) {
                               BumpEnded(QStringLiteral("no answer"));
                               return;
                           }
                           bump_->Take(*read);
                           if (bump_->ended()) {
                               BumpEnded(QString());
                               return;
                           }
                           window_.ShowNotice(QStringLiteral("Bump test: %1").arg(bump_->ProgressText()));
                           const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - bumpStartedAt_;
                           if (elapsed >= std::chrono::milliseconds(bump_->plan().request.timeLimit).count())
                               BumpEnded(QStringLiteral("no result"));
                           else
                               bumpTimer_->start(bump_->plan().readPeriod);
                       });
}

void CalibrationTab::BumpEnded(const QString &stoppedBy)
{
    if (!bump_)
        return;
    bumpTimer_->stop();
    const operations::OperationReport report = bump_->Finish(stoppedBy);
    bump_.reset();
    records::SessionRecorder &recorder = window_.recorder();
    recorder.setBumpTestFollowed(false);
    recorder.RecordReport(report.recordKind, report.record);
    bumpButton_->setText(kBumpText);
    window_.ShowNotice(report.text);
    const InstrumentConnection *connection = window_.connection();
    const bool connected = connection && connection->portOpen() && connection->record().InstrumentConnected;
    SetButtonsEnabled(connected && !connection->record().CalibrationRunning);
    if (report.passed())
        window_.dialogs().showMessage(report.text);
    else if (stoppedBy != QLatin1String("cancelled"))
        window_.dialogs().showError(report.text);
}

void CalibrationTab::SetButtonsEnabled(bool enabled)
{
    window_.display().SetCalibrationButtonsEnabled(enabled);
    bumpButton_->setEnabled(enabled || bump_);
}

} // namespace r310::ui
