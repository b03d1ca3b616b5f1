#include "LogDecoders.h"

#include "EventLogJobs.h"
#include "LoggerRecords.h"

namespace r310::logs {

void InstallLogDecoders(AnswerDecoder &decoder)
{
    // Event log: objects 34 and 35.
    InstallEventLogDecoders(decoder);
    // Data logger: objects 36, 37 and 38.
    InstallDataLoggerDecoders(decoder);
}

} // namespace r310::logs
