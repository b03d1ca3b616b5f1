#include "LoggerSettings.h"

#include <DecodedValues.h>
#include <NumberInput.h>
#include <ServiceFunction.h>

namespace r310::logs {

namespace {

// The read-back that shows the instrument's new state.
void ReadBack(JobContext &job, LoggerCommandResult &result)
{
    const LoggerAnswer answer = ReadLoggerInfo(job);
    if (answer.ok())
        result.infoAfter = LoggerInfoFromAnswer(answer.frame);
}

} // namespace

LoggerIntervalInput LoggerIntervalFromText(const QString &text, const QLocale &locale)
{
    LoggerIntervalInput input;
    const Conversion<std::int32_t> number = IntegerValue(text, locale);
    if (!number) {
        input.refusal = LoggerIntervalInput::Refusal::NotAnInteger;
        input.message = number.error;
        return input;
    }
    if (*number.value < kMinLoggerInterval || *number.value > kMaxLoggerInterval) {
        input.refusal = LoggerIntervalInput::Refusal::OutOfRange;
        input.message = kLoggerIntervalRangeMessage;
        return input;
    }
    input.seconds = static_cast<std::uint16_t>(*number.value);
    return input;
}

QString LoggerCommandResult::failureText(const QString &command) const
{
    if (intervalRefused)
        return QStringLiteral("%1: %2").arg(command, kLoggerIntervalRangeMessage);
    if (infoRead != Outcome::Done)
        return QStringLiteral("%1: nothing was sent, the logger information could not be read (%2)")
            .arg(command, OutcomeText(infoRead));
    if (accepted())
        return {};
    return QStringLiteral("%1: %2").arg(command, OutcomeText(outcome));
}

ConnectionJob SetLoggerIntervalJob(std::uint16_t seconds, std::shared_ptr<LoggerCommandResult> result)
{
    return [seconds, result](JobContext &job) {
        *result = LoggerCommandResult();
        if (seconds < kMinLoggerInterval || seconds > kMaxLoggerInterval) {
            result->intervalRefused = true;
            return;
        }
        const LoggerAnswer current = ReadLoggerInfo(job);
        if (!current.ok()) {
            result->infoRead = current.failure;
            return;
        }
        const LoggerInfo::Bytes payload = LoggerInfoFromAnswer(current.frame)->withInterval(seconds);
        CommandRequest request;
        request.object = kObjectLoggerInfo;
        request.payload.assign(payload.begin(), payload.end());
        request.armTicks = kLoggerIntervalArmTicks;
        result->sent = request.payload;
        result->outcome = RunCommandRequest(job, request);
        if (Answered(result->outcome))
            ReadBack(job, *result);
    };
}

ConnectionJob ClearDataLoggerJob(std::shared_ptr<LoggerCommandResult> result)
{
    return [result](JobContext &job) {
        *result = LoggerCommandResult();
        result->outcome = RunServiceFunction(job, ServiceCode::ClearLogger);
        if (Answered(result->outcome))
            ReadBack(job, *result);
    };
}

} // namespace r310::logs
