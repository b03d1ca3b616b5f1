#include "InstrumentState.h"

#include "FeatureGates.h"

#include <algorithm>

namespace r310::sim {

void PutU16(Bytes &out, std::size_t offset, std::uint16_t value)
{
    out[offset] = static_cast<std::uint8_t>(value & 0xFF);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(Bytes &out, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t GetU16(const Bytes &in, std::size_t offset)
{
    return static_cast<std::uint16_t>(in[offset] | (in[offset + 1] << 8));
}

std::uint32_t GetU32(const Bytes &in, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | in[offset + i];
    return value;
}

namespace {

void PutI16(Bytes &out, std::size_t offset, std::int16_t value)
{
    PutU16(out, offset, static_cast<std::uint16_t>(value));
}

std::int16_t GetI16(const Bytes &in, std::size_t offset)
{
    return static_cast<std::int16_t>(GetU16(in, offset));
}

} // namespace

std::array<std::uint8_t, 10> CustomerIdField(const std::string &text)
{
    std::array<std::uint8_t, 10> field{};
    const std::size_t n = std::min(text.size(), field.size());
    for (std::size_t i = 0; i < n && text[i] != '\0'; ++i)
        field[i] = static_cast<std::uint8_t>(text[i]);
    return field;
}

std::string CustomerIdText(const std::array<std::uint8_t, 10> &field)
{
    const auto end = std::find(field.begin(), field.end(), 0);
    return std::string(field.begin(), end);
}

Bytes EncodeIdentity(const Identity &identity)
{
    Bytes out(size::kIdentity, 0);
    PutU32(out, 0, static_cast<std::uint32_t>(identity.serialNumber));
    PutU16(out, 4, identity.mkType);
    PutU16(out, 6, identity.mkSerial);
    PutU16(out, 8, identity.softwareVersion);
    std::copy(identity.customerId.begin(), identity.customerId.end(), out.begin() + 10);
    out[20] = identity.battery;
    return out;
}

Bytes EncodeClock(std::int32_t instrumentSeconds)
{
    Bytes out(size::kClock, 0);
    PutU32(out, 0, static_cast<std::uint32_t>(instrumentSeconds));
    return out;
}

Bytes EncodeRange(const RangeSettings &range)
{
    Bytes out(size::kRange, 0);
    out[0] = range.sensorByte;
    PutI16(out, 1, range.rangeBegin);
    PutI16(out, 3, range.rangeEnd);
    out[5] = range.gasCode;
    out[6] = range.unitCode;
    out[7] = static_cast<std::uint8_t>(range.exponent);
    for (int i = 0; i < 5; ++i) {
        PutI16(out, 8 + 2 * i, range.thresholds[i]);
        out[18 + i] = range.alarmFlags[i];
    }
    PutI16(out, 23, range.calibrationGas);
    PutI16(out, 25, range.zeroVoltage);
    PutI16(out, 27, range.fullScaleVoltage);
    return out;
}

Bytes EncodeSignals(const SignalSettings &settings)
{
    Bytes out(size::kSignals, 0);
    out[0] = settings.signalModes;
    out[1] = settings.bleepInterval;
    out[2] = settings.displayOptions;
    PutI16(out, 3, settings.nextBumpDay);
    PutI16(out, 5, settings.nextCalDay);
    PutI16(out, 7, settings.bumpIntervalDays);
    PutI16(out, 9, settings.calIntervalDays);
    out[11] = settings.serviceOptions;
    std::copy(settings.reserved.begin(), settings.reserved.end(), out.begin() + 12);
    return out;
}

Bytes EncodeHardware(const HardwareSettings &hardware)
{
    Bytes out(size::kHardware, 0);
    out[0] = hardware.firstByte;
    PutI16(out, 1, hardware.zeroPoint);
    PutI16(out, 3, hardware.gain);
    PutI16(out, 5, hardware.reference);
    out[7] = hardware.options;
    out[8] = hardware.reserved[0];
    out[9] = hardware.reserved[1];
    return out;
}

Bytes EncodeEventRecord(const EventRecord &record)
{
    Bytes out(size::kEventRecord, 0);
    out[2] = record.type;
    PutU32(out, 4, record.time);
    if (record.type == event::kDeviceOn || record.type == event::kDeviceOff) {
        out[8] = record.battery;
        PutU16(out, 9, record.mkType);
        PutU16(out, 11, record.mkSerial);
    } else {
        out[8] = record.gasCode;
        out[9] = record.unitCode;
        out[10] = static_cast<std::uint8_t>(record.exponent);
        PutI16(out, 11, record.value);
        PutI16(out, 13, record.stel);
        PutI16(out, 15, record.twa);
        out[17] = record.battery;
    }
    return out;
}

Bytes EncodeEventProperties(const EventLog &log)
{
    Bytes out(size::kEventProperties, 0);
    PutU16(out, 0, log.position);
    PutU16(out, 2, static_cast<std::uint16_t>(log.records.size()));
    PutU16(out, 4, log.thirdCounter);
    PutU16(out, 6, log.maxEvents);
    if (log.reportedCounters) {
        for (std::size_t i = 0; i < log.reportedCounters->size(); ++i)
            PutU16(out, 2 * i, (*log.reportedCounters)[i]);
    }
    return out;
}

Bytes EncodeLoggerInfo(const LoggerInfo &info, std::uint16_t storedBlocks)
{
    Bytes out(size::kLoggerInfo, 0);
    PutU16(out, 0, info.blockCounter);
    PutU16(out, 2, storedBlocks);
    PutU16(out, 4, info.maxBlocks);
    std::copy(info.objects.begin(), info.objects.end(), out.begin() + 6);
    std::copy(info.reserved10.begin(), info.reserved10.end(), out.begin() + 10);
    PutU16(out, 12, info.interval);
    std::copy(info.reserved14.begin(), info.reserved14.end(), out.begin() + 14);
    return out;
}

Bytes EncodeLoggerInfo(const DataLogger &logger)
{
    Bytes out = EncodeLoggerInfo(logger.info, static_cast<std::uint16_t>(logger.blocks.size()));
    if (logger.reportedCounters) {
        for (std::size_t i = 0; i < logger.reportedCounters->size(); ++i)
            PutU16(out, 2 * i, (*logger.reportedCounters)[i]);
    }
    return out;
}

Bytes EncodeLoggerBlock(const LoggerBlock &block)
{
    Bytes out(size::kLoggerBlock, 0);
    PutU16(out, 0, block.state);
    PutU32(out, 9, block.firstSampleTime);
    PutU16(out, 13, block.interval);
    out[15] = block.samplesPerSet;
    out[16] = block.setCount;
    return out;
}

Bytes EncodeLoggerSampleSet(const LoggerSampleSet &set)
{
    Bytes out(size::kLoggerSampleSet, 0);
    out[0] = set.state;
    out[1] = set.gasCode;
    out[2] = set.unitCode;
    out[3] = static_cast<std::uint8_t>(set.exponent);
    PutU16(out, 4, set.alarmBits);
    for (int i = 0; i < kSamplesPerSet; ++i)
        PutI16(out, 8 + 2 * static_cast<std::size_t>(i), set.samples[i]);
    return out;
}

Bytes EncodeErrorReport(std::uint8_t object, std::uint8_t flags, ErrorReason reason)
{
    return Bytes{object, flags, static_cast<std::uint8_t>(reason)};
}

void ApplyRangeWrite(const Bytes &payload, RangeSettings &range)
{
    for (int i = 0; i < 5; ++i) {
        range.thresholds[i] = GetI16(payload, 8 + 2 * static_cast<std::size_t>(i));
        // Only the three option bits exist; the rest of the byte reads back as zero.
        range.alarmFlags[i] = payload[18 + i] & 0x07;
    }
    range.calibrationGas = GetI16(payload, 23);
}

void ApplySignalsWrite(const Bytes &payload, SignalSettings &settings)
{
    settings.signalModes = payload[0];
    settings.bleepInterval = payload[1];
    settings.displayOptions = payload[2] & 0x7F;
    settings.nextBumpDay = GetI16(payload, 3);
    settings.nextCalDay = GetI16(payload, 5);
    settings.bumpIntervalDays = GetI16(payload, 7);
    settings.calIntervalDays = GetI16(payload, 9);
    settings.serviceOptions = payload[11] & 0x0F;
}

std::uint8_t HardwareOptionMask(std::uint16_t softwareVersion)
{
    const FeatureGates gates = GatesForVersion(softwareVersion);
    std::uint8_t mask = 0x80 | 0x20 | 0x10; // keyboard service, vibrator off, test key only
    if (gates.safetyOptionsEnabled)
        mask |= 0x04 | 0x08; // data safety mode, best resolution
    if (gates.displayModeEnabled)
        mask |= 0x02; // second value on the display
    return mask;
}

void ApplyHardwareWrite(const Bytes &payload, std::uint16_t softwareVersion, HardwareSettings &hardware)
{
    hardware.zeroPoint = GetI16(payload, 1);
    hardware.gain = GetI16(payload, 3);
    hardware.reference = GetI16(payload, 5);
    hardware.options = payload[7] & HardwareOptionMask(softwareVersion);
}

} // namespace r310::sim
