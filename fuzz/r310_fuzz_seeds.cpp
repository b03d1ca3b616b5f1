// Writes the seed corpora of the fuzz targets from the product's own code:
// the answers a simulated instrument gives (identity, clock, settings, live
// value, events, data logger), its scenario files, command lines of r310ctl
// set and settings profiles; and the dictionaries of the text parsers'
// words (fuzz/dictionaries/). Run once and commit the files:
//   r310_fuzz_seeds fuzz/corpus
// Each seed is a small, valid input in its target's format; the fuzzer
// mutates from there.
#include <DataLoggerExport.h>
#include <Device.h>
#include <R310_typ.h>
#include <Scenario.h>
#include <SettingsKeys.h>
#include <SettingsProfile.h>
#include <SimClock.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace r310;
using namespace r310::sim;

using Bytes = std::vector<std::uint8_t>;

class SeedWriter {
public:
    explicit SeedWriter(QString root) : root_(std::move(root)) {}

    bool write(const QString &target, const QString &name, const Bytes &bytes)
    {
        const QString folder = root_ + u'/' + target;
        if (!QDir().mkpath(folder))
            return fail(folder);
        QFile file(folder + u'/' + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()))
                   != static_cast<qint64>(bytes.size()))
            return fail(file.fileName());
        return true;
    }
    bool write(const QString &target, const QString &name, const std::string &text)
    {
        return write(target, name, Bytes(text.begin(), text.end()));
    }
    bool ok() const { return ok_; }

private:
    bool fail(const QString &what)
    {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(what));
        ok_ = false;
        return false;
    }

    QString root_;
    bool ok_ = true;
};

Bytes Append(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An instrument with every log filled, on a fixed clock.
class Instrument {
public:
    Instrument() : device_(DemoScenario(), std::make_shared<ManualClock>()) {}

    Frame read(std::uint8_t object, Bytes selector = {}) { return device_.serve(Frame{object, kFlagsRead, selector}); }
    Bytes readFrame(std::uint8_t object, Bytes selector = {})
    {
        const Frame answer = read(object, std::move(selector));
        return EncodeFrame(answer.object, answer.flags, answer.payload);
    }

private:
    static Scenario DemoScenario()
    {
        Scenario scenario;
        scenario.softwareVersion = 221;
        scenario.events = 6;
        scenario.loggerBlocks = 3;
        scenario.loggerSets = 2;
        scenario.exponent = -1;
        scenario.pacing = false;
        return scenario;
    }

    Device device_;
};

Bytes U16(std::uint16_t v)
{
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)};
}

// receive_assembler: a mode byte, then the line's bytes.
void AssemblerSeeds(SeedWriter &out, Instrument &instrument)
{
    const Bytes identity = instrument.readFrame(2);
    const Bytes range = instrument.readFrame(4);
    const Bytes value = instrument.readFrame(7);
    RequestBuffer request{};
    BuildReadRequest(7, request);
    const Bytes echo(request.begin(), request.begin() + FrameLength(request.data()));
    Bytes damaged = range;
    damaged[10] ^= 0x55;
    const Bytes cut(value.begin(), value.begin() + 5);
    const Bytes stray = {0x00, 'V', 'Y', 0xFF, 'V', 'Y', 'K'};

    out.write("receive_assembler", "answers-one-byte-each", Append(Bytes{0x00}, Append(identity, Append(range, value))));
    out.write("receive_assembler", "echo-then-answer", Append(Bytes{0x0E}, Append(echo, value)));
    out.write("receive_assembler", "bad-crc-then-answer", Append(Bytes{0x01}, Append(damaged, range)));
    out.write("receive_assembler", "bad-crc-bytes-run-on", Append(Bytes{0x40}, Append(damaged, value)));
    out.write("receive_assembler", "stray-and-cut", Append(Bytes{0x07}, Append(stray, Append(cut, value))));
    out.write("receive_assembler", "event-and-logger",
              Append(Bytes{0x20}, Append(instrument.readFrame(34, U16(1)), instrument.readFrame(36))));
}

// answer_decoder: object, control (length, bit 7: flags follow), payload.
Bytes DecoderAnswer(const Frame &answer)
{
    Bytes out{answer.object};
    if (answer.flags == kFlagsDataAnswer) {
        out.push_back(static_cast<std::uint8_t>(answer.payload.size()));
    } else {
        out.push_back(static_cast<std::uint8_t>(0x80 | answer.payload.size()));
        out.push_back(answer.flags);
    }
    return Append(out, answer.payload);
}

Bytes DecoderAnswers(Instrument &instrument, std::initializer_list<std::uint8_t> objects)
{
    Bytes out;
    for (const std::uint8_t object : objects)
        out = Append(out, DecoderAnswer(instrument.read(object)));
    return out;
}

void DecoderSeeds(SeedWriter &out, Instrument &instrument)
{
    out.write("answer_decoder", "connect-sequence", DecoderAnswers(instrument, {2, 3, 4, 7}));
    out.write("answer_decoder", "settings-tabs", DecoderAnswers(instrument, {2, 4, 31, 33, 7}));
    out.write("answer_decoder", "bump-and-calibration", DecoderAnswers(instrument, {5, 6, 10}));
    Bytes events = DecoderAnswer(instrument.read(35));
    for (std::uint16_t n = 1; n <= 3; ++n)
        events = Append(events, DecoderAnswer(instrument.read(34, U16(n))));
    out.write("answer_decoder", "event-download", events);
    Bytes logger = DecoderAnswer(instrument.read(36));
    logger = Append(logger, DecoderAnswer(instrument.read(37, U16(1))));
    logger = Append(logger, DecoderAnswer(instrument.read(38, {1})));
    logger = Append(logger, DecoderAnswer(instrument.read(38, {2})));
    out.write("answer_decoder", "logger-download", logger);
    // An error report, a write's answer and a short answer.
    const Frame refused = instrument.read(34, U16(999));
    out.write("answer_decoder", "error-report-and-short",
              Append(DecoderAnswer(refused), Bytes{7, 0x80 | 1, 0xE0, 0x10, 4, 3, 1, 2, 3}));
}

// export_lines: mode, events (count, then number and 18 bytes each), blocks
// (count, then 17 header bytes and 39 bytes per set), serial number text.
void ExportSeeds(SeedWriter &out, Instrument &instrument)
{
    for (const bool german : {true, false}) {
        Bytes seed{static_cast<std::uint8_t>(german ? 1 : 0), 4};
        for (std::uint16_t n = 1; n <= 4; ++n) {
            const Frame event = instrument.read(34, U16(n));
            seed = Append(seed, Append(U16(static_cast<std::uint16_t>(n - 1)),
                                       Bytes(event.payload.begin(), event.payload.begin() + 18)));
        }
        seed.push_back(3);
        for (std::uint16_t b = 1; b <= 3; ++b) {
            const Frame header = instrument.read(37, U16(b));
            seed = Append(seed, header.payload);
            const int sets = header.payload.size() > 16 ? header.payload[16] : 0;
            for (int k = 1; k <= sets && k <= 4; ++k)
                seed = Append(seed, instrument.read(38, {static_cast<std::uint8_t>(k)}).payload);
        }
        const std::string serial = "00001234";
        seed = Append(seed, Bytes(serial.begin(), serial.end()));
        out.write("export_lines", german ? "sim-logs-german" : "sim-logs-english", seed);
    }
}

// vyktool: routine byte and arguments; texts are a length byte and bytes.
Bytes Text(const std::string &text)
{
    return Append(Bytes{static_cast<std::uint8_t>(text.size())}, Bytes(text.begin(), text.end()));
}

void VykToolSeeds(SeedWriter &out)
{
    const Bytes fill = Append(Bytes{0, 1, 12, 0, '*', 0, 0, 0}, Text("Gas"));
    const Bytes split = Append(Bytes{1, 2, 0, '.', 0, 0, 0}, Text("12345"));
    const Bytes cut = Append(Bytes{2, ';', 0, 0, 0, 0xFF, 0xFF}, Text("CO;ppm;20.5"));
    const Bytes compare = {3, 4, 1, 'a', 'b', 'c', 'd', 2, 0x20};
    const Bytes bytes = {4, 1, 2, 1, 2, 3, 4, 2, 0, 5, 'V', 'Y', 'K', '4', 0};
    const Bytes numbers = {5, 0x80, 0x51, 0x01, 0x00, 0, 0, 0, 0, 0x40, 0x8C, 0xD5, 0x40, 0xFE, 0xFF, 0xFF, 0xFF};
    out.write("vyktool", "fill", fill);
    out.write("vyktool", "split", split);
    out.write("vyktool", "substring", cut);
    out.write("vyktool", "compare", compare);
    out.write("vyktool", "swap-and-checksum", bytes);
    out.write("vyktool", "numbers", numbers);
    out.write("vyktool", "all", Append(fill, Append(split, Append(cut, Append(compare, Append(bytes, numbers))))));
}

std::string FileText(const QString &path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// scenario: the example files and every key written out.
void ScenarioSeeds(SeedWriter &out, const QString &scenarios)
{
    const QDir folder(scenarios);
    for (const QString &name : folder.entryList({QStringLiteral("*.txt")}, QDir::Files))
        out.write("scenario", name, FileText(folder.filePath(name)));
    out.write("scenario", "every-key", FormatScenario(Scenario{}));
    out.write("scenario", "quoted-and-blocks",
              std::string("customer_id = \" A#\\\"B\\x7f\"  # quoted\nblock2 = sets=3 samples=9 alarm=yes\n"
                          "no_answer = 25%\nfault_objects = 3,7,34\n"));
}

// set_assignments: software version, payloads of objects 4, 31, 33, 2, words.
void SetSeeds(SeedWriter &out, Instrument &instrument)
{
    Bytes prefix = U16(221);
    for (const std::uint8_t object : {4, 31, 33, 2})
        prefix = Append(prefix, instrument.read(object).payload);
    const std::initializer_list<std::pair<const char *, std::string>> lines = {
        {"limits", "a1=30\na2=60.5\nstel=100\ncal-gas=50\na1-latching=on\ntwa-horn-off=off"},
        {"signals", "bleep=louder\nvibrator=long\nbleep-interval=0\nbump-interval=30\ncal-interval=180\n"
                    "date-format=yy-mm-dd\ntime-12h=on\nbump-info=2"},
        {"hardware", "service-keyboard=on\nvibrator-disabled=off\ndata-safety=on\ndisplay-mode=off"},
        {"customer-id", "customer-id=ACME 7"},
        {"refused", "a1=1,5"},
    };
    for (const auto &[name, words] : lines)
        out.write("set_assignments", name, Append(prefix, Bytes(words.begin(), words.end())));
}

// settings_profile: a profile of the simulated instrument as the product
// writes it, and a few written by hand.
void ProfileSeeds(SeedWriter &out, Instrument &instrument)
{
    InstrumentSettings settings;
    settings.draft.softwareVersion = 221;
    settings.draft.gates = GatesForVersion(221);
    for (const std::uint8_t object : {2, 4, 31, 33})
        settings.draft.Take(object, instrument.read(object).payload);
    settings.identity.serialNumberText = QStringLiteral("00001234");
    settings.identity.softwareVersionText = QStringLiteral("2.21");
    settings.loggerInterval = 60;
    SettingsProfile profile = ProfileOf(settings, nullptr, true);
    profile.source.saved = QStringLiteral("2024-03-15T10:00:00");
    const QByteArray json = SettingsProfileJson(profile);
    out.write("settings_profile", "from-instrument", Bytes(json.begin(), json.end()));
    out.write("settings_profile", "minimal",
              std::string(R"({"format": "r310conf-settings-profile", "version": 1, "settings": {"a1": 30}})"));
    out.write("settings_profile", "by-hand",
              std::string(R"({"format": "r310conf-settings-profile", "version": 1,)"
                          R"( "instrument": {"gas": "CO", "unit": "ppm", "gasCode": 1, "unitCode": 0},)"
                          R"( "settings": {"a2": 60.5, "a1-latching": true, "bleep": "louder",)"
                          R"( "date-format": "yy-mm-dd", "customer-id": "ACME 7", "logger-interval": 300}})"));
    out.write("settings_profile", "refused",
              std::string(R"({"format": "r310conf-settings-profile", "version": 2, "settings": {"a1": "30", "x": 1}})"));
}

// A libFuzzer dictionary: one quoted token a line.
std::string Dictionary(const std::set<std::string> &tokens)
{
    std::string text;
    for (const std::string &token : tokens) {
        text += '"';
        for (const char c : token) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte >= 0x7F) {
                static const char kHex[] = "0123456789ABCDEF";
                text += "\\x";
                text += kHex[byte >> 4];
                text += kHex[byte & 0x0F];
                continue;
            }
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
        text += "\"\n";
    }
    return text;
}

// The words the parsers look for, so the fuzzer need not guess them: the
// scenario keys, the settings keys with their words, the profile's entries.
void Dictionaries(SeedWriter &out) // out: the fuzz folder
{
    std::set<std::string> scenarioWords = {" = ", "\"", "\\x", "#", "%", "0x", "block1", "state=", "sets=",
                                           "samples=", "set_state=", "gap=", "alarm=", "always", "off", "on"};
    std::istringstream help(ScenarioKeyHelp());
    for (std::string line; std::getline(help, line);) {
        std::istringstream words(line);
        std::string key;
        if (words >> key && key.find('<') == std::string::npos)
            scenarioWords.insert(key);
    }
    out.write("dictionaries", "scenario.dict", Dictionary(scenarioWords));

    std::set<std::string> settingsWords = {"=", "on", "off", "\n", "."};
    for (const SettingsKey &key : SettingsKeys()) {
        settingsWords.insert(key.name.toStdString() + "=");
        for (const QString &word : key.allowed.split(u'|'))
            if (!word.contains(u' '))
                settingsWords.insert(word.toStdString());
    }
    out.write("dictionaries", "set_assignments.dict", Dictionary(settingsWords));

    std::set<std::string> profileWords = {"{", "}", "[", "]", ":", ",", "true", "false", "null", "1e9", "-0",
                                          "\"r310conf-settings-profile\"", "\"format\"", "\"version\"",
                                          "\"instrument\"", "\"settings\"", "\"gasCode\"", "\"unitCode\"",
                                          "\"serialNumber\"", "\"gas\"", "\"unit\"", "\"range\"",
                                          "\"softwareVersion\"", "\"saved\"", "\"logger-interval\"", "\\u"};
    for (const SettingsKey &key : SettingsKeys()) {
        profileWords.insert('"' + key.name.toStdString() + '"');
        for (const QString &word : key.allowed.split(u'|'))
            if (!word.contains(u' '))
                profileWords.insert('"' + word.toStdString() + '"');
    }
    out.write("dictionaries", "settings_profile.dict", Dictionary(profileWords));
}

// log_file_exposure: the levels byte (A1 and A2 falling), A1 and A2 in
// tenths, then a logger file as the configurator writes it: German, United
// States and neutral notation, a section separator, alarm marks, two gases.
void LogFileSeeds(SeedWriter &out)
{
    const std::string header = logs::kLoggerHeaderLine.toStdString() + "\r\n";
    const struct {
        const char *name;
        std::string lines;
    } files[] = {
        {"german-o2", "02.03.2026 06:00:00;20,9;%Vol O2; ;\r\n02.03.2026 06:01:00;19,4;%Vol O2;ALARM;\r\n"
                      " ; ; ; ;\r\n02.03.2026 07:00:00;20,8;%Vol O2; ;\r\n"},
        {"us-two-gases", "3/2/2026 6:00:00 AM;12;ppm CO; ;\r\n3/2/2026 6:00:00 AM;1.5;ppm H2S; ;\r\n"
                         "3/2/2026 6:01:00 AM;40;ppm CO;ALARM;\r\n3/2/2026 6:01:00 AM;-0.5;ppm H2S; ;\r\n"},
        {"neutral-newest-first", "2026-03-02 06:02:00;3.25e1;%LEL CH4; ;\r\n2026-03-02 06:01:00;10;%LEL CH4; ;\r\n"},
    };
    for (const auto &file : files)
        out.write("log_file_exposure", file.name, std::string("\x03\xc3\xb4") + header + file.lines);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: r310_fuzz_seeds CORPUS_FOLDER\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    SeedWriter out(root);
    Instrument instrument;
    AssemblerSeeds(out, instrument);
    DecoderSeeds(out, instrument);
    ExportSeeds(out, instrument);
    VykToolSeeds(out);
    ScenarioSeeds(out, root + QStringLiteral("/../../src/sim/scenarios"));
    SetSeeds(out, instrument);
    ProfileSeeds(out, instrument);
    LogFileSeeds(out);
    SeedWriter fuzzFolder(root + QStringLiteral("/.."));
    Dictionaries(fuzzFolder);
    if (!fuzzFolder.ok())
        return 1;
    return out.ok() ? 0 : 1;
}
