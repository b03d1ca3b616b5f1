#include "LogFileReader.h"

#include "DataLoggerExport.h"
#include "EventLog.h"

#include <Formats.h>
#include <SekDate.h>

#include <QFile>
#include <QHash>
#include <QStringView>

#include <algorithm>
#include <map>
#include <memory>

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
        bool ok = false;
        const double value = QLocale::c().toDouble(plain, &ok);
        if (!ok)
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
};

std::vector<QLocale> DefaultLocales()
{
    return {QLocale::system(), QLocale(QLocale::German, QLocale::Germany),
            QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::English, QLocale::UnitedKingdom),
            QLocale::c()};
}

struct Lines {
    std::vector<QString> text; // without line ends
};

Lines SplitLines(const QByteArray &bytes)
{
    Lines lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        qsizetype stop = end;
        if (stop > start && bytes.at(stop - 1) == '\r')
            --stop;
        lines.text.push_back(QString::fromLatin1(bytes.constData() + start, stop - start));
        start = end + 1;
    }
    return lines;
}

QString Quoted(const QString &line)
{
    constexpr int kShown = 60;
    return u'"' + (line.size() > kShown ? line.left(kShown) + QStringLiteral("...") : line) + u'"';
}

// One data logger line: date-time, value, gas, alarm, and the empty field after the last ";".
struct LoggerLine {
    std::int64_t time = 0;
    double value = 0;
    QStringView gas;
    bool alarm = false;
    int decimals = 0;
};

std::optional<LoggerLine> ParseLoggerLine(QStringView line, LocaleReader &reader)
{
    const QList<QStringView> fields = line.split(QLatin1Char(';'));
    if (fields.size() != 5 || !fields[4].isEmpty())
        return std::nullopt;
    const std::optional<std::int64_t> time = reader.dateTime(fields[0]);
    const std::optional<double> value = reader.number(fields[1]);
    if (!time || !value)
        return std::nullopt;
    const QStringView alarm = fields[3];
    if (alarm != QLatin1String("ALARM") && alarm != QLatin1String(" "))
        return std::nullopt;
    return LoggerLine{*time, *value, fields[2], alarm == QLatin1String("ALARM"), reader.decimals(fields[1])};
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

bool IsBlankLine(const QString &line) { return line.trimmed().isEmpty(); }

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
        for (std::size_t i = 1; i < lines.text.size() && probed < kLocaleProbeLines; ++i) {
            if (IsBlankLine(lines.text[i]) || lines.text[i] == kLoggerSeparatorLine)
                continue;
            ++probed;
            if (parse(lines.text[i], *reader))
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
    void setName(const QString &name) { name_ = name; }
    void finish()
    {
        if (file_.badLines > 1)
            file_.problem += QStringLiteral(" (%1 lines could not be read)").arg(file_.badLines);
    }

private:
    LogFile &file_;
    QString name_;
};

void ReadLogger(const Lines &lines, LocaleReader &reader, LogFile &file, ProblemCollector &problems)
{
    std::map<QString, std::size_t> seriesOf;
    std::size_t lastSeries = 0;
    QString lastGas;
    int section = 0;
    file.sections = 1;
    for (std::size_t i = 1; i < lines.text.size(); ++i) {
        const QString &text = lines.text[i];
        if (text.isEmpty() && i + 1 == lines.text.size())
            continue;
        if (text == kLoggerSeparatorLine) {
            ++section;
            ++file.sections;
            continue;
        }
        const std::optional<LoggerLine> line = ParseLoggerLine(text, reader);
        if (!line) {
            problems.bad(i, text, QStringLiteral("a data logger line (date and time;value;gas;alarm;)"));
            continue;
        }
        ++file.linesRead;
        // Sets come 15 samples at a time, so the series of the line before is the likely one.
        const auto goesOn = [&](std::size_t index) {
            const LoggerSeries &candidate = file.series[index];
            return candidate.runs.empty() || candidate.runs.back().section != section
                || candidate.times.back() < line->time;
        };
        if (file.series.empty() || line->gas != lastGas || !goesOn(lastSeries)) {
            lastGas = line->gas.toString();
            // Two sets of one gas in a block repeat the block's times: the
            // second set is a series of its own, "ppm CO (2)".
            for (int lane = 1;; ++lane) {
                const QString name = lane == 1 ? lastGas : QStringLiteral("%1 (%2)").arg(lastGas).arg(lane);
                auto found = seriesOf.find(name);
                if (found == seriesOf.end()) {
                    found = seriesOf.emplace(name, file.series.size()).first;
                    file.series.push_back(LoggerSeries{name, {}, {}, {}, {}, 0});
                }
                if (goesOn(found->second)) {
                    lastSeries = found->second;
                    break;
                }
            }
        }
        LoggerSeries &series = file.series[lastSeries];
        if (series.runs.empty() || series.runs.back().section != section)
            series.runs.push_back(LoggerSeries::Run{section, series.size(), series.size(), 0});
        series.times.push_back(line->time);
        series.values.push_back(line->value);
        series.alarms.push_back(line->alarm ? 1 : 0);
        series.decimals = std::max(series.decimals, line->decimals);
        series.runs.back().end = series.size();
    }
    for (LoggerSeries &series : file.series) {
        for (LoggerSeries::Run &run : series.runs)
            run.interval = MostFrequentStep(series.times, run.begin, run.end);
    }
}

void ReadEvents(const Lines &lines, LocaleReader &reader, LogFile &file, ProblemCollector &problems)
{
    for (std::size_t i = 1; i < lines.text.size(); ++i) {
        const QString &text = lines.text[i];
        if (text.isEmpty() && i + 1 == lines.text.size())
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
    return QDateTime(QDate(1970, 1, 1).addDays(days), QTime::fromMSecsSinceStartOfDay(second * 1000));
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
    const QString first = lines.text.empty() ? QString() : lines.text.front();
    if (locales.empty())
        locales = DefaultLocales();
    if (first == kLoggerHeaderLine) {
        file.kind = LogFileKind::DataLogger;
        auto reader = ChooseLocale(lines, locales, [](const QString &line, LocaleReader &r) {
            return ParseLoggerLine(line, r).has_value();
        });
        file.locale = reader->locale();
        ReadLogger(lines, *reader, file, problems);
    } else if (first == kEventHeaderLine) {
        file.kind = LogFileKind::EventLog;
        auto reader = ChooseLocale(lines, locales, [](const QString &line, LocaleReader &r) {
            return ParseEventLine(line, r).has_value();
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
    return ReadLogFileBytes(source.readAll(), path, std::move(locales));
}

} // namespace r310::logs
