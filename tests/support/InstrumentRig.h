#pragma once
// The instrument connection on the simulated instrument, in-process, for the
// tests of the commands, the logs and the settings profiles: a 10 ms tick,
// every request (and, when asked for, every answer) recorded as the
// instrument heard and sent it, and what the connection showed kept as a
// front end would.
#include "SimulatedInstrument.h"

#include "EventLog.h"
#include "InstrumentConnection.h"
#include "LogDecoders.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QStringList>

#include <chrono>
#include <functional>

namespace r310test {

using namespace std::chrono_literals;

using Heard = LineFrame;
using Wire = Line;

struct RigOptions {
    r310::sim::Scenario scenario = FastInstrument();
    // Replaces the instrument's generated event log.
    std::optional<std::vector<r310::sim::EventRecord>> events;
    bool recordAnswers = false; // the line keeps the instrument's answers too
    bool idlePoll = false;
    std::chrono::milliseconds tick = 10ms;
    // The PC's clock as InstrumentSeconds; empty: the system clock.
    std::function<std::int32_t()> pcClock;
    // German regional settings, the rig's gas texts ("ppm CO" for unit 0, gas
    // 1) and the log decoders; else the C locale and the decoder alone.
    bool eventLogs = false;
    // How long Run lets the queued signals of its job arrive afterwards.
    std::chrono::milliseconds settleAfterRun = 0ms;

    // The settings commands: answers recorded, each job's signals let in.
    static RigOptions Settings(const r310::sim::Scenario &scenario = FastInstrument())
    {
        RigOptions options;
        options.scenario = scenario;
        options.recordAnswers = true;
        options.settleAfterRun = 20ms;
        return options;
    }
    // The event log: the log decoders, German regional settings and the known events.
    static RigOptions EventLog()
    {
        RigOptions options;
        options.events = KnownEvents();
        options.eventLogs = true;
        return options;
    }
};

class Rig {
public:
    explicit Rig(const RigOptions &options = {})
        : settleAfterRun_(options.settleAfterRun), connection(Options(options, line))
    {
        using C = r310::InstrumentConnection;
        QObject::connect(&connection, &C::lampChanged, &connection, [this](r310::LampColour c) { lamp = c; });
        QObject::connect(&connection, &C::errorMessage, &connection,
                         [this](const QString &text) { messages.append(text); });
        QObject::connect(&connection, &C::portError, &connection,
                         [this](const QString &text) { portErrors.append(text); });
        QObject::connect(&connection, &C::statusText, &connection,
                         [this](int panel, const QString &text) { panels[panel] = text; });
        QObject::connect(&connection, &C::progress, &connection, [this](int done, int total, const QString &text) {
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

    // Opens the simulated instrument and waits for the connect sequence.
    bool Connect()
    {
        connection.waitFor(connection.open(QStringLiteral("sim")));
        return SpinUntil([this] { return connection.phase() == r310::ConnectionPhase::Connected; }, 5s);
    }

    r310::Outcome Run(r310::ConnectionJob job)
    {
        const r310::Outcome outcome = connection.runAndWait(QStringLiteral("test"), std::move(job));
        if (settleAfterRun_.count() > 0)
            SpinFor(settleAfterRun_);
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
    // Every request of these objects (of every object when none is named)
    // goes unanswered from now on.
    void Silence(const std::vector<std::uint8_t> &objects = {})
    {
        r310::sim::FaultPlan silent;
        silent.noAnswer.probability = 1.0;
        silent.objects = objects;
        SetFaults(silent);
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
        const bool answers = recordAnswers_;
        OnInstrument([l, object, answers](r310::sim::Device &device) {
            auto writeHeard = std::make_shared<bool>(false);
            device.setTrace([l, object, answers, writeHeard, &device](const r310::sim::TraceEntry &entry) {
                using Kind = r310::sim::TraceEntry::Kind;
                l->record(entry, answers);
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

    // Marks the line and the shown answers: Heard() and ShownSinceMark() tell what came after.
    void Mark()
    {
        markFrames_ = line->size();
        markAnswers_ = answers.size();
    }
    std::vector<LineFrame> Heard() const { return line->since(markFrames_); }
    std::vector<std::string> HeardNames() const { return Names(Heard()); }
    std::size_t ShownSinceMark() const { return answers.size() - markAnswers_; }
    std::vector<r310::DecodedAnswer> ShownOf(std::uint8_t object) const { return AnswersOf(object, markAnswers_); }
    // Closes the port, lets its signals arrive and forgets its messages.
    void Close()
    {
        connection.closePort();
        SpinFor(30ms);
        messages.clear();
    }
    // Every request of these objects is answered with an error report from now on.
    void Refuse(const std::vector<std::uint8_t> &objects)
    {
        r310::sim::FaultPlan refusing;
        refusing.errorReport.probability = 1.0;
        refusing.objects = objects;
        SetFaults(refusing);
    }

    std::vector<LineFrame> HeardSince(std::size_t from) const { return line->since(from); }
    std::size_t HeardCount() const { return line->size(); }
    // Lets queued signals arrive.
    void Settle() { SpinFor(30ms); }

private:
    // The application exists before the connection starts its engine.
    struct ApplicationFirst {
        ApplicationFirst() { EnsureApplication(); }
    } application_;
    std::chrono::milliseconds settleAfterRun_;
    bool recordAnswers_ = false;
    std::size_t markFrames_ = 0;
    std::size_t markAnswers_ = 0;

public:
    struct Progress {
        int done;
        int total;
        QString text;
    };
    std::shared_ptr<Line> line = std::make_shared<Line>();
    std::shared_ptr<Line> &wire = line;
    r310::InstrumentConnection connection;
    r310::LampColour lamp = r310::LampColour::Red;
    QStringList messages;
    QStringList portErrors;
    QString panels[2];
    std::vector<r310::DecodedAnswer> answers;
    std::vector<Progress> progress;
    std::function<void(int done, int total)> onProgress;
    std::optional<r310::logs::EventProperties> eventProperties;

private:
    r310::ConnectionOptions Options(const RigOptions &options, const std::shared_ptr<Line> &l)
    {
        recordAnswers_ = options.recordAnswers;
        r310::ConnectionOptions connection;
        connection.link = SimulatedLink({options.scenario, options.events, options.recordAnswers}, l);
        connection.tick = options.tick;
        connection.idlePoll = options.idlePoll;
        connection.pcClock = options.pcClock;
        if (options.eventLogs) {
            connection.decoding.locale = QLocale(QLocale::German, QLocale::Germany);
            connection.decoding.gasTexts = [](std::uint8_t unit, std::uint8_t gas) {
                return unit == 0 && gas == 1 ? QStringLiteral("ppm CO")
                                             : QStringLiteral("unit%1 gas%2").arg(unit).arg(gas);
            };
            connection.decoderSetup = &r310::logs::InstallLogDecoders;
        } else {
            connection.decoding.locale = QLocale::c();
        }
        return connection;
    }
};

// A rig whose simulated instrument is opened and connected on construction.
class ConnectedRig : public Rig {
public:
    explicit ConnectedRig(const RigOptions &options = {}) : Rig(options)
    {
        EXPECT_TRUE(Connect()) << "the simulated instrument did not connect";
    }
};

} // namespace r310test
