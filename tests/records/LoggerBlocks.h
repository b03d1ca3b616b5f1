#pragma once
// A data logger download made up for the record tests and benchmark:
// `count` blocks of `gases` sets (gas 1 up, unit 1, one decimal), 15
// samples each every 30 s, logged back to back from `start`.
#include <LoggerRecords.h>

#include <cstdint>
#include <vector>

namespace recordstest {

inline std::vector<r310::logs::LoggerBlock> LoggerBlocks(int count, std::int32_t start, int gases)
{
    namespace logs = r310::logs;
    std::vector<logs::LoggerBlock> blocks;
    blocks.reserve(static_cast<std::size_t>(count));
    for (int b = 0; b < count; ++b) {
        logs::LoggerBlock block;
        block.header = {logs::kValidState, start + b * 15 * 30, 30, 15, static_cast<std::uint8_t>(gases)};
        for (int gas = 1; gas <= gases; ++gas) {
            logs::LoggerSampleSet set;
            set.state = logs::kValidState;
            set.gasCode = static_cast<std::uint8_t>(gas);
            set.unitCode = 1;
            set.exponent = -1;
            for (int i = 0; i < logs::kSamplesPerSet; ++i)
                set.samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>((b * 7 + i * 13 + gas) % 3000);
            block.sets.push_back(set);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

} // namespace recordstest
