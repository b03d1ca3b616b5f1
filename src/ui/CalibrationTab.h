#pragma once
// The Calibration tab: "Start Cal" with the concentration of Edit5, "Start
// Zerro" and "Horn Check". An accepted start sets CalibrationRunning; the
// idle poll then reads the calibration state, which the display shows in
// Edit6 ("Running" blinking, "OK", "Error"). While a start is under way or
// the calibration runs, the three buttons stay disabled and the tab cannot
// be left.
//
// Each calibration the window starts goes on the service records through
// the session's recorder, as r310ctl's do: the concentration, the reading
// before the start (as found), the cylinder of the test gas chosen beside
// "Start Cal", the outcome the instrument reports and the reading after it
// (as left); once it is on record a certificate is offered.
#include <Calibration.h>
#include <HornCheck.h>

#include <QJsonObject>
#include <QLocale>
#include <QObject>

#include <memory>
#include <optional>

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
    void Start(CalibrationRequest request, QJsonObject cylinder = {});
    void StartFinished(const std::shared_ptr<const CalibrationStartResult> &result);
    void SetButtonsEnabled(bool enabled);
    // The instrument reported the end (state > 0 "OK", < 0 "Error").
    void Ended(std::int8_t state);

    TFo_R310 &window_;
    const QLocale locale_;
    // A start is on its way to the instrument.
    bool starting_ = false;
    bool running_ = false;       // the instrument took the start and has not reported its end
    bool readingAsLeft_ = false; // the reads after the end are on their way
};

} // namespace r310::ui
