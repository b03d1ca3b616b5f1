#include "LogFileReader.h"

#include "DataLoggerExport.h"
#include "EventLog.h"

#include <Formats.h>
#include <SekDate.h>

#include <QFile>
#include <QHash>
#include <QStringView>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace r310::logs {

namespace {

// Lines looked at to choose the regional settings.
constexpr int kLocaleProbeLines = 50;

QString PlainBlanks(QString text)
{
    for (QChar &c : text) {
        if (c.isSpace())
            c = QLatin1Char(' ');
    }
    return text;
}

// A value the figures can be made of: finite, and small enough that sums of
// millions of samples times any interval stay finite. No instrument reads
// beyond it (its largest is 32767 x 10^127).
bool IsReading(double value)
{
    return std::isfinite(value) && std::fabs(value) <= kLargestReading;
}

// Date-time and number texts of one regional setting, with caches: a log
// repeats the same few dates and, at a fixed interval, the same times of day.
class LocaleReader {
public:
    explicit LocaleReader(const QLocale &locale)
        : locale_(locale), dateFormat_(PlainBlanks(ShortDateFormat(locale))),
          timeFormat_(PlainBlanks(LongTimeFormat(locale))),
          dateBlanks_(static_cast<int>(dateFormat_.count(QLatin1Char(' ')))),
          decimal_(locale.decimalPoint()), minus_(locale.negativeSign())
    {
        // Numbers of the common settings are read from the bytes directly.
        fixedTime_ = timeFormat_ == QLatin1String("HH:mm:ss") || timeFormat_ == QLatin1String("hh:mm:ss");
        fastNumbers_ = decimal_.size() == 1 && decimal_.front().unicode() < 128 && minus_.size() == 1
                    && minus_.front().unicode() < 128;
        if (fastNumbers_) {
            decimalByte_ = static_cast<char>(decimal_.front().unicode());
            minusByte_ = static_cast<char>(minus_.front().unicode());
        }
    }

    // The same for a field's bytes (Latin-1), with caches on the bytes: no
    // text is made for a date or time seen before.
    std::optional<std::int64_t> dateTime(std::string_view text)
    {
        std::size_t split = std::string_view::npos;
        for (int blanks = 0; blanks <= dateBlanks_; ++blanks) {
            split = text.find(' ', split == std::string_view::npos ? 0 : split + 1);
            if (split == std::string_view::npos)
                return std::nullopt;
        }
        const std::string_view datePart = text.substr(0, split);
        if (datePart != lastDate_) {
            const auto cached = dateBytes_.find(std::string(datePart));
            std::optional<std::int64_t> day;
            if (cached != dateBytes_.end())
                day = cached->second;
            else if ((day = date(QString::fromLatin1(datePart.data(), static_cast<qsizetype>(datePart.size())))))
                dateBytes_.emplace(std::string(datePart), *day);
            if (!day)
                return std::nullopt;
            lastDate_ = std::string(datePart);
            lastDay_ = *day;
        }
        const std::string_view timePart = text.substr(split + 1);
        if (const std::optional<int> second = fixedTime_ ? FixedTime(timePart) : std::nullopt)
            return lastDay_ * 86400 + *second;
        std::string timeKey(timePart);
        auto cachedTime = timeBytes_.find(timeKey);
        if (cachedTime == timeBytes_.end()) {
            const std::optional<int> second =
                time(QString::fromLatin1(timePart.data(), static_cast<qsizetype>(timePart.size())));
            if (!second)
                return std::nullopt;
            cachedTime = timeBytes_.emplace(std::move(timeKey), *second).first;
        }
        return lastDay_ * 86400 + cachedTime->second;
    }

    // A number and its decimals (digits after the separator, 0 in scientific notation).
    std::optional<double> number(std::string_view text, int &decimals) const
    {
        while (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
        while (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
        constexpr std::size_t kLongest = 48;
        if (text.empty())
            return std::nullopt;
        if (!fastNumbers_ || text.size() > kLongest) {
            const QString slow = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
            decimals = this->decimals(slow);
            return number(slow);
        }
        char buffer[kLongest];
        std::size_t point = std::string_view::npos;
        std::size_t exponent = std::string_view::npos;
        bool digits = false;
        // Only the file's own notation: digits, its decimal separator once
        // before an exponent, its minus sign in front of the number or the
        // exponent. No "nan", "inf", hexadecimal or group separators.
        for (std::size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            const bool signPlace = i == 0 || (exponent != std::string_view::npos && i == exponent + 1);
            if (c >= '0' && c <= '9') {
                digits = digits || exponent == std::string_view::npos;
            } else if (c == decimalByte_ && point == std::string_view::npos && exponent == std::string_view::npos) {
                c = '.';
                point = i;
            } else if (c == minusByte_ && signPlace) {
                c = '-';
            } else if (c == '+' && signPlace && i != 0) {
                // std::from_chars takes no plus sign; the exponent's is left out below.
            } else if ((c == 'E' || c == 'e') && digits && exponent == std::string_view::npos) {
                c = 'e';
                exponent = i;
            } else {
                return std::nullopt;
            }
            buffer[i] = c;
        }
        std::size_t length = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (buffer[i] != '+')
                buffer[length++] = buffer[i];
        }
        if (!digits || buffer[length - 1] == 'e' || buffer[length - 1] == '-')
            return std::nullopt;
        double value = 0;
        const auto [end, error] = std::from_chars(buffer, buffer + length, value);
        if (error != std::errc() || end != buffer + length || !IsReading(value))
            return std::nullopt;
        decimals = point == std::string_view::npos || exponent != std::string_view::npos
                     ? 0
                     : static_cast<int>(text.size() - point - 1);
        return value;
    }

    const QLocale &locale() const { return locale_; }

    std::optional<std::int64_t> dateTime(QStringView text)
    {
        // The date has dateBlanks_ blanks of its own; one more parts it from the time.
        qsizetype split = -1;
        for (int blanks = 0; blanks <= dateBlanks_; ++blanks) {
            split = text.indexOf(QLatin1Char(' '), split + 1);
            if (split < 0)
                return std::nullopt;
        }
        const std::optional<std::int64_t> day = date(text.left(split));
        const std::optional<int> second = time(text.mid(split + 1));
        if (!day || !second)
            return std::nullopt;
        return *day * 86400 + *second;
    }

    std::optional<double> number(QStringView text) const
    {
        QString plain = text.trimmed().toString();
        if (plain.isEmpty())
            return std::nullopt;
        if (minus_ != QLatin1String("-"))
            plain.replace(minus_, QStringLiteral("-"));
        if (decimal_ != QLatin1String("."))
            plain.replace(decimal_, QStringLiteral("."));
        // The C locale's number reading, without group separators; "nan"
        // and "inf" are no readings either.
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double value = c.toDouble(plain, &ok);
        if (!ok || !IsReading(value))
            return std::nullopt;
        return value;
    }

    // Digits after the decimal separator of a fixed-point text.
    int decimals(QStringView text) const
    {
        const qsizetype point = text.indexOf(decimal_);
        if (point < 0 || text.contains(QLatin1Char('E'), Qt::CaseInsensitive))
            return 0;
        return static_cast<int>(text.size() - point - decimal_.size());
    }

private:
    // A 24-hour "13:45:00" read digit by digit; anything else is left to the
    // regional settings.
    static std::optional<int> FixedTime(std::string_view text)
    {
        if (text.size() != 8 || text[2] != ':' || text[5] != ':')
            return std::nullopt;
        int fields[3];
        for (int f = 0; f < 3; ++f) {
            const char tens = text[static_cast<std::size_t>(f * 3)], ones = text[static_cast<std::size_t>(f * 3 + 1)];
            if (tens < '0' || tens > '9' || ones < '0' || ones > '9')
                return std::nullopt;
            fields[f] = (tens - '0') * 10 + (ones - '0');
        }
        if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59)
            return std::nullopt;
        return fields[0] * 3600 + fields[1] * 60 + fields[2];
    }
    std::optional<std::int64_t> date(QStringView text)
    {
        const QString key = text.toString();
        const auto cached = dates_.constFind(key);
        if (cached != dates_.cend())
            return *cached;
        const QDate parsed = locale_.toDate(key, dateFormat_);
        if (!parsed.isValid())
            return std::nullopt;
        const std::int64_t day = QDate(1970, 1, 1).daysTo(parsed);
        dates_.insert(key, day);
        return day;
    }
    std::optional<int> time(QStringView text)
    {
        const QString key = text.toString();
        const auto cached = times_.constFind(key);
        if (cached != times_.cend())
            return *cached;
        const QTime parsed = locale_.toTime(key, timeFormat_);
        if (!parsed.isValid())
            return std::nullopt;
        const int second = parsed.msecsSinceStartOfDay() / 1000;
        times_.insert(key, second);
        return second;
    }

    QLocale locale_;
    QString dateFormat_;
    QString timeFormat_;
    int dateBlanks_;
    QString decimal_;
    QString minus_;
    QHash<QString, std::int64_t> dates_;
    QHash<QString, int> times_;
    bool fastNumbers_ = false;
    bool fixedTime_ = false;
    char decimalByte_ = '.';
    char minusByte_ = '-';
    std::string lastDate_;
    std::int64_t lastDay_ = 0;
    std::unordered_map<std::string, std::int64_t> dateBytes_;
    std::unordered_map<std::string, int> timeBytes_;
};

std::vector<QLocale> DefaultLocales()
{
    return {QLocale::system(), QLocale(QLocale::German, QLocale::Germany),
            QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::English, QLocale::UnitedKingdom),
            QLocale::c()};
}

// The lines of the file as bytes (without line ends), and as text where needed.
struct Lines {
    std::vector<std::string_view> raw;
    std::size_t size() const { return raw.size(); }
    QString text(std::size_t i) const
    {
        return QString::fromLatin1(raw[i].data(), static_cast<qsizetype>(raw[i].size()));
    }
};

Lines SplitLines(const QByteArray &bytes)
{
    Lines lines;
    lines.raw.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        qsizetype stop = end;
        if (stop > start && bytes.at(stop - 1) == '\r')
            --stop;
        lines.raw.emplace_back(bytes.constData() + start, static_cast<std::size_t>(stop - start));
        start = end + 1;
    }
    return lines;
}

// A line as a message shows it: cut to 60 characters, every control
// character written as \xHH, so no message acts on a terminal or breaks a line.
QString Quoted(const QString &line)
{
    constexpr int kShown = 60;
    QString shown;
    for (const QChar c : line.left(kShown)) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            shown += QStringLiteral("\\x%1").arg(static_cast<uint>(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return u'"' + shown + (line.size() > kShown ? QStringLiteral("...") : QString()) + u'"';
}

// One data logger line: date-time, value, gas, alarm, and the empty field after the last ";".
struct LoggerLine {
    std::int64_t time = 0;
    double value = 0;
    std::string_view gas;
    bool alarm = false;
    int decimals = 0;
};

constexpr std::string_view kSeparatorBytes = " ; ; ; ;";

std::optional<LoggerLine> ParseLoggerLine(std::string_view line, LocaleReader &reader)
{
    std::string_view fields[5];
    std::size_t count = 0, start = 0;
    for (;;) {
        const std::size_t end = line.find(';', start);
        if (count == 5)
            return std::nullopt;
        fields[count++] = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (count != 5 || !fields[4].empty())
        return std::nullopt;
    LoggerLine parsed;
    const std::optional<std::int64_t> time = reader.dateTime(fields[0]);
    const std::optional<double> value = reader.number(fields[1], parsed.decimals);
    if (!time || !value)
        return std::nullopt;
    const std::string_view alarm = fields[3];
    if (alarm != "ALARM" && alarm != " ")
        return std::nullopt;
    parsed.time = *time;
    parsed.value = *value;
    parsed.gas = fields[2];
    parsed.alarm = alarm == "ALARM";
    return parsed;
}

bool KnownEventType(QStringView type)
{
    for (int t = 1; t <= 20; ++t) {
        const QString text = EventTypeText(static_cast<std::uint8_t>(t));
        if (!text.isEmpty() && type == text)
            return true;
    }
    return false;
}

std::optional<EventEntry> ParseEventLine(QStringView line, LocaleReader &reader)
{
    const QList<QStringView> fields = line.split(QLatin1Char(';'));
    if (fields.size() != 3 && fields.size() != 10)
        return std::nullopt;
    if (!fields.back().isEmpty())
        return std::nullopt;
    EventEntry entry;
    bool ok = false;
    entry.number = fields[0].toInt(&ok);
    const std::optional<std::int64_t> time = reader.dateTime(fields[1]);
    if (!ok || !time)
        return std::nullopt;
    entry.time = *time;
    if (fields.size() == 3)
        return entry;
    if (!KnownEventType(fields[2]))
        return std::nullopt;
    entry.type = fields[2].toString();
    entry.value = fields[3].toString();
    entry.stel = fields[4].toString();
    entry.twa = fields[5].toString();
    entry.gas = fields[6].toString();
    entry.battery = fields[7].toString();
    entry.mk = fields[8].toString();
    if (entry.isAlarm()) {
        entry.valueNumber = reader.number(fields[3]);
        if (!entry.valueNumber || !reader.number(fields[4]) || !reader.number(fields[5]))
            return std::nullopt;
    }
    return entry;
}

// The regional settings that read the most of the first data lines.
template <typename Parse>
std::unique_ptr<LocaleReader> ChooseLocale(const Lines &lines, const std::vector<QLocale> &locales, Parse parse)
{
    std::unique_ptr<LocaleReader> best;
    int bestCount = -1;
    for (const QLocale &locale : locales) {
        auto reader = std::make_unique<LocaleReader>(locale);
        int count = 0;
        int probed = 0;
        for (std::size_t i = 1; i < lines.size() && probed < kLocaleProbeLines; ++i) {
            if (lines.raw[i].find_first_not_of(" \t") == std::string_view::npos || lines.raw[i] == kSeparatorBytes)
                continue;
            ++probed;
            if (parse(lines, i, *reader))
                ++count;
        }
        if (count > bestCount) {
            bestCount = count;
            best = std::move(reader);
        }
    }
    return best;
}

class ProblemCollector {
public:
    explicit ProblemCollector(LogFile &file) : file_(file) {}
    void bad(std::size_t index, const QString &line, const QString &expected)
    {
        ++file_.badLines;
        if (file_.firstBadLine != 0)
            return;
        file_.firstBadLine = static_cast<int>(index + 1);
        file_.problem = QStringLiteral("%1: line %2 is not %3: %4")
                            .arg(name_.isEmpty() ? QStringLiteral("file") : name_)
                            .arg(index + 1)
                            .arg(expected, Quoted(line));
    }
    // A line of a gas beyond the series a file may have.
    void leftOut(std::size_t index, const QString &line, const QString &gas)
    {
        if (leftOutLines_++ == 0) {
            firstLeftOut_ = gas;
            firstLeftOutLine_ = index + 1;
        }
        bad(index, line, QStringLiteral("a line of one of the first %1 gases").arg(kMostSeries));
    }
    void setName(const QString &name) { name_ = name; }
    void finish()
    {
        if (file_.badLines > 1)
            file_.problem += QStringLiteral(" (%1 lines could not be read)").arg(file_.badLines);
        if (leftOutLines_ > 0)
            file_.problem += QStringLiteral("; only the first %1 gases are shown: %2 lines of more gases left out, "
                                            "the first of them %3 on line %4")
                                 .arg(kMostSeries)
                                 .arg(leftOutLines_)
                                 .arg(Quoted(firstLeftOut_))
                                 .arg(firstLeftOutLine_);
    }

private:
    LogFile &file_;
    QString name_;
    int leftOutLines_ = 0;
    QString firstLeftOut_;
    std::size_t firstLeftOutLine_ = 0;
};

// The most frequent distance between neighbouring samples of a series that
// no separator line parts, in either direction; the smaller on a tie.
std::int64_t MostFrequentDistance(const LoggerSeries &series)
{
    std::unordered_map<std::int64_t, std::size_t> counts;
    for (const LoggerSeries::Run &run : series.runs) {
        for (std::size_t i = run.begin + (run.backwards ? 0 : 1); i < run.end; ++i) {
            if (const std::int64_t distance = std::abs(series.times[i] - series.times[i - 1]); distance > 0)
                ++counts[distance];
        }
    }
    std::int64_t best = 0;
    std::size_t bestCount = 0;
    for (const auto &[distance, count] : counts) {
        if (count > bestCount || (count == bestCount && distance < best)) {
            best = distance;
            bestCount = count;
        }
    }
    return best;
}

// A gas text as a series is named: at most kLongestGasText characters, a
// longer one cut with "…".
QString SeriesName(std::string_view gas)
{
    const bool cut = gas.size() > static_cast<std::size_t>(kLongestGasText);
    const std::string_view kept = cut ? gas.substr(0, static_cast<std::size_t>(kLongestGasText)) : gas;
    QString name = QString::fromLatin1(kept.data(), static_cast<qsizetype>(kept.size()));
    if (cut)
        name += QChar(0x2026);
    return name;
}

void ReadLogger(const Lines &lines, LocaleReader &reader, LogFile &file, ProblemCollector &problems)
{
    // Series by their (cut) gas bytes; the line before's is the likely one,
    // since sets come 15 samples at a time.
    std::unordered_map<std::string_view, std::size_t> seriesOf;
    std::size_t lastSeries = 0;
    std::string_view lastGas;
    int section = 0;
    file.sections = 1;
    const auto newSection = [&] {
        ++section;
        ++file.sections;
    };
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view text = lines.raw[i];
        if (text.empty() && i + 1 == lines.size())
            continue;
        if (text == kSeparatorBytes) {
            newSection();
            continue;
        }
        const std::optional<LoggerLine> line = ParseLoggerLine(text, reader);
        if (!line) {
            problems.bad(i, lines.text(i), QStringLiteral("a data logger line (date and time;value;gas;alarm;)"));
            continue;
        }
        const std::string_view gas = line->gas.substr(0, static_cast<std::size_t>(kLongestGasText) + 1);
        if (file.series.empty() || gas != lastGas) {
            const auto found = seriesOf.find(gas);
            if (found != seriesOf.end()) {
                lastSeries = found->second;
            } else if (file.series.size() < static_cast<std::size_t>(kMostSeries)) {
                lastSeries = file.series.size();
                seriesOf.emplace(gas, lastSeries);
                file.series.push_back(LoggerSeries{SeriesName(line->gas), {}, {}, {}, {}, 0});
            } else {
                problems.leftOut(i, lines.text(i), SeriesName(line->gas));
                continue;
            }
            lastGas = gas;
        }
        ++file.linesRead;
        LoggerSeries &series = file.series[lastSeries];
        // A time that does not go on from the series' last one starts a new
        // section, as a gap in the logging does: a run is always in time order.
        const bool backwards =
            !series.runs.empty() && series.runs.back().section == section && series.times.back() >= line->time;
        if (backwards)
            newSection();
        if (series.runs.empty() || series.runs.back().section != section)
            series.runs.push_back(LoggerSeries::Run{section, series.size(), series.size(), 0, backwards});
        series.times.push_back(line->time);
        series.values.push_back(line->value);
        series.alarms.push_back(line->alarm ? 1 : 0);
        series.decimals = std::max(series.decimals, line->decimals);
        series.runs.back().end = series.size();
    }
    for (LoggerSeries &series : file.series) {
        std::optional<std::int64_t> seriesStep;
        for (LoggerSeries::Run &run : series.runs) {
            run.interval = MostFrequentStep(series.times, run.begin, run.end);
            // A run without a step of its own (one sample, as every line of a
            // file written newest first): the series' most frequent distance
            // between neighbouring lines, in either direction.
            if (run.interval == 0) {
                if (!seriesStep)
                    seriesStep = MostFrequentDistance(series);
                run.interval = *seriesStep;
            }
        }
    }
}

void ReadEvents(const Lines &lines, LocaleReader &reader, LogFile &file, ProblemCollector &problems)
{
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const QString text = lines.text(i);
        if (text.isEmpty() && i + 1 == lines.size())
            continue;
        std::optional<EventEntry> entry = ParseEventLine(text, reader);
        if (!entry) {
            problems.bad(i, text, QStringLiteral("an event line (No;date and time;type;value;STEL;TWA;gas;battery;MK;)"));
            continue;
        }
        ++file.linesRead;
        file.events.push_back(std::move(*entry));
    }
}

} // namespace

std::int64_t WallClockSeconds(const QDateTime &dateTime)
{
    return QDate(1970, 1, 1).daysTo(dateTime.date()) * 86400 + dateTime.time().msecsSinceStartOfDay() / 1000;
}

QDateTime WallClockDateTime(std::int64_t seconds)
{
    const std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int second = static_cast<int>(seconds - days * 86400);
    // In UTC: the wall clock as it is, and no look-up of the system's time
    // zone for every time shown.
    return QDateTime(QDate(1970, 1, 1).addDays(days), QTime::fromMSecsSinceStartOfDay(second * 1000), Qt::UTC);
}

std::int64_t MostFrequentStep(const std::vector<std::int64_t> &times, std::size_t begin, std::size_t end)
{
    std::map<std::int64_t, std::size_t> counts;
    for (std::size_t i = begin + 1; i < end; ++i) {
        const std::int64_t step = times[i] - times[i - 1];
        if (step > 0)
            ++counts[step];
    }
    std::int64_t best = 0;
    std::size_t bestCount = 0;
    for (const auto &[step, count] : counts) {
        if (count > bestCount) {
            best = step;
            bestCount = count;
        }
    }
    return best;
}

LogFile ReadLogFileBytes(const QByteArray &bytes, const QString &name, std::vector<QLocale> locales)
{
    LogFile file;
    file.path = name;
    ProblemCollector problems(file);
    problems.setName(name);
    const Lines lines = SplitLines(bytes);
    const QString first = lines.size() == 0 ? QString() : lines.text(0);
    if (locales.empty())
        locales = DefaultLocales();
    if (first == kLoggerHeaderLine) {
        file.kind = LogFileKind::DataLogger;
        auto reader = ChooseLocale(lines, locales, [](const Lines &all, std::size_t i, LocaleReader &r) {
            return ParseLoggerLine(all.raw[i], r).has_value();
        });
        file.locale = reader->locale();
        ReadLogger(lines, *reader, file, problems);
    } else if (first == kEventHeaderLine) {
        file.kind = LogFileKind::EventLog;
        auto reader = ChooseLocale(lines, locales, [](const Lines &all, std::size_t i, LocaleReader &r) {
            return ParseEventLine(all.text(i), r).has_value();
        });
        file.locale = reader->locale();
        ReadEvents(lines, *reader, file, problems);
    } else {
        problems.bad(0, first,
                     QStringLiteral("the first line of a data logger or event log export file (\"%1\" or \"%2\")")
                         .arg(kLoggerHeaderLine, kEventHeaderLine));
        return file;
    }
    problems.finish();
    return file;
}

LogFile LoggerLogOfDownload(const LoggerExportData &data, const QString &name)
{
    std::vector<QLocale> locales = DefaultLocales();
    locales.insert(locales.begin(), data.locale);
    LogFile file = ReadLogFileBytes(EncodeExportLines(LoggerExportLines(data)), name, locales);
    std::map<std::int64_t, std::int64_t> intervalAt; // first sample of a block -> its interval
    for (const LoggerBlock &block : data.blocks) {
        const QDateTime first = DateTimeFromDays(SekToDateTime(block.header.firstSampleTime));
        if (first.isValid() && block.header.interval > 0)
            intervalAt.emplace(WallClockSeconds(first), block.header.interval);
    }
    for (LoggerSeries &series : file.series) {
        for (LoggerSeries::Run &run : series.runs) {
            const auto found = run.begin < run.end ? intervalAt.find(series.times[run.begin]) : intervalAt.end();
            if (found != intervalAt.end())
                run.interval = found->second;
        }
    }
    return file;
}

LogFile EventLogOfLines(const QStringList &lines, const QLocale &locale, const QString &name)
{
    std::vector<QLocale> locales = DefaultLocales();
    locales.insert(locales.begin(), locale);
    return ReadLogFileBytes(EncodeExportLines(lines), name, locales);
}

LogFile ReadLogFile(const QString &path, std::vector<QLocale> locales)
{
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        LogFile file;
        file.path = path;
        file.problem = QStringLiteral("Cannot open file %1: %2").arg(path, source.errorString());
        return file;
    }
    // Read in place where the file can be mapped into memory: no copy of a
    // hundred megabytes first. The lines are read before the file closes.
    const qint64 size = source.size();
    if (size > 0) {
        if (uchar *mapped = source.map(0, size)) {
            const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size);
            LogFile file = ReadLogFileBytes(bytes, path, std::move(locales));
            source.unmap(mapped);
            return file;
        }
    }
    return ReadLogFileBytes(source.readAll(), path, std::move(locales));
}

} // namespace r310::logs
