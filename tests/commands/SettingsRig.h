#pragma once
// The instrument connection on the simulated instrument, in-process, for the
// settings commands' tests: no line pacing, a 10 ms tick, every request and
// every answer recorded as the instrument heard and sent them, and what the
// connection showed kept as a front end would.
// The simulator's headers use the word "signals" as a name, which Qt
// defines as a keyword: they come before every Qt header.
#include <SimBackend.h>

#include "InstrumentConnection.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace settingstest {

using namespace std::chrono_literals;
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

inline std::vector<LineFrame> Requests(const std::vector<LineFrame> &frames)
{
    std::vector<LineFrame> requests;
    for (const LineFrame &f : frames) {
        if (f.request)
            requests.push_back(f);
    }
    return requests;
}

inline r310::sim::Scenario FastInstrument(std::uint16_t softwareVersion = 221)
{
    r310::sim::Scenario scenario;
    scenario.pacing = false;
    scenario.softwareVersion = softwareVersion;
    return scenario;
}

class Rig {
public:
    explicit Rig(r310::sim::Scenario scenario = FastInstrument())
        : connection(Options(scenario, line))
    {
        using C = r310::InstrumentConnection;
        QObject::connect(&connection, &C::lampChanged, &connection, [this](r310::LampColour c) { lamp = c; });
        QObject::connect(&connection, &C::errorMessage, &connection,
                         [this](const QString &text) { messages.append(text); });
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

    r310::JobOutcome Run(r310::ConnectionJob job)
    {
        const r310::JobOutcome outcome = connection.runAndWait(QStringLiteral("test"), std::move(job));
        // Lets the queued signals of the job arrive.
        r310test::SpinFor(20ms);
        return outcome;
    }

    // Runs f with the simulated instrument on its own thread.
    void OnInstrument(const std::function<void(r310::sim::Device &)> &f)
    {
        std::shared_ptr<Line> l = line;
        connection.runAndWait(QStringLiteral("instrument"), [l, f](r310::JobContext &) { f(l->backend->device()); });
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

    // From the instrument's answer to the next write of `object` on, every
    // request of that object goes unanswered (the write itself is answered).
    void SilenceAfterWriteOf(std::uint8_t object)
    {
        std::shared_ptr<Line> l = line;
        OnInstrument([l, object](r310::sim::Device &device) {
            auto writeHeard = std::make_shared<bool>(false);
            device.setTrace([l, object, writeHeard, &device](const r310::sim::TraceEntry &entry) {
                using Kind = r310::sim::TraceEntry::Kind;
                Record(*l, entry);
                if (entry.bytes.size() < static_cast<std::size_t>(r310::kFrameOverhead)
                    || entry.bytes[r310::kOffsetObject] != object)
                    return;
                if (entry.kind == Kind::Request && (entry.bytes[r310::kOffsetFlags] & r310::kFlagWriteBit)) {
                    *writeHeard = true;
                } else if (entry.kind == Kind::Answer && *writeHeard) {
                    r310::sim::FaultPlan silent;
                    silent.objects = {object};
                    silent.noAnswer.probability = 1.0;
                    device.setFaults(silent);
                    *writeHeard = false;
                }
            });
        });
    }

    // The answers shown from index `from` on, of one object.
    std::vector<r310::DecodedAnswer> AnswersOf(std::uint8_t object, std::size_t from = 0) const
    {
        std::vector<r310::DecodedAnswer> found;
        for (std::size_t i = from; i < answers.size(); ++i) {
            if (answers[i].object == object)
                found.push_back(answers[i]);
        }
        return found;
    }

private:
    // The application exists before the connection starts its engine.
    struct ApplicationFirst {
        ApplicationFirst() { r310test::EnsureApplication(); }
    } application_;

public:
    std::shared_ptr<Line> line = std::make_shared<Line>();
    r310::InstrumentConnection connection;
    r310::LampColour lamp = r310::LampColour::Red;
    QStringList messages;
    std::vector<r310::DecodedAnswer> answers;

private:
    static void Record(Line &line, const r310::sim::TraceEntry &entry)
    {
        using Kind = r310::sim::TraceEntry::Kind;
        if ((entry.kind == Kind::Request || entry.kind == Kind::Answer)
            && entry.bytes.size() >= static_cast<std::size_t>(r310::kFrameOverhead))
            line.add(entry.kind == Kind::Request, entry.atMicros, entry.bytes);
    }

    static r310::ConnectionOptions Options(const r310::sim::Scenario &scenario, const std::shared_ptr<Line> &line)
    {
        r310::ConnectionOptions connection;
        connection.link = [line, scenario](const QString &, const r310::LineSettings &) {
            auto link = std::make_unique<r310::sim::SimBackend>(scenario);
            link->setPacing(scenario.pacing);
            link->device().setTrace([line](const r310::sim::TraceEntry &entry) { Record(*line, entry); });
            line->backend = link.get();
            return link;
        };
        connection.tick = 10ms;
        connection.idlePoll = false;
        connection.decoding.locale = QLocale::c();
        return connection;
    }
};

} // namespace settingstest
