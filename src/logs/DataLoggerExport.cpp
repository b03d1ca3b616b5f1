#include "DataLoggerExport.h"

#include <Formats.h>

#include <algorithm>
#include <optional>

namespace r310::logs {

namespace {

// Decides, block by block, where sections begin.
class SectionTracker {
public:
    // Before the block's lines: does the block open a new section?
    bool opensSection(const LoggerBlockHeader &header)
    {
        if (nextSampleTime_ && BreaksSampleSequence(header.firstSampleTime, *nextSampleTime_, header.interval))
            newSection_ = true;
        const bool opens = newSection_;
        newSection_ = false;
        return opens;
    }
    void sampleWritten(std::int32_t time, std::uint16_t interval)
    {
        nextSampleTime_ = std::int64_t{time} + interval;
    }
    void blockDone(const LoggerBlockHeader &header)
    {
        if (header.endsSection())
            newSection_ = true;
    }

private:
    bool newSection_ = true;
    // Where the samples written so far would go on; none before the first.
    std::optional<std::int64_t> nextSampleTime_;
};

QString GasTextOf(const LoggerExportData &data, const LoggerSampleSet &set)
{
    const auto found = data.gasTexts.find(GasTextKey(set.unitCode, set.gasCode));
    return found == data.gasTexts.end() ? QString() : found->second;
}

QString SampleLine(std::int32_t time, const QString &value, const QString &gasText, bool alarm,
                   const QLocale &locale)
{
    return InstrumentSecondsText(time, locale) + u';' + value + u';' + gasText + u';'
         + (alarm ? QStringLiteral("ALARM;") : QStringLiteral(" ;"));
}

} // namespace

QString LoggerSampleValueText(std::int16_t raw, std::int8_t exponent, const QLocale &locale)
{
    const auto boundedExponent = static_cast<std::int8_t>(std::max<int>(exponent, -kMaxSampleDecimals));
    return ValueText(ScaleByExponent(raw, exponent), DecimalsForExponent(boundedExponent), locale);
}

std::int32_t LoggerSampleTime(const LoggerBlockHeader &header, int sample)
{
    // The instrument's seconds are 32 bits wide and wrap as such.
    const std::uint32_t time = static_cast<std::uint32_t>(header.firstSampleTime)
                             + static_cast<std::uint32_t>(sample) * header.interval;
    return static_cast<std::int32_t>(time);
}

bool BreaksSampleSequence(std::int32_t firstSampleTime, std::int64_t expectedTime, std::uint16_t interval)
{
    const std::int64_t distance = std::int64_t{firstSampleTime} - expectedTime;
    return 2 * (distance < 0 ? -distance : distance) > std::int64_t{interval};
}

void ForEachLoggerExportLine(const LoggerExportData &data, const std::function<void(const QString &)> &line)
{
    SectionTracker sections;
    bool fileOpened = false;
    for (const LoggerBlock &block : data.blocks) {
        const LoggerBlockHeader &header = block.header;
        if (sections.opensSection(header)) {
            line(fileOpened ? kLoggerSeparatorLine : kLoggerHeaderLine);
            fileOpened = true;
        }
        if (header.setsReadable()) {
            for (const LoggerSampleSet &set : block.sets) {
                if (!set.valid())
                    continue;
                const QString gasText = GasTextOf(data, set);
                for (int i = 0; i < header.samplesPerSet(); ++i) {
                    const std::int32_t time = LoggerSampleTime(header, i);
                    const QString value =
                        LoggerSampleValueText(set.samples[static_cast<std::size_t>(i)], set.exponent, data.locale);
                    line(SampleLine(time, value, gasText, set.inAlarm(i), data.locale));
                    sections.sampleWritten(time, header.interval);
                }
            }
        }
        sections.blockDone(header);
    }
}

QStringList LoggerExportLines(const LoggerExportData &data)
{
    QStringList lines;
    ForEachLoggerExportLine(data, [&lines](const QString &text) { lines.append(text); });
    return lines;
}

ExportResult WriteLoggerExport(const QString &path, const LoggerExportData &data)
{
    ExportFile file(path);
    ExportResult opened = file.begin();
    if (!opened.ok)
        return opened;
    bool writing = true;
    ForEachLoggerExportLine(data, [&file, &writing](const QString &text) {
        if (writing)
            writing = file.append(text);
    });
    // A failed append is reported by commit, which then leaves the target alone.
    return file.commit();
}

} // namespace r310::logs
