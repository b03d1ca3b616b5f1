// r310ctl profile save FILE and r310ctl profile apply FILE: settings
// profiles, read and written with the same commands as "set".
#include "ExitCodes.h"
#include "Report.h"
#include "Subcommands.h"

#include <SessionRecorder.h>
#include <SettingsProfile.h>

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace r310::cli {

const char *const kProfileHelp =
    R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] profile save [--no-customer-id] FILE
       r310ctl [--port DEVICE | --demo] [--timeout-s N] profile apply [--dry-run] [--force] [--each [--log FILE]] FILE

A settings profile is a JSON file with the settings "r310ctl set" writes,
under the same keys: numbers (alarm thresholds and cal-gas in the
instrument's unit, intervals) as JSON numbers, switches as true or false,
choices as the words "set" takes, the customer ID as text, and
logger-interval. It also names the instrument it was saved from. It never
holds a serial number, the clock, next-due dates, zero point, gain or
reference voltage, so nothing that belongs to one instrument is copied.
"r310ctl set --help" lists the keys and their values.

save    connects as "info" does, reads every settings group, the customer ID
        (left out with --no-customer-id) and the data logger's interval, and
        writes FILE. An older FILE is replaced only by a complete new one.
apply   checks the whole profile first (unknown keys, values that do not
        parse), then connects, reads every group and checks the profile
        against the instrument: its gas and unit, values its scale or its
        16-bit fields cannot hold, options its software version lacks. Then
        it prints the differences (key, instrument, profile), writes only
        the groups that differ, each as "set" writes it, reads each back
        and compares it with the profile.
  --dry-run   reads and prints the differences; writes nothing
  --force     writes alarm limits in an unusual order too (refused without)
  --each      after the first instrument, waits on the same port for the
              next one (another serial number) and applies the profile
              there, until Ctrl+C; one line per instrument: serial number,
              groups written, result
  --log FILE  with --each: adds each instrument's line to FILE
              (semicolon-separated, a header line when FILE is new)

Exit codes: 0 the instrument holds the profile (with --each: every
instrument did), or the file was saved; 2 an invalid profile, or one that
does not fit the instrument: nothing was written; 7 a read-back differs
from the profile; 9 FILE cannot be written; 3, 4, 5 and 130 as for every
command.
)";

namespace {

const QString kSave = QStringLiteral("save");
const QString kApply = QStringLiteral("apply");

int ReadFailure(InstrumentSession &session, const InstrumentSettingsRead &read)
{
    if (session.Aborted() || !session.view().errorReports.empty())
        return session.Verdict(true);
    return session.Fail(kExitNoInstrument, read.failure);
}

// Key, instrument, profile, in columns.
void PrintDifferences(QTextStream &out, const std::vector<ProfileDifference> &differences)
{
    const QString keyHeading = QStringLiteral("key");
    const QString instrumentHeading = QStringLiteral("instrument");
    int keyWidth = static_cast<int>(keyHeading.size());
    int instrumentWidth = static_cast<int>(instrumentHeading.size());
    for (const ProfileDifference &d : differences) {
        keyWidth = std::max(keyWidth, static_cast<int>(d.key.size()));
        instrumentWidth = std::max(instrumentWidth, static_cast<int>(VisibleText(d.instrument).size()));
    }
    const auto row = [&](const QString &key, const QString &instrument, const QString &profile) {
        out << "  " << key.leftJustified(keyWidth) << "  " << instrument.leftJustified(instrumentWidth) << "  "
            << profile << '\n';
    };
    row(keyHeading, instrumentHeading, QStringLiteral("profile"));
    for (const ProfileDifference &d : differences)
        row(d.key, VisibleText(d.instrument), VisibleText(d.profile));
}

int RunSave(CtlContext &context, const QString &path)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    // The profile names the instrument and its options follow its version.
    if (const int code = session.OpenAndIdentify(InstrumentTab::General))
        return code;
    auto read = std::make_shared<InstrumentSettingsRead>();
    if (const int code = session.Run(ReadInstrumentSettingsJob(read)))
        return code;
    if (!read->ok())
        return ReadFailure(session, *read);
    QStringList leftOut;
    const bool withCustomerId = !context.options.given.contains(QStringLiteral("no-customer-id"));
    const SettingsProfile profile = ProfileOf(read->settings, context.gasTable, withCustomerId, &leftOut);
    for (const QString &line : leftOut)
        session.err() << "r310ctl: " << VisibleText(line) << Qt::endl;
    if (const QString error = WriteSettingsProfile(path, profile); !error.isEmpty())
        return session.Fail(kExitCannotWrite, error);
    session.out() << "saved " << profile.settings.size() << " settings of instrument "
                  << VisibleText(profile.source.serialNumber) << " to " << path << '\n';
    session.out().flush();
    return kExitOk;
}

// How one instrument took the profile.
struct InstrumentOutcome {
    int code = kExitOk;
    QString serialNumber;
    QStringList groups; // written and read back
    QString result;     // for the summary line
};

class ProfileApply {
public:
    ProfileApply(CtlContext &context, SettingsProfile profile, const QString &path)
        : context_(context), profile_(std::move(profile)), profileName_(QFileInfo(path).fileName()),
          session_(context.options, context.environment, *context.gasTable)
    {
    }

    int Run()
    {
        // The check of the profile needs the instrument's version.
        if (const int code = session_.OpenAndIdentify(InstrumentTab::General))
            return code;
        if (!context_.options.given.contains(QStringLiteral("each")))
            return ApplyToInstrument().code;
        return RunEach();
    }

private:
    InstrumentOutcome ApplyToInstrument()
    {
        InstrumentOutcome outcome;
        auto read = std::make_shared<InstrumentSettingsRead>();
        if (const int code = session_.Run(ReadInstrumentSettingsJob(read)))
            return Ended(outcome, code, QStringLiteral("not read"));
        outcome.serialNumber = read->settings.identity.serialNumberText;
        if (!read->ok())
            return Ended(outcome, ReadFailure(session_, *read), QStringLiteral("not read"));

        const ProfilePlan plan = PlanProfile(profile_, read->settings, context_.gasTable, context_.options.force);
        QTextStream &out = session_.out();
        out << "instrument " << VisibleText(outcome.serialNumber) << " on " << session_.PortLabel() << '\n';
        out.flush();
        if (!plan.ok()) {
            for (const QString &refusal : plan.refusals)
                session_.Fail(kExitUsage, refusal);
            return Ended(outcome, kExitUsage, QStringLiteral("refused, nothing written"));
        }
        if (plan.differences.empty()) {
            out << "  the instrument already holds the profile\n";
            out.flush();
            return Ended(outcome, kExitOk, QStringLiteral("holds the profile"));
        }
        PrintDifferences(out, plan.differences);
        if (context_.options.dryRun) {
            out << "nothing was written (--dry-run)\n";
            out.flush();
            return Ended(outcome, kExitOk, QStringLiteral("differs (dry run)"));
        }
        out.flush();
        return Write(plan, outcome);
    }

    InstrumentOutcome Write(const ProfilePlan &plan, InstrumentOutcome &outcome)
    {
        auto applied = std::make_shared<ProfileApplyResult>();
        const int ran = session_.Run(ApplyProfileJob(plan, applied));
        session_.recorder().RecordProfileApply(profileName_, plan, *applied);
        if (ran != kExitOk)
            return Ended(outcome, ran, QStringLiteral("interrupted"));
        outcome.groups = applied->writtenTitles();
        QTextStream &out = session_.out();
        for (const QString &title : outcome.groups)
            out << title << ": written and read back\n";
        out.flush();
        if (!applied->written()) {
            const int code = !session_.view().errorReports.empty() ? session_.Verdict(true)
                                                                   : session_.Fail(kExitNoInstrument, applied->failure);
            return Ended(outcome, code, QStringLiteral("failed: %1").arg(applied->failure));
        }
        if (!applied->mismatches.empty()) {
            QStringList parts;
            for (const ProfileDifference &d : applied->mismatches)
                parts.append(QStringLiteral("%1 holds %2, profile %3").arg(d.key, d.instrument, d.profile));
            session_.Fail(kExitReadBackDiffers, QStringLiteral("the instrument does not hold the profile: %1")
                                                    .arg(parts.join(QStringLiteral("; "))));
            return Ended(outcome, kExitReadBackDiffers, QStringLiteral("read-back differs"));
        }
        out << "the instrument now holds the profile\n";
        out.flush();
        return Ended(outcome, kExitOk, QStringLiteral("holds the profile"));
    }

    static InstrumentOutcome Ended(InstrumentOutcome &outcome, int code, const QString &result)
    {
        outcome.code = code;
        outcome.result = result;
        return outcome;
    }

    int RunEach()
    {
        int verdict = kExitOk;
        int instruments = 0;
        QString lastSerialNumber;
        const auto handled = [this, &instruments] {
            session_.err() << "r310ctl: " << instruments << (instruments == 1 ? " instrument" : " instruments")
                           << " handled" << Qt::endl;
        };
        do {
            const InstrumentOutcome outcome = ApplyToInstrument();
            // Ctrl+C during an instrument's exchanges ends like any command's.
            if (session_.Aborted()) {
                handled();
                return session_.Verdict(true);
            }
            ++instruments;
            if (verdict == kExitOk)
                verdict = outcome.code;
            Summarise(outcome);
            lastSerialNumber = outcome.serialNumber;
        } while (WaitForNextInstrument(lastSerialNumber));
        handled();
        // Ctrl+C while waiting is how --each ends; a failed port is a failure.
        return session_.Interrupted() ? verdict : session_.Verdict(true);
    }

    void Summarise(const InstrumentOutcome &outcome)
    {
        const QString groups =
            outcome.groups.isEmpty() ? QStringLiteral("nothing written") : outcome.groups.join(QStringLiteral(", "));
        session_.out() << "== " << VisibleText(outcome.serialNumber) << ": " << groups << ": " << outcome.result
                       << '\n';
        session_.out().flush();
        if (!context_.options.log.isEmpty())
            LogLine(outcome, groups);
    }

    // One line per instrument, kept even when the program is stopped later.
    void LogLine(const InstrumentOutcome &outcome, const QString &groups)
    {
        QFile log(context_.options.log);
        const bool fresh = !log.exists() || log.size() == 0;
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            session_.err() << "r310ctl: " << context_.options.log << ": " << log.errorString() << Qt::endl;
            return;
        }
        const auto field = [](QString text) { return text.replace(u';', u','); };
        QString line;
        if (fresh)
            line = QStringLiteral("Time;Serial number;Groups written;Result\r\n");
        line += QStringLiteral("%1;%2;%3;%4\r\n")
                    .arg(QDateTime::currentDateTime().toString(Qt::ISODate), field(outcome.serialNumber),
                         field(groups), field(outcome.result));
        log.write(line.toUtf8());
    }

    // Polls the identity until another instrument answers on the port, then
    // connects to it as the first one was; false after Ctrl+C or a failed port.
    bool WaitForNextInstrument(const QString &serialNumber)
    {
        bool told = false;
        while (!session_.Aborted()) {
            auto serial = std::make_shared<QString>();
            session_.Run([serial](JobContext &job) {
                const ObjectRead read = ReadObjectAnswer(job, kObjectIdentity);
                if (read.answer && read.answer->identity)
                    *serial = read.answer->identity->serialNumberText;
            });
            if (session_.Aborted())
                return false;
            if (!serial->isEmpty() && *serial != serialNumber) {
                session_.Run([](JobContext &job) { job.sequences().ConnectSequence(); });
                return !session_.Aborted();
            }
            if (!told) {
                session_.err() << "r310ctl: waiting for the next instrument on " << session_.PortLabel()
                               << " (Ctrl+C ends)" << Qt::endl;
                told = true;
            }
            Pause();
        }
        return false;
    }

    void Pause()
    {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(1000), &loop, &QEventLoop::quit);
        QObject::connect(&session_, &InstrumentSession::interrupted, &loop, &QEventLoop::quit);
        QObject::connect(&session_, &InstrumentSession::portFailed, &loop, &QEventLoop::quit);
        loop.exec();
    }

    CtlContext &context_;
    const SettingsProfile profile_;
    const QString profileName_; // the profile file's name, for the records
    InstrumentSession session_;
};

} // namespace

int RunProfile(CtlContext &context)
{
    const QStringList &operands = context.options.operands;
    const QString usage = QStringLiteral("write r310ctl profile save FILE or r310ctl profile apply FILE");
    if (operands.size() != 2 || (operands[0] != kSave && operands[0] != kApply))
        return context.Fail(kExitUsage, usage);
    const QString &path = operands[1];
    const bool save = operands[0] == kSave;
    const QStringList &given = context.options.given;
    for (const QString &option : {QStringLiteral("dry-run"), QStringLiteral("each"), QStringLiteral("log")}) {
        if (save && given.contains(option))
            return context.Fail(kExitUsage, QStringLiteral("--%1 belongs to profile apply").arg(option));
    }
    if (!save && given.contains(QStringLiteral("no-customer-id")))
        return context.Fail(kExitUsage, QStringLiteral("--no-customer-id belongs to profile save"));
    if (given.contains(QStringLiteral("log")) && !given.contains(QStringLiteral("each")))
        return context.Fail(kExitUsage, QStringLiteral("--log goes with --each"));
    if (save)
        return RunSave(context, path);

    // The whole profile is checked before the port is opened.
    SettingsProfileParse parsed = ReadSettingsProfile(path);
    if (!parsed.profile) {
        for (const QString &line : parsed.error.split(u'\n'))
            context.err() << "r310ctl: " << VisibleText(line) << Qt::endl;
        return kExitUsage;
    }
    ProfileApply apply(context, std::move(*parsed.profile), path);
    return apply.Run();
}

} // namespace r310::cli
