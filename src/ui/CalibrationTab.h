#pragma once
// The Calibration tab: "Start Cal" with the concentration of Edit5, "Start
// Zerro" and "Horn Check". An accepted start sets CalibrationRunning; the
// idle poll then reads the calibration state, which the display shows in
// Edit6 ("Running" blinking, "OK", "Error"). While a start is under way or
// the calibration runs, the three buttons stay disabled and the tab cannot
// be left.
#include <Calibration.h>
#include <HornCheck.h>

#include <QLocale>
#include <QObject>

#include <memory>

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

    // Leaving "Calibration" while connected: refused while a start is under
    // way or the instrument has not yet reported the calibration's end.
    bool LeaveCalibration() const;

private:
    void Start(CalibrationRequest request);
    void StartFinished(const std::shared_ptr<const CalibrationStartResult> &result);
    void SetButtonsEnabled(bool enabled);

    TFo_R310 &window_;
    const QLocale locale_;
    // A start is on its way to the instrument.
    bool starting_ = false;
};

} // namespace r310::ui
