#pragma once
// Which data logger blocks a download must read, given the blocks the
// records already hold of this instrument (as the last download, complete
// or stopped, read them: blocks 1 to n then, oldest first).
//
// A block's first-sample time grows with its number, so the newest block on
// record is found among the instrument's blocks by a binary search over
// their headers, also after the logger wrapped and its numbers shifted. The
// first block on record that is still held and two chosen at random are
// checked against the records too. The blocks before the newest one on
// record are then taken from the records; the newest one as well, unless its
// sample count was still growing, when it is read again. Any mismatch, an
// empty or cleared logger, or fewer blocks than on record: everything is read.
#include "LoggerRecords.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace r310::logs {

// Reads the header of block `number` from the instrument; empty when the
// read failed (the download then stops with that read's outcome).
using LoggerHeaderRead = std::function<std::optional<LoggerBlockHeader>(int number)>;

struct LoggerPlan {
    // The headers could not all be read: the download stops.
    bool stopped = false;
    // Blocks 1 to `kept` of the instrument are those on record from
    // `firstOnRecord` (0-based) on; blocks kept + 1 to the count are read.
    int kept = 0;
    std::size_t firstOnRecord = 0;
    // Why everything is read although blocks are on record; empty otherwise.
    QString readAllBecause;
    // Header reads the plan took.
    int headersRead = 0;
};

bool SameBlockHeader(const LoggerBlockHeader &a, const LoggerBlockHeader &b);

// `random` picks a number in [low, high]; tests pass a fixed one.
LoggerPlan PlanLoggerDownload(const std::vector<LoggerBlock> &onRecord, int blockCount, const LoggerHeaderRead &read,
                              const std::function<int(int low, int high)> &random);

} // namespace r310::logs
