// The export files' lines from arbitrary payloads: event records (the lines
// of the event log export) and data logger block headers with their sample
// sets (the lines of the data logger export), in German or English regional
// settings with the real gas table, then encoded to the file's 8-bit bytes.
//
// Input: a mode byte (bit 0: German), an event count byte (modulo 9), per
// event its line number (2 bytes) and its 18 record bytes; a block count
// byte (modulo 6), per block its 17 header bytes and, when the header makes
// the block readable, one 39-byte sample set for each of its sets; the rest
// is a serial number text for the proposed file name and a free line for
// the encoder. Bytes missing at the end count as zeros.
//
// Checked: every event line has its number and exactly the columns of its
// kind (no text brings a separator of its own); the logger lines are the
// header, a separator at each new section and one line of four columns per
// sample of every valid set of every readable block; the streamed and the
// listed logger lines agree; the file bytes hold exactly one CR LF per line
// and no other line break; a proposed file name holds no character a file
// name must not have.
#include "FuzzGasTable.h"
#include "FuzzInput.h"

#include <DataLoggerExport.h>
#include <EventLog.h>
#include <ExportFile.h>
#include <LoggerRecords.h>

#include <QDate>

#include <cstring>
#include <string>

namespace {

using namespace r310;
using namespace r310::logs;
using r310::fuzz::FuzzInput;

constexpr int kMaxEvents = 8;
constexpr int kMaxBlocks = 5;
// Columns separators of an event line: alarm and device events fill every
// column; any other type has the number and the time only.
constexpr int kFullEventSeparators = 9;
constexpr int kBareEventSeparators = 2;
constexpr int kSampleSeparators = 4;

bool IsKnownEventType(std::uint8_t type)
{
    return !EventTypeText(type).isEmpty();
}

QStringList EventLines(FuzzInput &input, const EventLineFormat &format)
{
    QStringList lines;
    const int count = input.byte() % (kMaxEvents + 1);
    for (int i = 0; i < count; ++i) {
        const int lineNumber = input.u16();
        const std::vector<std::uint8_t> bytes = input.padded(kEventRecordSize);
        EventRecordBytes event{};
        std::copy(bytes.begin(), bytes.end(), event.begin());
        FormatEventLine(event, lines, lineNumber, format);
        const QString &line = lines.back();
        FUZZ_CHECK(line.startsWith(QString::number(lineNumber) + u';'));
        const int separators = IsKnownEventType(event[2]) ? kFullEventSeparators : kBareEventSeparators;
        FUZZ_CHECK(line.count(u';') == separators);
    }
    FUZZ_CHECK(lines.size() == (count == 0 ? 0 : count + 1));
    if (count > 0)
        FUZZ_CHECK(lines.front() == kEventHeaderLine);
    return lines;
}

LoggerExportData LoggerData(FuzzInput &input, const QLocale &locale)
{
    LoggerExportData data;
    data.locale = locale;
    const GasTable &gasTable = fuzz::FuzzGasTable();
    const int count = input.byte() % (kMaxBlocks + 1);
    for (int b = 0; b < count; ++b) {
        LoggerBlock block;
        block.header = *DecodeLoggerBlockHeader(input.padded(kLoggerBlockHeaderSize));
        if (block.header.setsReadable()) {
            for (int k = 0; k < block.header.setCount; ++k) {
                block.sets.push_back(*DecodeLoggerSampleSet(input.padded(kLoggerSampleSetSize)));
                const LoggerSampleSet &set = block.sets.back();
                if (set.valid())
                    data.gasTexts.emplace(GasTextKey(set.unitCode, set.gasCode),
                                          gasTable.GasTexts(set.unitCode, set.gasCode));
            }
        }
        data.blocks.push_back(std::move(block));
    }
    return data;
}

int ExpectedSampleLines(const LoggerExportData &data)
{
    int lines = 0;
    for (const LoggerBlock &block : data.blocks) {
        if (!block.header.setsReadable())
            continue;
        for (const LoggerSampleSet &set : block.sets)
            lines += set.valid() ? block.header.samplesPerSet() : 0;
    }
    return lines;
}

QStringList LoggerLines(const LoggerExportData &data)
{
    QStringList streamed;
    ForEachLoggerExportLine(data, [&streamed](const QString &line) { streamed.append(line); });
    FUZZ_CHECK(streamed == LoggerExportLines(data));
    FUZZ_CHECK(streamed.isEmpty() == data.blocks.empty());
    if (streamed.isEmpty())
        return streamed;
    FUZZ_CHECK(streamed.front() == kLoggerHeaderLine);
    int samples = 0;
    for (qsizetype i = 1; i < streamed.size(); ++i) {
        const QString &line = streamed.at(i);
        FUZZ_CHECK(line != kLoggerHeaderLine);
        if (line == kLoggerSeparatorLine)
            continue;
        ++samples;
        FUZZ_CHECK(line.count(u';') == kSampleSeparators);
        FUZZ_CHECK(line.endsWith(QStringLiteral("ALARM;")) || line.endsWith(QStringLiteral(" ;")));
    }
    FUZZ_CHECK(samples == ExpectedSampleLines(data));
    return streamed;
}

void CheckFileBytes(const QStringList &lines)
{
    const QByteArray bytes = EncodeExportLines(lines);
    FUZZ_CHECK(bytes.count("\r\n") == lines.size());
    FUZZ_CHECK(bytes.count('\r') == lines.size() && bytes.count('\n') == lines.size());
    FUZZ_CHECK(lines.isEmpty() || bytes.endsWith("\r\n"));
}

void CheckFileName(const QString &serialNumber)
{
    const QString name = ProposedEventFileName(serialNumber, QDate(2008, 12, 24));
    FUZZ_CHECK(name.startsWith(QStringLiteral("Evt")));
    for (const QChar c : name)
        FUZZ_CHECK(c.isLetterOrNumber() || c == u'-' || c == u'_');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const bool german = (input.byte() & 1) != 0;
    const QLocale &locale = german ? fuzz::GermanLocale() : fuzz::EnglishLocale();

    const QStringList eventLines = EventLines(input, EventLineFormat{locale, fuzz::FuzzGasTexts()});
    CheckFileBytes(eventLines);
    const QStringList loggerLines = LoggerLines(LoggerData(input, locale));
    CheckFileBytes(loggerLines);

    // The rest as UTF-16 text, unpaired surrogates and line breaks included.
    const std::vector<std::uint8_t> rest = input.rest();
    std::u16string units(rest.size() / 2, u'\0');
    if (!units.empty())
        std::memcpy(units.data(), rest.data(), units.size() * sizeof(char16_t));
    const QString text = QString::fromStdU16String(units);
    CheckFileName(text);
    CheckFileBytes({text});
    return 0;
}
