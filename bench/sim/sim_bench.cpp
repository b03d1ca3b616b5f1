// How fast the simulated instrument serves requests, and how long whole
// transfers take on a paced 9600-baud line (the physical limit a client
// can reach against it; reported as the wire_ms counter).
#include "Device.h"
#include "SimBackend.h"

#include <R310_typ.h>

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace r310::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint8_t object, std::uint8_t flags, const Bytes &payload = {})
{
    return r310::EncodeFrame(object, flags, payload);
}

Scenario Unpaced()
{
    Scenario s;
    s.pacing = false;
    return s;
}

void BM_ServeIdentityRead(benchmark::State &state)
{
    auto clock = std::make_shared<ManualClock>();
    Device device(Unpaced(), clock);
    const Bytes request = Request(2, 0x00);
    for (auto _ : state)
        benchmark::DoNotOptimize(device.receive(request));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServeIdentityRead);

void BM_FrameRequestByteByByte(benchmark::State &state)
{
    auto clock = std::make_shared<ManualClock>();
    Device device(Unpaced(), clock);
    const Bytes request = Request(4, 0x60, Bytes(29, 0));
    for (auto _ : state)
        for (std::uint8_t b : request)
            benchmark::DoNotOptimize(device.receive(&b, 1));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(request.size()));
}
BENCHMARK(BM_FrameRequestByteByByte);

// A full event log download of `events` records: model time per download,
// and the time the same exchanges take on a paced line.
void BM_EventLogDownload(benchmark::State &state)
{
    const int events = static_cast<int>(state.range(0));
    Scenario s;
    s.events = events;
    s.turnaroundMillis = 5;
    double wireMillis = 0;
    for (auto _ : state) {
        auto clock = std::make_shared<ManualClock>();
        Device device(s, clock);
        const std::int64_t start = clock->nowMicros();
        for (int n = 1; n <= events; ++n) {
            const auto out = device.receive(Request(34, 0x00, {static_cast<std::uint8_t>(n & 0xFF),
                                                               static_cast<std::uint8_t>(n >> 8)}));
            clock->advanceMicros(out.back().atMicros - clock->nowMicros()); // the client waits for the last byte
        }
        wireMillis = static_cast<double>(clock->nowMicros() - start) / 1000.0;
    }
    state.counters["wire_ms"] = wireMillis;
}
BENCHMARK(BM_EventLogDownload)->Arg(24)->Arg(600)->Unit(benchmark::kMillisecond);

// The default data logger (6 blocks of one set) downloaded block by block.
void BM_LoggerDownload(benchmark::State &state)
{
    Scenario s;
    s.softwareVersion = 211;
    s.loggerBlocks = static_cast<int>(state.range(0));
    double wireMillis = 0;
    for (auto _ : state) {
        auto clock = std::make_shared<ManualClock>();
        Device device(s, clock);
        auto exchange = [&](const Bytes &request) {
            const auto out = device.receive(request);
            clock->advanceMicros(out.back().atMicros - clock->nowMicros());
        };
        exchange(Request(36, 0x00));
        for (int b = 1; b <= s.loggerBlocks; ++b) {
            exchange(Request(37, 0x00, {static_cast<std::uint8_t>(b & 0xFF), static_cast<std::uint8_t>(b >> 8)}));
            exchange(Request(38, 0x00, {1}));
        }
        wireMillis = static_cast<double>(clock->nowMicros()) / 1000.0;
    }
    state.counters["wire_ms"] = wireMillis;
}
BENCHMARK(BM_LoggerDownload)->Arg(6)->Arg(100)->Unit(benchmark::kMillisecond);

// One request and its answer through the in-process link and the event loop.
void BM_InProcessRoundTrip(benchmark::State &state)
{
    static int argc = 1;
    static char name[] = "sim_bench";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    SimBackend link(Unpaced());
    link.open();
    const QByteArray request = QByteArray::fromHex("56594B34020000F7E5");
    for (auto _ : state) {
        link.write(request);
        while (link.bytesAvailable() < 30)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        benchmark::DoNotOptimize(link.readAll());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InProcessRoundTrip);

} // namespace

BENCHMARK_MAIN();
