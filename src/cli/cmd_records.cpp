// r310ctl records: the service records the window and r310ctl keep of every
// instrument: the list of instruments, one instrument's history, a stored
// download's export file again, and the check of every record chain.
#include "ExitCodes.h"
#include "GasTable.h"
#include "Report.h"
#include "Subcommands.h"

#include <ExportFile.h>
#include <RecordExport.h>
#include <RecordStore.h>
#include <RecordViews.h>

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

namespace r310::cli {

const char *const kRecordsHelp = R"(Usage: r310ctl [--records URL] records instruments [--json]
       r310ctl [--records URL] records history SERIAL [--since DATE] [--json]
       r310ctl [--records URL] records export SERIAL --events|--datalog [--download ID] [--out FILE]
       r310ctl [--records URL] records verify

The service records: every instrument command of r310ctl and the window
record what they read, wrote, calibrated and downloaded (see --records and
--no-records in r310ctl --help).

instruments  one line per instrument: serial number, customer ID, gas and
             unit, software version, last seen, last calibration (date, kind,
             outcome), next calibration and next bump test due as last read,
             overdue ones marked OVERDUE.
history      the instrument's records in the order they were kept, one line
             each, from DATE (YYYY-MM-DD, UTC) on with --since.
export       the export file of the instrument's latest event log (--events)
             or data logger (--datalog) download, or of the download with
             record id ID (as history shows it), written from the records:
             the same bytes the download wrote in the same regional
             settings. To FILE with --out, else to standard output.
verify       recomputes every record's hash along each instrument's chain and
             names the first record that was changed, removed or reordered
             (exit code 10); else prints how many records it checked.

With --json, dates are YYYY-MM-DD, times ISO 8601 in UTC and numbers JSON
numbers in the instrument's unit. Exit code 1: the records cannot be read;
2: the instrument or download is not on record; 9: the file cannot be written.
)";

namespace {

QString Usage() { return QStringLiteral("records needs instruments, history SERIAL, export SERIAL or verify (see r310ctl records --help)"); }

void PrintJson(CtlContext &context, const QJsonValue &value)
{
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    context.out() << TerminalJson(document, QJsonDocument::Indented);
}

int Instruments(CtlContext &context, records::RecordStore &store)
{
    QString error;
    const std::vector<records::InstrumentSummary> list = store.Instruments(&error);
    if (!error.isEmpty())
        return context.Fail(kExitFailure, error);
    const std::vector<records::InstrumentRow> rows = records::InstrumentRows(list, QDate::currentDate());
    if (context.options.json) {
        QJsonArray array;
        for (const records::InstrumentRow &row : rows)
            array.append(records::InstrumentJson(row));
        PrintJson(context, array);
        return kExitOk;
    }
    for (const QString &line : records::InstrumentLines(rows))
        context.out() << line << '\n';
    return kExitOk;
}

int History(CtlContext &context, records::RecordStore &store, const QString &serial)
{
    QString since = context.options.since;
    if (!since.isEmpty() && !QDate::fromString(since, Qt::ISODate).isValid())
        return context.Fail(kExitUsage, QStringLiteral("--since needs a date YYYY-MM-DD"));
    QString error;
    const std::vector<records::StoredRecord> list = store.History(serial, since, &error);
    if (!error.isEmpty())
        return context.Fail(kExitFailure, error);
    if (list.empty() && !store.Latest(serial, records::kind::kConnection))
        return context.Fail(kExitUsage, QStringLiteral("instrument %1 is not on record").arg(serial));
    if (context.options.json) {
        QJsonArray array;
        for (const records::StoredRecord &record : list)
            array.append(records::HistoryJson(record));
        PrintJson(context, array);
        return kExitOk;
    }
    for (const records::StoredRecord &record : list)
        context.out() << OneLineMessage(records::HistoryLine(record)) << '\n';
    return kExitOk;
}

int WriteBytes(CtlContext &context, const QStringList &lines)
{
    if (context.options.out.isEmpty()) {
        context.out().flush();
        const QByteArray bytes = logs::EncodeExportLines(lines);
        if (QIODevice *device = context.out().device())
            device->write(bytes);
        else
            context.out() << QString::fromLatin1(bytes);
        return kExitOk;
    }
    const logs::ExportResult written = logs::WriteExportFile(context.options.out, lines);
    if (!written.ok)
        return context.Fail(kExitCannotWrite, written.message + QStringLiteral(": ") + written.detail);
    return kExitOk;
}

int Export(CtlContext &context, records::RecordStore &store, const QString &serial)
{
    const CtlOptions &o = context.options;
    if (o.events == o.datalog)
        return context.Fail(kExitUsage, QStringLiteral("records export needs --events or --datalog"));
    const QString kind = o.events ? records::kind::kEvents : records::kind::kDatalog;
    std::optional<records::StoredRecord> record;
    if (!o.download.isEmpty()) {
        bool ok = false;
        const qint64 id = o.download.toLongLong(&ok);
        if (ok)
            record = store.Record(id);
        if (record && (record->serial != serial || record->kind != kind))
            record.reset();
    } else {
        record = store.Latest(serial, kind);
    }
    if (!record)
        return context.Fail(kExitUsage, QStringLiteral("no %1 download of instrument %2 is on record")
                                            .arg(o.events ? QStringLiteral("event log") : QStringLiteral("data logger"),
                                                 serial));
    const GasTable &gasTable = *context.gasTable;
    QString error;
    const std::optional<QStringList> lines = records::DownloadExportLines(
        store, *record, QLocale::system(),
        [&gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable.GasTexts(unit, gas); }, &error);
    if (!lines)
        return context.Fail(kExitFailure, error);
    return WriteBytes(context, *lines);
}

int Verify(CtlContext &context, records::RecordStore &store)
{
    const records::VerifyResult result = store.Verify();
    if (!result.ok)
        return context.Fail(kExitRecordsTampered, QStringLiteral("records verify: %1").arg(result.problem));
    context.out() << "records verify: " << result.checked << " records checked, every chain intact\n";
    return kExitOk;
}

} // namespace

int RunRecords(CtlContext &context)
{
    const QStringList &words = context.options.operands;
    const QString what = words.value(0);
    const bool withSerial = what == QLatin1String("history") || what == QLatin1String("export");
    if (what.isEmpty() || words.size() != (withSerial ? 2 : 1)
        || !(withSerial || what == QLatin1String("instruments") || what == QLatin1String("verify")))
        return context.Fail(kExitUsage, Usage());
    int code = kExitOk;
    std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, &code);
    if (!store)
        return code;
    if (what == QLatin1String("instruments"))
        return Instruments(context, *store);
    if (what == QLatin1String("verify"))
        return Verify(context, *store);
    // "1234" finds "00001234".
    if (what == QLatin1String("history"))
        return History(context, *store, records::NormalizedSerial(words.at(1)));
    return Export(context, *store, records::NormalizedSerial(words.at(1)));
}

} // namespace r310::cli
