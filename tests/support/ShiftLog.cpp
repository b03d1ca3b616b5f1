#include "ShiftLog.h"

#include <EventLog.h>

#include <QDate>

#include <cmath>
#include <random>

namespace r310test {

namespace {

using namespace r310::logs;

constexpr std::uint16_t kInterval = 60;
constexpr std::int32_t kPause = 45 * 60;

struct Gas {
    std::uint8_t unit, gas;
    std::int8_t exponent;
    const char *text;
};
const Gas kGases[] = {{1, 1, 0, "ppm CO"}, {1, 2, -1, "ppm H2S"}, {2, 3, 0, "%LEL EX"}, {3, 4, -1, "%Vol O2"}};

std::int32_t ShiftStart()
{
    const qint64 days = QDate(1980, 1, 1).daysTo(QDate(2026, 3, 2));
    return static_cast<std::int32_t>(days * 86400 + 6 * 3600);
}

std::int32_t BlockStart(int block, int blocks)
{
    const std::int32_t start = ShiftStart() + block * kSamplesPerSet * kInterval;
    return block > blocks / 2 ? start + kPause : start;
}

// CO in ppm at minute m of the shift: a few ppm, and two bell-shaped
// exposures (to 75 and to 45 ppm) in every 8 hours.
double CoAt(double minute)
{
    const double m = std::fmod(minute, 480.0);
    auto bell = [m](double centre, double height, double width) {
        return height * std::exp(-(m - centre) * (m - centre) / (2 * width * width));
    };
    return 4 + bell(150, 71, 12) + bell(330, 41, 20);
}

} // namespace

LoggerExportData ShiftLogger(int blocks, int sets, const QLocale &locale, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    LoggerExportData data;
    data.locale = locale;
    for (const Gas &gas : kGases)
        data.gasTexts[GasTextKey(gas.unit, gas.gas)] = QString::fromLatin1(gas.text);
    data.blocks.reserve(static_cast<std::size_t>(blocks));
    for (int b = 0; b < blocks; ++b) {
        LoggerBlock block;
        block.header.state = kValidState;
        block.header.firstSampleTime = BlockStart(b, blocks);
        block.header.interval = kInterval;
        block.header.reportedSamples = kSamplesPerSet;
        block.header.setCount = static_cast<std::uint8_t>(sets);
        for (int s = 0; s < sets; ++s) {
            const Gas &gas = kGases[s];
            LoggerSampleSet set;
            set.state = kValidState;
            set.gasCode = gas.gas;
            set.unitCode = gas.unit;
            set.exponent = gas.exponent;
            for (int i = 0; i < kSamplesPerSet; ++i) {
                const double minute = b * kSamplesPerSet + i;
                const double co = CoAt(minute) + noise(random);
                const double value = s == 0 ? co : s == 1 ? co / 10 : s == 2 ? co / 8 : 20.9 - co / 100;
                const double raw = std::round(value / std::pow(10.0, gas.exponent));
                set.samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(raw);
                if (s == 0 && co >= kShiftA1)
                    set.alarmBits = static_cast<std::uint16_t>(set.alarmBits | (1u << i));
            }
            block.sets.push_back(set);
        }
        data.blocks.push_back(std::move(block));
    }
    return data;
}

QStringList ShiftEventLines(int blocks, const QLocale &locale)
{
    EventLineFormat format{locale, [](std::uint8_t unit, std::uint8_t gas) {
                               for (const Gas &g : kGases) {
                                   if (g.unit == unit && g.gas == gas)
                                       return QString::fromLatin1(g.text);
                               }
                               return QString();
                           }};
    auto record = [](std::uint8_t type, std::int32_t time, std::int16_t value, std::uint8_t battery) {
        EventRecordBytes p{};
        p[2] = type;
        for (int k = 0; k < 4; ++k)
            p[static_cast<std::size_t>(4 + k)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(time) >> (8 * k));
        const bool device = type >= 19;
        p[8] = device ? battery : 1;
        p[9] = 1;
        p[11] = static_cast<std::uint8_t>(value & 0xFF);
        p[12] = static_cast<std::uint8_t>(value >> 8);
        p[13] = static_cast<std::uint8_t>((value / 2) & 0xFF);
        p[15] = static_cast<std::uint8_t>((value / 5) & 0xFF);
        p[17] = battery;
        return p;
    };
    QStringList lines;
    int number = 0;
    const int minutes = blocks * kSamplesPerSet;
    FormatEventLine(record(19, ShiftStart() - 60, 0, 96), lines, number++, format);
    bool above[2] = {false, false};
    for (int m = 0; m < minutes; ++m) {
        const double co = CoAt(m);
        const std::int32_t time = BlockStart(m / kSamplesPerSet, blocks) + (m % kSamplesPerSet) * kInterval;
        for (int level = 0; level < 2; ++level) {
            const bool now = co >= (level == 0 ? kShiftA1 : kShiftA2);
            if (now != above[level]) {
                const auto type = static_cast<std::uint8_t>((now ? 1 : 9) + level);
                FormatEventLine(record(type, time, static_cast<std::int16_t>(co), 90), lines, number++, format);
                above[level] = now;
            }
        }
    }
    FormatEventLine(record(20, BlockStart(blocks - 1, blocks) + kSamplesPerSet * kInterval, 0, 71), lines, number++,
                    format);
    return lines;
}

} // namespace r310test
