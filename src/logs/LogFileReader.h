#pragma once
// Reads the export files back: the data logger file ("Date/Time;Value;Gas;
// Alarm;", sections opened by " ; ; ; ;") and the event log file ("No;Date
// Time;Typ;..."), as this program writes them in any of the regional
// settings it is used with (short date, long time, decimal comma or point).
//
// The regional settings are found from the file itself: of the user's own,
// German, English (United States and United Kingdom) and the neutral ones,
// the first that reads the most of the first lines. Lines that cannot be
// read are skipped; the first of them is named in the result, and every line
// that could be read is kept.
//
// A value is a number in the file's own notation (its decimal separator and
// minus sign, digits, an exponent), finite and within +-kLargestReading;
// anything else ("nan", "inf", 1e309, hexadecimal, group separators) makes
// its line a bad one. A time that does not go on from the series' last one
// starts a new section, so every run is in time order. A file has at most
// kMostSeries series: lines of further gases are bad lines, named in the
// message. Gas texts longer than kLongestGasText are cut with "…".
//
// Times are wall-clock times of the instrument and are kept as seconds
// counted as if that wall clock were UTC, so that differences are plain
// subtractions (no time-zone or daylight-saving shift in between).
#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace r310::logs {

constexpr double kLargestReading = 1e200;
constexpr int kMostSeries = 64;
constexpr int kLongestGasText = 64;

// The samples of one gas text ("ppm CO") in one contiguous buffer, sample by
// sample in file order, split into runs: a run is the part of a section.
struct LoggerSeries {
    QString gas;
    std::vector<std::int64_t> times; // wall-clock seconds (see above)
    std::vector<double> values;
    std::vector<std::uint8_t> alarms; // 1: taken in alarm
    struct Run {
        int section = 0;   // 0 for the first section of the file
        std::size_t begin = 0; // first sample index
        std::size_t end = 0;   // one past the last
        // Seconds each sample stands for: the logging interval when the
        // download knew it, else the most frequent step in the run.
        std::int64_t interval = 0;
        // Opened by a time not later than the one before (no separator line).
        bool backwards = false;
    };
    std::vector<Run> runs;
    // The most decimals of the value texts, for showing figures as exactly as the file.
    int decimals = 0;

    std::size_t size() const { return times.size(); }
};

// One line of the event log file.
struct EventEntry {
    int number = 0;
    std::int64_t time = 0; // wall-clock seconds
    QString type;          // "A1 ON", "Dev-OFF", empty for an unknown type
    QString value, stel, twa, gas, battery, mk; // as written
    std::optional<double> valueNumber;
    bool isAlarm() const { return type.startsWith(QLatin1Char('A')); }
    bool isAlarmOn() const { return isAlarm() && type.endsWith(QLatin1String(" ON")); }
};

enum class LogFileKind { Unknown, DataLogger, EventLog };

struct LogFile {
    LogFileKind kind = LogFileKind::Unknown;
    QString path;
    QLocale locale = QLocale::c(); // the regional settings the file was read with
    std::vector<LoggerSeries> series; // data logger: one per gas text, in order of appearance
    int sections = 0; // separator lines and times going backwards each open one
    std::vector<EventEntry> events; // event log
    int linesRead = 0;
    // The first line that could not be read (1-based) and why; 0 when none.
    int firstBadLine = 0;
    QString problem; // one sentence naming the line; empty when the file was read whole
    int badLines = 0;
    // The file could not be opened, or is no export file at all.
    bool unreadable() const { return kind == LogFileKind::Unknown; }
    bool empty() const { return series.empty() && events.empty(); }
};

// Reads the bytes of an export file (8-bit text, any line end). name is used
// in messages. locales: the regional settings to try; empty for the default
// choice described above.
LogFile ReadLogFileBytes(const QByteArray &bytes, const QString &name, std::vector<QLocale> locales = {});
// Reads a file; a file that cannot be opened gives kind Unknown and a message.
LogFile ReadLogFile(const QString &path, std::vector<QLocale> locales = {});

struct LoggerExportData;

// A download as the viewer shows it: the lines of its export file read back,
// each run's interval the logging interval of the block it starts with.
LogFile LoggerLogOfDownload(const LoggerExportData &data, const QString &name);
// The event log's export lines read back.
LogFile EventLogOfLines(const QStringList &lines, const QLocale &locale, const QString &name);

// The wall-clock seconds of a date-time, and back (a UTC date-time showing
// that wall clock).
std::int64_t WallClockSeconds(const QDateTime &dateTime);
QDateTime WallClockDateTime(std::int64_t seconds);

// The most frequent step between consecutive times in [begin, end); the
// smaller one on a tie; 0 for fewer than two samples.
std::int64_t MostFrequentStep(const std::vector<std::int64_t> &times, std::size_t begin, std::size_t end);

} // namespace r310::logs
