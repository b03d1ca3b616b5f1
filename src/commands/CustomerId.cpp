#include "CustomerId.h"

namespace r310 {

namespace {

constexpr int kCustomerIdOffset = 10;
constexpr std::int32_t kWriteArmTicks = 20;
constexpr std::int32_t kReadBackArmTicks = 5;

} // namespace

CommandPayload CustomerIdPayload(const QString &customerId)
{
    if (customerId.size() > kCustomerIdLength)
        return CommandPayload::Refused(
            QStringLiteral("The customer ID \"%1\" has %2 characters; the instrument keeps at most %3")
                .arg(customerId)
                .arg(customerId.size())
                .arg(kCustomerIdLength));
    std::vector<std::uint8_t> bytes(kIdentityWriteSize, 0);
    for (int i = 0; i < customerId.size(); ++i) {
        const char16_t c = customerId.at(i).unicode();
        if (c == 0 || c > 0xFF)
            return CommandPayload::Refused(
                QStringLiteral("The customer ID cannot hold the character \"%1\" (U+%2): only characters of "
                               "one byte (U+0001 to U+00FF) can be sent")
                    .arg(c == 0 ? QString() : QString(customerId.at(i)))
                    .arg(static_cast<unsigned>(c), 4, 16, QLatin1Char('0')));
        bytes[static_cast<std::size_t>(kCustomerIdOffset + i)] = static_cast<std::uint8_t>(c);
    }
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
    if (!Answered(result.write))
        return;

    CommandRequest readBack;
    readBack.object = kObjectIdentity;
    readBack.write = false;
    readBack.armTicks = kReadBackArmTicks;
    readBack.wait = Transaction::AttemptWait::Standard;
    DecodedAnswer answer;
    result.readBack = RunCommandRequest(job, readBack, &answer);
    if (result.readBack == WriteOutcome::Accepted && answer.identity)
        result.customerId = answer.identity->customerId;
}

ConnectionJob CustomerIdJob(CommandPayload payload, std::shared_ptr<CustomerIdResult> result)
{
    if (!result)
        result = std::make_shared<CustomerIdResult>();
    return [payload = std::move(payload), result](JobContext &job) { RunCustomerIdWrite(job, payload, *result); };
}

} // namespace r310
