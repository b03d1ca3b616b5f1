#pragma once
// "S&et" on the Hardware tab: the instrument's hardware options (object 33),
// written and read back.
//
// The zero point, gain and reference voltage in the same object are the
// sensor electronics' own calibration. The write never invents them: it
// reads object 33 from the connected instrument first, in the same job and
// without showing it, and sends those three values back unchanged with the
// options chosen. When that read fails nothing is written.
#include "SettingsWrite.h"

#include "FeatureGates.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace r310 {

// Ticks each attempt of the hardware write waits.
constexpr std::int32_t kHardwareWriteArmTicks = 20;

// The option boxes of the Hardware tab.
struct HardwareOptions {
    bool serviceOverKeyboard = false; // bit 7
    bool vibratorDisabled = false;    // bit 5
    bool onlyTestKey = false;         // bit 4
    bool bestResolution = false;      // bit 3, from 2.20
    bool dataSafety = false;          // bit 2, from 2.20
    bool displayMode = false;         // bit 1, from 2.21

    static HardwareOptions FromDecoded(const HardwareSettings &hardware);
};

// The sensor electronics' values as the instrument reports them.
struct HardwareCalibration {
    std::int16_t zeroPoint = 0;        // tenths of a millivolt
    std::int16_t gain = 0;             // hundredths
    std::int16_t referenceVoltage = 0; // tenths of a millivolt
};

// The option byte: an option the software version does not offer is sent as 0.
std::uint8_t HardwareOptionByte(const HardwareOptions &options, const FeatureGates &gates);

// The 10-byte payload: byte 0 and bytes 8-9 zero.
std::vector<std::uint8_t> HardwareSettingsPayload(const HardwareCalibration &calibration,
                                                  const HardwareOptions &options, const FeatureGates &gates);

// Reads object 33 without showing it; empty when no data answer came (the
// lamp is red for a failed exchange; an error report is shown).
std::optional<HardwareCalibration> ReadHardwareCalibration(JobContext &job);

// Reads the instrument's calibration values, writes them with the options
// (gated by the connected instrument's software version) and reads object
// 33 back, in the running job.
SettingsWriteResult WriteHardwareSettings(JobContext &job, const HardwareOptions &options);
ConnectionJob HardwareSettingsJob(const HardwareOptions &options, std::shared_ptr<SettingsWriteResult> result);

} // namespace r310
