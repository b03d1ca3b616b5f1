#pragma once
// The factory setup: "Setup" (shown with "/pr") and its dialog in the window,
// r310ctl factory-setup. One write of the factory object with serial number,
// the PC's local time, customer ID and, on request, the order to update the
// instrument's limit list; then the connect sequence, so the new identity
// is shown.
#include "CommandRequest.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace r310 {

// Serial numbers the factory setup sends: what the dialog's 8-digit field holds.
constexpr std::int32_t kMinFactorySerialNumber = 1;
constexpr std::int32_t kMaxFactorySerialNumber = 99999999;
constexpr int kFactorySerialDigits = 8;
// The factory customer ID: 9 characters and the zero that ends them.
constexpr int kFactoryCustomerIdLength = 9;
constexpr int kFactorySetupSize = 28;
// Byte 18 asks the instrument to update its limit list.
constexpr std::uint8_t kLimitListUpdateMarker = 0xAA;

// Ticks the write waits per attempt, and how often it is sent. The limit-list
// update may keep the instrument busy for up to 15 s; sending it again soon
// would start it again, so it goes out at most twice, the second time only
// after 15 s without an answer.
constexpr std::int32_t kFactorySetupArmTicks = 20;
constexpr std::int32_t kLimitListUpdateArmTicks = 150;
constexpr int kLimitListUpdateAttempts = 2;

struct FactorySetupEntries {
    std::int32_t serialNumber = 0;
    QString customerId;
    bool updateLimitList = false;
};

// A serial number as typed (digits only, blanks around them ignored), or
// the refusal: empty, not digits (a sign, a pasted letter), 0, or beyond
// 99 999 999.
std::optional<std::int32_t> ParseFactorySerialNumber(const QString &text, QString *refusal);

// The refusal of a customer ID the factory object cannot carry: more than 9
// characters, or characters beyond one byte or the zero character; empty
// when it can be sent.
QString FactoryCustomerIdRefusal(const QString &customerId);

// Characters the setup dialog's fields take as typed: the serial number's
// digits; the customer ID's A to Z, digits, blank, comma, hyphen and full stop.
bool FactorySerialCharacter(QChar c);
bool FactoryCustomerIdCharacter(QChar c);
// Only the letters a to z become upper case (as typing into the dialog does).
QChar FactoryUpperCase(QChar c);

// A customer ID as the factory setup takes it from the dialog or the command
// line: a to z made upper case, then only the dialog's characters, at most 9;
// otherwise empty and the refusal.
std::optional<QString> FactoryCustomerIdFromText(const QString &text, QString *refusal);

// The 28-byte payload: serial number (bytes 0-3), the PC's local time as
// InstrumentSeconds (4-7), the customer ID and a terminating zero (8-17),
// 0xAA in byte 18 for the limit-list update, zero in the rest. Refused when
// the serial number or the customer ID cannot be sent.
CommandPayload FactorySetupPayload(const FactorySetupEntries &entries, std::int32_t instrumentSeconds);

struct FactorySetupResult {
    Outcome write = Outcome::NotRun;
    // Why nothing was sent; empty when the write went out.
    QString refusal;
    // The connect sequence after the write read the identity again.
    bool reconnected = false;
    // The instrument took the write: only then is the serial number used up.
    bool accepted() const { return write == Outcome::Done; }
};

// Sends the factory setup in the running job: 20 ticks per attempt, or 150
// ticks and at most two sends with the limit-list update. When the write was
// answered the connect sequence runs (the window's tab in front is read
// too). `now` gives the PC's local time as InstrumentSeconds when the
// payload is built; empty: the system clock.
void RunFactorySetup(JobContext &job, const FactorySetupEntries &entries, const std::function<std::int32_t()> &now,
                     FactorySetupResult &result);
ConnectionJob FactorySetupJob(FactorySetupEntries entries, std::shared_ptr<FactorySetupResult> result = {},
                              std::function<std::int32_t()> now = {});

} // namespace r310
