#include "ServiceFunction.h"

namespace r310 {

std::optional<ServiceCode> ServiceCodeForItem(int index)
{
    if (index < 0 || index >= static_cast<int>(kServiceFunctionItems.size()))
        return std::nullopt;
    return static_cast<ServiceCode>(index + 1);
}

std::vector<std::uint8_t> ServiceFunctionPayload(ServiceCode code)
{
    return {static_cast<std::uint8_t>(code)};
}

WriteOutcome RunServiceFunction(JobContext &job, ServiceCode code)
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
