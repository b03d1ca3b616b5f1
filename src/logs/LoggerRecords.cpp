#include "LoggerRecords.h"

#include <DecodeAnswer.h>
#include <DecodedValues.h>
#include <PayloadBytes.h>

#include <algorithm>

namespace r310::logs {

namespace {

void NothingKeptByTheEngine(const AnswerFrame &, InstrumentRecord &) {}

bool IsDataAnswerOf(const AnswerFrame &frame, std::uint8_t object)
{
    return frame.intact && frame.object == object && frame.flags == kFlagsDataAnswer;
}

} // namespace

LoggerInfo::Bytes LoggerInfo::withInterval(std::uint16_t seconds) const
{
    Bytes out = bytes_;
    out[12] = static_cast<std::uint8_t>(seconds & 0xFF);
    out[13] = static_cast<std::uint8_t>(seconds >> 8);
    return out;
}

std::array<QString, 7> LoggerInfo::fieldTexts() const
{
    return {QString::number(blockCounter()), QString::number(blockCount()), QString::number(maxBlocks()),
            QString::number(interval()),     QString::number(obj1()),       QString::number(obj2()),
            QString::number(obj3())};
}

std::optional<LoggerInfo> DecodeLoggerInfo(const std::vector<std::uint8_t> &payload)
{
    if (payload.size() < static_cast<std::size_t>(kLoggerInfoSize))
        return std::nullopt;
    LoggerInfo::Bytes bytes{};
    std::copy_n(payload.begin(), kLoggerInfoSize, bytes.begin());
    return LoggerInfo(bytes);
}

std::optional<LoggerBlockHeader> DecodeLoggerBlockHeader(const std::vector<std::uint8_t> &payload)
{
    if (payload.size() < static_cast<std::size_t>(kLoggerBlockHeaderSize))
        return std::nullopt;
    const std::uint8_t *p = payload.data();
    LoggerBlockHeader header;
    header.state = PayloadU16(p);
    header.firstSampleTime = PayloadI32(p + 9);
    header.interval = PayloadU16(p + 13);
    header.reportedSamples = p[15];
    header.setCount = p[16];
    return header;
}

std::optional<LoggerSampleSet> DecodeLoggerSampleSet(const std::vector<std::uint8_t> &payload)
{
    if (payload.size() < static_cast<std::size_t>(kLoggerSampleSetSize))
        return std::nullopt;
    const std::uint8_t *p = payload.data();
    LoggerSampleSet set;
    set.state = p[0];
    set.gasCode = p[1];
    set.unitCode = p[2];
    set.exponent = static_cast<std::int8_t>(p[3]);
    set.alarmBits = PayloadU16(p + 4);
    for (int i = 0; i < kSamplesPerSet; ++i)
        set.samples[static_cast<std::size_t>(i)] = PayloadI16(p + 8 + 2 * i);
    return set;
}

std::optional<LoggerInfo> LoggerInfoFromAnswer(const AnswerFrame &frame)
{
    return IsDataAnswerOf(frame, kObjectLoggerInfo) ? DecodeLoggerInfo(frame.payload) : std::nullopt;
}

std::optional<LoggerBlockHeader> LoggerBlockHeaderFromAnswer(const AnswerFrame &frame)
{
    return IsDataAnswerOf(frame, kObjectLoggerBlock) ? DecodeLoggerBlockHeader(frame.payload) : std::nullopt;
}

std::optional<LoggerSampleSet> LoggerSampleSetFromAnswer(const AnswerFrame &frame)
{
    return IsDataAnswerOf(frame, kObjectLoggerSampleSet) ? DecodeLoggerSampleSet(frame.payload) : std::nullopt;
}

void InstallDataLoggerDecoders(AnswerDecoder &decoder)
{
    for (const std::uint8_t object : {kObjectLoggerInfo, kObjectLoggerBlock, kObjectLoggerSampleSet})
        decoder.setBranch(object, &NothingKeptByTheEngine);
}

} // namespace r310::logs
