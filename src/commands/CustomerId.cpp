#include "CustomerId.h"

namespace r310 {

namespace {

constexpr int kCustomerIdOffset = 10;
constexpr std::int32_t kWriteArmTicks = 20;
constexpr std::int32_t kCustomerIdReadBackTicks = 5;

const QString kAllowed = QStringLiteral("up to %1 characters of one byte each (U+0001 to U+00FF)")
                             .arg(kCustomerIdTypedLength);

// The form of a value for r310ctl set: as much as the window lets one type.
// The characters first: a text of characters beyond one byte is refused for
// them, whatever its length.
QString CheckCustomerId(const QString &value)
{
    const SettingsKey key{kCustomerIdKey, SettingsGroup::CustomerId, kAllowed, {}, {}, {}};
    if (const auto beyond = FirstCharacterBeyondOneByte(value))
        return SettingRefusal(key, QuotedCharacter(beyond->code) + QStringLiteral(" is not a character of one byte"));
    if (value.size() > kCustomerIdTypedLength)
        return SettingRefusal(key, QStringLiteral("%1 characters are too many").arg(value.size()));
    return {};
}

} // namespace

TypedCharacter CharacterAt(const QString &text, qsizetype index)
{
    const QChar first = text.at(index);
    if (first.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
        return {QChar::surrogateToUcs4(first, text.at(index + 1)), 2};
    return {first.unicode(), 1};
}

QString QuotedCharacter(char32_t code)
{
    const QString shown = code == 0 ? QString() : QString::fromUcs4(&code, 1);
    return QStringLiteral("\"%1\" (U+%2)").arg(shown).arg(static_cast<uint>(code), 4, 16, QLatin1Char('0'));
}

std::optional<TypedCharacter> FirstCharacterBeyondOneByte(const QString &text)
{
    for (qsizetype i = 0; i < text.size();) {
        const TypedCharacter c = CharacterAt(text, i);
        if (c.code == 0 || c.code > 0xFF)
            return c;
        i += c.units;
    }
    return std::nullopt;
}

CommandPayload CustomerIdPayload(const QString &customerId)
{
    if (const auto beyond = FirstCharacterBeyondOneByte(customerId))
        return CommandPayload::Refused(
            QStringLiteral("The customer ID cannot hold the character %1: only characters of "
                           "one byte (U+0001 to U+00FF) can be sent")
                .arg(QuotedCharacter(beyond->code)));
    if (customerId.size() > kCustomerIdLength)
        return CommandPayload::Refused(
            QStringLiteral("The customer ID \"%1\" has %2 characters; the instrument keeps at most %3")
                .arg(customerId)
                .arg(customerId.size())
                .arg(kCustomerIdLength));
    std::vector<std::uint8_t> bytes(kIdentityWriteSize, 0);
    for (int i = 0; i < customerId.size(); ++i)
        bytes[static_cast<std::size_t>(kCustomerIdOffset + i)] = static_cast<std::uint8_t>(customerId.at(i).unicode());
    return {std::move(bytes), {}};
}

void RunCustomerIdWrite(JobContext &job, const CommandPayload &payload, CustomerIdResult &result)
{
    result = CustomerIdResult{};
    if (!payload.ok())
        return;
    CommandRequest write;
    write.object = kObjectIdentity;
    write.payload = payload.bytes;
    write.armTicks = kWriteArmTicks;
    result.write = RunCommandRequest(job, write);
    if (result.write != Outcome::PortClosed)
        result.sent = payload.bytes;
    if (result.write != Outcome::Done)
        return;

    CommandRequest readBack;
    readBack.object = kObjectIdentity;
    readBack.write = false;
    readBack.armTicks = kCustomerIdReadBackTicks;
    readBack.wait = Transaction::AttemptWait::Standard;
    DecodedAnswer answer;
    result.readBack = RunCommandRequest(job, readBack, &answer, &result.readBackPayload);
    if (result.readBack == Outcome::Done && !answer.identity)
        result.readBack = Outcome::NoAnswer; // an answer without the identity in it
    if (result.readBack == Outcome::Done) {
        result.customerId = answer.identity->customerId;
        result.readBackAnswer = answer;
    }
}

ConnectionJob CustomerIdJob(CommandPayload payload, std::shared_ptr<CustomerIdResult> result)
{
    if (!result)
        result = std::make_shared<CustomerIdResult>();
    return [payload = std::move(payload), result](JobContext &job) { RunCustomerIdWrite(job, payload, *result); };
}

bool TakeCustomerId(SettingsDraft &draft, const std::vector<std::uint8_t> &identityPayload)
{
    if (identityPayload.size() < static_cast<std::size_t>(kIdentityWriteSize))
        return false;
    QString id;
    for (int i = 0; i < kCustomerIdLength && identityPayload[static_cast<std::size_t>(kCustomerIdOffset + i)] != 0; ++i)
        id.append(QChar(identityPayload[static_cast<std::size_t>(kCustomerIdOffset + i)]));
    draft.more[kCustomerIdKey] = id;
    return true;
}

void AddCustomerIdKeys(std::vector<SettingsKey> &keys)
{
    SettingsKey key{kCustomerIdKey, SettingsGroup::CustomerId, kAllowed, {}, {}, {}};
    key.kind = SettingsValueKind::Text;
    key.check = CheckCustomerId;
    key.apply = [](SettingsDraft &draft, const QString &value) {
        if (draft.more.count(kCustomerIdKey) == 0)
            return QStringLiteral("%1: the instrument's identity was not read; nothing was sent").arg(kCustomerIdKey);
        draft.more[kCustomerIdKey] = value;
        return QString();
    };
    key.text = [](const SettingsDraft &draft) {
        const auto held = draft.more.find(kCustomerIdKey);
        return held == draft.more.end() ? QString() : held->second;
    };
    keys.push_back(std::move(key));
}

SettingsWriteResult SettingsResultOf(const CommandPayload &payload, const CustomerIdResult &result)
{
    SettingsWriteResult settings;
    if (!payload.ok()) {
        settings.outcome = Outcome::Refused;
        settings.refusal = payload.refusal;
        return settings;
    }
    settings.sent = result.sent;
    settings.outcome = result.write;
    if (result.write != Outcome::Done)
        return settings;
    if (result.readBack == Outcome::Done) {
        settings.readBack = result.readBackAnswer;
        settings.readBackPayload = result.readBackPayload;
    } else {
        settings.outcome = result.readBack == Outcome::NoAnswer ? Outcome::ReadBackFailed
                                                                     : result.readBack;
    }
    return settings;
}

SettingsGroupCommand CustomerIdSettingsGroup()
{
    const auto payloadOf = [](const SettingsDraft &draft) {
        const auto held = draft.more.find(kCustomerIdKey);
        return held == draft.more.end() ? CommandPayload::Refused(QStringLiteral("the customer ID was not read"))
                                        : CustomerIdPayload(held->second);
    };
    SettingsGroupCommand group;
    group.group = SettingsGroup::CustomerId;
    group.title = QStringLiteral("customer ID");
    group.object = kObjectIdentity;
    group.writtenBytes = {{kCustomerIdOffset, kCustomerIdLength}};
    group.payload = [payloadOf](const SettingsDraft &draft) {
        const CommandPayload payload = payloadOf(draft);
        return payload.ok() ? SettingsPayload{payload.bytes, {}} : SettingsPayload::Refused(payload.refusal);
    };
    group.write = [payloadOf](const SettingsDraft &draft, std::shared_ptr<SettingsWriteResult> result) -> ConnectionJob {
        return [payload = payloadOf(draft), result](JobContext &job) {
            CustomerIdResult written;
            RunCustomerIdWrite(job, payload, written);
            *result = SettingsResultOf(payload, written);
        };
    };
    return group;
}

} // namespace r310
