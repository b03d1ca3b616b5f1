#pragma once
// The simulated instrument's memory as plain values, and the pure functions
// that turn each object into its answer payload (little-endian integers) or
// take a write payload apart.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace r310::sim {

using Bytes = std::vector<std::uint8_t>;

// Object numbers the instrument serves.
namespace object {
constexpr std::uint8_t kConnect = 1;
constexpr std::uint8_t kIdentity = 2;
constexpr std::uint8_t kClock = 3;
constexpr std::uint8_t kRange = 4;
constexpr std::uint8_t kBumpState = 5;
constexpr std::uint8_t kBumpResult = 6;
constexpr std::uint8_t kValue = 7;
constexpr std::uint8_t kHorn = 8;
constexpr std::uint8_t kCalibrationStart = 9;
constexpr std::uint8_t kCalibrationState = 10;
constexpr std::uint8_t kFactorySetup = 30;
constexpr std::uint8_t kSignals = 31;
constexpr std::uint8_t kHardware = 33;
constexpr std::uint8_t kEventRecord = 34;
constexpr std::uint8_t kEventProperties = 35;
constexpr std::uint8_t kLoggerInfo = 36;
constexpr std::uint8_t kLoggerBlock = 37;
constexpr std::uint8_t kLoggerSampleSet = 38;
constexpr std::uint8_t kService = 127;
constexpr std::uint8_t kErrorReport = 0xF0;
} // namespace object

// Payload sizes of the answers and writes.
namespace size {
constexpr int kIdentity = 21;
constexpr int kClock = 4;
constexpr int kRange = 29;
constexpr int kBumpState = 1;
constexpr int kBumpResult = 6;
constexpr int kValue = 2;
constexpr int kHorn = 1;
constexpr int kCalibrationStart = 2;
constexpr int kCalibrationState = 1;
constexpr int kFactorySetup = 28;
constexpr int kSignals = 16;
constexpr int kHardware = 10;
constexpr int kEventRecord = 18;
constexpr int kEventSelector = 2;
constexpr int kEventProperties = 8;
constexpr int kEventClear = 12;
constexpr int kLoggerInfo = 18;
constexpr int kLoggerBlock = 17;
constexpr int kBlockSelector = 2;
constexpr int kLoggerSampleSet = 39;
constexpr int kSetSelector = 1;
constexpr int kService = 1;
constexpr int kErrorReport = 3;
} // namespace size

// Why the instrument sent an error report (byte 2 of its payload).
enum class ErrorReason : std::uint8_t {
    UnknownObject = 1,
    WrongLength = 2,
    NotAllowed = 3,      // read of a write-only object or the other way round
    OutOfRange = 4,      // selector or value the instrument does not accept
    Injected = 5,        // a fault of the scenario
};

// Service function codes of object 127.
enum class ServiceFunction : std::uint8_t {
    Off = 1, Lock = 2, Reset = 3, Default = 4, Update = 5, Unlock = 6, EraseLogger = 7,
};

struct Identity {
    std::int32_t serialNumber = 0;
    std::uint16_t mkType = 0;
    std::uint16_t mkSerial = 0;
    std::uint16_t softwareVersion = 0;
    std::array<std::uint8_t, 10> customerId{}; // zero-padded text
    std::uint8_t battery = 0;
};

struct RangeSettings {
    std::uint8_t sensorByte = 0;  // byte 0, kept as is
    std::int16_t rangeBegin = 0;
    std::int16_t rangeEnd = 0;
    std::uint8_t gasCode = 0;
    std::uint8_t unitCode = 0;
    std::int8_t exponent = 0;
    std::array<std::int16_t, 5> thresholds{}; // A1 A2 A3 STEL TWA
    std::array<std::uint8_t, 5> alarmFlags{};
    std::int16_t calibrationGas = 0;
    std::int16_t zeroVoltage = 0;
    std::int16_t fullScaleVoltage = 0;
};

struct SignalSettings {
    std::uint8_t signalModes = 0;
    std::uint8_t bleepInterval = 0;
    std::uint8_t displayOptions = 0;
    std::int16_t nextBumpDay = 0;   // days since 1980-01-01
    std::int16_t nextCalDay = 0;
    std::int16_t bumpIntervalDays = 0;
    std::int16_t calIntervalDays = 0;
    std::uint8_t serviceOptions = 0;
    std::array<std::uint8_t, 4> reserved{};
};

struct HardwareSettings {
    std::uint8_t firstByte = 0;
    std::int16_t zeroPoint = 0;
    std::int16_t gain = 0;
    std::int16_t reference = 0;
    std::uint8_t options = 0;
    std::array<std::uint8_t, 2> reserved{};
};

// Event types of the log.
namespace event {
constexpr std::uint8_t kAlarmOn = 1;    // 1..5 for A1, A2, A3, STEL, TWA
constexpr std::uint8_t kAlarmOff = 9;   // 9..13
constexpr std::uint8_t kDeviceOn = 19;
constexpr std::uint8_t kDeviceOff = 20;
} // namespace event

struct EventRecord {
    std::uint8_t type = 0;
    std::uint32_t time = 0;  // seconds since 1980-01-01
    // Alarm events.
    std::uint8_t gasCode = 0;
    std::uint8_t unitCode = 0;
    std::int8_t exponent = 0;
    std::int16_t value = 0;
    std::int16_t stel = 0;
    std::int16_t twa = 0;
    // Both kinds: alarm events store it at byte 17, device events at byte 8.
    std::uint8_t battery = 0;
    // Device events.
    std::uint16_t mkType = 0;
    std::uint16_t mkSerial = 0;
};

struct EventLog {
    std::uint16_t position = 0;   // current event position
    std::uint16_t thirdCounter = 0;
    std::uint16_t maxEvents = 0;
    std::vector<EventRecord> records; // record n (1-based) is records[n - 1]
    // Position, count, third counter and maximum as object 35 reports them
    // in place of the log's own, until the log is cleared.
    std::optional<std::array<std::uint16_t, 4>> reportedCounters;
};

constexpr int kSamplesPerSet = 15;
// A block may report up to 255 sets; the first this many are kept (and
// answered), so that no scenario makes the instrument's memory explode.
constexpr int kSetsKeptPerBlock = 8;

struct LoggerSampleSet {
    std::uint8_t state = 1;
    std::uint8_t gasCode = 0;
    std::uint8_t unitCode = 0;
    std::int8_t exponent = 0;
    std::uint16_t alarmBits = 0;
    std::array<std::int16_t, kSamplesPerSet> samples{};
};

struct LoggerBlock {
    std::uint16_t state = 1;
    std::uint32_t firstSampleTime = 0;
    std::uint16_t interval = 0;
    std::uint8_t samplesPerSet = 0;   // as reported; may exceed 15
    std::uint8_t setCount = 0;        // as reported; may exceed 4
    std::vector<LoggerSampleSet> sets; // setCount of them, at most kSetsKeptPerBlock
};

struct LoggerInfo {
    std::uint16_t blockCounter = 0;
    std::uint16_t maxBlocks = 0;
    std::array<std::uint8_t, 4> objects{}; // bytes 6..9
    std::array<std::uint8_t, 2> reserved10{};
    std::uint16_t interval = 0;
    std::array<std::uint8_t, 4> reserved14{};
};

struct DataLogger {
    LoggerInfo info;
    std::vector<LoggerBlock> blocks; // block b (1-based) is blocks[b - 1]
    // Block counter, stored blocks and maximum as object 36 reports them in
    // place of the logger's own, until the logger is erased.
    std::optional<std::array<std::uint16_t, 3>> reportedCounters;
};

// Answer payloads.
Bytes EncodeIdentity(const Identity &identity);
Bytes EncodeClock(std::int32_t instrumentSeconds);
Bytes EncodeRange(const RangeSettings &range);
Bytes EncodeSignals(const SignalSettings &settings);
Bytes EncodeHardware(const HardwareSettings &hardware);
Bytes EncodeEventRecord(const EventRecord &record);
Bytes EncodeEventProperties(const EventLog &log);
Bytes EncodeLoggerInfo(const LoggerInfo &info, std::uint16_t storedBlocks);
// The same with the counters the logger reports.
Bytes EncodeLoggerInfo(const DataLogger &logger);
Bytes EncodeLoggerBlock(const LoggerBlock &block);
Bytes EncodeLoggerSampleSet(const LoggerSampleSet &set);
Bytes EncodeErrorReport(std::uint8_t object, std::uint8_t flags, ErrorReason reason);

// The writable fields of a write payload taken over into the current values;
// the payload size has been checked by the caller.
void ApplyRangeWrite(const Bytes &payload, RangeSettings &range);
void ApplySignalsWrite(const Bytes &payload, SignalSettings &settings);
// Option bits the software version does not support are cleared.
void ApplyHardwareWrite(const Bytes &payload, std::uint16_t softwareVersion, HardwareSettings &hardware);
std::uint8_t HardwareOptionMask(std::uint16_t softwareVersion);

// Customer ID text <-> its zero-padded 10-byte field (text ends at the first zero).
std::array<std::uint8_t, 10> CustomerIdField(const std::string &text);
std::string CustomerIdText(const std::array<std::uint8_t, 10> &field);

// Little-endian helpers shared by the encoders and tests.
void PutU16(Bytes &out, std::size_t offset, std::uint16_t value);
void PutU32(Bytes &out, std::size_t offset, std::uint32_t value);
std::uint16_t GetU16(const Bytes &in, std::size_t offset);
std::uint32_t GetU32(const Bytes &in, std::size_t offset);

} // namespace r310::sim
