#pragma once
// The connection rig of tests/support as the settings command tests use it:
// the C locale, requests and answers recorded, and the queued signals of each
// job let in before Run returns.
#include "InstrumentRig.h"

namespace settingstest {

using namespace std::chrono_literals;
using r310test::Bytes;
using r310test::FastInstrument;
using r310test::LineFrame;
using r310test::Names;
using r310test::Requests;
using Line = r310test::Line;

class Rig : public r310test::InstrumentRig {
public:
    explicit Rig(const r310::sim::Scenario &scenario = FastInstrument()) : InstrumentRig(Options(scenario)) {}

private:
    static r310test::InstrumentRigOptions Options(const r310::sim::Scenario &scenario)
    {
        r310test::InstrumentRigOptions rig;
        rig.instrument.scenario = scenario;
        rig.instrument.recordAnswers = true;
        rig.settleAfterRun = 20ms;
        return rig;
    }
};

} // namespace settingstest
