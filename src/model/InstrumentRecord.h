#pragma once
// The few instrument values the configurator keeps between answers. Everything
// else lives in what the front end shows until the next answer replaces it.
#include <cstdint>

namespace r310 {

struct InstrumentRecord {
    // Decimal exponent of every gas value: raw v means v x 10^DecimalExponent.
    std::int8_t DecimalExponent = 0;
    // Measuring range in raw units, as the range object last reported it.
    std::int32_t RangeBegin = 0;
    std::int32_t RangeEnd = 0;
    // Instrument software version in hundredths (210 means 2.10).
    std::int32_t SoftwareVersion = 0;
    // A zero or span calibration started by the user is in progress.
    bool CalibrationRunning = false;
    // The instrument reported a bump test in progress.
    bool BumpTestRunning = false;
    // Error reports received since program start; never reset while running.
    std::uint16_t ErrorAnswerCount = 0;
    // The connect sequence has read the identity of the instrument on the open port.
    bool InstrumentConnected = false;

    // What clearing the display after a lost or closed connection resets.
    // The running flags and the error count survive it.
    void ClearConnectionValues()
    {
        DecimalExponent = 0;
        RangeBegin = 0;
        RangeEnd = 0;
        SoftwareVersion = 0;
        InstrumentConnected = false;
    }
};

} // namespace r310
