#include "ServiceFunction.h"

namespace r310 {

std::optional<ServiceCode> ServiceCodeForItem(int index)
{
    if (index < 0 || index >= static_cast<int>(kServiceFunctionItems.size()))
        return std::nullopt;
    return static_cast<ServiceCode>(index + 1);
}

QString ServiceFunctionQuestion(ServiceCode code)
{
    switch (code) {
    case ServiceCode::Reset:
        return QStringLiteral("Reset the instrument? A running calibration, bump test or horn signal is ended.");
    case ServiceCode::Default:
        return QStringLiteral("Restore the instrument's default settings? The alarm limits with their options, the "
                              "calibration gas, the signals and service intervals and the hardware options go back "
                              "to the instrument's defaults; the settings it holds now cannot be recovered.");
    default:
        break;
    }
    return {};
}

std::vector<std::uint8_t> ServiceFunctionPayload(ServiceCode code)
{
    return {static_cast<std::uint8_t>(code)};
}

Outcome RunServiceFunction(JobContext &job, ServiceCode code)
{
    CommandRequest request;
    request.object = kObjectSpecialFunction;
    request.payload = ServiceFunctionPayload(code);
    request.armTicks = kActionArmTicks;
    return RunCommandRequest(job, request);
}

ConnectionJob ServiceFunctionJob(ServiceCode code, std::shared_ptr<ServiceFunctionResult> result)
{
    if (!result)
        result = std::make_shared<ServiceFunctionResult>();
    result->code = code;
    return [code, result](JobContext &job) { result->outcome = RunServiceFunction(job, code); };
}

} // namespace r310
