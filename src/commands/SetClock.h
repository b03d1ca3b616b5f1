#pragma once
// "Set &Time": writes the PC's local time into the instrument clock, then
// checks the clock again as the regular clock check does.
#include "InstrumentConnection.h"

#include <memory>

namespace r310 {

struct SetClockResult {
    bool ran = false;
    bool succeeded = false;         // every exchange of the write and the check was answered
    int clockWrites = 0;            // clock writes this command sent
};

// Runs the clock write and check in the running job.
SetClockResult SetInstrumentClock(JobContext &job);
ConnectionJob SetClockJob(std::shared_ptr<SetClockResult> result = {});

} // namespace r310
