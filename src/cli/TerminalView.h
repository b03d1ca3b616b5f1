#pragma once
// The instrument as r310ctl shows it: keeps the values of the latest answers
// (what the window's fields would show) for the commands to print, and
// reports errors on standard error.
#include "InstrumentView.h"

#include <QString>
#include <QTextStream>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace r310::cli {

// An error report the instrument sent in place of an answer.
struct ErrorReport {
    std::uint8_t requestObject = 0; // object of the request it answered
    std::vector<std::uint8_t> payload;
};

class TerminalView : public InstrumentView {
public:
    // err receives error messages and, when verbose, the status texts.
    TerminalView(QTextStream &err, bool verbose);

    void setStatusText(int panel, const QString &text) override;
    void repaint() override {}
    void showError(const QString &text) override;
    void ClearInstrumentDisplay() override;
    void SetLamp(LampColour colour) override;
    void SetCalibrationButtonsEnabled(bool) override {}
    void ShowAnswer(const DecodedAnswer &answer, const AnswerFrame &frame) override;
    InstrumentTab ShowingTab() const override { return tab; }
    void ResetResultBackground() override {}
    void ClosePortAfterCancel() override;
    void ShowClockNotTaken() override { clockNotTaken = true; }

    // Messages are dropped (after Ctrl+C, when only the interruption counts).
    void setQuiet(bool quiet) { quiet_ = quiet; }

    InstrumentTab tab = InstrumentTab::Range;

    // Values of the latest answers; emptied with the display.
    std::optional<IdentityValues> identity;
    std::optional<ClockValues> clock;
    std::int64_t clockDifference = 0; // instrument minus PC, seconds, at the last clock answer
    std::optional<MeasuredValue> value;
    std::optional<RangeAlarmSettings> range;
    std::optional<SignalSettings> signalSettings;
    std::optional<HardwareSettings> hardware;
    // Answers the decoder leaves to later modules (event properties, logger
    // information), as received: object number to payload.
    std::map<std::uint8_t, std::vector<std::uint8_t>> undecoded;

    std::vector<ErrorReport> errorReports;
    bool clockNotTaken = false;
    LampColour lamp = LampColour::Red;

    // Where the object of the request in flight comes from (the sequences).
    std::function<std::uint8_t()> requestObject;
    // Called after every answer was taken in, with its decoded values.
    std::function<void(const DecodedAnswer &)> onAnswer;
    // Called with the texts of the phase panel ("Search", "Connect").
    std::function<void(const QString &)> onPhase;
    // Runs what closing the port does.
    std::function<void()> closePort;

private:
    QTextStream &err_;
    bool verbose_ = false;
    bool quiet_ = false;
};

} // namespace r310::cli
