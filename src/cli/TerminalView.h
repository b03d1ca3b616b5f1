#pragma once
// The instrument as r310ctl shows it: keeps the values of the latest answers
// (what the window's fields would show) for the commands to print, and
// reports errors on standard error. Fed by the connection's signals.
#include "InstrumentConnection.h"

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

// A data answer with fewer bytes than its object has: nothing of it is shown.
struct IncompleteAnswer {
    std::uint8_t object = 0;
    int bytes = 0;    // payload bytes it carried
    int expected = 0; // payload bytes of the object
};

class TerminalView {
public:
    // err receives error messages and, when verbose, the status texts.
    TerminalView(QTextStream &err, bool verbose);

    // Takes what the connection shows from now on.
    void Attach(InstrumentConnection &connection);

    void setStatusText(int panel, const QString &text);
    void showError(const QString &text);
    void ClearInstrumentDisplay();
    void ShowAnswer(const DecodedAnswer &answer);

    // Messages are dropped (after Ctrl+C, when only the interruption counts).
    void setQuiet(bool quiet) { quiet_ = quiet; }

    // Values of the latest answers; emptied with the display.
    std::optional<IdentityValues> identity;
    std::optional<ClockValues> clock;
    std::int64_t clockDifference = 0; // instrument minus PC, seconds, at the last clock answer
    std::optional<MeasuredValue> value;
    std::optional<RangeAlarmSettings> range;
    std::optional<SignalSettings> signalSettings;
    std::optional<HardwareSettings> hardware;
    // Answers of the objects the log modules decode (event properties, logger
    // information), as received: object number to payload.
    std::map<std::uint8_t, std::vector<std::uint8_t>> undecoded;

    std::vector<ErrorReport> errorReports;
    // Emptied with the display, as the values are.
    std::vector<IncompleteAnswer> incompleteAnswers;
    bool clockNotTaken = false;
    LampColour lamp = LampColour::Red;

    // Called after every answer was taken in, with its decoded values.
    std::function<void(const DecodedAnswer &)> onAnswer;

private:
    QTextStream &err_;
    bool verbose_ = false;
    bool quiet_ = false;
};

} // namespace r310::cli
