// r310ctl events: downloads the event log as the window's "Read" does and
// writes the same export file, byte for byte, to --out FILE or to standard
// output.
#include "EventLogJobs.h"
#include "EventLogSession.h"
#include "ExitCodes.h"
#include "ExportFile.h"
#include "Formats.h"
#include "Report.h"
#include "Subcommands.h"

#include "SessionRecorder.h"

#include <QDir>
#include <QFile>

#include <optional>

namespace r310::cli {

const char *const kEventsHelp = R"(Usage: r310ctl [--port DEVICE | --demo] [--timeout-s N] events [--out FILE] [--full]

Connects as "info" does, reads the event log's counters, downloads every
event as the configurator's "Read" on "Event properties" does and writes the
export file: "No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK", a line
per event, dates, times and numbers in your regional settings, 8-bit text
(the ANSI code page on Windows, Latin-1 elsewhere), CR LF after every line.
The bytes are those the window writes with the same regional settings.
With the service records on, when event 1 and the newest event on record
from an earlier download of this instrument (complete or stopped) are still
the same, only the events after it are read; the file is the whole log all
the same.

--out FILE   write the file there; it appears, or replaces an older one, only
             once it is complete, and a line on standard error says where.
             Without --out the file goes to standard output.
--full       read every event, whatever is on record.

While it runs, a progress line is shown on standard error when that is a
terminal. An empty log writes nothing. An event that cannot be read is left
out (its "No" is missing) and named on standard error; the file is still
written and the exit code is 3 (no answer) or 5 (error report). A download
interrupted by Ctrl+C (130), a failed port (4) or an instrument that stops
answering (3) or whose answers arrive damaged (3) writes nothing; the events
read before the stop are kept on record as an unfinished download, and the
next download goes on after them. Exit code 9: the file cannot be written.
)";

namespace {


// The export bytes to standard output, unchanged by any text encoding.
void WriteToStandardOutput(QTextStream &out, const QByteArray &bytes)
{
    out.flush();
    if (QIODevice *device = out.device()) {
        device->write(bytes);
        return;
    }
    // A stream on a string (tests): one character per byte.
    out << QString::fromLatin1(bytes);
}

int WriteEvents(CtlContext &context, const logs::EventDownload &download)
{
    const QString &path = context.options.out;
    if (path.isEmpty()) {
        WriteToStandardOutput(context.out(), logs::EncodeExportLines(download.lines));
        return kExitOk;
    }
    const logs::ExportResult written = logs::WriteExportFile(path, download.lines);
    if (!written.ok)
        return context.Fail(kExitCannotWrite, written.message + QStringLiteral(": ") + written.detail);
    // Where the file went, as the window says it.
    context.err() << "r310ctl: " << download.table.filledCount() << " of " << download.count
                  << " events read"
                  << (download.onRecord > 0 ? QStringLiteral(" (%1 already on record)").arg(download.onRecord)
                                            : QString())
                  << "; saved to " << QDir::toNativeSeparators(path) << Qt::endl;
    return kExitOk;
}


} // namespace

int RunEvents(CtlContext &context)
{
    InstrumentSession session(context.options, context.environment, *context.gasTable);
    int opened = kExitOk;
    const std::optional<logs::EventProperties> properties = OpenEventLog(session, &opened);
    if (!properties)
        return opened;
    if (properties->count == 0) {
        session.err() << "r310ctl: the event log is empty; nothing was written" << Qt::endl;
        return kExitOk;
    }

    ProgressLine progress(session.err());
    QObject::connect(&session.connection(), &InstrumentConnection::progress, &session,
                     [&progress](int, int, const QString &text) { progress.Show(text); });
    auto download = std::make_shared<logs::EventDownload>();
    const auto onRecord = context.options.full ? nullptr : session.recorder().EventsOnRecord();
    session.connection().waitFor(session.connection().submit(
        QStringLiteral("events"), logs::EventDownloadJob(properties->count, download, onRecord)));
    progress.Clear();
    if (download->outcome != Outcome::Done)
        session.recorder().RecordEvents(download->table, true);
    if (session.Aborted())
        return session.Verdict(true);
    if (download->outcome != Outcome::Done)
        return session.DownloadStopped(download->outcome,
                                       QStringLiteral("event %1 of %2").arg(download->lastAsked).arg(download->count));
    session.recorder().RecordEvents(download->table);
    if (context.options.verbose && !download->readAllBecause.isEmpty())
        session.err() << "r310ctl: every event was read: " << download->readAllBecause << Qt::endl;

    if (const int code = WriteEvents(context, *download))
        return code;
    if (download->missing.empty())
        return kExitOk;
    return session.Fail(download->refusals ? kExitInstrumentError : kExitNoInstrument,
                        logs::MissingEventsText(download->missing, download->count));
}

} // namespace r310::cli
