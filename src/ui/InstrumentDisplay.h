#pragma once
// What the instrument's answers show in the window: binds every value of a
// decoded answer to its widget, applies the feature gates of the software
// version, paints the lamp and the result field, and empties the display
// when the connection ends. Texts come ready-made from the decoder; nothing
// here formats a number.
#include <DecodeAnswer.h>
#include <InstrumentView.h>

#include <optional>

namespace r310::ui {

class ChangeTracking;
struct MainWidgets;

class InstrumentDisplay {
public:
    InstrumentDisplay(MainWidgets &widgets, ChangeTracking &tracking);

    // Fills the fields of the answer's object; when the answer is a fresh
    // read of a settings group, its set button is disabled last.
    void ShowAnswer(const DecodedAnswer &answer);

    // The window without an instrument: values emptied, settings boxes and
    // selections cleared, the customer ID, limit and signal set buttons
    // disabled (the hardware set button keeps its state), the lamp red, the
    // calibration buttons disabled.
    void ClearInstrumentDisplay();

    void SetLamp(LampColour colour);
    void SetCalibrationButtonsEnabled(bool enabled);
    // The calibration result field back to the window colour.
    void ResetResultBackground();
    StatusBackground ResultBackground() const { return resultBackground_; }

    // The alarm settings last shown (the log viewer's alarm levels); empty
    // while no instrument is connected.
    const std::optional<RangeAlarmSettings> &LastRange() const { return range_; }

    // Shows or hides the log tabs and enables the gated options by the
    // instrument's software version.
    void ApplyFeatureGates(const FeatureGates &gates);

private:
    void showIdentity(const IdentityValues &identity);
    void showClock(const ClockValues &clock);
    void showStatus(const StatusReport &status);
    void showRange(const RangeAlarmSettings &range);
    void showSignals(const SignalSettings &settings);
    void showHardware(const HardwareSettings &hardware);
    void paintResult(StatusBackground background);

    MainWidgets &w_;
    ChangeTracking &tracking_;
    StatusBackground resultBackground_ = StatusBackground::Window;
    std::optional<RangeAlarmSettings> range_;
};

} // namespace r310::ui
