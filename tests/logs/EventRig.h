#pragma once
// The instrument connection on the simulated instrument, in-process, for the
// event log tests: no line pacing, a 10 ms tick, the log decoders installed,
// German regional settings, every request recorded with its payload as the
// instrument heard it, and an event log of known events when one is given.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include <SimBackend.h>

#include "EventLogJobs.h"
#include "InstrumentConnection.h"
#include "LogDecoders.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace eventtest {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// One request as the instrument heard it.
struct Heard {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    Bytes payload;

    bool write() const { return (flags & r310::kFlagWriteBit) != 0; }
    std::string name() const
    {
        if (object == r310::kObjectConnect)
            return "C1";
        return (write() ? "W" : "R") + std::to_string(object);
    }
    // The event number of an object-34 request, 0 for anything else.
    int eventNumber() const
    {
        if (object != r310::kObjectEventRecord || payload.size() != 2)
            return 0;
        return payload[0] | (payload[1] << 8);
    }
};

class Wire {
public:
    void add(const Bytes &frame)
    {
        Heard heard;
        heard.object = frame[r310::kOffsetObject];
        heard.flags = frame[r310::kOffsetFlags];
        const std::size_t length = frame[r310::kOffsetLength];
        heard.payload.assign(frame.begin() + r310::kOffsetPayload,
                             frame.begin() + static_cast<std::ptrdiff_t>(r310::kOffsetPayload + length));
        const std::lock_guard<std::mutex> lock(mutex_);
        heard_.push_back(std::move(heard));
    }
    std::vector<Heard> since(std::size_t from) const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (from >= heard_.size())
            return {};
        return {heard_.begin() + static_cast<std::ptrdiff_t>(from), heard_.end()};
    }
    std::size_t size() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return heard_.size();
    }

    // The link opened last; touched on the engine thread only.
    r310::sim::SimBackend *backend = nullptr;

private:
    mutable std::mutex mutex_;
    std::vector<Heard> heard_;
};

inline std::vector<std::string> Names(const std::vector<Heard> &heard)
{
    std::vector<std::string> names;
    for (const Heard &h : heard)
        names.push_back(h.name());
    return names;
}

// The event numbers asked for, in order.
inline std::vector<int> EventNumbers(const std::vector<Heard> &heard)
{
    std::vector<int> numbers;
    for (const Heard &h : heard) {
        if (const int n = h.eventNumber())
            numbers.push_back(n);
    }
    return numbers;
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
    r.gasCode = 1;
    r.unitCode = 0;
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

// The two events of the acceptance example, then an event of a type the
// configurator has no text for.
inline std::vector<r310::sim::EventRecord> KnownEvents()
{
    return {AlarmEvent(1, InstrumentSecondsOf(2008, 12, 24, 13, 45, 10), -1, 200, 55, 12, 85),
            DeviceEvent(20, InstrumentSecondsOf(2008, 12, 24, 14, 0, 0), 80, 123, 4711),
            AlarmEvent(7, InstrumentSecondsOf(2008, 12, 25, 8, 0, 1), 0, 1, 2, 3, 4)};
}

// The lines of KnownEvents() in German regional settings with the rig's gas texts.
inline QStringList KnownEventLines()
{
    return {QStringLiteral("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK"),
            QStringLiteral("0;24.12.2008 13:45:10;A1 ON;20,0;5,5;1,2;ppm CO;85%; ;"),
            QStringLiteral("1;24.12.2008 14:00:00;Dev-OFF; ; ; ; ;80%;001-23 4711;"),
            QStringLiteral("2;25.12.2008 08:00:01;")};
}

inline r310::sim::Scenario FastInstrument(std::uint16_t softwareVersion = 221)
{
    r310::sim::Scenario scenario;
    scenario.pacing = false;
    scenario.softwareVersion = softwareVersion;
    return scenario;
}

struct RigOptions {
    r310::sim::Scenario scenario = FastInstrument();
    // Replaces the instrument's generated event log.
    std::optional<std::vector<r310::sim::EventRecord>> events = KnownEvents();
    std::chrono::milliseconds tick = 10ms;
};

class Rig {
public:
    explicit Rig(RigOptions options = {}) : connection(Options(options, wire))
    {
        using C = r310::InstrumentConnection;
        QObject::connect(&connection, &C::lampChanged, &connection, [this](r310::LampColour c) { lamp = c; });
        QObject::connect(&connection, &C::errorMessage, &connection,
                         [this](const QString &text) { messages.append(text); });
        QObject::connect(&connection, &C::portError, &connection,
                         [this](const QString &text) { portErrors.append(text); });
        QObject::connect(&connection, &C::progress, &connection,
                         [this](int done, int total, const QString &text) {
                             progress.push_back({done, total, text});
                             if (onProgress)
                                 onProgress(done, total);
                         });
        QObject::connect(&connection, &C::answerDecoded, &connection,
                         [this](const r310::DecodedAnswer &answer, const r310::AnswerFrame &frame) {
                             answers.push_back(answer);
                             if (const auto properties = r310::logs::DecodeEventProperties(frame))
                                 eventProperties = properties;
                         });
    }

    bool Connect()
    {
        connection.waitFor(connection.open(QStringLiteral("sim")));
        return r310test::SpinUntil([this] { return connection.phase() == r310::ConnectionPhase::Connected; }, 5s);
    }

    r310::JobOutcome Run(r310::ConnectionJob job) { return connection.runAndWait(QStringLiteral("test"), std::move(job)); }

    void OnInstrument(const std::function<void(r310::sim::Device &)> &f)
    {
        std::shared_ptr<Wire> w = wire;
        Run([w, f](r310::JobContext &) { f(w->backend->device()); });
    }
    void SetFaults(const r310::sim::FaultPlan &plan)
    {
        OnInstrument([plan](r310::sim::Device &device) { device.setFaults(plan); });
    }
    r310::sim::DeviceState InstrumentState()
    {
        r310::sim::DeviceState state;
        OnInstrument([&state](r310::sim::Device &device) { state = device.state(); });
        return state;
    }

    std::vector<Heard> HeardSince(std::size_t from) const { return wire->since(from); }
    std::size_t HeardCount() const { return wire->size(); }

private:
    struct ApplicationFirst {
        ApplicationFirst() { r310test::EnsureApplication(); }
    } application_;

public:
    struct Progress {
        int done;
        int total;
        QString text;
    };
    std::shared_ptr<Wire> wire = std::make_shared<Wire>();
    r310::InstrumentConnection connection;
    r310::LampColour lamp = r310::LampColour::Red;
    QStringList messages;
    QStringList portErrors;
    std::vector<Progress> progress;
    std::function<void(int done, int total)> onProgress;
    std::vector<r310::DecodedAnswer> answers;
    std::optional<r310::logs::EventProperties> eventProperties;

private:
    static r310::ConnectionOptions Options(const RigOptions &options, const std::shared_ptr<Wire> &wire)
    {
        r310::ConnectionOptions connection;
        const r310::sim::Scenario scenario = options.scenario;
        const auto events = options.events;
        connection.link = [wire, scenario, events](const QString &, const r310::LineSettings &) {
            auto link = std::make_unique<r310::sim::SimBackend>(scenario);
            link->setPacing(scenario.pacing);
            if (events) {
                r310::sim::EventLog &log = link->device().state().events;
                log.records = *events;
                log.position = static_cast<std::uint16_t>(events->size());
            }
            link->device().setTrace([wire](const r310::sim::TraceEntry &entry) {
                if (entry.kind == r310::sim::TraceEntry::Kind::Request
                    && entry.bytes.size() >= static_cast<std::size_t>(r310::kFrameOverhead))
                    wire->add(entry.bytes);
            });
            wire->backend = link.get();
            return link;
        };
        connection.tick = options.tick;
        connection.idlePoll = false;
        connection.decoding.locale = QLocale(QLocale::German, QLocale::Germany);
        connection.decoding.gasTexts = [](std::uint8_t unit, std::uint8_t gas) {
            return unit == 0 && gas == 1 ? QStringLiteral("ppm CO") : QStringLiteral("unit%1 gas%2").arg(unit).arg(gas);
        };
        connection.decoderSetup = &r310::logs::InstallLogDecoders;
        return connection;
    }
};

} // namespace eventtest
