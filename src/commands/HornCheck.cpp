#include "HornCheck.h"

namespace r310 {

namespace {

Outcome SwitchHorn(JobContext &job, bool on)
{
    CommandRequest request;
    request.object = kObjectHorn;
    request.payload = HornPayload(on);
    request.armTicks = Transaction::kAttemptTicks;
    request.wait = Transaction::AttemptWait::Standard;
    return RunCommandRequest(job, request);
}

} // namespace

std::vector<std::uint8_t> HornPayload(bool on)
{
    return {static_cast<std::uint8_t>(on ? 1 : 0)};
}

void RunHornCheck(JobContext &job, HornCheckResult &result)
{
    result = HornCheckResult{};
    result.hornOn = SwitchHorn(job, true);
    if (result.hornOn == Outcome::PortClosed || result.hornOn == Outcome::Cancelled)
        return;
    result.hornOff = SwitchHorn(job, false);
}

ConnectionJob HornCheckJob(std::shared_ptr<HornCheckResult> result)
{
    if (!result)
        result = std::make_shared<HornCheckResult>();
    return [result](JobContext &job) { RunHornCheck(job, *result); };
}

} // namespace r310
