#pragma once
// The horn check: "Horn Check" on the Calibration tab, r310ctl horn-check.
// The horn is switched on (object 8, 1) and straight off again (0); the
// request to switch it off goes out whatever became of the first, so the
// horn is never left sounding because one answer was lost.
#include "CommandRequest.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace r310 {

std::vector<std::uint8_t> HornPayload(bool on);

struct HornCheckResult {
    Outcome hornOn = Outcome::NotRun;
    Outcome hornOff = Outcome::NotRun;
    bool accepted() const { return hornOn == Outcome::Done && hornOff == Outcome::Done; }
};

// Both requests with the transaction's standard wait. Each answer that
// arrived is decoded; a failed exchange decodes nothing and turns the lamp
// red. Only a closed port or a cancel keep the second request back, since
// nothing can be sent then.
void RunHornCheck(JobContext &job, HornCheckResult &result);
ConnectionJob HornCheckJob(std::shared_ptr<HornCheckResult> result = {});

} // namespace r310
