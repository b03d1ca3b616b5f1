// r310ctl set KEY=VALUE... and r310ctl set-time: the configurator's set
// buttons and "Set Time" on the command line, through the same commands.
#include "ExitCodes.h"
#include "Formats.h"
#include "Report.h"
#include "Subcommands.h"

#include <SessionRecorder.h>
#include <SetClock.h>
#include <SettingsKeys.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <map>

namespace r310::cli {

namespace {

using Payloads = std::map<std::uint8_t, std::vector<std::uint8_t>>;

Fields GroupFields(const SettingsGroupCommand &group, const SettingsDraft &draft)
{
    Fields fields;
    for (const SettingsKey &key : SettingsKeys()) {
        if (key.group != group.group)
            continue;
        const QString text = key.text(draft);
        fields.push_back({key.name, text.isEmpty() ? QStringLiteral("not available") : text});
    }
    return fields;
}

QJsonObject GroupJson(const SettingsGroupCommand &group, const SettingsDraft &draft)
{
    QJsonObject json;
    for (const SettingsKey &key : SettingsKeys()) {
        if (key.group == group.group && !key.text(draft).isEmpty())
            json.insert(key.name, key.text(draft));
    }
    return json;
}

// What stopped a write, as an exit code and a line.
int WriteFailure(InstrumentSession &session, const SettingsGroupCommand &group, const SettingsWriteResult &result)
{
    if (session.Aborted() || !session.view().errorReports.empty())
        return session.Verdict(true);
    const QString why = result.refusal.isEmpty() ? OutcomeText(result.outcome) : result.refusal;
    return session.Fail(ExitCodeOf(result.outcome), QStringLiteral("%1: %2").arg(group.title, why));
}

class SetCommand {
public:
    SetCommand(CtlContext &context, std::vector<SettingAssignment> assignments)
        : context_(context), assignments_(std::move(assignments)),
          session_(context.options, context.environment, *context.gasTable)
    {
        // The objects' payloads as received: drafts are made from them.
        QObject::connect(&session_.connection(), &InstrumentConnection::answerDecoded, &session_.connection(),
                         [this](const DecodedAnswer &answer, const AnswerFrame &frame) {
                             if (answer.evaluated)
                                 payloads_[frame.object] = frame.payload;
                         });
    }

    int Run()
    {
        // Payloads depend on the software version: without it nothing is written.
        if (const int code = session_.OpenAndIdentify(InstrumentTab::General))
            return code;
        const std::vector<const SettingsGroupCommand *> groups = TouchedGroups(assignments_);
        if (const int code = ReadGroups(groups))
            return code;
        SettingsDraft draft = SettingsDraft::FromDecoded(session_.record().SoftwareVersion, nullptr, nullptr, nullptr);
        for (const SettingsGroupCommand *group : groups) {
            const auto read = payloads_.find(group->object);
            if (read == payloads_.end() || !draft.Take(group->object, read->second))
                return session_.Fail(kExitNoInstrument,
                                     QStringLiteral("the instrument did not report its %1").arg(group->title));
        }
        before_ = draft;
        draft.unusualOrderAllowed = context_.options.force;
        // Every refusal comes before the first write.
        if (const QString refusal = ApplySettingAssignments(draft, assignments_); !refusal.isEmpty())
            return session_.Fail(kExitUsage, refusal);
        std::vector<SettingsPayload> payloads;
        for (const SettingsGroupCommand *group : groups) {
            payloads.push_back(group->payload(draft));
            if (!payloads.back().ok())
                return session_.Fail(kExitUsage, payloads.back().refusal);
        }
        if (context_.options.dryRun)
            return PrintDryRun(groups, payloads);
        return Write(groups, draft);
    }

private:
    int ReadGroups(const std::vector<const SettingsGroupCommand *> &groups)
    {
        std::vector<std::uint8_t> objects;
        for (const SettingsGroupCommand *group : groups)
            objects.push_back(group->object);
        if (const int code = session_.Run([objects](JobContext &job) {
                for (const std::uint8_t object : objects) {
                    if (!job.sequences().ReadObject(object) || job.cancelled())
                        return;
                }
            }))
            return code;
        return session_.view().errorReports.empty() ? kExitOk : session_.Verdict(true);
    }

    int PrintDryRun(const std::vector<const SettingsGroupCommand *> &groups,
                    const std::vector<SettingsPayload> &payloads)
    {
        QJsonArray writes;
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const SettingsGroupCommand &group = *groups[i];
            const std::vector<std::uint8_t> request = RequestBytes(WriteRequestFrame(group.object, payloads[i].bytes));
            if (context_.options.json) {
                writes.append(QJsonObject{{QStringLiteral("group"), group.title},
                                          {QStringLiteral("object"), group.object},
                                          {QStringLiteral("payload"), Hex(payloads[i].bytes)},
                                          {QStringLiteral("request"), Hex(request)}});
                continue;
            }
            context_.out() << group.title << ": would write object " << group.object << '\n';
            PrintFields(context_.out(), {{QStringLiteral("payload"), Hex(payloads[i].bytes)},
                                         {QStringLiteral("request"), Hex(request)}},
                        2);
        }
        if (context_.options.json)
            context_.out() << TerminalJson(QJsonDocument(QJsonObject{{QStringLiteral("dryRun"), true},
                                                                     {QStringLiteral("writes"), writes}}),
                                           QJsonDocument::Indented);
        else
            context_.out() << "nothing was written (--dry-run)\n";
        context_.out().flush();
        return kExitOk;
    }

    int Write(const std::vector<const SettingsGroupCommand *> &groups, const SettingsDraft &draft)
    {
        QJsonArray writes;
        int verdict = kExitOk;
        for (const SettingsGroupCommand *group : groups) {
            auto result = std::make_shared<SettingsWriteResult>();
            session_.connection().waitFor(
                session_.connection().submit(QStringLiteral("set %1").arg(group->title), group->write(draft, result)));
            if (!result->done()) {
                Record(*group, draft, *result);
                return WriteFailure(session_, *group, *result);
            }

            SettingsDraft held = draft;
            SettingsDraft written = draft;
            held.Take(group->object, result->readBackPayload);
            written.Take(group->object, WrittenObject(*group, result->sent, result->readBackPayload));
            const bool differs = WrittenObject(*group, result->sent, result->readBackPayload) != result->readBackPayload;
            Record(*group, draft, *result);
            if (context_.options.json) {
                writes.append(QJsonObject{{QStringLiteral("group"), group->title},
                                          {QStringLiteral("object"), group->object},
                                          {QStringLiteral("payload"), Hex(result->sent)},
                                          {QStringLiteral("heldAsWritten"), !differs},
                                          {QStringLiteral("settings"), GroupJson(*group, held)}});
            } else {
                context_.out() << group->title << ": written and read back\n";
                PrintFields(context_.out(), GroupFields(*group, held), 2);
            }
            if (differs) {
                ReportDifference(*group, written, held, *result);
                verdict = kExitReadBackDiffers;
            }
        }
        if (context_.options.json)
            context_.out() << TerminalJson(QJsonDocument(QJsonObject{{QStringLiteral("dryRun"), false},
                                                                     {QStringLiteral("writes"), writes}}),
                                           QJsonDocument::Indented);
        context_.out().flush();
        return verdict;
    }

    void ReportDifference(const SettingsGroupCommand &group, const SettingsDraft &written, const SettingsDraft &held,
                          const SettingsWriteResult &result)
    {
        const std::vector<SettingDifference> differences = DifferingSettings(group.group, written, held);
        QStringList parts;
        for (const SettingDifference &d : differences)
            parts.append(QStringLiteral("%1 written %2, instrument holds %3").arg(d.key, d.written, d.held));
        if (parts.isEmpty())
            parts.append(QStringLiteral("written %1, instrument holds %2").arg(Hex(result.sent), Hex(result.readBackPayload)));
        session_.Fail(kExitReadBackDiffers, QStringLiteral("%1: the instrument does not hold what was written: %2")
                                                .arg(group.title, parts.join(QStringLiteral("; "))));
    }

    // The write with each key's value before, as written and as read back.
    void Record(const SettingsGroupCommand &group, const SettingsDraft &written, const SettingsWriteResult &result)
    {
        session_.recorder().RecordSettingsWrite(group, before_, written, result);
    }

    CtlContext &context_;
    SettingsDraft before_;
    std::vector<SettingAssignment> assignments_;
    InstrumentSession session_;
    Payloads payloads_;
};

} // namespace

int RunSet(CtlContext &context)
{
    // The data logger's interval goes back in the logger's own record.
    const QStringList &words = context.options.operands;
    const auto interval = std::find_if(words.begin(), words.end(), IsLoggerIntervalAssignment);
    if (interval != words.end()) {
        if (words.size() > 1)
            return context.Fail(kExitUsage, QStringLiteral("logger-interval is set on its own: "
                                                           "r310ctl set logger-interval=SECONDS"));
        return RunSetLoggerInterval(context, *interval);
    }
    QString refusal;
    std::vector<SettingAssignment> assignments = ParseSettingAssignments(context.options.operands, &refusal);
    if (!refusal.isEmpty())
        return context.Fail(kExitUsage, refusal);
    SetCommand command(context, std::move(assignments));
    return command.Run();
}

int RunSetTime(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndConnect(InstrumentTab::General))
        return code;
    auto result = std::make_shared<SetClockResult>();
    const std::int64_t offsetBefore = session.view().clockDifference;
    if (const int code = session.Run(SetClockJob(result)))
        return code;
    const TerminalView &view = session.view();
    session.recorder().RecordClockWrite(offsetBefore, *result, view.clockNotTaken);
    if (!result->succeeded || !view.clock)
        return session.Verdict(false);
    if (context.options.json) {
        QJsonObject json = ClockJson(*view.clock, view.clockDifference);
        json.insert(QStringLiteral("clockWrites"), result->clockWrites);
        session.out() << TerminalJson(QJsonDocument(json), QJsonDocument::Indented);
    } else {
        PrintFields(session.out(), ClockFields(*view.clock));
        if (view.clockNotTaken)
            session.out() << "the instrument keeps its own time; the clock was not taken\n";
    }
    session.out().flush();
    return session.Verdict(true);
}

} // namespace r310::cli
