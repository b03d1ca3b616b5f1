#pragma once
// The connection rig of tests/support as the identity, calibration and
// service command tests use it: the C locale, requests recorded.
#include "InstrumentRig.h"

namespace actiontest {

using namespace std::chrono_literals;
using r310test::Bytes;
using r310test::FastInstrument;
using r310test::Names;
using Heard = r310test::LineFrame;
using Wire = r310test::Line;

struct RigOptions {
    r310::sim::Scenario scenario = FastInstrument();
    bool idlePoll = false;
    std::chrono::milliseconds tick = 10ms;
    // The PC's clock as InstrumentSeconds; empty: the system clock.
    std::function<std::int32_t()> pcClock;
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
        rig.idlePoll = options.idlePoll;
        rig.tick = options.tick;
        rig.pcClock = options.pcClock;
        return rig;
    }
};

} // namespace actiontest
