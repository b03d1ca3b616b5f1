#pragma once
// The three data logger objects as the instrument sends them: the logger
// information (object 36), a block header (object 37) and a sample set
// (object 38). All integers little-endian. Only full-size data answers are
// taken; what the instrument says beyond its own bounds (more than 15 samples
// a set, set counts outside 1 to 4) is bounded here, once, for every user.
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace r310 {
class AnswerDecoder;
struct AnswerFrame;
} // namespace r310

namespace r310::logs {

constexpr int kLoggerInfoSize = 18;
constexpr int kLoggerBlockHeaderSize = 17;
constexpr int kLoggerSampleSetSize = 39;

// A sample set holds 15 samples; a block holds 1 to 4 sets.
constexpr int kSamplesPerSet = 15;
constexpr int kMaxSetsPerBlock = 4;
// The only state value that marks a readable block or set.
constexpr std::uint16_t kValidState = 1;

// The logging interval the instrument accepts, in seconds.
constexpr int kMinLoggerInterval = 30;
constexpr int kMaxLoggerInterval = 300;

// Object 36, kept whole: the interval write sends it back with only the
// interval changed.
class LoggerInfo {
public:
    using Bytes = std::array<std::uint8_t, kLoggerInfoSize>;

    explicit LoggerInfo(const Bytes &bytes) : bytes_(bytes) {}

    std::uint16_t blockCounter() const { return u16(0); } // "DL Block"
    // Blocks stored; the download reads blocks 1 to this number.
    std::uint16_t blockCount() const { return u16(2); }
    std::uint16_t maxBlocks() const { return u16(4); }
    std::uint8_t obj1() const { return bytes_[6]; }
    std::uint8_t obj2() const { return bytes_[7]; }
    std::uint8_t obj3() const { return bytes_[9]; }
    std::uint16_t interval() const { return u16(12); } // seconds

    const Bytes &bytes() const { return bytes_; }

    // The record with the interval replaced and every other byte as read:
    // the payload of the interval write.
    Bytes withInterval(std::uint16_t seconds) const;

    // The texts of the tab's fields in the order they are filled: DL Block,
    // DL Block Cnt, Dl Block max, DL Intervall, Obj1, Obj2, Obj3.
    std::array<QString, 7> fieldTexts() const;

private:
    std::uint16_t u16(int offset) const
    {
        return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    }

    Bytes bytes_;
};

// Object 37.
struct LoggerBlockHeader {
    std::uint16_t state = 0;
    std::int32_t firstSampleTime = 0; // InstrumentSeconds
    std::uint16_t interval = 0;       // seconds between samples
    std::uint8_t reportedSamples = 0; // samples per set as the instrument reports them
    std::uint8_t setCount = 0;

    // Samples per set, bounded at the 15 a set can hold.
    int samplesPerSet() const { return reportedSamples < kSamplesPerSet ? reportedSamples : kSamplesPerSet; }
    // A set count outside 1 to 4 is no readable block.
    bool setsReadable() const { return state == kValidState && setCount >= 1 && setCount <= kMaxSetsPerBlock; }
    // A block with fewer than 15 samples a set ends its section.
    bool endsSection() const { return reportedSamples < kSamplesPerSet; }
};

// Object 38.
struct LoggerSampleSet {
    std::uint8_t state = 0;
    std::uint8_t gasCode = 0;
    std::uint8_t unitCode = 0;
    std::int8_t exponent = 0;
    std::uint16_t alarmBits = 0; // bit i: sample i was taken in alarm
    std::array<std::int16_t, kSamplesPerSet> samples{};

    bool valid() const { return state == kValidState; }
    bool inAlarm(int sample) const { return sample >= 0 && sample < 16 && ((alarmBits >> sample) & 1u) != 0; }
};

// A block as the download read it: its header and, when the header allowed
// it, its sets in order (set k at index k - 1).
struct LoggerBlock {
    LoggerBlockHeader header;
    std::vector<LoggerSampleSet> sets;
};

// Payload decoders: empty for fewer bytes than the object has.
std::optional<LoggerInfo> DecodeLoggerInfo(const std::vector<std::uint8_t> &payload);
std::optional<LoggerBlockHeader> DecodeLoggerBlockHeader(const std::vector<std::uint8_t> &payload);
std::optional<LoggerSampleSet> DecodeLoggerSampleSet(const std::vector<std::uint8_t> &payload);

// The same for an answer frame: empty unless it is an intact data answer
// (flags 0xC0) of the object with its full payload.
std::optional<LoggerInfo> LoggerInfoFromAnswer(const AnswerFrame &frame);
std::optional<LoggerBlockHeader> LoggerBlockHeaderFromAnswer(const AnswerFrame &frame);
std::optional<LoggerSampleSet> LoggerSampleSetFromAnswer(const AnswerFrame &frame);

// The decoder branches of objects 36, 37 and 38. The engine keeps nothing of
// them: the front ends and the download take the records from the answer.
void InstallDataLoggerDecoders(AnswerDecoder &decoder);

} // namespace r310::logs
