#pragma once
// What the simulated instrument is: its identity, settings, log contents,
// line timing and the faults it shows. A scenario is written as "key = value"
// lines (a file) or as the same keys given as command-line options
// (--key=value). ScenarioKeyHelp() documents every key with its default.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace r310::sim {

// How often a fault strikes. A request is hit when it is one of the first
// `next` valid requests (counted from the start or from the last change of
// the plan), or else with `probability` (0..1, drawn from the seeded
// generator). probability 1 means always.
struct FaultRate {
    int next = 0;
    double probability = 0.0;
    bool active() const { return next > 0 || probability > 0.0; }
};

struct FaultPlan {
    FaultRate noAnswer;     // the request is not heard: no answer, no effect
    FaultRate badCrc;       // the answer's CRC is corrupted
    FaultRate errorReport;  // an error report (object 0xF0) instead of the answer
    FaultRate echo;         // the request comes back before the answer
    FaultRate stray;        // stray bytes before the answer
    FaultRate split;        // the answer comes in pieces with pauses between
    FaultRate late;         // the answer comes lateMillis after it was due
    FaultRate wrongObject;  // another object's answer instead: no effect, as if asked for that object
    int strayBytes = 3;
    int splitPieces = 3;
    int splitPauseMillis = 40;
    int lateMillis = 450;
    // Clock writes are answered but the clock keeps running as before.
    bool clockReadOnly = false;
    // The line goes away after this many requests of the log objects
    // (34, 35, 36, 37, 38) have been answered; -1 never.
    int lineDropAfter = -1;
    // How many requests go unanswered once the line has gone; 0 for good.
    int lineDropFor = 0;
    // The line goes silent for good when the header of this logger block
    // (1-based) is asked for; 0 never.
    int silentAtBlock = 0;
    // Objects the per-request faults apply to; empty means every object.
    std::vector<std::uint8_t> objects;

    // Payloads of another length than the object has (data answers only).
    FaultRate shortAnswer;      // the payload loses its last shortAnswerBytes bytes
    FaultRate longAnswer;       // the payload is filled up to the longest a frame carries
    int shortAnswerBytes = 1;
    int longAnswerFill = 0xEE;  // the byte a long answer is filled up with
};

// One data logger block as the scenario describes it.
struct LoggerBlockShape {
    std::uint16_t state = 1;     // only 1 marks a readable block
    std::uint8_t sets = 1;       // sample sets in the block (more than 4 is invalid)
    std::uint8_t samples = 15;   // samples per set (at most 15 are stored)
    std::uint8_t setState = 1;   // state of every set of the block
    std::int32_t gapSeconds = 0; // extra pause before the block's first sample
    bool alarm = false;          // a gas peak above A1 during the block
};

struct Scenario {
    // Identity (object 2).
    std::int32_t serialNumber = 1234;
    std::uint16_t mkType = 10301;      // shown as 103-01
    std::uint16_t mkSerial = 4711;
    std::uint16_t softwareVersion = 210;
    std::string customerId = "DEMO";
    std::uint8_t battery = 87;

    // Clock (object 3): instrument time minus PC local time, in seconds.
    std::int64_t clockOffsetSeconds = 0;
    // A clock that stands still at this count (0 to 4294967295): reads give
    // it, writes are answered but do not move it. -1: the clock runs.
    std::int64_t clockStoppedAt = -1;

    // Range and alarms (object 4). Gas values are raw: raw x 10^exponent.
    std::int16_t rangeBegin = 0;
    std::int16_t rangeEnd = 500;
    std::uint8_t gasCode = 1;    // carbon monoxide
    std::uint8_t unitCode = 0;   // ppm in the gas table
    std::int8_t exponent = 0;
    std::array<std::int16_t, 5> thresholds{{30, 60, 150, 100, 30}}; // A1 A2 A3 STEL TWA
    std::array<std::uint8_t, 5> alarmFlags{{0x04, 0x02, 0x02, 0x02, 0x02}};
    std::int16_t calibrationGas = 100;
    std::int16_t zeroVoltage = 52;      // hundredths of a mV
    std::int16_t fullScaleVoltage = 1240;

    // Signals (object 31). Due dates are days from the instrument's date.
    std::uint8_t signalModes = 0x95;
    std::uint8_t bleepInterval = 30;
    std::uint8_t displayOptions = 0x21;
    std::int16_t nextBumpInDays = 12;
    std::int16_t nextCalInDays = 150;
    std::int16_t bumpIntervalDays = 30;
    std::int16_t calIntervalDays = 180;
    std::uint8_t serviceOptions = 0x05;

    // Hardware (object 33).
    std::int16_t hwZeroPoint = 1305;   // tenths of a mV
    std::int16_t hwGain = 750;         // hundredths
    std::int16_t hwReference = 18995;  // tenths of a mV
    std::uint8_t hwOptions = 0x80;     // bits the version lacks are cleared

    // Live value (object 7), raw gas units around a baseline.
    std::int16_t value = 1;
    std::int16_t valueSwing = 2;

    // Calibration (objects 9, 10): status reads that report running, then the outcome.
    int calibrationReads = 5;
    bool calibrationFails = false;

    // Bump test (objects 5, 6): "idle", "running", "ok", "error" or "needcal".
    std::string bump = "idle";
    int bumpReads = 3;
    // A read of the bump result while idle starts a bump test with test gas
    // (as if the technician started it when told); off: it shows the last result.
    bool bumpOnRead = false;
    // A bump test whose A2 is never reached (reported negative).
    bool bumpFails = false;

    // Test gas at the sensor (span calibration, bump test): seconds to 90 %
    // of the gas (0: at once); what the sensor shows of the gas after a span
    // calibration, in percent (below 100: a sensor that reads low); how far
    // it drifts off right after the span, in percent.
    int t90Seconds = 0;
    int sensorResponsePercent = 100;
    int spanDriftPercent = 0;

    // Event log (objects 34, 35).
    int events = 24;
    int maxEvents = 192;   // raised to `events` when fewer
    // Instrument seconds the generated log starts from; -1: its last event
    // is ten minutes before now. With a start, more events keep the first ones.
    std::int64_t eventStart = -1;

    // Data logger (objects 36, 37, 38).
    int loggerBlocks = 6;
    int loggerMaxBlocks = 500;
    std::uint16_t loggerInterval = 60;
    std::uint8_t loggerSets = 1;      // default sets per block
    std::uint8_t loggerSamples = 15;  // default samples per set
    std::array<std::uint8_t, 4> loggerObjects{{1, 0, 0, 0}}; // info bytes 6..9
    std::map<int, LoggerBlockShape> blockOverrides; // by 1-based block number, counted from the first block ever logged
    // Instrument seconds of the first sample of the first block ever logged;
    // -1: so that the last block ends about now.
    std::int64_t loggerStart = -1;
    // Blocks logged before the stored ones and written over since (the
    // logger wrapped): it holds blocks loggerOverwritten + 1 on, numbered
    // from 1. The same scenario with more of them shows the same blocks
    // shifted.
    int loggerOverwritten = 0;
    // Counters the logs report in place of their own until they are
    // cleared: object 35 (position, count, third counter, maximum) and
    // the first three of object 36 (block counter, stored blocks, maximum).
    std::optional<std::array<std::uint16_t, 4>> eventCounters;
    std::optional<std::array<std::uint16_t, 3>> loggerCounters;

    // Line timing.
    bool pacing = true;
    int turnaroundMillis = 5;

    // Everything random (values, events, logger samples, probabilistic faults).
    std::uint32_t seed = 1;

    FaultPlan faults;

    // The block shape the device uses for 1-based block b.
    LoggerBlockShape block(int b) const;
};

// Sets one key (underscores and hyphens are the same) to the value as given.
// Returns false and a message for an unknown key or a value that does not fit.
bool SetScenarioValue(Scenario &scenario, const std::string &key, const std::string &value,
                      std::string *error);
// "key = value" lines; blank lines and text after '#' are ignored. A value
// in double quotes is taken exactly, with the escapes \\, \" and \xHH.
bool ParseScenarioText(const std::string &text, Scenario &scenario, std::string *error);
// The longest scenario file read: a file with every key set takes a few
// kilobytes, so anything longer is no scenario.
constexpr std::size_t kMaxScenarioFileBytes = 1024 * 1024;
// Refuses a path that cannot be read to its end (a directory included), a
// file longer than kMaxScenarioFileBytes and one with a zero byte (no text).
bool LoadScenarioFile(const std::string &path, Scenario &scenario, std::string *error);

// Takes "--scenario FILE", "--key=value" and "--key value" for every scenario
// key out of args (in order, so later options override a file given earlier).
// Arguments it does not know are left in `rest`.
bool ParseScenarioArguments(const std::vector<std::string> &args, Scenario &scenario,
                            std::vector<std::string> *rest, std::string *error);

// Every key with its meaning and default, one per line, for --help.
std::string ScenarioKeyHelp();
// The scenario written back as "key = value" lines that parse to the same values.
std::string FormatScenario(const Scenario &scenario);

} // namespace r310::sim
