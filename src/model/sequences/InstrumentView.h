#pragma once
// What the read sequences need from the front end that shows the instrument:
// the main window implements it, so does the command-line tool, and tests
// replace it. It extends the link's screen seam (status panels, error
// message), so one object serves the transaction and the sequences.
#include "DecodeAnswer.h"
#include "ExchangeReport.h"

namespace r310 {

// The tabs of the main window, in their order.
enum class InstrumentTab {
    General,
    Range,
    Signals,
    Hardware,
    Calibration,
    SpecialFunction,
    EventProperties,
    Datalogging,
};

// Brush of the connection lamp.
enum class LampColour {
    Red,       // RGB 255, 0, 0: a failed exchange, no instrument
    LimeGreen, // RGB 0, 255, 0: the instrument was found
};

// Where the connection stands, as a front end shows it.
enum class ConnectionPhase {
    Closed,    // no port open
    Searching, // the connect request is repeated until the instrument answers
    Connected, // the connect sequence read identity and clock
    Lost,      // a connected instrument stopped answering; the search follows
};

class InstrumentView : public ExchangeReport {
public:
    ~InstrumentView() override;

    // Blanks every instrument value, clears the check boxes and selections
    // that show settings, and disables the set buttons of the customer ID,
    // the alarm limits and the signals (the hardware button keeps its state).
    // The sequences reset the record, the lamp, the result field's colour and
    // the calibration buttons themselves.
    virtual void ClearInstrumentDisplay() = 0;

    virtual void SetLamp(LampColour colour) = 0;

    // "Start Cal", "Horn Check" and "Start Zerro".
    virtual void SetCalibrationButtonsEnabled(bool enabled) = 0;

    // A good answer has been decoded: bind its values to the display. frame
    // is the answer as received, for objects the decoder leaves to others.
    // The status text of a result answer is shown and painted at once.
    virtual void ShowAnswer(const DecodedAnswer &answer, const AnswerFrame &frame) = 0;

    // The tab now in front; its objects are read after connecting and on change.
    virtual InstrumentTab ShowingTab() const = 0;

    // The calibration result field goes back to the window colour.
    virtual void ResetResultBackground() = 0;

    // The user cancelled the search: run what "&Close Comport" does (close
    // the port, back to the disconnected state, both status panels emptied).
    virtual void ClosePortAfterCancel() = 0;

    // The instrument kept a clock that differs from the PC's after the time
    // was written a few times; it is not written again on this connection
    // unless asked for.
    virtual void ShowClockNotTaken() {}

    // The connection moved to another phase (searching, connected, lost).
    virtual void ShowPhase(ConnectionPhase) {}
};

} // namespace r310
