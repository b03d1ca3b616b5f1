// Throughput of the frame CRC and the receive assembler over a long stream of
// instrument answers: mixed objects, payloads of 0 to 64 bytes, a few frames
// with a damaged byte, and a little line noise between frames.
#include "Chksum.h"
#include "R310_typ.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace r310;

constexpr std::size_t kStreamBytes = 4 * 1024 * 1024;

struct AnswerStream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> frameStarts; // of every frame, damaged ones included
    std::size_t intactFrames = 0;
    std::size_t damagedFrames = 0;
};

AnswerStream MakeStream()
{
    std::mt19937 random(310);
    std::uniform_int_distribution<int> object(1, 40), length(0, kMaxPayload), byte(0, 255), percent(0, 99);
    AnswerStream stream;
    std::vector<std::uint8_t> payload;
    while (stream.bytes.size() < kStreamBytes) {
        payload.resize(static_cast<std::size_t>(length(random)));
        for (auto &b : payload)
            b = static_cast<std::uint8_t>(byte(random));
        const std::uint8_t flags = percent(random) < 95 ? kFlagsDataAnswer : kFlagResponseBit;
        std::vector<std::uint8_t> frame = EncodeFrame(static_cast<std::uint8_t>(object(random)), flags, payload);
        if (percent(random) < 2) { // one damaged payload or CRC byte
            frame[kOffsetPayload + static_cast<std::size_t>(byte(random)) % (frame.size() - kOffsetPayload)] ^= 0x10;
            ++stream.damagedFrames;
        } else {
            ++stream.intactFrames;
        }
        stream.frameStarts.push_back(stream.bytes.size());
        stream.bytes.insert(stream.bytes.end(), frame.begin(), frame.end());
        if (percent(random) < 5) { // noise that cannot start a header
            for (int n = 1 + percent(random) % 4; n > 0; --n)
                stream.bytes.push_back(static_cast<std::uint8_t>(byte(random) & 0x3F));
        }
    }
    return stream;
}

const AnswerStream &Stream()
{
    static const AnswerStream stream = MakeStream();
    return stream;
}

// The CRC the assembler runs over each complete frame.
void BM_FrameCrcPerFrame(benchmark::State &state)
{
    const AnswerStream &stream = Stream();
    for (auto _ : state) {
        std::uint32_t zeros = 0;
        for (std::size_t start : stream.frameStarts) {
            const std::uint8_t *frame = stream.bytes.data() + start;
            zeros += FrameCrc(frame, FrameLength(frame)) == 0;
        }
        benchmark::DoNotOptimize(zeros);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
}
BENCHMARK(BM_FrameCrcPerFrame)->Unit(benchmark::kMillisecond);

// The CRC over the whole stream in one call: the table loop alone.
void BM_FrameCrcBulk(benchmark::State &state)
{
    const AnswerStream &stream = Stream();
    for (auto _ : state)
        benchmark::DoNotOptimize(FrameCrc(stream.bytes.data(), static_cast<std::int32_t>(stream.bytes.size())));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
}
BENCHMARK(BM_FrameCrcBulk)->Unit(benchmark::kMillisecond);

// Byte by byte through the assembler; each verdict is taken and the buffer
// emptied, as the transaction does.
void BM_AssembleByte(benchmark::State &state)
{
    const AnswerStream &stream = Stream();
    std::size_t good = 0;
    std::size_t bad = 0;
    for (auto _ : state) {
        ReceiveBuffer buffer;
        good = bad = 0;
        for (std::uint8_t b : stream.bytes) {
            const std::int32_t status = AssembleByte(b, buffer);
            if (status != kAssembleIncomplete) {
                (status == kAssembleGood ? good : bad) += 1;
                buffer.count = 0;
            }
        }
        benchmark::DoNotOptimize(good);
    }
    if (good != stream.intactFrames)
        state.SkipWithError("the assembler lost intact frames");
    state.counters["frames"] = static_cast<double>(good);
    state.counters["bad_crc"] = static_cast<double>(bad);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
}
BENCHMARK(BM_AssembleByte)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
