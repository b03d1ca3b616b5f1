#pragma once
// Decoding of the three settings objects: range and alarm limits (4), signals
// and service dates (31), hardware settings (33). Pure functions on a payload
// of at least the object's size.
#include "DecodeAnswer.h"
#include "DecodedValues.h"

#include <QLocale>

#include <cstdint>

namespace r310 {

// Object 4; payload holds at least 29 bytes.
RangeAlarmSettings DecodeRangeAlarmSettings(const std::uint8_t *payload, const QLocale &locale,
                                            const GasTextLookup &gasTexts);

// Object 31; payload holds at least 16 bytes.
SignalSettings DecodeSignalSettings(const std::uint8_t *payload, const QLocale &locale);

// Object 33; payload holds at least 10 bytes. The gates decide which of the
// version-dependent options are applied.
HardwareSettings DecodeHardwareSettings(const std::uint8_t *payload, const FeatureGates &gates,
                                        const QLocale &locale);

} // namespace r310
