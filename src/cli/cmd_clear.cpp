// r310ctl clear WHAT: empties one of the instrument's logs. Each log is a row
// of the table below, with the options that apply to it.
#include "EventLogJobs.h"
#include "EventLogSession.h"
#include "ExitCodes.h"
#include "Formats.h"
#include "Report.h"
#include "Subcommands.h"

#include <optional>

namespace r310::cli {

const char *const kClearHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] clear WHAT [options] --yes

Empties a log on the instrument, as the configurator's "Clear" buttons do.
Without --yes nothing is sent: it says what it would do and exits with 2.

  clear events [--max N] --yes
      empties the event log, as "Clear" on "Event properties" does, and sets
      the maximum number of events the instrument keeps: N from 1 to 513,
      by default the maximum the instrument has now. Instruments before
      software version 2.11 always keep 192 events; --max cannot change that.
      Shows the event counters read back afterwards.

  clear datalog --yes
      erases every block of the data logger, as "Clear" on "Datalogging"
      does (service function 7), and shows the logger's counters read back
      afterwards. Instruments before software version 2.11 have no logger.
)";

namespace {

int RunClearEvents(CtlContext &context);

// What "clear" can empty: the word, and the options beside the instrument's own.
struct ClearTarget {
    const char *word;
    QStringList options;
    int (*run)(CtlContext &context);
};

const std::vector<ClearTarget> &ClearTargets()
{
    static const std::vector<ClearTarget> targets{
        {"events", {QStringLiteral("max"), QStringLiteral("yes")}, &RunClearEvents},
        {"datalog", {QStringLiteral("yes")}, &RunClearDatalog},
    };
    return targets;
}

const ClearTarget *FindTarget(const QString &word)
{
    for (const ClearTarget &target : ClearTargets()) {
        if (word == QLatin1String(target.word))
            return &target;
    }
    return nullptr;
}

QString TargetWords()
{
    QStringList words;
    for (const ClearTarget &target : ClearTargets())
        words.append(QString::fromLatin1(target.word));
    return words.join(QStringLiteral(", "));
}

std::optional<std::uint16_t> TypedMaximum(CtlContext &context, int *code)
{
    if (!context.options.given.contains(QStringLiteral("max")))
        return std::nullopt;
    const Conversion<std::int32_t> typed =
        IntegerInRange(QStringLiteral("--max"), context.options.max, logs::kMinMaxEvents, logs::kMaxMaxEvents);
    if (!typed) {
        *code = context.Fail(kExitUsage, typed.error);
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*typed.value);
}

// The maximum to send: 192 before 2.11; from 2.11 --max, else the instrument's own.
std::optional<std::uint16_t> MaximumToSend(InstrumentSession &session, std::optional<std::uint16_t> typed,
                                           const logs::EventProperties &properties, int *code)
{
    const std::int32_t version = session.record().SoftwareVersion;
    if (!GatesForVersion(version).maxEventsEditable) {
        if (typed && *typed != logs::kFixedMaxEvents) {
            *code = session.Fail(kExitUsage, QStringLiteral("software version %1 always keeps %2 events; --max "
                                                            "applies from %3 on")
                                                 .arg(FormatSoftwareVersion(version))
                                                 .arg(logs::kFixedMaxEvents)
                                                 .arg(FormatSoftwareVersion(kMaxEventsEditableFromVersion)));
            return std::nullopt;
        }
        return logs::kFixedMaxEvents;
    }
    if (typed)
        return typed;
    const Conversion<std::uint16_t> current =
        logs::MaxEventsToSend(QStringLiteral("the instrument's maximum number of events"),
                              QString::number(properties.maxEvents), version, QLocale::c());
    if (!current) {
        *code = session.Fail(kExitUsage, current.error + QStringLiteral("; give --max N"));
        return std::nullopt;
    }
    return current.value;
}

int ClearOutcome(InstrumentSession &session, const logs::EventClear &clear)
{
    if (!clear.written)
        return session.Fail(kExitNoInstrument,
                            QStringLiteral("the instrument on %1 did not answer the clear").arg(session.PortLabel()));
    if (clear.refused)
        return session.Fail(kExitInstrumentError,
                            QStringLiteral("the instrument refused to clear its event log (error report)"));
    if (!clear.readBack)
        return session.Fail(kExitNoInstrument, QStringLiteral("the event log was cleared, but its counters could "
                                                              "not be read back"));
    const logs::EventPropertiesTexts texts = logs::EventPropertiesText(*clear.properties);
    session.out() << "Event log cleared\n";
    PrintFields(session.out(), {{QStringLiteral("Event Actuell"), texts.position},
                                {QStringLiteral("Event Count"), texts.count},
                                {QStringLiteral("Third counter"), texts.thirdCounter},
                                {QStringLiteral("Max Events"), texts.maxEvents}},
                2);
    return kExitOk;
}

int RunClearEvents(CtlContext &context)
{
    int code = kExitOk;
    const std::optional<std::uint16_t> typed = TypedMaximum(context, &code);
    if (code != kExitOk)
        return code;

    InstrumentSession session(context.options, context.environment, *context.gasTable);
    const std::optional<logs::EventProperties> properties = OpenEventLog(session, &code);
    if (!properties)
        return code;
    const std::optional<std::uint16_t> maxEvents = MaximumToSend(session, typed, *properties, &code);
    if (!maxEvents)
        return code;
    if (!context.options.yes)
        return session.Fail(kExitUsage, QStringLiteral("would empty the event log of the instrument on %1 (%2 events "
                                                       "stored) and set its maximum to %3 events; add --yes to do it")
                                            .arg(session.PortLabel())
                                            .arg(properties->count)
                                            .arg(*maxEvents));

    auto clear = std::make_shared<logs::EventClear>();
    if (const int ran = session.Run(logs::EventClearJob(*maxEvents, clear)))
        return ran;
    return ClearOutcome(session, *clear);
}

} // namespace

QStringList ClearOptions()
{
    QStringList options;
    for (const ClearTarget &target : ClearTargets()) {
        for (const QString &option : target.options) {
            if (!options.contains(option))
                options.append(option);
        }
    }
    return options;
}

int RunClear(CtlContext &context)
{
    const QStringList &words = context.options.operands;
    if (words.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("clear needs what to clear: %1 (see r310ctl clear --help)")
                                            .arg(TargetWords()));
    const ClearTarget *target = FindTarget(words.first());
    if (!target)
        return context.Fail(kExitUsage, QStringLiteral("cannot clear \"%1\"; r310ctl clears %2")
                                            .arg(words.first(), TargetWords()));
    if (words.size() > 1)
        return context.Fail(kExitUsage, QStringLiteral("unexpected argument \"%1\" (see r310ctl clear --help)")
                                            .arg(words.at(1)));
    // Options of the other logs do not apply to this one.
    for (const QString &option : context.options.given) {
        if (ClearOptions().contains(option) && !target->options.contains(option))
            return context.Fail(kExitUsage, QStringLiteral("option --%1 does not apply to \"clear %2\"")
                                                .arg(option, words.first()));
    }
    return target->run(context);
}

} // namespace r310::cli
