#include "Device.h"

#include "History.h"

#include <Chksum.h>

#include <algorithm>
#include <cmath>

namespace r310::sim {

namespace {

constexpr std::size_t kMaxPayloadBytes = kMaxPayload;

bool IsLogObject(std::uint8_t object)
{
    return object >= object::kEventRecord && object <= object::kLoggerSampleSet;
}

bool IsKnownObject(std::uint8_t object)
{
    switch (object) {
    case object::kConnect: case object::kIdentity: case object::kClock: case object::kRange:
    case object::kBumpState: case object::kBumpResult: case object::kValue: case object::kHorn:
    case object::kCalibrationStart: case object::kCalibrationState: case object::kFactorySetup:
    case object::kSignals: case object::kHardware: case object::kEventRecord: case object::kEventProperties:
    case object::kLoggerInfo: case object::kLoggerBlock: case object::kLoggerSampleSet: case object::kService:
        return true;
    default:
        return false;
    }
}

Frame MakeFrame(std::uint8_t object, std::uint8_t flags, Bytes payload)
{
    Frame f;
    f.object = object;
    f.flags = flags;
    f.payload = std::move(payload);
    return f;
}

// What a clock read answers: the running clock, or the count a stopped one stands at.
std::int32_t ClockReading(const DeviceState &state, std::int64_t instrumentSeconds)
{
    return static_cast<std::int32_t>(state.stoppedClock ? *state.stoppedClock : instrumentSeconds);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

Device::Device(const Scenario &scenario, std::shared_ptr<const Clock> clock)
    : scenario_(scenario), clock_(std::move(clock)), plan_(scenario.faults), random_(scenario.seed),
      gas_(scenario.t90Seconds)
{
    pacing_ = scenario.pacing;
    turnaroundMicros_ = std::int64_t{scenario.turnaroundMillis} * 1000;
    rxFreeAt_ = txFreeAt_ = lastByteAt_ = clock_->nowMicros();

    Identity &id = state_.identity;
    id.serialNumber = scenario.serialNumber;
    id.mkType = scenario.mkType;
    id.mkSerial = scenario.mkSerial;
    id.softwareVersion = scenario.softwareVersion;
    id.customerId = CustomerIdField(scenario.customerId);
    id.battery = scenario.battery;
    state_.clockOffsetSeconds = scenario.clockOffsetSeconds;
    if (scenario.clockStoppedAt >= 0)
        state_.stoppedClock = static_cast<std::uint32_t>(scenario.clockStoppedAt);

    RangeSettings &r = state_.range;
    r.rangeBegin = scenario.rangeBegin;
    r.rangeEnd = scenario.rangeEnd;
    r.gasCode = scenario.gasCode;
    r.unitCode = scenario.unitCode;
    r.exponent = scenario.exponent;
    r.zeroVoltage = scenario.zeroVoltage;
    r.fullScaleVoltage = scenario.fullScaleVoltage;

    const std::int64_t now = instrumentSeconds();
    state_.events = GenerateEventLog(scenario, now);
    state_.logger = GenerateDataLogger(scenario, now);
    state_.events.reportedCounters = scenario.eventCounters;
    state_.logger.reportedCounters = scenario.loggerCounters;
    restoreFactorySettings();

    const std::string &bump = scenario.bump;
    if (bump == "running")
        startBumpTest();
    else if (bump == "needcal")
        state_.bump.state = 0;
    else if (bump == "error") {
        state_.bump.state = -1;
        state_.bump.result = {{-1, -1, -1}};
    }
}

void Device::restoreFactorySettings()
{
    const Scenario &s = scenario_;
    RangeSettings &r = state_.range;
    r.thresholds = s.thresholds;
    for (int i = 0; i < 5; ++i)
        r.alarmFlags[i] = s.alarmFlags[i] & 0x07;
    r.calibrationGas = s.calibrationGas;

    const auto today = static_cast<std::int16_t>(FloorDiv(instrumentSeconds(), 86400));
    SignalSettings &g = state_.signalSettings;
    g.signalModes = s.signalModes;
    g.bleepInterval = s.bleepInterval;
    g.displayOptions = s.displayOptions & 0x7F;
    g.nextBumpDay = static_cast<std::int16_t>(today + s.nextBumpInDays);
    g.nextCalDay = static_cast<std::int16_t>(today + s.nextCalInDays);
    g.bumpIntervalDays = s.bumpIntervalDays;
    g.calIntervalDays = s.calIntervalDays;
    g.serviceOptions = s.serviceOptions & 0x0F;

    HardwareSettings &h = state_.hardware;
    h.zeroPoint = s.hwZeroPoint;
    h.gain = s.hwGain;
    h.reference = s.hwReference;
    h.options = s.hwOptions & HardwareOptionMask(state_.identity.softwareVersion);

    state_.logger.info.interval = s.loggerInterval;
}

void Device::startBumpTest()
{
    state_.bump.state = 1;
    state_.bump.readsLeft = scenario_.bumpReads;
    state_.bump.result = {{28, 55, 12}};
}

void Device::setFaults(const FaultPlan &plan)
{
    plan_ = plan;
    requestsSincePlan_ = 0;
    logRequests_ = 0;
    lineDown_ = false;
    lineDownLeft_ = 0;
}

std::int64_t Device::instrumentSeconds() const
{
    return clock_->localSeconds() + state_.clockOffsetSeconds;
}

std::int16_t Device::liveValue() const
{
    const long span = long{state_.range.rangeEnd} - state_.range.rangeBegin;
    if (span == 0)
        return 0;
    // A slow drift around the baseline plus a small step that changes each
    // second; like a real sensor display it stays within the measuring range.
    const double seconds = static_cast<double>(clock_->nowMicros()) / 1e6;
    const auto second = static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(seconds)));
    std::uint32_t h = (second ^ scenario_.seed) * 2654435761u;
    h ^= h >> 15;
    const double noise = (static_cast<double>(h % 1001) / 1000.0 - 0.5);
    const double wandering = scenario_.value + scenario_.valueSwing * std::sin(seconds * 2 * 3.14159265358979 / 90.0) + noise;
    const double low = std::min(state_.range.rangeBegin, state_.range.rangeEnd);
    const double high = std::max(state_.range.rangeBegin, state_.range.rangeEnd);
    const double gas = std::clamp(wandering + zeroOffset_ + shownGas(clock_->nowMicros()), low, high);
    // The answer is the gas value as a share of the span: the configurator
    // multiplies it by the span again and adds nothing for the range begin.
    const double share = gas * 10000.0 / static_cast<double>(span);
    return static_cast<std::int16_t>(std::lround(std::clamp(share, -32768.0, 32767.0)));
}

double Device::shownGas(std::int64_t now) const
{
    double shown = gas_.response(now) * spanGain_;
    if (state_.calibration.started > 0 && !state_.calibration.zero)
        shown *= scenario_.sensorResponsePercent / 100.0 * (1 + scenario_.spanDriftPercent / 100.0);
    return shown;
}

void Device::tickGas(std::int64_t now)
{
    if (gasRemovedAt_ >= 0 && now >= gasRemovedAt_) {
        gas_.remove(gasRemovedAt_);
        gasRemovedAt_ = -1;
    }
}

bool Device::finishBumpWithGas(std::int64_t now)
{
    BumpProcess &bump = state_.bump;
    const double factor = spanGain_ * (scenario_.bumpFails ? 0 : 1);
    const auto reach = [this, factor](double level) -> std::optional<double> {
        if (factor <= 0)
            return std::nullopt;
        return gas_.secondsToReach(level / factor);
    };
    const std::optional<double> times[3] = {reach(state_.range.thresholds[0]), reach(state_.range.thresholds[1]),
                                            reach(gas_.concentration() / 2)};
    double needed = 0;
    for (const std::optional<double> &t : times)
        needed = std::max(needed, t ? *t : 2 * gas_.t90());
    if (gas_.secondsApplied(now) < needed)
        return false;
    for (int i = 0; i < 3; ++i)
        bump.result[static_cast<std::size_t>(i)] =
            times[i] ? static_cast<std::int16_t>(std::max(1L, std::lround(*times[i]))) : std::int16_t{-1};
    gasRemovedAt_ = now + 10 * 1000000LL; // the technician takes the gas away
    return true;
}

double Device::uniform()
{
    // 32 random bits scaled by hand: the same figures on every platform.
    return static_cast<double>(random_()) / 4294967296.0;
}

bool Device::faultHits(const FaultRate &rate, std::uint8_t object)
{
    if (!plan_.objects.empty() &&
        std::find(plan_.objects.begin(), plan_.objects.end(), object) == plan_.objects.end())
        return false;
    if (rate.next > 0 && requestsSincePlan_ <= rate.next)
        return true;
    if (rate.probability >= 1.0)
        return true;
    return rate.probability > 0.0 && uniform() < rate.probability;
}

void Device::trace(TraceEntry::Kind kind, std::int64_t at, const Bytes &bytes)
{
    if (trace_)
        trace_(TraceEntry{kind, at, bytes});
}

std::vector<Emission> Device::receive(const std::uint8_t *data, std::size_t length)
{
    std::vector<Emission> out;
    const std::int64_t now = clock_->nowMicros();
    const std::int64_t start = pacing_ ? std::max(now, rxFreeAt_) : now;
    for (std::size_t i = 0; i < length; ++i) {
        const std::int64_t arrival = pacing_ ? start + LineMicros(static_cast<std::int64_t>(i) + 1) : now;
        const std::uint8_t byte = data[i];
        if (!partial_.empty() && arrival - lastByteAt_ > kInterByteTimeoutMicros)
            partial_.clear();
        lastByteAt_ = arrival;
        if (partial_.size() < kFrameHeader.size()) {
            if (byte == kFrameHeader[partial_.size()]) {
                partial_.push_back(byte);
            } else {
                // Hunt again: the mismatching byte may start a header itself.
                partial_.clear();
                if (byte == kFrameHeader[0])
                    partial_.push_back(byte);
            }
            continue;
        }
        partial_.push_back(byte);
        if (partial_.size() == kOffsetLength + 1u && partial_[kOffsetLength] > kMaxPayload) {
            ++stats_.ignored;
            trace(TraceEntry::Kind::Ignored, arrival, partial_);
            partial_.clear();
            continue;
        }
        if (partial_.size() > static_cast<std::size_t>(kOffsetLength) &&
            partial_.size() == static_cast<std::size_t>(FrameLength(partial_.data()))) {
            const Bytes frame = std::move(partial_);
            partial_.clear();
            handleFrame(frame, arrival, out);
        }
    }
    if (pacing_ && length > 0)
        rxFreeAt_ = start + LineMicros(static_cast<std::int64_t>(length));
    else
        rxFreeAt_ = std::max(rxFreeAt_, now);
    std::stable_sort(out.begin(), out.end(),
                     [](const Emission &a, const Emission &b) { return a.atMicros < b.atMicros; });
    return out;
}

void Device::handleFrame(const Bytes &frame, std::int64_t completedAt, std::vector<Emission> &out)
{
    if (FrameCrc(frame.data(), static_cast<std::int32_t>(frame.size())) != 0) {
        ++stats_.badCrc;
        trace(TraceEntry::Kind::BadCrc, completedAt, frame);
        return;
    }
    if (frame[kOffsetFlags] & kFlagResponseBit) {
        ++stats_.ignored; // an answer looped back is nothing to serve
        trace(TraceEntry::Kind::Ignored, completedAt, frame);
        return;
    }
    ++stats_.requests;
    trace(TraceEntry::Kind::Request, completedAt, frame);
    const std::uint8_t objectNumber = frame[kOffsetObject];

    auto unanswered = [&] {
        ++stats_.unanswered;
        trace(TraceEntry::Kind::Unanswered, completedAt, frame);
    };
    if (lineDown_) {
        if (lineDownLeft_ > 0 && --lineDownLeft_ == 0)
            lineDown_ = false;
        unanswered();
        return;
    }
    // A header request of the block where the line goes silent: "block" is its payload.
    const bool silentBlock = plan_.silentAtBlock > 0 && objectNumber == object::kLoggerBlock
                          && frame.size() >= kOffsetPayload + 4
                          && (frame[kOffsetPayload] | (frame[kOffsetPayload + 1] << 8)) == plan_.silentAtBlock;
    if (silentBlock) {
        lineDown_ = true;
        lineDownLeft_ = 0;
        unanswered();
        return;
    }
    if (IsLogObject(objectNumber) && plan_.lineDropAfter >= 0 && logRequests_ >= plan_.lineDropAfter) {
        lineDown_ = plan_.lineDropFor != 1;
        lineDownLeft_ = plan_.lineDropFor > 0 ? plan_.lineDropFor - 1 : 0;
        plan_.lineDropAfter = -1; // the line goes away once
        unanswered();
        return;
    }

    if (plan_.objects.empty() ||
        std::find(plan_.objects.begin(), plan_.objects.end(), objectNumber) != plan_.objects.end())
        ++requestsSincePlan_;
    if (faultHits(plan_.noAnswer, objectNumber)) {
        unanswered();
        return;
    }

    Frame request;
    request.object = objectNumber;
    request.flags = frame[kOffsetFlags];
    request.payload.assign(frame.begin() + kOffsetPayload, frame.end() - 2);

    Frame answer;
    if (faultHits(plan_.errorReport, objectNumber))
        answer = errorFrame(request, ErrorReason::Injected);
    else if (faultHits(plan_.wrongObject, objectNumber))
        answer = serve(otherObjectRead(objectNumber));
    else
        answer = serve(request);
    changePayloadLength(answer, objectNumber);
    if (IsLogObject(objectNumber))
        ++logRequests_;
    if (answer.object == kObjectErrorReport)
        ++stats_.errorReports;
    ++stats_.answers;
    emitAnswer(frame, EncodeFrame(answer.object, answer.flags, answer.payload), objectNumber, completedAt, out);
}

void Device::schedule(Bytes bytes, std::int64_t earliest, std::vector<Emission> &out)
{
    if (bytes.empty())
        return;
    const std::int64_t start = std::max(earliest, txFreeAt_);
    if (!pacing_) {
        out.push_back(Emission{start, std::move(bytes)});
        txFreeAt_ = start;
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out.push_back(Emission{start + LineMicros(static_cast<std::int64_t>(i) + 1), Bytes{bytes[i]}});
    txFreeAt_ = start + LineMicros(static_cast<std::int64_t>(bytes.size()));
}

void Device::emitAnswer(const Bytes &request, Bytes answer, std::uint8_t objectNumber, std::int64_t completedAt,
                        std::vector<Emission> &out)
{
    if (faultHits(plan_.badCrc, objectNumber))
        answer.back() ^= 0x5A;
    const bool echo = faultHits(plan_.echo, objectNumber);
    const bool stray = faultHits(plan_.stray, objectNumber);
    const bool split = faultHits(plan_.split, objectNumber);
    const bool late = faultHits(plan_.late, objectNumber);

    if (echo)
        schedule(request, completedAt, out);
    if (stray) {
        // Noise on the line; never the header's first letter, so that the
        // answer behind it can still be found.
        Bytes noise;
        for (int i = 0; i < plan_.strayBytes; ++i) {
            auto b = static_cast<std::uint8_t>(random_() & 0xFF);
            noise.push_back(b == kFrameHeader[0] ? 0x00 : b);
        }
        answer.insert(answer.begin(), noise.begin(), noise.end());
    }
    std::int64_t at = completedAt + (pacing_ ? turnaroundMicros_ : 0);
    if (late)
        at += std::int64_t{plan_.lateMillis} * 1000;
    trace(TraceEntry::Kind::Answer, std::max(at, txFreeAt_), answer);

    if (!split) {
        schedule(std::move(answer), at, out);
        return;
    }
    const std::size_t pieces = std::min<std::size_t>(static_cast<std::size_t>(plan_.splitPieces), answer.size());
    const std::size_t pieceSize = (answer.size() + pieces - 1) / pieces;
    for (std::size_t offset = 0; offset < answer.size(); offset += pieceSize) {
        const std::size_t end = std::min(answer.size(), offset + pieceSize);
        schedule(Bytes(answer.begin() + offset, answer.begin() + end), at, out);
        at = txFreeAt_ + std::int64_t{plan_.splitPauseMillis} * 1000;
    }
}

Frame Device::otherObjectRead(std::uint8_t asked)
{
    // Objects whose reads change nothing, so the answer is all the fault does.
    std::vector<std::uint8_t> others;
    for (const std::uint8_t candidate : {object::kIdentity, object::kClock, object::kValue, object::kEventProperties}) {
        if (candidate != asked)
            others.push_back(candidate);
    }
    return MakeFrame(others[random_() % others.size()], kFlagsRead, {});
}

void Device::changePayloadLength(Frame &answer, std::uint8_t objectNumber)
{
    if (answer.flags != kFlagsDataAnswer)
        return;
    Bytes &payload = answer.payload;
    if (faultHits(plan_.shortAnswer, objectNumber)) {
        const auto cut = std::min<std::size_t>(payload.size(), static_cast<std::size_t>(plan_.shortAnswerBytes));
        payload.resize(payload.size() - cut);
    } else if (faultHits(plan_.longAnswer, objectNumber) && payload.size() < kMaxPayloadBytes) {
        payload.resize(kMaxPayloadBytes, static_cast<std::uint8_t>(plan_.longAnswerFill));
    }
}

Frame Device::dataFrame(std::uint8_t objectNumber, Bytes payload) const
{
    return MakeFrame(objectNumber, kFlagsDataAnswer, std::move(payload));
}

Frame Device::errorFrame(const Frame &request, ErrorReason reason)
{
    return MakeFrame(kObjectErrorReport, kFlagResponseBit, EncodeErrorReport(request.object, request.flags, reason));
}

Frame Device::serve(const Frame &request)
{
    if (!IsKnownObject(request.object))
        return errorFrame(request, ErrorReason::UnknownObject);
    return (request.flags & kFlagWriteBit) ? serveWrite(request) : serveRead(request);
}

Frame Device::serveRead(const Frame &request)
{
    tickGas(clock_->nowMicros());
    const std::size_t n = request.payload.size();
    const auto needs = [&](std::size_t size) { return n == size; };
    switch (request.object) {
    case object::kConnect:
        return dataFrame(request.object, {});
    case object::kIdentity:
        return needs(0) ? dataFrame(request.object, EncodeIdentity(state_.identity))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kClock:
        return needs(0) ? dataFrame(request.object, EncodeClock(ClockReading(state_, instrumentSeconds())))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kRange:
        return needs(0) ? dataFrame(request.object, EncodeRange(state_.range))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kBumpState:
        return needs(0) ? dataFrame(request.object, Bytes{static_cast<std::uint8_t>(state_.bump.state)})
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kBumpResult:
        return needs(0) ? serveBumpResult() : errorFrame(request, ErrorReason::WrongLength);
    case object::kValue: {
        if (!needs(0))
            return errorFrame(request, ErrorReason::WrongLength);
        Bytes payload(size::kValue, 0);
        PutU16(payload, 0, static_cast<std::uint16_t>(liveValue()));
        return dataFrame(request.object, payload);
    }
    case object::kCalibrationState:
        return needs(0) ? serveCalibrationState() : errorFrame(request, ErrorReason::WrongLength);
    case object::kSignals:
        return needs(0) ? dataFrame(request.object, EncodeSignals(state_.signalSettings))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kHardware:
        return needs(0) ? dataFrame(request.object, EncodeHardware(state_.hardware))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kEventRecord:
        return needs(size::kEventSelector) ? serveEventRecord(request) : errorFrame(request, ErrorReason::WrongLength);
    case object::kEventProperties:
        return needs(0) ? dataFrame(request.object, EncodeEventProperties(state_.events))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kLoggerInfo:
        return needs(0) ? dataFrame(request.object, EncodeLoggerInfo(state_.logger))
                        : errorFrame(request, ErrorReason::WrongLength);
    case object::kLoggerBlock:
        return needs(size::kBlockSelector) ? serveLoggerBlock(request) : errorFrame(request, ErrorReason::WrongLength);
    case object::kLoggerSampleSet:
        return needs(size::kSetSelector) ? serveLoggerSampleSet(request)
                                         : errorFrame(request, ErrorReason::WrongLength);
    default: // command objects cannot be read
        return errorFrame(request, ErrorReason::NotAllowed);
    }
}

Frame Device::serveWrite(const Frame &request)
{
    const std::size_t n = request.payload.size();
    const Bytes &p = request.payload;
    switch (request.object) {
    case object::kConnect:
        return dataFrame(request.object, {});
    case object::kIdentity:
        if (n != size::kIdentity)
            return errorFrame(request, ErrorReason::WrongLength);
        std::copy(p.begin() + 10, p.begin() + 20, state_.identity.customerId.begin());
        // Text ends at the first zero; what follows it is not kept.
        state_.identity.customerId = CustomerIdField(CustomerIdText(state_.identity.customerId));
        return dataFrame(request.object, EncodeIdentity(state_.identity));
    case object::kClock:
        if (n != size::kClock)
            return errorFrame(request, ErrorReason::WrongLength);
        if (!plan_.clockReadOnly)
            state_.clockOffsetSeconds =
                static_cast<std::int32_t>(GetU32(p, 0)) - clock_->localSeconds();
        return dataFrame(request.object, EncodeClock(ClockReading(state_, instrumentSeconds())));
    case object::kRange:
        if (n != size::kRange)
            return errorFrame(request, ErrorReason::WrongLength);
        ApplyRangeWrite(p, state_.range);
        return dataFrame(request.object, EncodeRange(state_.range));
    case object::kHorn:
        if (n != size::kHorn)
            return errorFrame(request, ErrorReason::WrongLength);
        if (p[0] > 1)
            return errorFrame(request, ErrorReason::OutOfRange);
        state_.hornOn = p[0] == 1;
        ++state_.hornSwitches;
        return dataFrame(request.object, p);
    case object::kCalibrationStart:
        return serveCalibrationStart(request);
    case object::kFactorySetup:
        return serveFactorySetup(request);
    case object::kSignals:
        if (n != size::kSignals)
            return errorFrame(request, ErrorReason::WrongLength);
        ApplySignalsWrite(p, state_.signalSettings);
        return dataFrame(request.object, EncodeSignals(state_.signalSettings));
    case object::kHardware:
        if (n != size::kHardware)
            return errorFrame(request, ErrorReason::WrongLength);
        ApplyHardwareWrite(p, state_.identity.softwareVersion, state_.hardware);
        return dataFrame(request.object, EncodeHardware(state_.hardware));
    case object::kEventProperties:
        return serveEventClear(request);
    case object::kLoggerInfo:
        return serveLoggerInfoWrite(request);
    case object::kService:
        return serveService(request);
    default: // measured values, states and log records cannot be written
        return errorFrame(request, ErrorReason::NotAllowed);
    }
}

Frame Device::serveBumpResult()
{
    BumpProcess &bump = state_.bump;
    Bytes payload(size::kBumpResult, 0);
    const std::int64_t now = clock_->nowMicros();
    // The technician starts a test when told: reads that follow one another
    // about once a second belong to one test.
    const bool follows = bump.lastReadAt >= 0 && now - bump.lastReadAt < 3 * 1000000LL;
    bump.lastReadAt = now;
    if (bump.state == 2 && scenario_.bumpOnRead && !follows) {
        bump.state = 1;
        bump.readsLeft = scenario_.bumpReads;
        bump.withGas = true;
        gas_.apply(state_.range.calibrationGas, now);
        gasRemovedAt_ = -1;
    }
    if (bump.state == 1) {
        if (bump.readsLeft > 0 || (bump.withGas && !finishBumpWithGas(now))) {
            bump.readsLeft = std::max(0, bump.readsLeft - 1);
            return dataFrame(object::kBumpResult, payload); // zeros: still running
        }
        if (!bump.withGas && scenario_.bumpFails)
            bump.result[1] = -1;
        bump.state = 2;
    }
    for (int i = 0; i < 3; ++i)
        PutU16(payload, 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(bump.result[i]));
    return dataFrame(object::kBumpResult, payload);
}

Frame Device::serveCalibrationStart(const Frame &request)
{
    if (request.payload.size() != size::kCalibrationStart)
        return errorFrame(request, ErrorReason::WrongLength);
    CalibrationProcess &cal = state_.calibration;
    cal.gas = static_cast<std::int16_t>(GetU16(request.payload, 0));
    cal.zero = cal.gas == 0;
    cal.running = true;
    // Zero air, or the test gas of the span.
    const std::int64_t now = clock_->nowMicros();
    if (cal.zero)
        gas_.remove(now);
    else
        gas_.apply(cal.gas, now);
    gasRemovedAt_ = -1;
    cal.readsLeft = scenario_.calibrationReads;
    ++cal.started;
    return dataFrame(request.object, request.payload);
}

Frame Device::serveCalibrationState()
{
    CalibrationProcess &cal = state_.calibration;
    const std::int64_t now = clock_->nowMicros();
    if (cal.running) {
        // It ends after its reads, a span once the reading has settled.
        if (cal.readsLeft > 0 || (!cal.zero && !gas_.settled(now) && gas_.t90() > 0)) {
            cal.readsLeft = std::max(0, cal.readsLeft - 1);
            return dataFrame(object::kCalibrationState, Bytes{0});
        }
        cal.running = false;
        cal.lastResult = scenario_.calibrationFails ? -1 : 1;
        if (!scenario_.calibrationFails) {
            // The instrument sets its gain (span) or offset (zero) so that it shows the gas applied.
            if (!cal.zero && gas_.response(now) > 0)
                spanGain_ = cal.gas / gas_.response(now);
            if (cal.zero)
                zeroOffset_ = -scenario_.value;
            if (!cal.zero)
                state_.range.calibrationGas = cal.gas;
            const auto today = FloorDiv(instrumentSeconds(), 86400);
            state_.signalSettings.nextCalDay = static_cast<std::int16_t>(today + state_.signalSettings.calIntervalDays);
        }
        if (!cal.zero)
            gasRemovedAt_ = now + 30 * 1000000LL; // the technician takes the gas away
    }
    return dataFrame(object::kCalibrationState, Bytes{static_cast<std::uint8_t>(cal.lastResult)});
}

Frame Device::serveFactorySetup(const Frame &request)
{
    const Bytes &p = request.payload;
    if (p.size() != size::kFactorySetup)
        return errorFrame(request, ErrorReason::WrongLength);
    state_.identity.serialNumber = static_cast<std::int32_t>(GetU32(p, 0));
    if (!plan_.clockReadOnly)
        state_.clockOffsetSeconds = static_cast<std::int32_t>(GetU32(p, 4)) - clock_->localSeconds();
    std::array<std::uint8_t, 10> id{};
    std::copy(p.begin() + 8, p.begin() + 18, id.begin());
    state_.identity.customerId = CustomerIdField(CustomerIdText(id));
    if (p[18] == 0xAA) {
        // The limit list comes from the sensor's gas: the factory alarm limits.
        ++state_.limitListUpdates;
        state_.range.thresholds = scenario_.thresholds;
        for (int i = 0; i < 5; ++i)
            state_.range.alarmFlags[i] = scenario_.alarmFlags[i] & 0x07;
    }
    return dataFrame(request.object, p);
}

Frame Device::serveService(const Frame &request)
{
    if (request.payload.size() != size::kService)
        return errorFrame(request, ErrorReason::WrongLength);
    const std::uint8_t code = request.payload[0];
    switch (static_cast<ServiceFunction>(code)) {
    case ServiceFunction::Off:
        // Switched off and at once on again, so that the demo instrument stays reachable.
        addDeviceEvent(event::kDeviceOff);
        addDeviceEvent(event::kDeviceOn);
        state_.hornOn = false;
        state_.calibration.running = false;
        break;
    case ServiceFunction::Lock:
        state_.locked = true;
        break;
    case ServiceFunction::Unlock:
        state_.locked = false;
        break;
    case ServiceFunction::Reset:
        state_.hornOn = false;
        state_.calibration.running = false;
        if (state_.bump.state == 1)
            state_.bump.state = 2;
        break;
    case ServiceFunction::Default:
        restoreFactorySettings();
        break;
    case ServiceFunction::Update:
        state_.updateRequested = true;
        break;
    case ServiceFunction::EraseLogger:
        state_.logger.blocks.clear();
        state_.logger.reportedCounters.reset();
        state_.logger.info.blockCounter = 0;
        state_.selectedBlock = 0;
        break;
    default:
        return errorFrame(request, ErrorReason::OutOfRange);
    }
    state_.serviceCalls.push_back(code);
    return dataFrame(request.object, request.payload);
}

void Device::addDeviceEvent(std::uint8_t type)
{
    EventLog &log = state_.events;
    EventRecord r;
    r.type = type;
    r.time = static_cast<std::uint32_t>(instrumentSeconds());
    r.battery = state_.identity.battery;
    r.mkType = state_.identity.mkType;
    r.mkSerial = state_.identity.mkSerial;
    if (log.maxEvents > 0 && log.records.size() >= log.maxEvents)
        log.records.erase(log.records.begin()); // the oldest event makes room
    log.records.push_back(r);
    log.position = static_cast<std::uint16_t>(log.position + 1);
}

Frame Device::serveEventRecord(const Frame &request)
{
    const std::uint16_t number = GetU16(request.payload, 0);
    const auto &records = state_.events.records;
    if (number == 0 || number > records.size())
        return errorFrame(request, ErrorReason::OutOfRange);
    return dataFrame(request.object, EncodeEventRecord(records[number - 1u]));
}

Frame Device::serveEventClear(const Frame &request)
{
    const Bytes &p = request.payload;
    if (p.size() != size::kEventClear)
        return errorFrame(request, ErrorReason::WrongLength);
    const std::uint16_t maxEvents = GetU16(p, 6);
    if (maxEvents == 0)
        return errorFrame(request, ErrorReason::OutOfRange);
    EventLog &log = state_.events;
    log.records.clear();
    log.reportedCounters.reset();
    log.position = 0;
    log.thirdCounter = 0;
    log.maxEvents = maxEvents;
    return dataFrame(request.object, EncodeEventProperties(log));
}

Frame Device::serveLoggerBlock(const Frame &request)
{
    const std::uint16_t number = GetU16(request.payload, 0);
    const auto &blocks = state_.logger.blocks;
    if (number == 0 || number > blocks.size())
        return errorFrame(request, ErrorReason::OutOfRange);
    state_.selectedBlock = number;
    return dataFrame(request.object, EncodeLoggerBlock(blocks[number - 1u]));
}

Frame Device::serveLoggerSampleSet(const Frame &request)
{
    const std::uint8_t number = request.payload[0];
    const auto &blocks = state_.logger.blocks;
    if (state_.selectedBlock == 0 || state_.selectedBlock > static_cast<int>(blocks.size()))
        return errorFrame(request, ErrorReason::OutOfRange);
    const LoggerBlock &block = blocks[static_cast<std::size_t>(state_.selectedBlock) - 1];
    if (number == 0 || number > block.sets.size())
        return errorFrame(request, ErrorReason::OutOfRange);
    return dataFrame(request.object, EncodeLoggerSampleSet(block.sets[number - 1u]));
}

Frame Device::serveLoggerInfoWrite(const Frame &request)
{
    const Bytes &p = request.payload;
    if (p.size() != size::kLoggerInfo)
        return errorFrame(request, ErrorReason::WrongLength);
    const std::uint16_t interval = GetU16(p, 12);
    if (interval < 30 || interval > 300)
        return errorFrame(request, ErrorReason::OutOfRange);
    state_.logger.info.interval = interval; // the interval is the one writable field
    return dataFrame(request.object, EncodeLoggerInfo(state_.logger));
}

} // namespace r310::sim
