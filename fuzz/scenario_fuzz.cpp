// The simulated instrument's scenario parser fed arbitrary scenario files.
//
// Input: the text of a scenario file.
//
// Checked: a refused file says why; an accepted one, written back with
// FormatScenario, reads again to a scenario written back the same way; and
// an instrument built from it answers every readable object with a data
// answer of that object (a scenario with very long logs is only parsed, so
// each input stays quick).
#include "FuzzInput.h"

#include <Device.h>
#include <Scenario.h>
#include <SimClock.h>

#include <R310_typ.h>

#include <cstdio>
#include <string>

namespace {

using namespace r310;
using namespace r310::sim;

// Longer logs take the device too long to make up for each input.
constexpr int kMaxDeviceEvents = 2000;
constexpr int kMaxDeviceBlocks = 300;

Frame ReadRequest(std::uint8_t object, std::vector<std::uint8_t> selector = {})
{
    return Frame{object, kFlagsRead, std::move(selector)};
}

void CheckDataAnswer(Device &device, const Frame &request)
{
    const Frame answer = device.serve(request);
    if (answer.object != request.object)
        std::fprintf(stderr, "object %d answered with %d\n", request.object, answer.object);
    FUZZ_CHECK(answer.object == request.object);
    FUZZ_CHECK(answer.flags == kFlagsDataAnswer);
    FUZZ_CHECK(answer.payload.size() <= static_cast<std::size_t>(kMaxPayload));
}

// Every object a configurator reads, the first and last event and block.
void ReadEverything(const Scenario &scenario)
{
    Device device(scenario, std::make_shared<ManualClock>());
    for (const std::uint8_t object : {2, 3, 4, 5, 6, 7, 10, 31, 33, 35, 36})
        CheckDataAnswer(device, ReadRequest(object));
    const auto events = static_cast<std::uint16_t>(device.state().events.records.size());
    for (const std::uint16_t event : {std::uint16_t{1}, events}) {
        if (event >= 1 && event <= events)
            CheckDataAnswer(device, ReadRequest(34, {static_cast<std::uint8_t>(event & 0xFF),
                                                     static_cast<std::uint8_t>(event >> 8)}));
    }
    const auto blocks = static_cast<std::uint16_t>(device.state().logger.blocks.size());
    for (const std::uint16_t block : {std::uint16_t{1}, blocks}) {
        if (block < 1 || block > blocks)
            continue;
        CheckDataAnswer(device, ReadRequest(37, {static_cast<std::uint8_t>(block & 0xFF),
                                                 static_cast<std::uint8_t>(block >> 8)}));
        // Sets of a block that has them; the device refuses the others.
        const Frame set = device.serve(ReadRequest(38, {1}));
        FUZZ_CHECK(set.object == 38 || set.object == kObjectErrorReport);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    Scenario scenario;
    std::string error;
    if (!ParseScenarioText(text, scenario, &error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    const std::string written = FormatScenario(scenario);
    Scenario again;
    std::string againError;
    FUZZ_CHECK(ParseScenarioText(written, again, &againError));
    FUZZ_CHECK(FormatScenario(again) == written);

    if (scenario.events <= kMaxDeviceEvents && scenario.loggerBlocks <= kMaxDeviceBlocks)
        ReadEverything(scenario);
    return 0;
}
