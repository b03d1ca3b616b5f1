#include "SetClock.h"

namespace r310 {

SetClockResult SetInstrumentClock(JobContext &job)
{
    SetClockResult result;
    result.ran = true;
    const int writesBefore = job.sequences().ClockWrites();
    result.succeeded = job.sequences().SetClock();
    result.clockWrites = job.sequences().ClockWrites() - writesBefore;
    return result;
}

ConnectionJob SetClockJob(std::shared_ptr<SetClockResult> result)
{
    return [result](JobContext &job) {
        SetClockResult outcome = SetInstrumentClock(job);
        if (result)
            *result = std::move(outcome);
    };
}

} // namespace r310
