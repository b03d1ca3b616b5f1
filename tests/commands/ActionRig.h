#pragma once
// The instrument connection on the simulated instrument, in-process, for the
// tests of the identity, calibration and service commands: no line pacing, a
// 10 ms tick, every request recorded with its payload as the instrument
// heard it, and what the connection showed kept as a front end would.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include <SimBackend.h>

#include "InstrumentConnection.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace actiontest {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// One request as the instrument heard it.
struct Heard {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    Bytes payload;

    bool write() const { return (flags & r310::kFlagWriteBit) != 0; }
    // "C1", "R4", "W9" ...
    std::string name() const
    {
        if (object == r310::kObjectConnect)
            return "C1";
        return (write() ? "W" : "R") + std::to_string(object);
    }
};

// The requests, filled on the engine thread.
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

inline r310::sim::Scenario FastInstrument()
{
    r310::sim::Scenario scenario;
    scenario.pacing = false;
    scenario.softwareVersion = 221;
    return scenario;
}

struct RigOptions {
    r310::sim::Scenario scenario = FastInstrument();
    bool idlePoll = false;
    std::chrono::milliseconds tick = 10ms;
    // The PC's clock as InstrumentSeconds; empty: the system clock.
    std::function<std::int32_t()> pcClock;
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
        QObject::connect(&connection, &C::statusText, &connection,
                         [this](int panel, const QString &text) { panels[panel] = text; });
        QObject::connect(&connection, &C::answerDecoded, &connection,
                         [this](const r310::DecodedAnswer &answer, const r310::AnswerFrame &) {
                             answers.push_back(answer);
                         });
    }

    // Opens the simulated instrument and waits for the connect sequence.
    bool Connect()
    {
        connection.waitFor(connection.open(QStringLiteral("sim")));
        return r310test::SpinUntil([this] { return connection.phase() == r310::ConnectionPhase::Connected; }, 5s);
    }

    r310::JobOutcome Run(r310::ConnectionJob job) { return connection.runAndWait(QStringLiteral("test"), std::move(job)); }

    // Runs f with the simulated instrument on its own thread.
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
    // Lets queued signals arrive.
    void Settle() { r310test::SpinFor(30ms); }

private:
    // The application exists before the connection starts its engine.
    struct ApplicationFirst {
        ApplicationFirst() { r310test::EnsureApplication(); }
    } application_;

public:
    std::shared_ptr<Wire> wire = std::make_shared<Wire>();
    r310::InstrumentConnection connection;
    r310::LampColour lamp = r310::LampColour::Red;
    QStringList messages;
    QStringList portErrors;
    QString panels[2];
    std::vector<r310::DecodedAnswer> answers;

private:
    static r310::ConnectionOptions Options(const RigOptions &options, const std::shared_ptr<Wire> &wire)
    {
        r310::ConnectionOptions connection;
        const r310::sim::Scenario scenario = options.scenario;
        connection.link = [wire, scenario](const QString &, const r310::LineSettings &) {
            auto link = std::make_unique<r310::sim::SimBackend>(scenario);
            link->setPacing(scenario.pacing);
            link->device().setTrace([wire](const r310::sim::TraceEntry &entry) {
                if (entry.kind == r310::sim::TraceEntry::Kind::Request
                    && entry.bytes.size() >= static_cast<std::size_t>(r310::kFrameOverhead))
                    wire->add(entry.bytes);
            });
            wire->backend = link.get();
            return link;
        };
        connection.tick = options.tick;
        connection.idlePoll = options.idlePoll;
        connection.decoding.locale = QLocale::c();
        connection.pcClock = options.pcClock;
        return connection;
    }
};

} // namespace actiontest
