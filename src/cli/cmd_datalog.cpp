// r310ctl datalog, clear datalog and set logger-interval=SECONDS: the
// "Datalogging" tab's Read, Clear and Set Paramet on the command line,
// through the same jobs, writing the same export file byte for byte.
#include "ExitCodes.h"
#include "Report.h"
#include "Subcommands.h"

#include <SessionRecorder.h>

#include <DataLoggerDownload.h>
#include <DataLoggerExport.h>
#include <Formats.h>
#include <LoggerSettings.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <memory>


namespace r310::cli {

const char *const kDatalogHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] datalog [--out FILE] [--full]

Connects as "info" does and downloads the data logger as the configurator's
"Read" on "Datalogging" does: the logger information, then every stored
block and the sample sets of each readable block. With the service records
on, blocks already on record from an earlier download of this instrument
(complete or stopped) are not read again: the newest of them is found among
the headers (also after the logger wrapped and renumbered its blocks) and
checked, and only newer blocks are read; the file is the whole log all the
same. A logger whose blocks on record changed, that holds fewer blocks or
was cleared is read whole. Writes the export file the window writes with
the same regional settings, byte for byte:
"Date/Time;Value;Gas;Alarm;", a line per sample ("ALARM;" for samples taken
in alarm), " ; ; ; ;" before each later section, 8-bit text (the ANSI code
page on Windows, Latin-1 elsewhere), CR LF after every line.

A new section begins after a block with fewer than 15 samples a set, and
where a block's first sample is more than half an interval away from where
the samples before it would have gone on (a pause in logging, a clock set).

--out FILE   write the file there; it appears, or replaces an older one, only
             once it is complete, and a line on standard error says where.
             Without --out the file goes to standard output.
--full       read every block, whatever is on record.

While it runs, a progress line is shown on standard error when that is a
terminal. An empty logger says "No Data" and writes nothing. A download
interrupted by Ctrl+C (130), a failed port (4), an instrument that stops
answering (3) or answers with an error report (5) writes nothing, and an
older FILE stays as it was; the blocks read before the stop are kept on
record as an unfinished download, and the next download goes on after them.
Exit code 9: the file cannot be written.
)";

namespace {

const QString kIntervalKey = QStringLiteral("logger-interval");


// Instruments before 2.11 have no data logger. Asked after OpenAndIdentify,
// so the version is known.
int RefuseWithoutLogger(InstrumentSession &session)
{
    const std::int32_t version = session.record().SoftwareVersion;
    if (GatesForVersion(version).dataloggingTabVisible)
        return kExitOk;
    return session.Fail(kExitFailure, QStringLiteral("the data logger is not available: software version %1 has "
                                                     "none (from %2 on)")
                                          .arg(FormatSoftwareVersion(version),
                                               FormatSoftwareVersion(kDataloggingFromVersion)));
}

// Where the download stopped, for a message: "block 5 of 20".
QString Where(const logs::LoggerDownloadResult &download)
{
    if (download.currentBlock == 0)
        return QStringLiteral("the logger information");
    return QStringLiteral("block %1 of %2").arg(download.currentBlock).arg(download.blockCount);
}


// The export bytes to standard output, unchanged by any text encoding.
int WriteToStandardOutput(QTextStream &out, const logs::LoggerExportData &data)
{
    out.flush();
    QIODevice *device = out.device();
    logs::ForEachLoggerExportLine(data, [&out, device](const QString &line) {
        const QByteArray bytes = logs::EncodeExportLine(line) + "\r\n";
        if (device)
            device->write(bytes);
        else // a stream on a string (tests): one character per byte
            out << QString::fromLatin1(bytes);
    });
    return kExitOk;
}

int WriteExport(CtlContext &context, const logs::LoggerDownloadResult &download)
{
    const logs::LoggerExportData &data = download.data;
    const QString &path = context.options.out;
    if (path.isEmpty())
        return WriteToStandardOutput(context.out(), data);
    const logs::ExportResult written = logs::WriteLoggerExport(path, data);
    if (!written.ok)
        return context.Fail(kExitCannotWrite, written.message + QStringLiteral(": ") + written.detail);
    // Where the file went, as the window says it.
    context.err() << "r310ctl: " << data.blocks.size() << " data logger blocks "
                  << (download.onRecord > 0 ? QStringLiteral("(%1 already on record, %2 read)")
                                                  .arg(download.onRecord)
                                                  .arg(static_cast<qsizetype>(data.blocks.size()) - download.onRecord)
                                            : QStringLiteral("read"))
                  << "; saved to " << QDir::toNativeSeparators(path) << Qt::endl;
    return kExitOk;
}

// Exit code and line for a logger command that did not go through.
int CommandFailure(InstrumentSession &session, const logs::LoggerCommandResult &result, const QString &command)
{
    if (session.Aborted())
        return session.Verdict(true);
    // The read before the write, when it failed; else the write.
    const Outcome ended = result.infoRead != Outcome::Done ? result.infoRead : result.outcome;
    return session.Fail(ExitCodeOf(ended == Outcome::Done ? Outcome::NoAnswer : ended), result.failureText(command));
}

// The interval write as --dry-run shows it: read the record, print the request.
int PrintIntervalDryRun(InstrumentSession &session, std::uint16_t seconds, bool json)
{
    logs::LoggerAnswer current;
    if (const int code = session.Run([&current](JobContext &job) { current = logs::ReadLoggerInfo(job); }))
        return code;
    if (!current.ok()) {
        logs::LoggerCommandResult result;
        result.infoRead = current.failure;
        return CommandFailure(session, result, kIntervalKey);
    }
    const logs::LoggerInfo::Bytes record = logs::LoggerInfoFromAnswer(current.frame)->withInterval(seconds);
    const std::vector<std::uint8_t> payload(record.begin(), record.end());
    const std::vector<std::uint8_t> request = RequestBytes(WriteRequestFrame(kObjectLoggerInfo, payload));
    if (json) {
        const QJsonObject write{{QStringLiteral("group"), QStringLiteral("data logger")},
                                {QStringLiteral("object"), kObjectLoggerInfo},
                                {QStringLiteral("payload"), Hex(payload)},
                                {QStringLiteral("request"), Hex(request)}};
        session.out() << TerminalJson(QJsonDocument(QJsonObject{{QStringLiteral("dryRun"), true},
                                                                {QStringLiteral("writes"), QJsonArray{write}}}),
                                      QJsonDocument::Indented);
    } else {
        session.out() << "data logger: would write object " << kObjectLoggerInfo << '\n';
        PrintFields(session.out(), {{QStringLiteral("payload"), Hex(payload)}, {QStringLiteral("request"), Hex(request)}},
                    2);
        session.out() << "nothing was written (--dry-run)\n";
    }
    session.out().flush();
    return kExitOk;
}

} // namespace

int RunDatalog(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndIdentify(InstrumentTab::General))
        return code;
    if (const int code = RefuseWithoutLogger(session))
        return code;

    ProgressLine progress(session.err(), QStringLiteral("Data logger: "));
    QObject::connect(&session.connection(), &InstrumentConnection::progress, &session,
                     [&progress](int, int, const QString &text) { progress.Show(text); });
    auto download = std::make_shared<logs::LoggerDownloadResult>();
    const auto onRecord = context.options.full ? nullptr : session.recorder().LoggerOnRecord();
    session.connection().waitFor(
        session.connection().submit(QStringLiteral("datalog"), logs::DataLoggerDownloadJob(download, onRecord)));
    progress.Clear();
    if (!download->completed())
        session.recorder().RecordDatalog(download->unfinished, true);
    // Ctrl+C or a failed port: their own message, and nothing is written.
    if (session.Aborted())
        return session.Verdict(true);
    if (!download->completed())
        return session.DownloadStopped(download->outcome, Where(*download));
    session.recorder().RecordDatalog(download->data.blocks);
    if (context.options.verbose && !download->readAllBecause.isEmpty())
        session.err() << "r310ctl: every block was read: " << download->readAllBecause << Qt::endl;
    if (!logs::HasLoggerExportLines(download->data)) {
        session.err() << "r310ctl: No Data (the data logger holds no block); nothing was written" << Qt::endl;
        return kExitOk;
    }
    return WriteExport(context, *download);
}

int RunClearDatalog(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndIdentify(InstrumentTab::General))
        return code;
    if (const int code = RefuseWithoutLogger(session))
        return code;
    if (!context.options.yes) {
        logs::LoggerAnswer info;
        if (const int code = session.Run([&info](JobContext &job) { info = logs::ReadLoggerInfo(job); }))
            return code;
        const QString stored = info.ok() ? QStringLiteral(" (%1 blocks stored)")
                                               .arg(logs::LoggerInfoFromAnswer(info.frame)->blockCount())
                                         : QString();
        return session.Fail(kExitUsage, QStringLiteral("would erase the data logger of the instrument on %1%2; add "
                                                       "--yes to do it")
                                            .arg(session.PortLabel(), stored));
    }
    auto result = std::make_shared<logs::LoggerCommandResult>();
    if (const int code = session.Run(logs::ClearDataLoggerJob(result)))
        return code;
    if (!result->accepted())
        return CommandFailure(session, *result, QStringLiteral("clear datalog"));
    if (!result->infoAfter)
        return session.Fail(kExitNoInstrument, QStringLiteral("the data logger was erased, but its information could "
                                                              "not be read back"));
    const std::array<QString, 7> texts = result->infoAfter->fieldTexts();
    session.out() << "Data logger erased\n";
    PrintFields(session.out(), {{QStringLiteral("DL Block"), texts[0]},
                                {QStringLiteral("DL Block Cnt"), texts[1]},
                                {QStringLiteral("Dl Block max"), texts[2]}},
                2);
    session.out().flush();
    return kExitOk;
}

bool IsLoggerIntervalAssignment(const QString &word)
{
    return word == kIntervalKey || word.startsWith(kIntervalKey + u'=');
}

int RunSetLoggerInterval(CtlContext &context, const QString &word)
{
    const qsizetype equals = word.indexOf(u'=');
    if (equals < 0)
        return context.Fail(kExitUsage,
                            QStringLiteral("%1: no value given, write %1=SECONDS (allowed: 30 to 300)").arg(kIntervalKey));
    const logs::LoggerIntervalInput input = logs::LoggerIntervalFromText(word.mid(equals + 1));
    if (!input.ok())
        return context.Fail(kExitUsage, QStringLiteral("%1: %2").arg(kIntervalKey, input.message));

    InstrumentSession session(context.options, context.environment, *context.gasTable);
    if (const int code = session.OpenAndIdentify(InstrumentTab::General))
        return code;
    if (const int code = RefuseWithoutLogger(session))
        return code;
    if (context.options.dryRun)
        return PrintIntervalDryRun(session, *input.seconds, context.options.json);

    auto result = std::make_shared<logs::LoggerCommandResult>();
    const int ran = session.Run(logs::SetLoggerIntervalJob(*input.seconds, result));
    session.recorder().RecordLoggerInterval(std::nullopt, *input.seconds, *result);
    if (ran != kExitOk)
        return ran;
    if (!result->accepted())
        return CommandFailure(session, *result, kIntervalKey);
    if (!result->infoAfter)
        return session.Fail(kExitNoInstrument, QStringLiteral("%1: written, but the logger information could not be "
                                                              "read back")
                                                   .arg(kIntervalKey));
    const int held = result->infoAfter->interval();
    if (context.options.json) {
        const QJsonObject write{{QStringLiteral("group"), QStringLiteral("data logger")},
                                {QStringLiteral("object"), kObjectLoggerInfo},
                                {QStringLiteral("payload"), Hex(result->sent)},
                                {QStringLiteral("heldAsWritten"), held == *input.seconds},
                                {QStringLiteral("settings"), QJsonObject{{kIntervalKey, QString::number(held)}}}};
        session.out() << TerminalJson(QJsonDocument(QJsonObject{{QStringLiteral("dryRun"), false},
                                                                {QStringLiteral("writes"), QJsonArray{write}}}),
                                      QJsonDocument::Indented);
    } else {
        session.out() << "data logger: written and read back\n";
        PrintFields(session.out(), {{kIntervalKey, QString::number(held)}}, 2);
    }
    session.out().flush();
    if (held != *input.seconds)
        return session.Fail(kExitReadBackDiffers, QStringLiteral("%1: the instrument does not hold what was written: "
                                                                 "written %2, instrument holds %3")
                                                      .arg(kIntervalKey)
                                                      .arg(*input.seconds)
                                                      .arg(held));
    return kExitOk;
}

} // namespace r310::cli
