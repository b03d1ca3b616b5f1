#pragma once
// The few instrument values the configurator keeps between answers. Everything
// else lives in what the front end shows until the next answer replaces it.
#include <QString>

#include <cstdint>
#include <optional>

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
    // Serial number of the instrument (object 2); IdentityRead says it was read.
    std::int32_t SerialNumber = 0;
    bool IdentityRead = false;
    // Gas and unit codes (object 4); RangeRead says the range object was read,
    // so DecimalExponent, GasCode and UnitCode are the instrument's.
    std::uint8_t GasCode = 0;
    std::uint8_t UnitCode = 0;
    bool RangeRead = false;

    // What clearing the display after a lost or closed connection resets.
    // The running flags and the error count survive it.
    void ClearConnectionValues()
    {
        DecimalExponent = 0;
        RangeBegin = 0;
        RangeEnd = 0;
        SoftwareVersion = 0;
        InstrumentConnected = false;
        SerialNumber = 0;
        IdentityRead = false;
        GasCode = 0;
        UnitCode = 0;
        RangeRead = false;
    }
};

// The instrument a write was prepared for: the values its payload depends
// on. A write goes only to an instrument that still has them.
struct InstrumentIdentity {
    std::int32_t serialNumber = 0;
    std::int32_t softwareVersion = 0;
    // Known when the range object had been read; a payload scaled with the
    // exponent, or checked against gas and unit, carries them.
    std::optional<std::int8_t> decimalExponent;
    std::optional<std::uint8_t> gasCode;
    std::optional<std::uint8_t> unitCode;
};

// The identity of the record's instrument; empty before its identity was read.
std::optional<InstrumentIdentity> IdentityOf(const InstrumentRecord &record);

// How `found` differs from `prepared`, e.g. "serial 1234 → 5678"; empty
// when it is the same instrument with the same scale, gas and unit. A value
// one of the two does not know is not compared.
QString IdentityChange(const InstrumentIdentity &prepared, const InstrumentIdentity &found);

// "The instrument changed (serial 1234 → 5678); nothing was written."
QString InstrumentChangedText(const QString &change);

} // namespace r310
