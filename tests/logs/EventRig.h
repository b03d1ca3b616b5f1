#pragma once
// The connection rig of tests/support as the event log tests use it: the log
// decoders, German regional settings, requests recorded, and an event log of
// known events unless told otherwise.
#include "InstrumentRig.h"

#include "EventLogJobs.h"

namespace eventtest {

using namespace std::chrono_literals;
using r310test::AlarmEvent;
using r310test::Bytes;
using r310test::DeviceEvent;
using r310test::EventNumbers;
using r310test::FastInstrument;
using r310test::InstrumentSecondsOf;
using r310test::KnownEvents;
using r310test::Names;
using Heard = r310test::LineFrame;
using Wire = r310test::Line;

// The lines of KnownEvents() in German regional settings with the rig's gas texts.
inline QStringList KnownEventLines() { return r310test::KnownEventLines(); }

struct RigOptions {
    r310::sim::Scenario scenario = FastInstrument();
    // Replaces the instrument's generated event log.
    std::optional<std::vector<r310::sim::EventRecord>> events = KnownEvents();
    std::chrono::milliseconds tick = 10ms;
};

class Rig : public r310test::InstrumentRig {
public:
    explicit Rig(const RigOptions &options = {}) : InstrumentRig(Options(options)) {}

    std::shared_ptr<Wire> &wire = line;

private:
    static r310test::InstrumentRigOptions Options(const RigOptions &options)
    {
        r310test::InstrumentRigOptions rig;
        rig.instrument.scenario = options.scenario;
        rig.instrument.events = options.events;
        rig.tick = options.tick;
        rig.eventLogs = true;
        return rig;
    }
};

} // namespace eventtest
