// Time to decode the answers the configurator sees most: the once-a-second
// clock and value polls, the identity and the range object with its texts.
#include "DecodeAnswer.h"
#include "Formats.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

using namespace r310;

namespace {

ReceiveBuffer Received(std::uint8_t object, const std::vector<std::uint8_t> &payload)
{
    ReceiveBuffer buffer;
    for (std::uint8_t b : EncodeFrame(object, kFlagsDataAnswer, payload))
        AssembleByte(b, buffer);
    return buffer;
}

AnswerDecoder Decoder()
{
    DecodeEnvironment env;
    env.locale = QLocale(QLocale::German, QLocale::Germany);
    env.gasTexts = [](std::uint8_t, std::uint8_t) { return QStringLiteral("ppm CO"); };
    return AnswerDecoder(env);
}

void DecodeObject(benchmark::State &state, std::uint8_t object, std::vector<std::uint8_t> payload)
{
    const AnswerDecoder decoder = Decoder();
    const ReceiveBuffer frame = Received(object, payload);
    InstrumentRecord record;
    record.RangeEnd = 5000;
    record.DecimalExponent = -1;
    for (auto _ : state) {
        ReceiveBuffer buffer = frame;
        benchmark::DoNotOptimize(decoder.DecodeAnswer(buffer, record));
    }
}

void BM_Clock(benchmark::State &state) { DecodeObject(state, 3, {0x80, 0x9D, 0x9E, 0x25}); }
void BM_Value(benchmark::State &state) { DecodeObject(state, 7, {0xD2, 0x04}); }
void BM_Identity(benchmark::State &state)
{
    DecodeObject(state, 2, {0xD2, 0x04, 0, 0, 0x39, 0x30, 0x67, 0x12, 0xD2, 0, 'W', 'E', 'R', 'K', 0, 0, 0, 0, 0, 0, 85});
}
void BM_Range(benchmark::State &state)
{
    DecodeObject(state, 4, {0, 0, 0, 0x88, 0x13, 1, 0, 0xFF, 0x2C, 1, 0x58, 2, 0xE8, 3, 0x5E, 1,
                            0xC8, 0, 5, 2, 6, 0xF8, 0, 0xE8, 3, 0x2E, 0xFB, 0xD7, 0x11});
}
void BM_ValueText(benchmark::State &state)
{
    const QLocale locale(QLocale::German, QLocale::Germany);
    std::int32_t raw = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(ScaledValueText(raw++ & 0x7FFF, -2, locale));
}

BENCHMARK(BM_Clock);
BENCHMARK(BM_Value);
BENCHMARK(BM_Identity);
BENCHMARK(BM_Range);
BENCHMARK(BM_ValueText);

} // namespace

BENCHMARK_MAIN();
