#pragma once
// The data logger download as a job on the instrument connection: the logger
// information, then every stored block header and the sample sets of each
// readable block, one exchange after the other at the speed of the line.
// Given the blocks on record of this instrument, it reads only what is new
// (see LoggerPlan.h) and takes the rest from them, so its blocks are the
// whole log either way.
// Progress goes out per block (reportProgress: block, block count). The job
// stops at the first read that fails (after the transaction's own attempts),
// at an error report or a wrong answer, and when the connection is cancelled
// (closing the port or the window, Ctrl+C). It writes no file: the front end
// reads the shared result when the job has ended and writes the export there.
#include "DataLoggerExport.h"
#include "LoggerRecords.h"

#include <InstrumentConnection.h>

#include <QString>

#include <memory>
#include <optional>

namespace r310::logs {

struct LoggerDownloadResult {
    // Done: every block was read (possibly none: "No Data"). NotRun: the job
    // never ran or ended by a port error. Anything else: why a read failed;
    // currentBlock says which.
    Outcome outcome = Outcome::NotRun;
    // The block being read (its header or one of its sets); 0 while the
    // logger information is read. After a failure: where it stopped.
    int currentBlock = 0;

    std::optional<LoggerInfo> info;
    // Blocks the information reported; counted unsigned (up to 65535).
    int blockCount = 0;
    LoggerExportData data;
    // Blocks 1 to onRecord were taken from the records, not read.
    int onRecord = 0;
    // Why every block was read although some were on record; empty otherwise.
    QString readAllBecause;
    // After a stop: blocks 1 to n as far as they were read whole, for the
    // records to keep as an unfinished download (never for an export file).
    std::vector<LoggerBlock> unfinished;

    bool completed() const { return outcome == Outcome::Done; }
    // What to tell the user when the download did not complete: which read
    // failed and why (or the reason given, when the front end knows better,
    // as after a port failure), and that nothing was saved.
    QString failureText(const QString &reason = {}) const;
};

// The job; result is filled as it runs and read when the job has ended.
// onRecord: the blocks the records hold of this instrument (null or empty:
// read everything).
ConnectionJob DataLoggerDownloadJob(std::shared_ptr<LoggerDownloadResult> result,
                                    std::shared_ptr<const std::vector<LoggerBlock>> onRecord = nullptr);

// "Block 17 of 300", or with blocks on record "Block 480 of 500 — 478 already on record".
QString LoggerProgressText(int block, int blocks, int onRecord = 0);

// One logger read inside a job: the request (object 36 without selector,
// 37 with the block number, 38 with the set number), ArmResponseTimer(2),
// the transaction, and the decoder for a good answer. On failure the lamp
// turns red. Returns the answer frame when it is a data answer of the object
// with its full payload.
struct LoggerAnswer {
    Outcome failure = Outcome::Done;
    AnswerFrame frame;
    bool ok() const { return failure == Outcome::Done; }
};
LoggerAnswer ReadLoggerInfo(JobContext &job);
LoggerAnswer ReadLoggerBlock(JobContext &job, std::uint16_t block);
LoggerAnswer ReadLoggerSampleSet(JobContext &job, std::uint8_t set);

} // namespace r310::logs
