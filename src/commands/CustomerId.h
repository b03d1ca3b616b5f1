#pragma once
// The customer ID: "Set Costumer &ID" on the General tab (also run when the
// tab is left with the ID changed), r310ctl set customer-id=TEXT. A write of
// the identity object whose only content is the ID, then a read-back, so
// the tab shows what the instrument holds.
#include "CommandRequest.h"
#include "SettingsKeys.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

// The instrument keeps 10 characters; the window lets the user type 9 (a
// 10-character ID read from the instrument is shown and written back whole).
constexpr int kCustomerIdLength = 10;
constexpr int kCustomerIdTypedLength = 9;
// Size of the identity object's write.
constexpr int kIdentityWriteSize = 21;

// A character of a typed text, whole: an emoji or another character beyond
// U+FFFF takes two UTF-16 units but is one character, and a refusal shows
// it, not one of its halves.
struct TypedCharacter {
    char32_t code = 0;
    qsizetype units = 1; // UTF-16 units it takes in the text
};
TypedCharacter CharacterAt(const QString &text, qsizetype index);
// "€" (U+20ac) as refusals quote it: the character in quotes and its number;
// the zero character as "" (U+0000).
QString QuotedCharacter(char32_t code);
// The first character of text that is not one byte from U+0001 to U+00FF.
std::optional<TypedCharacter> FirstCharacterBeyondOneByte(const QString &text);

// The 21-byte payload: zero, the ID's characters as single 8-bit
// characters from byte 10 on, zero behind them. Refused (nothing to send):
// more than 10 characters, a character beyond 8 bits (U+0100 and up) and the
// zero character, which would end the ID early.
CommandPayload CustomerIdPayload(const QString &customerId);

struct CustomerIdResult {
    Outcome write = Outcome::NotRun;
    Outcome readBack = Outcome::NotRun;
    // The ID the instrument reported in the read-back.
    QString customerId;
    // The payload written, and the read-back as decoded and as received.
    std::vector<std::uint8_t> sent;
    std::optional<DecodedAnswer> readBackAnswer;
    std::vector<std::uint8_t> readBackPayload;
    bool accepted() const { return write == Outcome::Done; }
    // The write was taken and the read-back showed the ID.
    bool confirmed() const { return accepted() && readBack == Outcome::Done; }
};

// Writes the payload (20 ticks armed, each attempt waiting them), then reads
// the identity back (5 ticks) when the instrument took it. A closed port, a
// cancel or a missing answer stop the command with the lamp red; an error
// report stops it too (no read-back), so the window keeps what the user
// typed, still marked as changed, as the other settings groups do.
void RunCustomerIdWrite(JobContext &job, const CommandPayload &payload, CustomerIdResult &result);
ConnectionJob CustomerIdJob(CommandPayload payload, std::shared_ptr<CustomerIdResult> result = {});

// The customer ID as a settings group of r310ctl set: the key "customer-id"
// (the text as typed into the window, at most 9 characters) and the group
// that reads and writes it with the command above.
inline const QString kCustomerIdKey = QStringLiteral("customer-id");
void AddCustomerIdKeys(std::vector<SettingsKey> &keys);
SettingsGroupCommand CustomerIdSettingsGroup();
// The ID of an identity payload (bytes 10 to 19, up to the first zero) into
// the draft; false when the payload is too short.
bool TakeCustomerId(SettingsDraft &draft, const std::vector<std::uint8_t> &identityPayload);
// The command's result as the settings groups report theirs.
SettingsWriteResult SettingsResultOf(const CommandPayload &payload, const CustomerIdResult &result);

} // namespace r310
