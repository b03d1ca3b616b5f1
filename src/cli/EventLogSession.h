#pragma once
// The start "r310ctl events" and "r310ctl clear events" share: open the port,
// identify the instrument and take its event counters from the reads of the
// "Event properties" tab.
#include "InstrumentSession.h"

#include <EventLog.h>

#include <optional>

namespace r310::cli {

// The instrument's event counters; empty, with *code set to the exit code,
// when the port or the instrument failed, the instrument has no event log
// (software before 2.10) or did not report its counters.
std::optional<logs::EventProperties> OpenEventLog(InstrumentSession &session, int *code);

} // namespace r310::cli
