#include "DecodeAnswer.h"

#include "Chksum.h"
#include "Formats.h"
#include "PayloadBytes.h"
#include "SettingsDecoding.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace r310 {

namespace {

constexpr int kCustomerIdOffset = 10;
constexpr int kCustomerIdLength = 10;

StatusReport Running()
{
    return {QStringLiteral("Running"), StatusBackground::Blink};
}

StatusReport Failed()
{
    return {QStringLiteral("Error"), StatusBackground::Red};
}

IdentityValues DecodeIdentity(const std::uint8_t *p)
{
    IdentityValues id;
    id.serialNumber = PayloadI32(p);
    id.mkType = PayloadU16(p + 4);
    id.mkSerialNumber = PayloadU16(p + 6);
    id.softwareVersion = PayloadU16(p + 8);
    id.batteryPercent = p[20];
    id.serialNumberText = FormatSerialNumber(id.serialNumber);
    id.softwareVersionText = FormatSoftwareVersion(id.softwareVersion);
    id.gates = GatesForVersion(id.softwareVersion);
    id.mkTypeText = FormatMkType(id.mkType);
    id.mkSerialNumberText = QString::number(id.mkSerialNumber);
    // Ten characters, ended early by a zero byte.
    const char *text = reinterpret_cast<const char *>(p + kCustomerIdOffset);
    id.customerId = QString::fromLatin1(text, static_cast<qsizetype>(qstrnlen(text, kCustomerIdLength)));
    id.batteryText = QString::number(id.batteryPercent);
    return id;
}

MeasuredValue DecodeValue(const std::uint8_t *p, const InstrumentRecord &record, const QLocale &locale)
{
    MeasuredValue v;
    v.raw = PayloadI16(p);
    // The raw value is a share of the measuring span in 1/10000.
    const std::int64_t product =
        static_cast<std::int64_t>(v.raw) * (static_cast<std::int64_t>(record.RangeEnd) - record.RangeBegin);
    v.rangeValue = static_cast<std::int32_t>(DivideRoundHalfEven(product, 10000));
    v.value = ScaleByExponent(v.rangeValue, record.DecimalExponent);
    v.decimals = ShownDecimalsForExponent(record.DecimalExponent);
    v.text = ValueText(v.value, v.decimals, locale);
    return v;
}

// Object 5. States 2 to 127 change nothing.
void DecodeBumpState(std::int8_t state, InstrumentRecord &record, DecodedAnswer &answer)
{
    answer.bumpState = state;
    if (state == 0) {
        answer.status = StatusReport{QStringLiteral("NEED CAL"), StatusBackground::Red};
        record.BumpTestRunning = false;
    } else if (state < 0) {
        answer.status = Failed();
        record.BumpTestRunning = false;
    } else if (state == 1) {
        answer.status = Running();
        record.BumpTestRunning = true;
    }
}

// Object 6. A zero value means the test is still running; that test comes first.
void DecodeBumpResult(const std::uint8_t *p, InstrumentRecord &record, DecodedAnswer &answer)
{
    BumpTestResult r;
    r.a1 = PayloadI16(p);
    r.a2 = PayloadI16(p + 2);
    r.t50 = PayloadI16(p + 4);
    answer.bumpResult = r;
    if (r.a1 == 0 || r.a2 == 0 || r.t50 == 0) {
        answer.status = Running();
        record.BumpTestRunning = true;
    } else if (r.a1 < 0 || r.a2 < 0 || r.t50 < 0) {
        answer.status = Failed();
        record.BumpTestRunning = false;
    } else {
        answer.status = StatusReport{QStringLiteral("ok A1:%1 A2:%2 T50:%3").arg(r.a1).arg(r.a2).arg(r.t50),
                                     StatusBackground::LimeGreen};
        record.BumpTestRunning = false;
    }
}

// Object 10. While it runs the flag stays as the calibration start set it.
void DecodeCalibrationState(std::int8_t state, InstrumentRecord &record, DecodedAnswer &answer)
{
    answer.calibrationState = state;
    if (state < 0) {
        answer.status = Failed();
        record.CalibrationRunning = false;
    } else if (state == 0) {
        answer.status = Running();
    } else {
        answer.status = StatusReport{QStringLiteral("OK"), StatusBackground::LimeGreen};
        record.CalibrationRunning = false;
    }
}

// A whole answer as the receive assembler accepts it: header, every announced
// byte, and a frame CRC that checks out (zero over the frame with its CRC).
bool HoldsIntactFrame(const ReceiveBuffer &buffer)
{
    const std::uint8_t *bytes = buffer.bytes.data();
    if (buffer.count <= kOffsetLength || !std::equal(kFrameHeader.begin(), kFrameHeader.end(), bytes))
        return false;
    const int length = FrameLength(bytes);
    return length <= kMaxFrame && buffer.count >= length && FrameCrc(bytes, length) == 0;
}

bool IsDecodedHere(std::uint8_t object)
{
    return object == kObjectErrorReport || ObjectPayloadSize(object) > 0;
}

} // namespace

int ObjectPayloadSize(std::uint8_t object)
{
    switch (object) {
    case kObjectIdentity: return kIdentitySize;
    case kObjectClock: return kClockSize;
    case kObjectRange: return kRangeSize;
    case kObjectBumpState: return kBumpStateSize;
    case kObjectBumpResult: return kBumpResultSize;
    case kObjectValue: return kValueSize;
    case kObjectCalibrationState: return kCalibrationStateSize;
    case kObjectSignals: return kSignalsSize;
    case kObjectHardware: return kHardwareSize;
    default: return 0;
    }
}

AnswerFrame AnswerFrameFromBuffer(const ReceiveBuffer &buffer)
{
    AnswerFrame frame;
    frame.bytes = buffer.bytes;
    frame.count = buffer.count;
    frame.object = buffer.bytes[kOffsetObject];
    frame.flags = buffer.bytes[kOffsetFlags];
    frame.intact = HoldsIntactFrame(buffer);
    // The length byte is trusted only as far as a frame can reach.
    const int length = std::min<int>(buffer.bytes[kOffsetLength], kMaxPayload);
    frame.payload.assign(buffer.bytes.begin() + kOffsetPayload,
                         buffer.bytes.begin() + kOffsetPayload + length);
    return frame;
}

AnswerDecoder::AnswerDecoder(DecodeEnvironment environment) : m_environment(std::move(environment)) {}

bool AnswerDecoder::setBranch(std::uint8_t object, AnswerBranch branch)
{
    if (IsDecodedHere(object))
        return false;
    m_branches[object] = std::move(branch);
    return true;
}

DecodedAnswer AnswerDecoder::DecodeAnswer(ReceiveBuffer &buffer, InstrumentRecord &record) const
{
    const AnswerFrame frame = AnswerFrameFromBuffer(buffer);
    buffer.count = 0;
    return Decode(frame, record);
}

DecodedAnswer AnswerDecoder::Decode(const ReceiveBuffer &snapshot, InstrumentRecord &record) const
{
    return Decode(AnswerFrameFromBuffer(snapshot), record);
}

DecodedAnswer AnswerDecoder::Decode(const AnswerFrame &frame, InstrumentRecord &record) const
{
    DecodedAnswer answer;
    answer.object = frame.object;
    answer.flags = frame.flags;

    // Remains of an earlier answer, or a damaged one, are no answer: an error
    // report among them would otherwise be counted twice.
    if (!frame.intact) {
        answer.frameIntact = false;
        return answer;
    }
    // The instrument's error report is counted whatever its flags say.
    if (frame.object == kObjectErrorReport) {
        ++record.ErrorAnswerCount;
        answer.errorReport = true;
        answer.errorCountText = QStringLiteral("ERROR Count= %1").arg(record.ErrorAnswerCount);
        return answer;
    }
    if (frame.flags != kFlagsDataAnswer)
        return answer;

    const int size = ObjectPayloadSize(frame.object);
    if (size == 0) {
        // Objects decoded elsewhere (the logs), or without a branch at all.
        const auto branch = m_branches.find(frame.object);
        if (branch != m_branches.end() && branch->second) {
            branch->second(frame, record);
            answer.evaluated = true;
        }
        return answer;
    }
    if (static_cast<int>(frame.payload.size()) < size) {
        answer.shortPayload = true;
        return answer;
    }

    const std::uint8_t *p = frame.payload.data();
    const QLocale &locale = m_environment.locale;
    switch (frame.object) {
    case kObjectIdentity:
        answer.identity = DecodeIdentity(p);
        record.SoftwareVersion = answer.identity->softwareVersion;
        record.SerialNumber = answer.identity->serialNumber;
        record.IdentityRead = true;
        answer.unchangedGroup = SettingsGroup::CustomerId;
        break;
    case kObjectClock: {
        ClockValues clock;
        clock.instrumentSeconds = PayloadI32(p);
        clock.rawSeconds = PayloadU32(p);
        clock.instrumentText = InstrumentSecondsText(clock.instrumentSeconds, locale);
        clock.pcTime = m_environment.now ? m_environment.now() : QDateTime::currentDateTime();
        clock.pcText = DateTimeText(clock.pcTime, locale);
        answer.clock = clock;
        break;
    }
    case kObjectValue:
        answer.value = DecodeValue(p, record, locale);
        break;
    case kObjectBumpState:
        DecodeBumpState(static_cast<std::int8_t>(p[0]), record, answer);
        break;
    case kObjectBumpResult:
        DecodeBumpResult(p, record, answer);
        break;
    case kObjectCalibrationState:
        DecodeCalibrationState(static_cast<std::int8_t>(p[0]), record, answer);
        break;
    case kObjectRange:
        answer.range = DecodeRangeAlarmSettings(p, locale, m_environment.gasTexts);
        record.DecimalExponent = answer.range->exponent;
        record.RangeEnd = answer.range->rangeEnd;
        record.RangeBegin = answer.range->rangeBegin;
        record.GasCode = answer.range->gasCode;
        record.UnitCode = answer.range->unitCode;
        record.RangeRead = true;
        answer.unchangedGroup = SettingsGroup::Limits;
        break;
    case kObjectSignals:
        answer.signalSettings = DecodeSignalSettings(p, locale);
        answer.unchangedGroup = SettingsGroup::Signals;
        break;
    case kObjectHardware:
        answer.hardware = DecodeHardwareSettings(p, GatesForVersion(record.SoftwareVersion), locale);
        answer.unchangedGroup = SettingsGroup::Hardware;
        break;
    default:
        return answer;
    }
    answer.evaluated = true;
    return answer;
}

} // namespace r310
