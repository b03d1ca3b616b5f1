#pragma once
// The data logger export file: one line per sample, block by block and set
// by set, in sections. The window and r310ctl write it with the same
// functions, so both give the same bytes for the same regional settings.
//
//   Date/Time;Value;Gas;Alarm;
//   24.12.2008 13:45:00;20.5;ppm CO; ;
//   24.12.2008 13:46:00;61.0;ppm CO;ALARM;
//    ; ; ; ;                       <- a later section begins
//
// Sections: the file opens with the header line; a separator line opens each
// later section. A block opens a new section
//   - when it is the first block,
//   - after a block that reported fewer than 15 samples a set (the instrument
//     stopped logging within it),
//   - when its first sample is not where the samples written so far would go
//     on: its time differs from (time of the last sample written + that
//     sample's interval) by more than half of the block's interval. The
//     comparison is in seconds, so a gap of a few intervals, a clock set
//     back or a changed interval all split, and blocks logged back to back
//     never do.
// Lines go through the export file writer: 8-bit text, CR LF, no byte-order
// mark, written atomically.
#include "ExportFile.h"
#include "LoggerRecords.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace r310::logs {

inline const QString kLoggerHeaderLine = QStringLiteral("Date/Time;Value;Gas;Alarm;");
inline const QString kLoggerSeparatorLine = QStringLiteral(" ; ; ; ;");

// Sample values are shown with at most this many decimals: an exponent below
// -9 (no instrument stores such values in 16 bits) would otherwise make every
// line hundreds of zeros long.
constexpr int kMaxSampleDecimals = 9;

// Key of a gas text: unit code and gas code of a sample set.
constexpr std::uint16_t GasTextKey(std::uint8_t unitCode, std::uint8_t gasCode)
{
    return static_cast<std::uint16_t>((unitCode << 8) | gasCode);
}

// What a download hands to the export.
struct LoggerExportData {
    std::vector<LoggerBlock> blocks;
    // "unit gas" for every unit and gas code the valid sets carry, looked up
    // where the gas table is bound; a missing key leaves the field empty.
    std::map<std::uint16_t, QString> gasTexts;
    // The regional settings of dates, times and the decimal separator.
    QLocale locale = QLocale::c();
};

// The value text of a raw sample with decimal exponent e: raw x 10^e with
// -e decimals (at most kMaxSampleDecimals), 7 significant digits, the
// locale's decimal separator, no group separators.
QString LoggerSampleValueText(std::int16_t raw, std::int8_t exponent, const QLocale &locale);

// Time of sample i of a block: first-sample time + i x interval, in the
// instrument's 32-bit seconds.
std::int32_t LoggerSampleTime(const LoggerBlockHeader &header, int sample);

// True when a block whose first sample lies at firstSampleTime does not go on
// from a sample sequence whose next sample was due at expectedTime: they
// differ by more than half of interval seconds.
bool BreaksSampleSequence(std::int32_t firstSampleTime, std::int64_t expectedTime, std::uint16_t interval);

// Hands every line of the file to `line`, in order, without line ends. No
// line at all when there are no blocks ("No Data").
void ForEachLoggerExportLine(const LoggerExportData &data, const std::function<void(const QString &)> &line);
QStringList LoggerExportLines(const LoggerExportData &data);

// The file would have lines: at least one block was read.
inline bool HasLoggerExportLines(const LoggerExportData &data) { return !data.blocks.empty(); }

// Writes the file atomically; on failure an existing file stays as it was
// and the result says "Cannot create file %s".
ExportResult WriteLoggerExport(const QString &path, const LoggerExportData &data);

} // namespace r310::logs
