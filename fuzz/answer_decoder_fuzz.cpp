// The answer decoder fed arbitrary answers with a good checksum, for every
// object the instrument has (the log objects with the branches every front
// end installs, and the event download's capture of object 34), in German
// and English regional settings with the real gas table.
//
// Input: a sequence of answers, each an object byte, a control byte and the
// payload. Control bits 0 to 6 modulo 65: the payload length; bit 7: a
// flags byte follows (else 0xC0, a data answer). The answers go through the
// receive assembler into the decoder one after the other, so that earlier
// answers (range, identity) shape the decoding of later ones (value,
// hardware) as on a real connection.
//
// Checked: every answer assembles; decoding empties the buffer; the decoded
// values and the instrument record do not depend on the regional settings;
// value texts use the locale's decimal separator and no group separator; an
// event answer is captured exactly when it is a whole event for an entry
// of the table; the log records decode from exactly the answers the
// download takes.
#include "FuzzGasTable.h"
#include "FuzzInput.h"

#include <DecodeAnswer.h>
#include <DecodedValues.h>
#include <EventLog.h>
#include <EventLogJobs.h>
#include <LogDecoders.h>
#include <LoggerRecords.h>
#include <R310_typ.h>

#include <optional>

namespace {

using namespace r310;
using namespace r310::logs;
using r310::fuzz::FuzzInput;

// The event table never grows beyond this here, to keep each input quick;
// Prepare itself bounds larger counts.
constexpr int kMaxFuzzEvents = 256;

QDateTime FixedNow()
{
    return QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::LocalTime);
}

// One connection's decoding state in one regional setting.
struct Session {
    explicit Session(const QLocale &locale)
        : decoder(DecodeEnvironment{locale, fuzz::FuzzGasTexts(), &FixedNow})
    {
        InstallLogDecoders(decoder);
        capture.emplace(decoder, events);
    }

    AnswerDecoder decoder;
    InstrumentRecord record;
    EventTable events;
    std::optional<EventCapture> capture;
};

struct Answer {
    std::uint8_t object = 0;
    std::uint8_t flags = kFlagsDataAnswer;
    std::vector<std::uint8_t> payload;
};

Answer NextAnswer(FuzzInput &input)
{
    Answer answer;
    answer.object = input.byte();
    const std::uint8_t control = input.byte();
    if (control & 0x80)
        answer.flags = input.byte();
    answer.payload = input.bytes((control & 0x7F) % (kMaxPayload + 1));
    return answer;
}

// The frame's bytes through the assembler: a good answer, or nothing for a
// frame without the response bit (a request, which the assembler drops).
std::optional<ReceiveBuffer> Assemble(const std::vector<std::uint8_t> &frame)
{
    ReceiveBuffer buffer;
    std::int32_t status = kAssembleIncomplete;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        status = AssembleByte(frame[i], buffer);
        FUZZ_CHECK(i + 1 == frame.size() || status == kAssembleIncomplete);
    }
    if ((frame[kOffsetFlags] & kFlagResponseBit) == 0) {
        FUZZ_CHECK(status == kAssembleIncomplete);
        return std::nullopt;
    }
    FUZZ_CHECK(status == kAssembleGood);
    return buffer;
}

// Numbers shown with the locale's decimal separator and never grouped.
void CheckValueText(const QString &text, const QLocale &locale)
{
    FUZZ_CHECK(!text.isEmpty());
    const QChar foreign = locale.decimalPoint() == QLatin1String(",") ? u'.' : u',';
    FUZZ_CHECK(!text.contains(foreign));
}

void CheckTexts(const DecodedAnswer &answer, const QLocale &locale)
{
    if (answer.value)
        CheckValueText(answer.value->text, locale);
    if (answer.range) {
        for (const AlarmLimit &limit : answer.range->limits)
            CheckValueText(limit.text, locale);
        CheckValueText(answer.range->rangeEndText, locale);
        CheckValueText(answer.range->calibrationGasText, locale);
        CheckValueText(answer.range->zeroPointVoltageText, locale);
        CheckValueText(answer.range->fullScaleVoltageText, locale);
    }
    if (answer.hardware) {
        CheckValueText(answer.hardware->zeroPointText, locale);
        CheckValueText(answer.hardware->gainText, locale);
        CheckValueText(answer.hardware->referenceVoltageText, locale);
    }
    if (answer.identity)
        FUZZ_CHECK(answer.identity->customerId.size() <= 10);
    if (answer.clock)
        FUZZ_CHECK(!answer.clock->instrumentText.isEmpty() && !answer.clock->pcText.isEmpty());
}

// The log objects as the front ends and the downloads take them from the answer.
void TakeLogRecords(const AnswerFrame &frame, bool intactData)
{
    const std::size_t size = frame.payload.size();
    const auto properties = DecodeEventProperties(frame);
    FUZZ_CHECK(properties.has_value()
               == (intactData && frame.object == kObjectEventProperties && size >= kEventPropertiesSize));
    if (properties)
        EventPropertiesText(*properties);

    const auto info = LoggerInfoFromAnswer(frame);
    FUZZ_CHECK(info.has_value() == (intactData && frame.object == kObjectLoggerInfo && size >= kLoggerInfoSize));
    if (info) {
        info->fieldTexts();
        const LoggerInfo::Bytes changed = info->withInterval(static_cast<std::uint16_t>(info->interval() + 1));
        FUZZ_CHECK(LoggerInfo(changed).interval() == static_cast<std::uint16_t>(info->interval() + 1));
        FUZZ_CHECK(LoggerInfo(changed).blockCount() == info->blockCount());
    }

    const auto header = LoggerBlockHeaderFromAnswer(frame);
    FUZZ_CHECK(header.has_value()
               == (intactData && frame.object == kObjectLoggerBlock && size >= kLoggerBlockHeaderSize));
    if (header)
        FUZZ_CHECK(header->samplesPerSet() >= 0 && header->samplesPerSet() <= kSamplesPerSet);

    const auto set = LoggerSampleSetFromAnswer(frame);
    FUZZ_CHECK(set.has_value()
               == (intactData && frame.object == kObjectLoggerSampleSet && size >= kLoggerSampleSetSize));
}

// Decodes one answer in a session; the event capture expects entry `entry`.
DecodedAnswer DecodeIn(Session &session, const ReceiveBuffer &received, int entry, const QLocale &locale)
{
    ReceiveBuffer buffer = received;
    const AnswerFrame frame = AnswerFrameFromBuffer(buffer);
    FUZZ_CHECK(frame.intact);
    const bool eventAnswer = frame.object == kObjectEventRecord;
    if (eventAnswer)
        session.capture->Expect(entry);
    const DecodedAnswer answer = session.decoder.DecodeAnswer(buffer, session.record);
    FUZZ_CHECK(buffer.count == 0);
    FUZZ_CHECK(answer.frameIntact);
    FUZZ_CHECK(answer.errorReport == (frame.object == kObjectErrorReport));
    CheckTexts(answer, locale);

    const bool intactData = frame.flags == kFlagsDataAnswer;
    if (eventAnswer) {
        const bool wholeEvent = intactData && frame.payload.size() >= static_cast<std::size_t>(kEventRecordSize);
        const bool entryInTable = entry >= 0 && entry < session.events.size();
        FUZZ_CHECK(session.capture->Stored() == (wholeEvent && entryInTable));
        if (entryInTable)
            FUZZ_CHECK(session.events.at(entry).has_value() == wholeEvent);
    }
    TakeLogRecords(frame, intactData);

    // The download prepares its table from the counters.
    if (const auto properties = DecodeEventProperties(frame))
        session.events.Prepare(std::min<int>(properties->count, kMaxFuzzEvents));
    return answer;
}

bool SameRecord(const InstrumentRecord &a, const InstrumentRecord &b)
{
    return a.DecimalExponent == b.DecimalExponent && a.RangeBegin == b.RangeBegin && a.RangeEnd == b.RangeEnd
           && a.SoftwareVersion == b.SoftwareVersion && a.CalibrationRunning == b.CalibrationRunning
           && a.BumpTestRunning == b.BumpTestRunning && a.ErrorAnswerCount == b.ErrorAnswerCount;
}

void CompareAcrossLocales(const DecodedAnswer &german, const DecodedAnswer &english)
{
    FUZZ_CHECK(german.evaluated == english.evaluated);
    FUZZ_CHECK(german.shortPayload == english.shortPayload);
    FUZZ_CHECK(german.unchangedGroup == english.unchangedGroup);
    FUZZ_CHECK(german.value.has_value() == english.value.has_value());
    if (german.value) {
        FUZZ_CHECK(german.value->rangeValue == english.value->rangeValue);
        FUZZ_CHECK(german.value->decimals == english.value->decimals);
    }
    FUZZ_CHECK(german.range.has_value() == english.range.has_value());
    if (german.range)
        FUZZ_CHECK(german.range->gasText == english.range->gasText);
    FUZZ_CHECK(german.status.has_value() == english.status.has_value());
    if (german.status)
        FUZZ_CHECK(german.status->text == english.status->text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    Session german(fuzz::GermanLocale());
    Session english(fuzz::EnglishLocale());
    int eventAnswers = 0;
    while (!input.empty()) {
        const Answer answer = NextAnswer(input);
        const std::optional<ReceiveBuffer> received =
            Assemble(EncodeFrame(answer.object, answer.flags, answer.payload));
        if (!received)
            continue;
        // Entries in turn, and once past the end of the table.
        const int entry = answer.object == kObjectEventRecord ? eventAnswers++ % (german.events.size() + 1) : 0;
        const DecodedAnswer inGerman = DecodeIn(german, *received, entry, fuzz::GermanLocale());
        const DecodedAnswer inEnglish = DecodeIn(english, *received, entry, fuzz::EnglishLocale());
        CompareAcrossLocales(inGerman, inEnglish);
        FUZZ_CHECK(SameRecord(german.record, english.record));
    }
    // The export lines of whatever events were captured.
    for (Session *session : {&german, &english}) {
        const EventLineFormat format{session->decoder.environment().locale, session->decoder.environment().gasTexts};
        const QStringList lines = EventExportLines(session->events, format);
        FUZZ_CHECK(lines.size() == 1 + session->events.filledCount());
    }
    return 0;
}
