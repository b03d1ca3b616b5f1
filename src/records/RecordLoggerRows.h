#pragma once
// How the records keep a data logger download: its layout (every block's
// header and each set's state, gas, unit, exponent and alarm bits, in the
// order read) in the download's record, and its samples in runs, each run
// keyed by its block's first-sample time, the set's number in the block and
// the index of its first sample, with gas and unit kept as data. So every
// set of every block is kept, and a block read again adds only the samples
// it did not hold before.
#include <LoggerRecords.h>

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace r310::records::detail {

// The body key that says a download's samples are keyed by block, set and
// index (records made before that key them by gas, unit and time).
inline const QString kSampleRowsKey = QStringLiteral("sampleRows");
constexpr int kSampleRowsBySet = 6;

QByteArray LoggerLayout(const std::vector<logs::LoggerBlock> &blocks);
// The blocks of a layout with their sets' samples still zero; empty when it is cut short.
std::optional<std::vector<logs::LoggerBlock>> BlocksOfLayout(const QByteArray &layout);

// A run of samples of one set of one block, as stored.
struct SampleRow {
    std::int32_t blockTime = 0;
    int setNumber = 0; // 1 to 4
    int first = 0;     // index of the run's first sample in its set
    int gas = 0;
    int unit = 0;
    std::int32_t time = 0; // of the run's first sample
    int step = 0;
    int exponent = 0;
    int alarm = 0; // bit k: sample k of the run was taken in alarm
    QByteArray raws; // two bytes a sample, little-endian
    int count() const { return static_cast<int>(raws.size() / 2); }
};

// The order a download's digest takes its rows in.
bool DigestOrder(const SampleRow &a, const SampleRow &b);
// A run as the digest of a download keyed by block, set and index covers
// it, with its count as stored (which must be that of its samples).
QByteArray SampleRowBytes(const SampleRow &row, int count);

// The schema step to samples keyed by block, set and index, in place; runs
// inside the caller's transaction.
bool KeySamplesBySet(QSqlDatabase &db, bool postgres, QString *error);

} // namespace r310::records::detail
