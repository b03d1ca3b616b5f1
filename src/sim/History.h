#pragma once
// The event log and data logger contents a scenario describes, made up
// deterministically from its seed and ending shortly before the given time.
#include "InstrumentState.h"
#include "Scenario.h"

#include <cstdint>

namespace r310::sim {

EventLog GenerateEventLog(const Scenario &scenario, std::int64_t nowInstrumentSeconds);
DataLogger GenerateDataLogger(const Scenario &scenario, std::int64_t nowInstrumentSeconds);

} // namespace r310::sim
