#pragma once
// The Calibration tab: "Start Cal" with the concentration of Edit5, "Start
// Zerro", "Horn Check" and "Bump Test". Each calibration and bump test is an
// operation: its checks come first (a refusal sends nothing), then the
// technician is told what to apply and starts on confirmation. An accepted
// calibration start sets CalibrationRunning; the idle poll then reads the
// calibration state, which the display shows in Edit6 ("Running" blinking,
// "OK", "Error"). While a start is under way, the calibration or the bump
// test runs, the buttons stay disabled and the tab cannot be left.
//
// When the instrument reports the end, the value is read three times a
// second apart (the last is as left), the calibration is judged against its
// tolerance (the "Tolerance" field beside "Start Cal", kept in the
// settings; 0: the default of the kind), recorded, and its certificate, or
// for a failed one its report, is offered.
#include <BumpTestOperation.h>
#include <CalibrationOperation.h>
#include <HornCheck.h>

#include <QLocale>
#include <QObject>

#include <memory>
#include <optional>

class QDoubleSpinBox;
class QPushButton;
class QTimer;

namespace r310::ui {

class TFo_R310;

class CalibrationTab : public QObject {
    Q_OBJECT
public:
    // locale: the user's regional settings for the typed concentration.
    CalibrationTab(TFo_R310 &window, const QLocale &locale);

    void Button5Click(); // "Start Cal"
    void Button7Click(); // "Start Zerro"
    void Button6Click(); // "Horn Check"
    void BumpClick();    // "Bump Test"; a second click cancels it

    // Leaving "Calibration" while connected: refused while a start is under
    // way, the instrument has not yet reported the calibration's end, or a
    // bump test is followed.
    bool LeaveCalibration() const;

private:
    void Prepare(operations::CalibrationInput input);
    void Start(const operations::CalibrationPlan &plan);
    void StartFinished(const std::shared_ptr<const CalibrationStartResult> &result);
    void SetButtonsEnabled(bool enabled);
    // The instrument reported the end (state > 0 "OK", < 0 "Error").
    void Ended(std::int8_t state);
    void ReadAsLeft(int readsLeft);
    void Judge();
    void BumpRead();
    void BumpEnded(const QString &stoppedBy);
    std::optional<operations::GasUnit> KnownGasUnit() const;
    QString LiveValueText() const;

    TFo_R310 &window_;
    const QLocale locale_;
    QDoubleSpinBox *tolerance_ = nullptr;
    QPushButton *bumpButton_ = nullptr;
    QTimer *bumpTimer_ = nullptr;
    // A start is on its way to the instrument.
    bool starting_ = false;
    bool running_ = false;       // the instrument took the start and has not reported its end
    bool readingAsLeft_ = false; // the reads after the end are on their way
    std::optional<operations::CalibrationPlan> plan_;
    operations::CalibrationSeen seen_;
    std::unique_ptr<operations::BumpTestOperation> bump_;
    qint64 bumpStartedAt_ = 0; // ms since epoch
};

} // namespace r310::ui
