#pragma once
// The simulated instrument as the tests put it behind the serial port service:
// no line pacing unless the scenario asks for it, an event log of known
// events when one is given, and every frame on the line recorded (the
// requests as the instrument heard them, its answers when asked for). The
// connection rig, the window's event tab and r310ctl in-process all use it.
// The simulator's headers come before every Qt header.
#include <SimBackend.h>

#include <SerialPort.h>
#include <DecodedValues.h>
#include <R310_typ.h>

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace r310test {

using Bytes = std::vector<std::uint8_t>;

// One frame on the line, as the instrument saw it.
struct LineFrame {
    bool request = true; // false: the instrument's answer
    std::int64_t atMicros = 0;
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    Bytes payload;

    bool write() const { return request && (flags & r310::kFlagWriteBit) != 0; }
    // "C1", "R4", "W4" for requests; "A4" for an answer of object 4, "AF0" for an error report.
    std::string name() const
    {
        if (!request)
            return object == r310::kObjectErrorReport ? "AF0" : "A" + std::to_string(object);
        if (object == r310::kObjectConnect)
            return "C1";
        return (write() ? "W" : "R") + std::to_string(object);
    }
    // The event number of an object-34 request, 0 for anything else.
    int eventNumber() const
    {
        if (!request || object != r310::kObjectEventRecord || payload.size() != 2)
            return 0;
        return payload[0] | (payload[1] << 8);
    }
};

// The line, filled on the engine thread.
class Line {
public:
    void add(bool request, std::int64_t atMicros, const Bytes &frame)
    {
        LineFrame f;
        f.request = request;
        f.atMicros = atMicros;
        f.object = frame[r310::kOffsetObject];
        f.flags = frame[r310::kOffsetFlags];
        const std::size_t length = frame[r310::kOffsetLength];
        f.payload.assign(frame.begin() + r310::kOffsetPayload,
                         frame.begin() + static_cast<std::ptrdiff_t>(r310::kOffsetPayload + length));
        const std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(std::move(f));
    }
    // A request as the trace shows it.
    void add(const Bytes &frame) { add(true, 0, frame); }
    std::vector<LineFrame> since(std::size_t from) const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (from >= frames_.size())
            return {};
        return {frames_.begin() + static_cast<std::ptrdiff_t>(from), frames_.end()};
    }
    std::size_t size() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return frames_.size();
    }
    // Records what the trace shows: requests, and answers when asked for.
    void record(const r310::sim::TraceEntry &entry, bool answers)
    {
        using Kind = r310::sim::TraceEntry::Kind;
        const bool wanted = entry.kind == Kind::Request || (answers && entry.kind == Kind::Answer);
        if (wanted && entry.bytes.size() >= static_cast<std::size_t>(r310::kFrameOverhead))
            add(entry.kind == Kind::Request, entry.atMicros, entry.bytes);
    }

    // The link opened last; touched on the engine thread only.
    r310::sim::SimBackend *backend = nullptr;

private:
    mutable std::mutex mutex_;
    std::vector<LineFrame> frames_;
};

inline std::vector<std::string> Names(const std::vector<LineFrame> &frames)
{
    std::vector<std::string> names;
    for (const LineFrame &f : frames)
        names.push_back(f.name());
    return names;
}

// The frames that `keep` keeps, in order.
template <typename Keep>
std::vector<LineFrame> Kept(const std::vector<LineFrame> &frames, Keep keep)
{
    std::vector<LineFrame> kept;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(kept), keep);
    return kept;
}

inline std::vector<LineFrame> Requests(const std::vector<LineFrame> &frames)
{
    return Kept(frames, [](const LineFrame &f) { return f.request; });
}

// The writes among the frames, leaving out the connect request.
inline std::vector<LineFrame> Writes(const std::vector<LineFrame> &frames)
{
    return Kept(frames, [](const LineFrame &f) { return f.write() && f.object != r310::kObjectConnect; });
}

// The event numbers asked for, in order.
inline std::vector<int> EventNumbers(const std::vector<LineFrame> &frames)
{
    std::vector<int> numbers;
    for (const LineFrame &f : frames) {
        if (const int n = f.eventNumber())
            numbers.push_back(n);
    }
    return numbers;
}

// An unpaced instrument with the given software version.
inline r310::sim::Scenario FastInstrument(std::uint16_t softwareVersion = 221)
{
    r310::sim::Scenario scenario;
    scenario.pacing = false;
    scenario.softwareVersion = softwareVersion;
    return scenario;
}

// Seconds since 1980-01-01 00:00 of a wall-clock date and time, counted apart
// from the product's date routines.
inline std::uint32_t InstrumentSecondsOf(int year, int month, int day, int hour, int minute, int second)
{
    const QDateTime base(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime at(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return static_cast<std::uint32_t>(base.secsTo(at));
}

inline r310::sim::EventRecord AlarmEvent(std::uint8_t type, std::uint32_t time, std::int8_t exponent,
                                         std::int16_t value, std::int16_t stel, std::int16_t twa,
                                         std::uint8_t battery)
{
    r310::sim::EventRecord r;
    r.type = type;
    r.time = time;
    r.gasCode = 1; // carbon monoxide
    r.unitCode = 0; // ppm
    r.exponent = exponent;
    r.value = value;
    r.stel = stel;
    r.twa = twa;
    r.battery = battery;
    return r;
}

inline r310::sim::EventRecord DeviceEvent(std::uint8_t type, std::uint32_t time, std::uint8_t battery,
                                          std::uint16_t mkType, std::uint16_t mkSerial)
{
    r310::sim::EventRecord r;
    r.type = type;
    r.time = time;
    r.battery = battery;
    r.mkType = mkType;
    r.mkSerial = mkSerial;
    return r;
}

// The two events of the acceptance example (an alarm, a switch-off), then an
// event of a type the configurator has no text for.
inline std::vector<r310::sim::EventRecord> KnownEvents()
{
    r310::sim::EventRecord odd;
    odd.type = 7;
    odd.time = InstrumentSecondsOf(2008, 12, 25, 8, 0, 1);
    return {AlarmEvent(1, InstrumentSecondsOf(2008, 12, 24, 13, 45, 10), -1, 200, 55, 12, 85),
            DeviceEvent(20, InstrumentSecondsOf(2008, 12, 24, 14, 0, 0), 80, 123, 4711), odd};
}

// The lines of KnownEvents() in German regional settings, the gas named by
// `gas` ("ppm CO" with the gas table, the connection rig's texts).
inline QStringList KnownEventLines(const QString &gas = QStringLiteral("ppm CO"))
{
    return {QStringLiteral("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK"),
            QStringLiteral("0;24.12.2008 13:45:10;A1 ON;20,0;5,5;1,2;%1;85%; ;").arg(gas),
            QStringLiteral("1;24.12.2008 14:00:00;Dev-OFF; ; ; ; ;80%;001-23 4711;"),
            QStringLiteral("2;25.12.2008 08:00:01;")};
}

// What the simulated instrument holds and how its line is recorded.
struct SimulatedInstrument {
    r310::sim::Scenario scenario = FastInstrument();
    // Replaces the instrument's generated event log.
    std::optional<std::vector<r310::sim::EventRecord>> events;
    bool recordAnswers = false; // the line keeps the instrument's answers too
};

// The link for ConnectionOptions::link (or r310ctl's demo link): a new
// simulated instrument at each open, recorded on `line`.
inline r310::SerialPort::BackendFactory SimulatedLink(const SimulatedInstrument &instrument,
                                                      const std::shared_ptr<Line> &line)
{
    return [instrument, line](const QString &, const r310::LineSettings &) -> std::unique_ptr<r310::SerialBackend> {
        auto link = std::make_unique<r310::sim::SimBackend>(instrument.scenario);
        link->setPacing(instrument.scenario.pacing);
        if (instrument.events) {
            r310::sim::EventLog &log = link->device().state().events;
            log.records = *instrument.events;
            log.position = static_cast<std::uint16_t>(instrument.events->size());
        }
        const bool answers = instrument.recordAnswers;
        link->device().setTrace([line, answers](const r310::sim::TraceEntry &entry) { line->record(entry, answers); });
        line->backend = link.get();
        return link;
    };
}

} // namespace r310test
