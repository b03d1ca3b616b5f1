#include "Scenario.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

namespace r310::sim {

namespace {

std::string Trim(const std::string &s)
{
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string NormalKey(const std::string &key)
{
    std::string k = Lower(Trim(key));
    std::replace(k.begin(), k.end(), '-', '_');
    return k;
}

bool Fail(std::string *error, const std::string &message)
{
    if (error)
        *error = message;
    return false;
}

// A value is written in double quotes when it would not read back as it is
// (blanks at either end, a '#', a leading quote) or would not show as it is
// (control characters, bytes beyond ASCII, backslashes). Inside the quotes
// \\ is a backslash, \" a quote and \xHH the byte HH.
bool NeedsQuotes(const std::string &value)
{
    if (!value.empty() && (value.front() == ' ' || value.back() == ' '))
        return true;
    return std::any_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte >= 0x7F || c == '#' || c == '"' || c == '\\';
    });
}

std::string Quoted(const std::string &value)
{
    static const char kHexDigits[] = "0123456789abcdef";
    std::string text = "\"";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            text += "\\x";
            text += kHexDigits[byte >> 4];
            text += kHexDigits[byte & 0x0F];
        } else {
            text += c;
        }
    }
    return text + '"';
}

// The value as a scenario file line holds it.
std::string FileValue(const std::string &value)
{
    return NeedsQuotes(value) ? Quoted(value) : value;
}

// The value in a message: quoted as in a file when it holds awkward characters.
std::string ShownValue(const std::string &value)
{
    return NeedsQuotes(value) ? Quoted(value) : "'" + value + "'";
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// text starts with the opening quote. After the closing quote only blanks
// and a comment may follow.
bool ParseQuotedValue(const std::string &text, std::string &value, std::string *error)
{
    std::string unquoted;
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            unquoted += text[i];
            continue;
        }
        if (++i == text.size())
            break;
        const char escaped = text[i];
        if (escaped == '\\' || escaped == '"') {
            unquoted += escaped;
            continue;
        }
        const int high = i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
        if (escaped != 'x' || low < 0)
            return Fail(error, std::string("unknown escape '\\") + escaped +
                                   "' in a quoted value (\\\\, \\\" and \\xHH are known)");
        unquoted += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (i >= text.size())
        return Fail(error, "quoted value without its closing quote");
    const std::string after = text.substr(i + 1);
    if (!Trim(after.substr(0, after.find('#'))).empty())
        return Fail(error, "text after the closing quote");
    value = std::move(unquoted);
    return true;
}

struct ScenarioLine {
    bool setting = false; // false: blank or comment only
    std::string key;
    std::string value;
};

// "key = value # comment", or "key = "quoted value" # comment". An unquoted
// value ends at '#' and loses its blanks at either end.
bool ParseLine(const std::string &line, ScenarioLine &parsed, std::string *error)
{
    const auto eq = line.find('=');
    const auto hash = line.find('#');
    if (eq == std::string::npos || (hash != std::string::npos && hash < eq)) {
        if (!Trim(line.substr(0, hash)).empty())
            return Fail(error, "expected key = value");
        parsed = ScenarioLine{};
        return true;
    }
    parsed.setting = true;
    parsed.key = line.substr(0, eq);
    const std::string rest = line.substr(eq + 1);
    const auto start = rest.find_first_not_of(" \t");
    if (start != std::string::npos && rest[start] == '"')
        return ParseQuotedValue(rest.substr(start), parsed.value, error);
    parsed.value = Trim(rest.substr(0, rest.find('#')));
    return true;
}

bool ParseInteger(const std::string &text, long long min, long long max, long long &out)
{
    const std::string t = Trim(text);
    if (t.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    const long long v = std::strtoll(t.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool ParseBool(const std::string &text, bool &out)
{
    const std::string t = Lower(Trim(text));
    if (t == "1" || t == "on" || t == "yes" || t == "true") {
        out = true;
        return true;
    }
    if (t == "0" || t == "off" || t == "no" || t == "false") {
        out = false;
        return true;
    }
    return false;
}

// "off", "always", a count k ("3": the next 3 requests) or a probability
// with a decimal point or a percent sign ("0.25", "25%").
bool ParseFaultRate(const std::string &text, FaultRate &out)
{
    const std::string t = Lower(Trim(text));
    if (t == "off" || t == "never" || t == "no" || t == "0") {
        out = FaultRate{};
        return true;
    }
    if (t == "always" || t == "on") {
        out = FaultRate{0, 1.0};
        return true;
    }
    const bool percent = !t.empty() && t.back() == '%';
    if (percent || t.find('.') != std::string::npos) {
        std::string number = percent ? t.substr(0, t.size() - 1) : t;
        if (!number.empty() && number.front() == '+')
            number.erase(0, 1);
        // Read the same way in every regional setting: always a decimal point.
        double p = 0.0;
        const char *end = number.data() + number.size();
        const auto [stop, problem] = std::from_chars(number.data(), end, p);
        if (number.empty() || problem != std::errc() || stop != end)
            return false;
        if (percent)
            p /= 100.0;
        if (!(p >= 0.0 && p <= 1.0))
            return false;
        out = FaultRate{0, p};
        return true;
    }
    long long k = 0;
    if (!ParseInteger(t, 1, std::numeric_limits<int>::max(), k))
        return false;
    out = FaultRate{static_cast<int>(k), 0.0};
    return true;
}

// The shortest text that reads back to the same double, with a decimal point
// so that the reader takes it for a probability, not a count: 1e-07 is
// written 1.0e-07.
std::string FormatProbability(double probability)
{
    std::array<char, 32> buffer{};
    const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), probability);
    std::string text(buffer.data(), written.ptr);
    if (text.find('.') == std::string::npos) {
        const auto exponent = text.find('e');
        text.insert(exponent == std::string::npos ? text.size() : exponent, ".0");
    }
    return text;
}

std::string FormatFaultRate(const FaultRate &rate)
{
    if (rate.probability >= 1.0)
        return "always";
    if (rate.next > 0)
        return std::to_string(rate.next);
    if (rate.probability > 0.0)
        return FormatProbability(rate.probability);
    return "off";
}

bool ParseByteList(const std::string &text, std::vector<std::uint8_t> &out)
{
    std::vector<std::uint8_t> values;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ',')) {
        if (Trim(item).empty())
            continue;
        long long v = 0;
        if (!ParseInteger(item, 0, 255, v))
            return false;
        values.push_back(static_cast<std::uint8_t>(v));
    }
    out = std::move(values);
    return true;
}

std::string FormatByteList(const std::vector<std::uint8_t> &values)
{
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? "," : "") + std::to_string(values[i]);
    return text;
}

// "off", or N counters of 0 to 65535 separated by commas.
template <std::size_t N>
bool ParseCounters(const std::string &text, std::optional<std::array<std::uint16_t, N>> &out)
{
    if (Lower(Trim(text)) == "off") {
        out.reset();
        return true;
    }
    std::array<std::uint16_t, N> counters{};
    std::istringstream in(text);
    std::string item;
    std::size_t count = 0;
    while (std::getline(in, item, ',')) {
        long long v = 0;
        if (count == N || !ParseInteger(item, 0, 65535, v))
            return false;
        counters[count++] = static_cast<std::uint16_t>(v);
    }
    if (count != N)
        return false;
    out = counters;
    return true;
}

template <std::size_t N>
std::string FormatCounters(const std::optional<std::array<std::uint16_t, N>> &counters)
{
    if (!counters)
        return "off";
    std::string text;
    for (std::size_t i = 0; i < N; ++i)
        text += (i ? "," : "") + std::to_string((*counters)[i]);
    return text;
}

bool ParseBlockShape(const std::string &text, LoggerBlockShape &shape, std::string *error)
{
    std::string normal = text;
    std::replace(normal.begin(), normal.end(), ',', ' ');
    std::istringstream in(normal);
    std::string item;
    while (in >> item) {
        const auto eq = item.find('=');
        if (eq == std::string::npos)
            return Fail(error, "block item '" + item + "' is not name=value");
        const std::string name = NormalKey(item.substr(0, eq));
        const std::string value = item.substr(eq + 1);
        long long v = 0;
        bool flag = false;
        if (name == "state" && ParseInteger(value, 0, 65535, v))
            shape.state = static_cast<std::uint16_t>(v);
        else if (name == "sets" && ParseInteger(value, 0, 255, v))
            shape.sets = static_cast<std::uint8_t>(v);
        else if (name == "samples" && ParseInteger(value, 0, 255, v))
            shape.samples = static_cast<std::uint8_t>(v);
        else if (name == "set_state" && ParseInteger(value, 0, 255, v))
            shape.setState = static_cast<std::uint8_t>(v);
        else if (name == "gap" && ParseInteger(value, 0, 100000000, v))
            shape.gapSeconds = static_cast<std::int32_t>(v);
        else if (name == "alarm" && ParseBool(value, flag))
            shape.alarm = flag;
        else
            return Fail(error, "block item '" + item + "' is unknown or out of range");
    }
    return true;
}

std::string FormatBlockShape(const LoggerBlockShape &shape)
{
    return "state=" + std::to_string(shape.state) + " sets=" + std::to_string(shape.sets) +
           " samples=" + std::to_string(shape.samples) + " set_state=" + std::to_string(shape.setState) +
           " gap=" + std::to_string(shape.gapSeconds) + " alarm=" + (shape.alarm ? "yes" : "no");
}

struct Key {
    std::string name;
    std::string help;
    std::function<bool(Scenario &, const std::string &)> set;
    std::function<std::string(const Scenario &)> get;
};

template <typename T>
Key IntegerKey(const std::string &name, const std::string &help, T Scenario::*field, long long min, long long max)
{
    return Key{name, help,
               [field, min, max](Scenario &s, const std::string &v) {
                   long long n = 0;
                   if (!ParseInteger(v, min, max, n))
                       return false;
                   s.*field = static_cast<T>(n);
                   return true;
               },
               [field](const Scenario &s) { return std::to_string(static_cast<long long>(s.*field)); }};
}

template <typename T, std::size_t N>
Key ArrayKey(const std::string &name, const std::string &help, std::array<T, N> Scenario::*field, std::size_t index,
             long long min, long long max)
{
    return Key{name, help,
               [field, index, min, max](Scenario &s, const std::string &v) {
                   long long n = 0;
                   if (!ParseInteger(v, min, max, n))
                       return false;
                   (s.*field)[index] = static_cast<T>(n);
                   return true;
               },
               [field, index](const Scenario &s) { return std::to_string(static_cast<long long>((s.*field)[index])); }};
}

Key BoolKey(const std::string &name, const std::string &help, std::function<bool &(Scenario &)> field)
{
    return Key{name, help,
               [field](Scenario &s, const std::string &v) { return ParseBool(v, field(s)); },
               [field](const Scenario &s) { return field(const_cast<Scenario &>(s)) ? std::string("on") : "off"; }};
}

Key FaultKey(const std::string &name, const std::string &help, FaultRate FaultPlan::*field)
{
    return Key{name, help,
               [field](Scenario &s, const std::string &v) { return ParseFaultRate(v, s.faults.*field); },
               [field](const Scenario &s) { return FormatFaultRate(s.faults.*field); }};
}

Key FaultIntegerKey(const std::string &name, const std::string &help, int FaultPlan::*field, long long min,
                    long long max)
{
    return Key{name, help,
               [field, min, max](Scenario &s, const std::string &v) {
                   long long n = 0;
                   if (!ParseInteger(v, min, max, n))
                       return false;
                   s.faults.*field = static_cast<int>(n);
                   return true;
               },
               [field](const Scenario &s) { return std::to_string(s.faults.*field); }};
}

const std::vector<Key> &Keys()
{
    static const std::vector<Key> keys = [] {
        const long long i16min = std::numeric_limits<std::int16_t>::min();
        const long long i16max = std::numeric_limits<std::int16_t>::max();
        std::vector<Key> k;
        // Identity.
        k.push_back(IntegerKey("serial", "instrument serial number", &Scenario::serialNumber,
                               std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
        k.push_back(IntegerKey("mk_type", "sensor (MK) type, 10301 shows as 103-01", &Scenario::mkType, 0, 65535));
        k.push_back(IntegerKey("mk_serial", "sensor (MK) serial number", &Scenario::mkSerial, 0, 65535));
        k.push_back(IntegerKey("software", "software version in hundredths: 209 210 211 219 220 221 ...",
                               &Scenario::softwareVersion, 0, 65535));
        k.push_back(Key{"customer_id", "customer ID text, at most 10 characters",
                        [](Scenario &s, const std::string &v) {
                            if (v.size() > 10)
                                return false;
                            s.customerId = v;
                            return true;
                        },
                        [](const Scenario &s) { return s.customerId; }});
        k.push_back(IntegerKey("battery", "battery check value in percent", &Scenario::battery, 0, 255));
        k.push_back(IntegerKey("clock_offset", "instrument clock minus PC local time, in seconds",
                               &Scenario::clockOffsetSeconds, -2000000000LL, 4000000000LL));
        k.push_back(Key{"clock_stopped_at",
                        "the clock stands still at this count of seconds since 1980 (0 to 4294967295); "
                        "writes are answered but do not move it; off: it runs",
                        [](Scenario &s, const std::string &v) {
                            long long n = 0;
                            if (Lower(Trim(v)) == "off")
                                n = -1;
                            else if (!ParseInteger(v, 0, 4294967295LL, n))
                                return false;
                            s.clockStoppedAt = n;
                            return true;
                        },
                        [](const Scenario &s) {
                            return s.clockStoppedAt < 0 ? std::string("off") : std::to_string(s.clockStoppedAt);
                        }});
        // Range and alarms.
        k.push_back(IntegerKey("range_begin", "measuring range begin, raw", &Scenario::rangeBegin, i16min, i16max));
        k.push_back(IntegerKey("range_end", "measuring range end, raw", &Scenario::rangeEnd, i16min, i16max));
        k.push_back(IntegerKey("gas", "gas code of the gas table", &Scenario::gasCode, 0, 255));
        k.push_back(IntegerKey("unit", "unit code of the gas table", &Scenario::unitCode, 0, 255));
        k.push_back(IntegerKey("exponent", "decimal exponent of all gas values (raw x 10^exponent)",
                               &Scenario::exponent, -128, 127));
        const char *limits[] = {"a1", "a2", "a3", "stel", "twa"};
        for (std::size_t i = 0; i < 5; ++i) {
            k.push_back(ArrayKey(limits[i], std::string("alarm limit ") + limits[i] + ", raw", &Scenario::thresholds,
                                 i, i16min, i16max));
        }
        for (std::size_t i = 0; i < 5; ++i) {
            k.push_back(ArrayKey(std::string(limits[i]) + "_flags",
                                 std::string("options of ") + limits[i] +
                                     ": 1 fall below, 2 latching, 4 horn may be silenced",
                                 &Scenario::alarmFlags, i, 0, 7));
        }
        k.push_back(IntegerKey("cal_gas", "calibration gas concentration, raw", &Scenario::calibrationGas, i16min,
                               i16max));
        k.push_back(IntegerKey("u_zero", "sensor voltage at zero, hundredths of a mV", &Scenario::zeroVoltage,
                               i16min, i16max));
        k.push_back(IntegerKey("u_full", "sensor voltage at full scale, hundredths of a mV",
                               &Scenario::fullScaleVoltage, i16min, i16max));
        // Signals.
        k.push_back(IntegerKey("signal_modes", "signals byte: bleep, vibrator, key, warm-up (2 bits each)",
                               &Scenario::signalModes, 0, 255));
        k.push_back(IntegerKey("bleep_interval", "confidence bleep interval in seconds", &Scenario::bleepInterval,
                               0, 255));
        k.push_back(IntegerKey("display_options", "display byte: wake-up, date format, 12h, time, seconds",
                               &Scenario::displayOptions, 0, 127));
        k.push_back(IntegerKey("next_bump_in", "days from today to the next bump test", &Scenario::nextBumpInDays,
                               -10000, 10000));
        k.push_back(IntegerKey("next_cal_in", "days from today to the next calibration", &Scenario::nextCalInDays,
                               -10000, 10000));
        k.push_back(IntegerKey("bump_interval", "bump test interval in days", &Scenario::bumpIntervalDays, i16min,
                               i16max));
        k.push_back(IntegerKey("cal_interval", "calibration interval in days", &Scenario::calIntervalDays, i16min,
                               i16max));
        k.push_back(IntegerKey("service_options", "service byte: bump info (2 bits), 4 bump alarm, 8 cal alarm",
                               &Scenario::serviceOptions, 0, 15));
        // Hardware.
        k.push_back(IntegerKey("hw_zero", "zero point, tenths of a mV", &Scenario::hwZeroPoint, i16min, i16max));
        k.push_back(IntegerKey("hw_gain", "gain, hundredths", &Scenario::hwGain, i16min, i16max));
        k.push_back(IntegerKey("hw_reference", "reference voltage, tenths of a mV", &Scenario::hwReference, i16min,
                               i16max));
        k.push_back(IntegerKey("hw_options",
                               "hardware options: 0x80 keyboard service, 0x20 no vibrator, 0x10 test key only, "
                               "0x08 best resolution (220+), 0x04 data safety (220+), 0x02 second value (221+)",
                               &Scenario::hwOptions, 0, 255));
        // Live value and processes.
        k.push_back(IntegerKey("value", "baseline of the live gas value, raw", &Scenario::value, i16min, i16max));
        k.push_back(IntegerKey("value_swing", "how far the live value wanders around the baseline, raw",
                               &Scenario::valueSwing, 0, i16max));
        k.push_back(IntegerKey("cal_reads", "calibration status reads that report running", &Scenario::calibrationReads,
                               0, 100000));
        k.push_back(Key{"cal_result", "calibration outcome: ok or error",
                        [](Scenario &s, const std::string &v) {
                            const std::string t = Lower(Trim(v));
                            if (t != "ok" && t != "error")
                                return false;
                            s.calibrationFails = t == "error";
                            return true;
                        },
                        [](const Scenario &s) { return std::string(s.calibrationFails ? "error" : "ok"); }});
        k.push_back(Key{"bump", "bump test: idle, running, ok, error or needcal",
                        [](Scenario &s, const std::string &v) {
                            const std::string t = Lower(Trim(v));
                            if (t != "idle" && t != "running" && t != "ok" && t != "error" && t != "needcal")
                                return false;
                            s.bump = t;
                            return true;
                        },
                        [](const Scenario &s) { return s.bump; }});
        k.push_back(IntegerKey("bump_reads", "bump result reads that report running", &Scenario::bumpReads, 0,
                               100000));
        k.push_back(BoolKey("bump_on_read", "a bump result read while idle starts a bump test with test gas",
                            [](Scenario &s) -> bool & { return s.bumpOnRead; }));
        k.push_back(BoolKey("bump_fails", "bump tests fail: A2 is never reached",
                            [](Scenario &s) -> bool & { return s.bumpFails; }));
        k.push_back(IntegerKey("t90_s", "seconds the sensor takes to 90 % of applied test gas (0: at once)",
                               &Scenario::t90Seconds, 0, 3600));
        k.push_back(IntegerKey("sensor_response", "percent of the test gas the sensor shows after a span (reads low)",
                               &Scenario::sensorResponsePercent, 0, 1000));
        k.push_back(IntegerKey("span_drift", "percent the reading drifts off right after a span calibration",
                               &Scenario::spanDriftPercent, -100, 1000));
        // Logs.
        k.push_back(IntegerKey("events", "stored events (0 to 65535)", &Scenario::events, 0, 65535));
        k.push_back(IntegerKey("max_events", "maximum number of events (raised to events)", &Scenario::maxEvents, 1,
                               65535));
        k.push_back(IntegerKey("event_start", "instrument seconds the log starts from; -1: it ends ten minutes ago",
                               &Scenario::eventStart, -1, 4294967295LL));
        k.push_back(Key{"event_counters",
                        "what the event properties report until a clear: position,count,third,maximum "
                        "(events beyond the stored ones are refused); off: the log's own",
                        [](Scenario &s, const std::string &v) { return ParseCounters(v, s.eventCounters); },
                        [](const Scenario &s) { return FormatCounters(s.eventCounters); }});
        k.push_back(IntegerKey("logger_blocks", "stored data logger blocks", &Scenario::loggerBlocks, 0, 65535));
        k.push_back(IntegerKey("logger_max_blocks", "maximum number of logger blocks", &Scenario::loggerMaxBlocks, 0,
                               65535));
        k.push_back(Key{"logger_counters",
                        "what the logger information reports until it is erased: block counter,stored blocks,"
                        "maximum (blocks beyond the stored ones are refused); off: the logger's own",
                        [](Scenario &s, const std::string &v) { return ParseCounters(v, s.loggerCounters); },
                        [](const Scenario &s) { return FormatCounters(s.loggerCounters); }});
        k.push_back(IntegerKey("logger_interval", "logging interval in seconds", &Scenario::loggerInterval, 0,
                               65535));
        k.push_back(IntegerKey("logger_start",
                               "instrument seconds of the first sample ever logged; -1: the last block ends now",
                               &Scenario::loggerStart, -1, 4294967295LL));
        k.push_back(IntegerKey("logger_overwritten",
                               "blocks logged before the stored ones and written over (the logger wrapped)",
                               &Scenario::loggerOverwritten, 0, 65535));
        k.push_back(IntegerKey("logger_sets", "sample sets per block", &Scenario::loggerSets, 0, 255));
        k.push_back(IntegerKey("logger_samples", "samples per set", &Scenario::loggerSamples, 0, 255));
        k.push_back(Key{"logger_objects", "the four setting bytes 6..9 of the logger information (a,b,c,d)",
                        [](Scenario &s, const std::string &v) {
                            std::vector<std::uint8_t> list;
                            if (!ParseByteList(v, list) || list.size() != 4)
                                return false;
                            std::copy(list.begin(), list.end(), s.loggerObjects.begin());
                            return true;
                        },
                        [](const Scenario &s) {
                            return FormatByteList({s.loggerObjects.begin(), s.loggerObjects.end()});
                        }});
        // Line.
        k.push_back(BoolKey("pacing", "9600-baud line timing on or off",
                            [](Scenario &s) -> bool & { return s.pacing; }));
        k.push_back(IntegerKey("turnaround_ms", "pause between a request and its answer, ms",
                               &Scenario::turnaroundMillis, 0, 60000));
        k.push_back(IntegerKey("seed", "seed of every random choice", &Scenario::seed, 0, 4294967295LL));
        // Faults.
        k.push_back(FaultKey("no_answer", "requests that are not heard", &FaultPlan::noAnswer));
        k.push_back(FaultKey("bad_crc", "answers with a corrupted CRC", &FaultPlan::badCrc));
        k.push_back(FaultKey("error_report", "error reports (object 0xF0) instead of answers", &FaultPlan::errorReport));
        k.push_back(FaultKey("echo", "requests echoed back before the answer", &FaultPlan::echo));
        k.push_back(FaultKey("stray", "stray bytes before the answer", &FaultPlan::stray));
        k.push_back(FaultKey("split", "answers split by pauses", &FaultPlan::split));
        k.push_back(FaultKey("late", "answers that come late, during the next request", &FaultPlan::late));
        k.push_back(FaultKey("wrong_object", "answers of another object instead of the one asked for",
                             &FaultPlan::wrongObject));
        k.push_back(FaultIntegerKey("stray_bytes", "how many stray bytes", &FaultPlan::strayBytes, 1, 64));
        k.push_back(FaultIntegerKey("split_pieces", "pieces of a split answer", &FaultPlan::splitPieces, 2, 73));
        k.push_back(FaultIntegerKey("split_pause_ms", "pause between the pieces, ms", &FaultPlan::splitPauseMillis,
                                    0, 60000));
        k.push_back(FaultIntegerKey("late_ms", "delay of a late answer, ms", &FaultPlan::lateMillis, 0, 60000));
        k.push_back(BoolKey("clock_readonly", "clock writes are answered but not taken",
                            [](Scenario &s) -> bool & { return s.faults.clockReadOnly; }));
        k.push_back(FaultIntegerKey("line_drop_after",
                                    "the line goes away at the next log request (34..38) after this many were answered; -1 never",
                                    &FaultPlan::lineDropAfter, -1, std::numeric_limits<int>::max()));
        k.push_back(FaultIntegerKey("line_drop_for", "requests lost once the line is gone; 0 for good",
                                    &FaultPlan::lineDropFor, 0, std::numeric_limits<int>::max()));
        k.push_back(FaultIntegerKey("silent_at_block",
                                    "the line goes silent for good when this logger block's header is asked for; 0 never",
                                    &FaultPlan::silentAtBlock, 0, 65535));
        k.push_back(FaultKey("short_answer", "data answers whose payload lacks its last short_answer_bytes bytes",
                             &FaultPlan::shortAnswer));
        k.push_back(FaultIntegerKey("short_answer_bytes", "bytes a short answer lacks", &FaultPlan::shortAnswerBytes,
                                    1, 64));
        k.push_back(FaultKey("long_answer", "data answers filled up to the longest payload a frame carries (64 bytes)",
                             &FaultPlan::longAnswer));
        k.push_back(FaultIntegerKey("long_answer_fill", "the byte a long answer is filled up with",
                                    &FaultPlan::longAnswerFill, 0, 255));
        k.push_back(Key{"fault_objects", "objects the per-request faults hit, e.g. 3,7 (empty: all)",
                        [](Scenario &s, const std::string &v) { return ParseByteList(v, s.faults.objects); },
                        [](const Scenario &s) { return FormatByteList(s.faults.objects); }});
        return k;
    }();
    return keys;
}

const Key *FindKey(const std::string &name)
{
    for (const Key &key : Keys())
        if (key.name == name)
            return &key;
    return nullptr;
}

// "block<N>" with N >= 1, or 0 when the key is not a block key.
int BlockNumber(const std::string &key)
{
    if (key.size() <= 5 || key.compare(0, 5, "block") != 0)
        return 0;
    long long n = 0;
    if (!ParseInteger(key.substr(5), 1, 65535, n))
        return 0;
    return static_cast<int>(n);
}

} // namespace

LoggerBlockShape Scenario::block(int b) const
{
    const auto found = blockOverrides.find(b);
    if (found != blockOverrides.end())
        return found->second;
    LoggerBlockShape shape;
    shape.sets = loggerSets;
    shape.samples = loggerSamples;
    shape.alarm = b == 3; // the default history holds one gas peak
    return shape;
}

bool SetScenarioValue(Scenario &scenario, const std::string &key, const std::string &value, std::string *error)
{
    // The value is taken as given: the number and word readers skip blanks
    // themselves, and a customer ID may begin or end with one.
    const std::string name = NormalKey(key);
    if (const int b = BlockNumber(name)) {
        LoggerBlockShape shape = scenario.block(b);
        if (!ParseBlockShape(value, shape, error))
            return false;
        scenario.blockOverrides[b] = shape;
        return true;
    }
    const Key *k = FindKey(name);
    if (!k)
        return Fail(error, "unknown scenario key " + ShownValue(Trim(key)));
    if (!k->set(scenario, value))
        return Fail(error, "bad value " + ShownValue(value) + " for " + name + " (" + k->help + ")");
    return true;
}

bool ParseScenarioText(const std::string &text, Scenario &scenario, std::string *error)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        ScenarioLine parsed;
        std::string message;
        const bool ok = ParseLine(line, parsed, &message) &&
                        (!parsed.setting || SetScenarioValue(scenario, parsed.key, parsed.value, &message));
        if (!ok)
            return Fail(error, "line " + std::to_string(number) + ": " + message);
    }
    return true;
}

bool LoadScenarioFile(const std::string &path, Scenario &scenario, std::string *error)
{
    // A directory opens like a file on some systems and reads as nothing:
    // only a read that ends at the end of the file counts.
    const auto refuse = [&](int code) {
        return Fail(error, "cannot read scenario file " + path + (code ? std::string(": ") + std::strerror(code) : ""));
    };
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return refuse(errno);
    std::string text;
    std::array<char, 4096> chunk{};
    errno = 0;
    while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
        // Read no further than a scenario can be long.
        if (text.size() > kMaxScenarioFileBytes)
            return Fail(error, "scenario file " + path + " is larger than " + std::to_string(kMaxScenarioFileBytes) +
                                   " bytes; a scenario is a few lines of text");
    }
    if (file.bad())
        return refuse(errno);
    if (const auto zero = text.find('\0'); zero != std::string::npos)
        return Fail(error, "scenario file " + path + " is not text: a zero byte at offset " + std::to_string(zero));
    std::string message;
    if (!ParseScenarioText(text, scenario, &message))
        return Fail(error, path + ": " + message);
    return true;
}

bool ParseScenarioArguments(const std::vector<std::string> &args, Scenario &scenario,
                            std::vector<std::string> *rest, std::string *error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            if (rest)
                rest->push_back(arg);
            continue;
        }
        const auto eq = arg.find('=');
        const std::string name = NormalKey(arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
        const bool known = name == "scenario" || BlockNumber(name) != 0 || FindKey(name) != nullptr;
        if (!known) {
            if (rest)
                rest->push_back(arg);
            continue;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Fail(error, "option " + arg + " needs a value");
        }
        const bool ok = name == "scenario" ? LoadScenarioFile(value, scenario, error)
                                           : SetScenarioValue(scenario, name, value, error);
        if (!ok)
            return false;
    }
    return true;
}

std::string ScenarioKeyHelp()
{
    const Scenario defaults;
    std::string text;
    for (const Key &key : Keys()) {
        std::string line = "  " + key.name;
        line.resize(std::max<std::size_t>(line.size() + 1, 20), ' ');
        text += line + key.help + " [" + key.get(defaults) + "]\n";
    }
    text += "  block<N>          logger block N (1-based): state=S sets=M samples=n set_state=S gap=seconds "
            "alarm=yes|no [state=1 sets=logger_sets samples=logger_samples set_state=1 gap=0, alarm in block 3]\n";
    return text;
}

std::string FormatScenario(const Scenario &scenario)
{
    std::string text;
    for (const Key &key : Keys())
        text += key.name + " = " + FileValue(key.get(scenario)) + "\n";
    for (const auto &[number, shape] : scenario.blockOverrides)
        text += "block" + std::to_string(number) + " = " + FormatBlockShape(shape) + "\n";
    return text;
}

} // namespace r310::sim
