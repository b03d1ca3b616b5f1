#pragma once
// The data logger's two commands: "Clear" (service function 7 on object 127)
// and "Set Paramet" (the logging interval, 30 to 300 seconds, written back
// in the logger information record). Both end by reading the logger
// information again, so what is shown is what the instrument holds.
//
// The interval write sends the record as the instrument holds it right now:
// it reads object 36 first and sends nothing when that read fails, so a
// record of an earlier instrument or an earlier state is never written back.
// Only the interval changes; Obj1 to Obj3 and the other bytes go back as read.
#include "DataLoggerDownload.h"
#include "LoggerRecords.h"

#include <CommandRequest.h>

#include <QLocale>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace r310::logs {

inline const QString kLoggerIntervalRangeMessage = QStringLiteral("Error! from 30 to 300 allowed");
// Ticks the interval write arms (the erase arms the service functions' 5).
constexpr std::int32_t kLoggerIntervalArmTicks = 20;

// A typed interval: the seconds, or why it is refused (nothing is sent).
struct LoggerIntervalInput {
    enum class Refusal {
        None,
        NotAnInteger, // "'%s' is not a valid integer value"
        OutOfRange,   // "Error! from 30 to 300 allowed"
    };
    std::optional<std::uint16_t> seconds;
    Refusal refusal = Refusal::None;
    QString message;

    bool ok() const { return seconds.has_value(); }
};

// Reads the interval as the runtime reads an integer (blanks around it, a
// sign, decimal digits; the locale gives the signs), then checks 30 to 300.
LoggerIntervalInput LoggerIntervalFromText(const QString &text, const QLocale &locale = QLocale::c());

struct LoggerCommandResult {
    // Set interval only: an interval outside 30 to 300 is refused, nothing is sent.
    bool intervalRefused = false;
    // Set interval only: the read of the logger information before the write.
    Outcome infoRead = Outcome::Done;
    // The write (interval or erase); NotRun when nothing was sent.
    Outcome outcome = Outcome::NotRun;
    // Set interval only: the logger information as written, once sent.
    std::vector<std::uint8_t> sent;
    // The logger information read back after the instrument answered.
    std::optional<LoggerInfo> infoAfter;

    bool accepted() const { return outcome == Outcome::Done; }
    // For the user when the command did not go through; empty when it did.
    QString failureText(const QString &command) const;
};

// "Set Paramet": reads object 36, writes it back with the interval replaced
// (20 ticks armed, each attempt waiting them), then reads it again. An
// interval outside 30 to 300 sends nothing.
ConnectionJob SetLoggerIntervalJob(std::uint16_t seconds, std::shared_ptr<LoggerCommandResult> result);
// "Clear": service function 7, then the logger information read.
ConnectionJob ClearDataLoggerJob(std::shared_ptr<LoggerCommandResult> result);

} // namespace r310::logs
