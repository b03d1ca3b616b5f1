#include "FactorySetup.h"

#include "CustomerId.h"
#include "SekDate.h"

namespace r310 {

namespace {

constexpr int kSerialOffset = 0;
constexpr int kTimeOffset = 4;
constexpr int kCustomerIdOffset = 8;
constexpr int kMarkerOffset = 18;

void PutU32(std::vector<std::uint8_t> &bytes, int offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

QString SerialRangeText()
{
    return QStringLiteral("The serial number must be a whole number from %1 to %2")
        .arg(kMinFactorySerialNumber)
        .arg(kMaxFactorySerialNumber);
}

} // namespace

std::optional<std::int32_t> ParseFactorySerialNumber(const QString &text, QString *refusal)
{
    const QString digits = text.trimmed();
    QString why;
    std::int64_t value = 0;
    if (digits.isEmpty()) {
        why = QStringLiteral("No serial number given. ") + SerialRangeText();
    } else {
        for (const QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                why = QStringLiteral("\"%1\" is not a serial number: digits only. ").arg(digits) + SerialRangeText();
                break;
            }
            value = value * 10 + (c.unicode() - '0');
            if (value > kMaxFactorySerialNumber)
                break;
        }
        if (why.isEmpty() && (value < kMinFactorySerialNumber || value > kMaxFactorySerialNumber))
            why = QStringLiteral("%1 cannot be sent. ").arg(digits) + SerialRangeText();
    }
    if (!why.isEmpty()) {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

QString FactoryCustomerIdRefusal(const QString &customerId)
{
    if (const auto beyond = FirstCharacterBeyondOneByte(customerId))
        return QStringLiteral("The customer ID cannot hold the character %1: only characters of one byte "
                              "(U+0001 to U+00FF) can be sent")
            .arg(QuotedCharacter(beyond->code));
    if (customerId.size() > kFactoryCustomerIdLength)
        return QStringLiteral("The customer ID \"%1\" has %2 characters; the factory setup sends at most %3")
            .arg(customerId)
            .arg(customerId.size())
            .arg(kFactoryCustomerIdLength);
    return {};
}

bool FactorySerialCharacter(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool FactoryCustomerIdCharacter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || FactorySerialCharacter(c) || c == QLatin1Char(' ')
        || c == QLatin1Char(',') || c == QLatin1Char('-') || c == QLatin1Char('.');
}

QChar FactoryUpperCase(QChar c)
{
    return c >= QLatin1Char('a') && c <= QLatin1Char('z') ? QChar(c.unicode() - 'a' + 'A') : c;
}

std::optional<QString> FactoryCustomerIdFromText(const QString &text, QString *refusal)
{
    QString id;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar upper = FactoryUpperCase(text.at(i));
        if (!FactoryCustomerIdCharacter(upper)) {
            const TypedCharacter refused = CharacterAt(text, i);
            if (refusal)
                *refusal = QStringLiteral("The customer ID \"%1\" holds \"%2\": only A to Z, 0 to 9, blank, "
                                          "comma, hyphen and full stop are taken")
                               .arg(text, text.mid(i, refused.units));
            return std::nullopt;
        }
        id.append(upper);
    }
    if (const QString why = FactoryCustomerIdRefusal(id); !why.isEmpty()) {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    }
    return id;
}

CommandPayload FactorySetupPayload(const FactorySetupEntries &entries, std::int32_t instrumentSeconds)
{
    if (entries.serialNumber < kMinFactorySerialNumber || entries.serialNumber > kMaxFactorySerialNumber)
        return CommandPayload::Refused(QStringLiteral("%1 cannot be sent. ").arg(entries.serialNumber)
                                       + SerialRangeText());
    if (const QString refusal = FactoryCustomerIdRefusal(entries.customerId); !refusal.isEmpty())
        return CommandPayload::Refused(refusal);
    std::vector<std::uint8_t> bytes(kFactorySetupSize, 0);
    PutU32(bytes, kSerialOffset, static_cast<std::uint32_t>(entries.serialNumber));
    PutU32(bytes, kTimeOffset, static_cast<std::uint32_t>(instrumentSeconds));
    for (int i = 0; i < entries.customerId.size(); ++i)
        bytes[static_cast<std::size_t>(kCustomerIdOffset + i)] = static_cast<std::uint8_t>(entries.customerId.at(i).unicode());
    if (entries.updateLimitList)
        bytes[kMarkerOffset] = kLimitListUpdateMarker;
    return {std::move(bytes), {}};
}

void RunFactorySetup(JobContext &job, const FactorySetupEntries &entries, const std::function<std::int32_t()> &now,
                     FactorySetupResult &result)
{
    result = FactorySetupResult{};
    // The time is taken when the write goes out, not when it was asked for.
    const CommandPayload payload = FactorySetupPayload(entries, now ? now() : SysTimeSek());
    if (!payload.ok()) {
        result.refusal = payload.refusal;
        return;
    }
    CommandRequest write;
    write.object = kObjectFactorySetup;
    write.payload = payload.bytes;
    write.armTicks = entries.updateLimitList ? kLimitListUpdateArmTicks : kFactorySetupArmTicks;
    if (entries.updateLimitList)
        write.attempts = kLimitListUpdateAttempts;
    result.write = RunCommandRequest(job, write);
    if (!Answered(result.write))
        return;
    // The setup may have given the instrument another serial number or
    // scale on purpose: the reconnect's clock write is the PC's time, made
    // for whichever instrument answers.
    job.prepareWritesFor(std::nullopt);
    result.reconnected = job.sequences().ConnectSequence();
}

ConnectionJob FactorySetupJob(FactorySetupEntries entries, std::shared_ptr<FactorySetupResult> result,
                              std::function<std::int32_t()> now)
{
    if (!result)
        result = std::make_shared<FactorySetupResult>();
    return [entries = std::move(entries), result, now = std::move(now)](JobContext &job) {
        RunFactorySetup(job, entries, now, *result);
    };
}

} // namespace r310
