#pragma once
// The simulated R310 instrument: consumes request bytes in any chunking and
// produces its answers as timed emissions, so that a host (the in-process
// link, the pseudo-terminal program) can deliver each byte when a 9600-baud
// line would have delivered it. Deterministic: time comes from the injected
// clock and every random choice from the scenario's seed.
#include "InstrumentState.h"
#include "Scenario.h"
#include "SimClock.h"
#include "TestGasModel.h"

#include <R310_typ.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace r310::sim {

// Bytes that become available to the client at a moment of the device clock.
struct Emission {
    std::int64_t atMicros = 0;
    Bytes bytes;
};

// A 9600-baud 8N1 byte: 10 bits, 1041.67 microseconds.
constexpr std::int64_t kBaud = 9600;
constexpr std::int64_t kBitsPerByte = 10;
// Time for `bytes` bytes on the line, rounded to the nearest microsecond.
constexpr std::int64_t LineMicros(std::int64_t bytes)
{
    return (bytes * kBitsPerByte * 1000000 + kBaud / 2) / kBaud;
}
// A partial request older than this is thrown away when the next byte comes.
constexpr std::int64_t kInterByteTimeoutMicros = 100000;

struct CalibrationProcess {
    bool running = false;
    bool zero = false;
    int readsLeft = 0;
    std::int16_t gas = 0;
    std::int8_t lastResult = 1;  // what object 10 reports while idle
    int started = 0;
};

struct BumpProcess {
    std::int8_t state = 2;       // object 5: 0 need cal, 1 running, 2 idle, negative error
    int readsLeft = 0;
    std::array<std::int16_t, 3> result{{28, 55, 12}}; // A1, A2, T50 once done
    bool withGas = false;        // the result comes from the test gas at the sensor
    std::int64_t lastReadAt = -1; // micros of the last bump result read
};

struct DeviceState {
    Identity identity;
    std::int64_t clockOffsetSeconds = 0; // instrument clock minus PC local time
    std::optional<std::uint32_t> stoppedClock; // what a clock that stands still reads
    RangeSettings range;
    SignalSettings signalSettings;
    HardwareSettings hardware;
    EventLog events;
    DataLogger logger;
    CalibrationProcess calibration;
    BumpProcess bump;
    bool hornOn = false;
    int hornSwitches = 0;
    bool locked = false;
    bool updateRequested = false;
    std::vector<std::uint8_t> serviceCalls; // codes of accepted service functions, in order
    int limitListUpdates = 0;
    int selectedBlock = 0;                  // block of the last header read, 0 none
};

struct DeviceStatistics {
    int requests = 0;      // valid requests heard
    int badCrc = 0;        // request frames dropped for their CRC
    int ignored = 0;       // complete frames that were not requests, or too long
    int answers = 0;       // answers sent (error reports included)
    int errorReports = 0;
    int unanswered = 0;    // valid requests left without an answer by a fault
};

struct TraceEntry {
    enum class Kind { Request, BadCrc, Ignored, Answer, Unanswered };
    Kind kind = Kind::Request;
    std::int64_t atMicros = 0;
    Bytes bytes;
};

class Device {
public:
    explicit Device(const Scenario &scenario,
                    std::shared_ptr<const Clock> clock = SystemClock::shared());

    // Bytes the client wrote, handed over at the clock's current time. Returns
    // the answers' bytes with the times at which they reach the client, in time order.
    std::vector<Emission> receive(const std::uint8_t *data, std::size_t length);
    std::vector<Emission> receive(const Bytes &bytes) { return receive(bytes.data(), bytes.size()); }

    // The instrument's answer to one request, without line timing or faults.
    Frame serve(const Frame &request);

    // Pacing on: bytes take line time in both directions and answers wait the
    // turnaround. Off: answers are due at once, in one piece.
    void setPacing(bool on) { pacing_ = on; }
    bool pacing() const { return pacing_; }
    void setTurnaroundMillis(int millis) { turnaroundMicros_ = std::int64_t{millis} * 1000; }

    // Replaces the fault plan; "next k" counts start again and a dropped line comes back.
    void setFaults(const FaultPlan &plan);
    const FaultPlan &faults() const { return plan_; }
    bool lineDown() const { return lineDown_; }

    // The instrument's memory, for hosts and tests to inspect or alter.
    DeviceState &state() { return state_; }
    const DeviceState &state() const { return state_; }
    const DeviceStatistics &statistics() const { return stats_; }
    const Scenario &scenario() const { return scenario_; }
    const Clock &clock() const { return *clock_; }

    // The instrument clock now, seconds since 1980-01-01.
    std::int64_t instrumentSeconds() const;
    // The live value (object 7) now, in 1/10000 of the measuring span.
    std::int16_t liveValue() const;
    // When the last byte received so far has arrived on the line.
    std::int64_t receiveLineIdleAt() const { return rxFreeAt_; }

    // The settings a factory-new instrument of this scenario holds: alarm
    // limits, signals, hardware options, logger interval.
    void restoreFactorySettings();
    void startBumpTest();

    // Called for every request, answer and dropped frame (the --log output).
    void setTrace(std::function<void(const TraceEntry &)> trace) { trace_ = std::move(trace); }

private:
    void handleFrame(const Bytes &frame, std::int64_t completedAt, std::vector<Emission> &out);
    bool faultHits(const FaultRate &rate, std::uint8_t object);
    double uniform();
    void schedule(Bytes bytes, std::int64_t earliest, std::vector<Emission> &out);
    void emitAnswer(const Bytes &request, Bytes answer, std::uint8_t object, std::int64_t completedAt,
                    std::vector<Emission> &out);
    void trace(TraceEntry::Kind kind, std::int64_t at, const Bytes &bytes);

    // A read request of another object than `asked`, chosen by the seed.
    Frame otherObjectRead(std::uint8_t asked);
    Frame errorFrame(const Frame &request, ErrorReason reason);
    Frame dataFrame(std::uint8_t object, Bytes payload) const;
    Frame serveRead(const Frame &request);
    Frame serveWrite(const Frame &request);
    Frame serveService(const Frame &request);
    Frame serveFactorySetup(const Frame &request);
    Frame serveCalibrationStart(const Frame &request);
    Frame serveCalibrationState();
    Frame serveEventRecord(const Frame &request);
    Frame serveEventClear(const Frame &request);
    Frame serveLoggerBlock(const Frame &request);
    Frame serveLoggerSampleSet(const Frame &request);
    Frame serveLoggerInfoWrite(const Frame &request);
    Frame serveBumpResult();
    // The bump test with the test gas: A1, A2 and T50 once the reading got there.
    bool finishBumpWithGas(std::int64_t now);
    // What the instrument shows of the gas at the sensor, raw.
    double shownGas(std::int64_t now) const;
    // Takes the test gas away once its time is up.
    void tickGas(std::int64_t now);
    // The short and long answer faults: a data answer's payload cut or filled up.
    void changePayloadLength(Frame &answer, std::uint8_t object);
    void addDeviceEvent(std::uint8_t type);

    Scenario scenario_;
    std::shared_ptr<const Clock> clock_;
    DeviceState state_;
    DeviceStatistics stats_;
    FaultPlan plan_;
    std::mt19937 random_;
    std::function<void(const TraceEntry &)> trace_;
    TestGasModel gas_;
    std::int64_t gasRemovedAt_ = -1; // when the applied gas is taken away; -1 not planned
    double spanGain_ = 1;            // the gain the last span calibration set
    double zeroOffset_ = 0;          // what the last zero calibration took off, raw

    bool pacing_ = true;
    std::int64_t turnaroundMicros_ = 5000;
    std::int64_t rxFreeAt_ = 0;     // last inbound byte arrived
    std::int64_t txFreeAt_ = 0;     // outbound line busy until
    Bytes partial_;                 // request bytes collected so far
    std::int64_t lastByteAt_ = 0;

    int requestsSincePlan_ = 0;
    int logRequests_ = 0;
    bool lineDown_ = false;
    int lineDownLeft_ = 0;
};

} // namespace r310::sim
