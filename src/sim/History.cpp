#include "History.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace r310::sim {

namespace {

// Integer in [low, high] from the generator; written out so that every
// platform draws the same numbers for a seed.
int Draw(std::mt19937 &random, int low, int high)
{
    const auto span = static_cast<std::uint32_t>(high - low + 1);
    return low + static_cast<int>(random() % span);
}

std::int16_t Clamp16(long value)
{
    return static_cast<std::int16_t>(std::clamp<long>(value, INT16_MIN, INT16_MAX));
}

EventRecord DeviceEvent(const Scenario &s, std::uint8_t type, std::uint32_t time, int battery)
{
    EventRecord r;
    r.type = type;
    r.time = time;
    r.battery = static_cast<std::uint8_t>(battery);
    r.mkType = s.mkType;
    r.mkSerial = s.mkSerial;
    return r;
}

EventRecord AlarmEvent(const Scenario &s, std::uint8_t type, std::uint32_t time, int battery, long value)
{
    EventRecord r;
    r.type = type;
    r.time = time;
    r.gasCode = s.gasCode;
    r.unitCode = s.unitCode;
    r.exponent = s.exponent;
    r.value = Clamp16(value);
    r.stel = Clamp16(value * 6 / 10);
    r.twa = Clamp16(value * 2 / 10);
    r.battery = static_cast<std::uint8_t>(battery);
    return r;
}

} // namespace

EventLog GenerateEventLog(const Scenario &s, std::int64_t now)
{
    std::mt19937 random(s.seed ^ 0x5EEDE7u);
    std::vector<EventRecord> records;
    records.reserve(static_cast<std::size_t>(s.events));

    // Shifts of a few hours: switched on, now and then an alarm episode
    // (A1, sometimes A2 or STEL on top), switched off. Times are relative
    // first and moved to end ten minutes before now.
    std::int64_t t = 0;
    int battery = 100;
    bool on = false;
    while (static_cast<int>(records.size()) < s.events) {
        if (!on) {
            t += Draw(random, 8, 16) * 3600;
            if (battery < 40)
                battery = 100; // charged overnight
            records.push_back(DeviceEvent(s, event::kDeviceOn, 0, battery));
            records.back().time = static_cast<std::uint32_t>(t);
            on = true;
            continue;
        }
        t += Draw(random, 10, 90) * 60;
        battery = std::max(5, battery - Draw(random, 0, 3));
        if (Draw(random, 0, 9) < 4) {
            records.push_back(DeviceEvent(s, event::kDeviceOff, static_cast<std::uint32_t>(t), battery));
            on = false;
            continue;
        }
        const long a1 = s.thresholds[0];
        // An A1 that falls below (oxygen) is passed downwards, as far as the
        // reading is above it; any other upwards by up to its own value.
        const bool falling = (s.alarmFlags[0] & 1) != 0;
        const long beyond = falling ? -1 : 1;
        const long reach = std::max<long>(1, falling ? std::labs(s.value - a1) : std::labs(a1) / 2);
        const long peak = a1 + beyond * reach * Draw(random, 1, 4) / 2;
        const bool second = Draw(random, 0, 3) == 0;
        const std::uint8_t level2 = Draw(random, 0, 1) ? 2 : 4; // A2 or STEL
        records.push_back(AlarmEvent(s, event::kAlarmOn, static_cast<std::uint32_t>(t), battery, a1 + beyond));
        if (second) {
            t += Draw(random, 1, 5) * 60;
            records.push_back(AlarmEvent(s, level2, static_cast<std::uint32_t>(t), battery,
                                         s.thresholds[level2 - 1] + 2 * beyond));
            t += Draw(random, 1, 5) * 60;
            records.push_back(AlarmEvent(s, static_cast<std::uint8_t>(event::kAlarmOff + level2 - 1),
                                         static_cast<std::uint32_t>(t), battery, peak));
        }
        t += Draw(random, 2, 20) * 60;
        records.push_back(AlarmEvent(s, event::kAlarmOff, static_cast<std::uint32_t>(t), battery,
                                     falling ? a1 + 1 : std::max<long>(0, a1 - 1)));
    }
    records.resize(static_cast<std::size_t>(s.events));

    const std::int64_t shift = now - 600 - (records.empty() ? 0 : records.back().time);
    for (EventRecord &r : records)
        r.time = static_cast<std::uint32_t>(r.time + shift);

    EventLog log;
    log.records = std::move(records);
    log.maxEvents = static_cast<std::uint16_t>(std::max(s.maxEvents, s.events));
    log.position = static_cast<std::uint16_t>(log.records.size());
    return log;
}

DataLogger GenerateDataLogger(const Scenario &s, std::int64_t now)
{
    std::mt19937 random(s.seed ^ 0x10663Eu);
    DataLogger logger;
    logger.info.blockCounter = static_cast<std::uint16_t>(s.loggerBlocks);
    logger.info.maxBlocks = static_cast<std::uint16_t>(s.loggerMaxBlocks);
    logger.info.objects = s.loggerObjects;
    logger.info.interval = s.loggerInterval;

    const long span = std::max<long>(1, long{s.rangeEnd} - s.rangeBegin);
    const bool falling = (s.alarmFlags[0] & 1) != 0; // A1 falls below: oxygen
    std::int64_t t = 0;
    for (int b = 1; b <= s.loggerBlocks; ++b) {
        const LoggerBlockShape shape = s.block(b);
        t += shape.gapSeconds;
        LoggerBlock block;
        block.state = shape.state;
        block.firstSampleTime = static_cast<std::uint32_t>(t);
        block.interval = s.loggerInterval;
        block.samplesPerSet = shape.samples;
        block.setCount = shape.sets;
        const int stored = std::min<int>(shape.samples, kSamplesPerSet);
        const int kept = std::min<int>(shape.sets, kSetsKeptPerBlock);
        for (int k = 0; k < kept; ++k) {
            LoggerSampleSet set;
            set.state = shape.setState;
            set.gasCode = s.gasCode;
            set.unitCode = s.unitCode;
            set.exponent = s.exponent;
            for (int i = 0; i < stored; ++i) {
                long v = s.value + Draw(random, -1, 1) * std::max<long>(1, s.valueSwing / 2);
                if (shape.alarm) {
                    // A gas cloud: rises to half again the A1 limit mid-block and
                    // falls off; oxygen dips below a falling A1 by half its distance.
                    const double rise = std::sin(3.14159265358979 * (i + 0.5) / stored);
                    const double a1 = s.thresholds[0];
                    const double extreme = falling ? a1 - (s.value - a1) / 2.0 : a1 * 1.5;
                    v = std::lround(s.value + rise * (extreme - s.value));
                }
                set.samples[i] = Clamp16(std::clamp<long>(v, s.rangeBegin, s.rangeBegin + span));
                if (falling ? set.samples[i] <= s.thresholds[0] : set.samples[i] >= s.thresholds[0])
                    set.alarmBits = static_cast<std::uint16_t>(set.alarmBits | (1u << i));
            }
            block.sets.push_back(set);
        }
        t += std::int64_t{shape.samples} * s.loggerInterval;
        logger.blocks.push_back(std::move(block));
    }
    const std::int64_t shift = now - s.loggerInterval - t;
    for (LoggerBlock &block : logger.blocks)
        block.firstSampleTime = static_cast<std::uint32_t>(block.firstSampleTime + shift);
    return logger;
}

} // namespace r310::sim
