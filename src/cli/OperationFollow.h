#pragma once
// What r310ctl's operations (calibrate, bump) share: waiting about a second
// between reads, ended by Ctrl+C or a failed port.
#include "InstrumentSession.h"

#include <chrono>

namespace r310::cli {

// Waits `period`; false when Ctrl+C or a failed port ended the wait.
bool PauseSession(InstrumentSession &session, std::chrono::milliseconds period);

} // namespace r310::cli
