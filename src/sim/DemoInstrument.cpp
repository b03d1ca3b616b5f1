#include "DemoInstrument.h"

#include "SimBackend.h"

#include <FeatureGates.h>

namespace r310 {

namespace {

constexpr std::int32_t kDemoSoftwareVersion = kDisplayModeFromVersion;

} // namespace

SerialPort::BackendFactory DemoInstrumentLink(bool paced)
{
    return [paced](const QString &, const LineSettings &) {
        sim::Scenario scenario;
        scenario.softwareVersion = static_cast<std::uint16_t>(kDemoSoftwareVersion);
        // Test gas as at a real sensor, and a bump test the technician starts when told.
        scenario.t90Seconds = 20;
        scenario.bumpOnRead = true;
        auto link = std::make_unique<sim::SimBackend>(scenario);
        link->setPacing(paced);
        return link;
    };
}

} // namespace r310
