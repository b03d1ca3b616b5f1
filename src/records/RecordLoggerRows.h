#pragma once
// How the records keep a data logger download: its layout (every block's
// header and each set's state, gas, unit, exponent and alarm bits, in the
// order read) in the download's record, and its samples in runs, each run
// keyed by its block's first-sample time, the set's number in the block and
// the index of its first sample, with gas and unit kept as data. So every
// set of every block is kept, and a block read again adds only the samples
// it did not hold before. The record store calls these inside its own
// transactions; they throw RowsFailure.
#include <LoggerRecords.h>

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace r310::records::detail {

// The body key that says a download's samples are keyed by block, set and
// index (records made before that keyed them by gas, unit and time).
inline const QString kSampleRowsKey = QStringLiteral("sampleRows");
constexpr int kSampleRowsBySet = 6;

struct RowsFailure {
    QString text;
    QSqlError error; // of the statement that failed, if one did
};

QByteArray LoggerLayout(const std::vector<logs::LoggerBlock> &blocks);
// The blocks of a layout with their sets' samples still zero; empty when it is cut short.
std::optional<std::vector<logs::LoggerBlock>> BlocksOfLayout(const QByteArray &layout);

// What a download's samples added: its layout, the digest of the new rows
// in their order, and how many samples they hold.
struct LoggerRowsAdded {
    QByteArray layout;
    QByteArray rowsDigest;
    qint64 samples = 0;
};
LoggerRowsAdded StoreLoggerRows(QSqlDatabase &db, bool postgres, qint64 instrument, qint64 seq,
                                const std::vector<logs::LoggerBlock> &blocks);

// The digest of the rows each download of the instrument added, by the
// download's place in the chain, as a download keyed by set digests them.
std::map<qint64, QByteArray> SampleDigestsBySet(QSqlDatabase &db, bool postgres, qint64 instrument);

// Fills the sets' samples of a download's blocks from the rows on record:
// by block, set and index, or (bySet false, records made before) by gas,
// unit and time as they were kept then.
void FillSamples(QSqlDatabase &db, bool postgres, qint64 instrument, bool bySet,
                 std::vector<logs::LoggerBlock> &blocks);

// The schema step to samples keyed by block, set and index, in place; runs
// inside the caller's transaction.
bool KeySamplesBySet(QSqlDatabase &db, bool postgres, QString *error);

} // namespace r310::records::detail
