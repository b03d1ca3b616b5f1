#include "LogDecoders.h"

#include "EventLogJobs.h"

namespace r310::logs {

void InstallLogDecoders(AnswerDecoder &decoder)
{
    // Event log: objects 34 and 35.
    InstallEventLogDecoders(decoder);
}

} // namespace r310::logs
