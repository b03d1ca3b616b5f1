// r310ctl get: what the Range, Signals, Hardware, Event properties and
// Datalogging tabs show, read the way the window reads them.
#include "ExitCodes.h"
#include "Formats.h"
#include "Report.h"
#include "Subcommands.h"

#include <EventLog.h>
#include <LoggerRecords.h>
#include <SettingsKeys.h>

#include <QJsonArray>
#include <QJsonDocument>

namespace r310::cli {

namespace {

// Objects the two log tabs read (both tabs read both).
const std::uint8_t kLogTabObjects[] = {kObjectEventProperties, kObjectLoggerInfo};

struct LogTab {
    InstrumentTab tab;
    const char *title;
    const char *key;
    bool visible;
    std::int32_t shownFrom; // first software version that shows the tab
};

QString HiddenReason(const LogTab &tab, const QString &version)
{
    return QStringLiteral("not available: software version %1 hides this tab (shown from %2)")
        .arg(version, FormatSoftwareVersion(tab.shownFrom));
}

bool LogObjectsRead(const TerminalView &view)
{
    for (const std::uint8_t object : kLogTabObjects) {
        if (!view.undecoded.count(object))
            return false;
    }
    return true;
}

// What the tab's fields show, with the window's captions; empty without
// the object's answer.
Fields LogTabFields(const LogTab &tab, const TerminalView &view)
{
    const bool events = tab.tab == InstrumentTab::EventProperties;
    const std::uint8_t object = events ? kObjectEventProperties : kObjectLoggerInfo;
    const auto answer = view.undecoded.find(object);
    if (answer == view.undecoded.end())
        return {};
    // The view keeps the payloads of data answers only.
    AnswerFrame frame;
    frame.object = object;
    frame.flags = kFlagsDataAnswer;
    frame.intact = true;
    frame.payload = answer->second;
    if (events) {
        const std::optional<logs::EventProperties> properties = logs::DecodeEventProperties(frame);
        if (!properties)
            return {};
        const logs::EventPropertiesTexts texts = logs::EventPropertiesText(*properties);
        return {{QStringLiteral("Event Actuell"), texts.position},
                {QStringLiteral("Event Count"), texts.count},
                {QStringLiteral("Third counter"), texts.thirdCounter},
                {QStringLiteral("Max Events"), texts.maxEvents}};
    }
    const std::optional<logs::LoggerInfo> info = logs::LoggerInfoFromAnswer(frame);
    if (!info)
        return {};
    const std::array<QString, 7> texts = info->fieldTexts();
    const char *const captions[] = {"DL Block", "DL Block Cnt", "Dl Block max", "DL Intervall", "Obj1", "Obj2", "Obj3"};
    Fields fields;
    for (std::size_t i = 0; i < texts.size(); ++i)
        fields.push_back({QString::fromLatin1(captions[i]), texts[i]});
    return fields;
}

void PrintLogTab(QTextStream &out, const LogTab &tab, const TerminalView &view, const QString &version)
{
    out << tab.title << '\n';
    if (!tab.visible) {
        out << "  " << HiddenReason(tab, version) << '\n';
        return;
    }
    const Fields fields = LogTabFields(tab, view);
    if (fields.empty())
        out << "  no answer\n";
    else
        PrintFields(out, fields, 2);
}

QJsonObject LogTabJson(const LogTab &tab, const TerminalView &view, const QString &version)
{
    QJsonObject json{{QStringLiteral("available"), tab.visible}};
    if (!tab.visible) {
        json.insert(QStringLiteral("reason"), HiddenReason(tab, version));
        return json;
    }
    QJsonArray objects;
    for (const std::uint8_t object : kLogTabObjects) {
        const auto answer = view.undecoded.find(object);
        if (answer != view.undecoded.end())
            objects.append(ObjectPayloadJson(object, answer->second));
    }
    json.insert(QStringLiteral("objects"), objects);
    QJsonObject fields;
    for (const Field &field : LogTabFields(tab, view))
        fields.insert(field.label, field.value);
    json.insert(QStringLiteral("fields"), fields);
    return json;
}

void PrintGet(InstrumentSession &session, const LogTab (&logTabs)[2], const QString &version)
{
    const TerminalView &view = session.view();
    QTextStream &out = session.out();
    out << "Instrument on " << session.PortLabel();
    if (view.identity)
        out << ": serial number " << VisibleText(view.identity->serialNumberText) << ", software version " << version;
    out << "\n\n";

    out << "Range\n";
    if (view.range) {
        PrintFields(out, RangeFields(*view.range, view.identity ? &*view.identity : nullptr,
                                     view.value ? &*view.value : nullptr), 2);
        PrintAlarmTable(out, *view.range, 2);
    } else {
        out << "  no answer\n";
    }
    if (view.signalSettings)
        PrintSection(out, QStringLiteral("Signals"), SignalFields(*view.signalSettings));
    else
        out << "Signals\n  no answer\n";
    const FeatureGates gates = GatesForVersion(session.record().SoftwareVersion);
    if (view.hardware)
        PrintSection(out, QStringLiteral("Hardware"), HardwareFields(*view.hardware, gates));
    else
        out << "Hardware\n  no answer\n";
    for (const LogTab &tab : logTabs)
        PrintLogTab(out, tab, view, version);
}

// Every settings key with the value the instrument holds, as "r310ctl set"
// takes it; keys of groups without an answer and options the software
// version lacks are left out.
QJsonObject SettingsJson(InstrumentSession &session)
{
    const TerminalView &view = session.view();
    const SettingsDraft draft = SettingsDraft::FromDecoded(
        session.record().SoftwareVersion, view.range ? &*view.range : nullptr,
        view.signalSettings ? &*view.signalSettings : nullptr, view.hardware ? &*view.hardware : nullptr);
    QJsonObject settings;
    for (const SettingsKey &key : SettingsKeys()) {
        const QString text = key.text(draft);
        if (!text.isEmpty())
            settings.insert(key.name, text);
    }
    return settings;
}

void PrintGetJson(InstrumentSession &session, const LogTab (&logTabs)[2], const QString &version)
{
    const TerminalView &view = session.view();
    const GasTable &gasTable = session.gasTable();
    QJsonObject document{
        {QStringLiteral("port"), session.PortLabel()},
        {QStringLiteral("demo"), session.Demo()},
        {QStringLiteral("errorReports"), static_cast<int>(view.errorReports.size())},
    };
    const FeatureGates gates = GatesForVersion(session.record().SoftwareVersion);
    if (view.identity) {
        document.insert(QStringLiteral("identity"), IdentityJson(*view.identity));
        document.insert(QStringLiteral("features"), GatesJson(gates));
    }
    QJsonObject range{{QStringLiteral("available"), true}};
    if (view.range) {
        const QJsonObject values = RangeJson(*view.range, gasTable);
        for (auto it = values.begin(); it != values.end(); ++it)
            range.insert(it.key(), it.value());
        if (view.value)
            range.insert(QStringLiteral("value"), ValueJson(*view.value, &*view.range, gasTable));
    }
    document.insert(QStringLiteral("range"), range);
    QJsonObject signalSettings{{QStringLiteral("available"), true}};
    if (view.signalSettings) {
        const QJsonObject values = SignalsJson(*view.signalSettings);
        for (auto it = values.begin(); it != values.end(); ++it)
            signalSettings.insert(it.key(), it.value());
    }
    document.insert(QStringLiteral("signals"), signalSettings);
    QJsonObject hardware{{QStringLiteral("available"), true}};
    if (view.hardware) {
        const QJsonObject values = HardwareJson(*view.hardware, gates);
        for (auto it = values.begin(); it != values.end(); ++it)
            hardware.insert(it.key(), it.value());
    }
    document.insert(QStringLiteral("hardware"), hardware);
    document.insert(QStringLiteral("settings"), SettingsJson(session));
    for (const LogTab &tab : logTabs)
        document.insert(QLatin1String(tab.key), LogTabJson(tab, view, version));
    session.out() << TerminalJson(QJsonDocument(document), QJsonDocument::Indented);
}

} // namespace

int RunGet(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    // Which tabs exist follows from the software version.
    if (const int code = session.OpenAndIdentify(InstrumentTab::Range))
        return code;
    TerminalView &view = session.view();

    const FeatureGates gates = GatesForVersion(session.record().SoftwareVersion);
    const LogTab logTabs[2] = {
        {InstrumentTab::EventProperties, "Event properties", "eventProperties", gates.eventPropertiesTabVisible,
         kEventPropertiesFromVersion},
        {InstrumentTab::Datalogging, "Datalogging", "datalogging", gates.dataloggingTabVisible,
         kDataloggingFromVersion},
    };
    // Each tab is brought to the front and read as the window reads it. Both
    // log tabs read the same two objects, so they are read once.
    std::vector<InstrumentTab> tabs{InstrumentTab::Signals, InstrumentTab::Hardware};
    if (logTabs[0].visible || logTabs[1].visible)
        tabs.push_back(logTabs[0].visible ? logTabs[0].tab : logTabs[1].tab);
    // The value read while connecting came before the range.
    if (const int code = session.Run([](JobContext &job) { job.sequences().ReadValue(); }))
        return code;
    for (const InstrumentTab tab : tabs) {
        session.connection().waitFor(session.connection().readTab(tab));
        if (session.Aborted())
            return session.Verdict(true);
    }

    const bool logsWanted = logTabs[0].visible || logTabs[1].visible;
    const bool complete = view.identity && view.range && view.value && view.signalSettings && view.hardware
                       && (!logsWanted || LogObjectsRead(view));
    const QString version = FormatSoftwareVersion(session.record().SoftwareVersion);
    if (context.options.json)
        PrintGetJson(session, logTabs, version);
    else
        PrintGet(session, logTabs, version);
    session.out().flush();
    return session.Verdict(complete);
}

} // namespace r310::cli
