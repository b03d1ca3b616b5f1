// r310ctl records: the service records the window and r310ctl keep of every
// instrument: the list of instruments, one instrument's history, a stored
// download's export file again, and the check of every record chain.
#include "ExitCodes.h"
#include "GasTable.h"
#include "Report.h"
#include "Subcommands.h"

#include <ExportFile.h>
#include <RecordExport.h>
#include <RecordServer.h>
#include <RecordStore.h>
#include <RecordViews.h>

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

namespace r310::cli {

const char *const kRecordsHelp = R"(Usage: r310ctl [--records URL] records instruments [--json]
       r310ctl [--records URL] records history SERIAL [--since DATE] [--json]
       r310ctl [--records URL] records export SERIAL --events|--datalog [--download ID] [--out FILE]
       r310ctl [--records URL] records verify [--head TEXT] [--trusted-keys FILE]
       r310ctl records key
       r310ctl records trust add KEY --name NAME [--trusted-keys FILE]
       r310ctl --records postgresql://OWNER@HOST/DB records setup-server

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
verify       recomputes every record's hash along each instrument's chain,
             checks each record's and cylinder's signature, and names the
             first record that was changed, removed, reordered or not signed
             by a trusted key (exit code 10); else prints how many records it
             checked. The trusted keys are those of --trusted-keys FILE, else
             of the trusted-keys file in the configuration folder; without
             any it says which keys signed how many records. --head TEXT (as
             a certificate or fleet report prints it) also checks that the
             chain still holds that record.
key          this workstation user's public key, its fingerprint and id (the
             key pair is made on first use; the private key stays in the
             configuration folder, readable by this user only).
trust add    adds KEY (as "records key" prints it on the other workstation)
             to the trusted keys under NAME.
setup-server creates the schema on a PostgreSQL database and the roles
             r310_writer (adds and reads records, never changes or removes
             them) and r310_reader (reads only); run once by the database's
             owner.

With --json, dates are YYYY-MM-DD, times ISO 8601 in UTC and numbers JSON
numbers in the instrument's unit. Exit code 1: the records cannot be read;
2: the instrument or download is not on record; 9: the file cannot be written.
)";

bool TrustedKeys(CtlContext &context, std::optional<std::vector<records::TrustedKey>> *keys, QString *error)
{
    const QString given = context.options.trustedKeys;
    if (!given.isEmpty() && !QFileInfo::exists(given)) {
        *error = QStringLiteral("--trusted-keys: no file %1").arg(given);
        return false;
    }
    *keys = records::ReadTrustedKeys(given.isEmpty() ? records::TrustedKeysPath() : given, error);
    if (!*keys)
        return false;
    if ((*keys)->empty())
        keys->reset();
    return true;
}

namespace {

QString Usage()
{
    return QStringLiteral("records needs instruments, history SERIAL, export SERIAL, verify, key, trust add KEY or "
                          "setup-server (see r310ctl records --help)");
}

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
        context.out() << OneLineMessage(line) << '\n';
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
    const CtlOptions &o = context.options;
    records::VerifyOptions options;
    QString error;
    if (!TrustedKeys(context, &options.trusted, &error))
        return context.Fail(kExitUsage, error);
    if (!o.head.isEmpty()) {
        const std::optional<records::ChainHead> head = records::ParseChainHead(o.head);
        if (!head)
            return context.Fail(kExitUsage, QStringLiteral("--head needs SERIAL:RECORD:HASH, as a certificate prints it"));
        options.heads.push_back(*head);
    }
    const records::VerifyResult result = store.Verify(options);
    if (!result.ok)
        return context.Fail(kExitRecordsTampered, QStringLiteral("records verify: %1").arg(result.problem));
    context.out() << "records verify: " << result.checked << " records checked, every chain intact\n";
    for (const records::ChainHead &head : options.heads)
        context.out() << OneLineMessage(QStringLiteral("records verify: head %1 is on record").arg(head.text())) << '\n';
    for (const records::KeySigned &key : result.signers) {
        const QString who = key.trustedAs.isEmpty() ? QStringLiteral("%1@%2").arg(key.user, key.host) : key.trustedAs;
        context.out() << OneLineMessage(QStringLiteral("  key %1 (%2): %3 signed").arg(key.keyId, who).arg(key.count))
                      << '\n';
    }
    if (!options.trusted && !result.signers.empty())
        context.out() << "records verify: none of these keys is trusted yet: add each with r310ctl records trust add "
                         "KEY --name NAME\n";
    return kExitOk;
}

int Key(CtlContext &context)
{
    QString error;
    const std::optional<records::KeyPair> key = records::WorkstationKey(&error);
    if (!key)
        return context.Fail(kExitFailure, error);
    context.out() << "public key:  " << records::PublicKeyText(key->publicKey) << '\n'
                  << "fingerprint: " << records::KeyFingerprint(key->publicKey) << '\n'
                  << "key id:      " << records::KeyId(key->publicKey) << '\n';
    return kExitOk;
}

int Trust(CtlContext &context)
{
    const CtlOptions &o = context.options;
    const QByteArray key = records::PublicKeyFromText(o.operands.value(2));
    if (o.operands.value(1) != QLatin1String("add") || key.isEmpty() || o.name.trimmed().isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("records trust needs add KEY --name NAME, KEY as records key "
                                                       "prints it"));
    const QString path = o.trustedKeys.isEmpty() ? records::TrustedKeysPath() : o.trustedKeys;
    QString error;
    if (!records::AddTrustedKey(path, key, OneLineMessage(o.name.trimmed()), &error))
        return context.Fail(kExitCannotWrite, error);
    context.out() << OneLineMessage(QStringLiteral("key %1 trusted as \"%2\" in %3")
                                        .arg(records::KeyId(key), o.name.trimmed(), QDir::toNativeSeparators(path)))
                  << '\n';
    return kExitOk;
}

int SetupServer(CtlContext &context, records::RecordStore &store)
{
    QString error;
    if (!records::SetUpServer(store, &error))
        return context.Fail(kExitFailure, QStringLiteral("records setup-server: %1").arg(error));
    context.out() << "records setup-server: schema ready; roles r310_writer (add and read) and r310_reader (read) "
                     "set up on "
                  << store.target().text() << '\n';
    return kExitOk;
}

} // namespace

int RunRecords(CtlContext &context)
{
    const QStringList &words = context.options.operands;
    const QString what = words.value(0);
    if (what == QLatin1String("key") && words.size() == 1)
        return Key(context);
    if (what == QLatin1String("trust"))
        return words.size() == 3 ? Trust(context) : context.Fail(kExitUsage, Usage());
    const bool withSerial = what == QLatin1String("history") || what == QLatin1String("export");
    if (what.isEmpty() || words.size() != (withSerial ? 2 : 1)
        || !(withSerial || what == QLatin1String("instruments") || what == QLatin1String("verify")
             || what == QLatin1String("setup-server")))
        return context.Fail(kExitUsage, Usage());
    int code = kExitOk;
    std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, &code);
    if (!store)
        return code;
    if (what == QLatin1String("instruments"))
        return Instruments(context, *store);
    if (what == QLatin1String("verify"))
        return Verify(context, *store);
    if (what == QLatin1String("setup-server"))
        return SetupServer(context, *store);
    // "1234" finds "00001234".
    if (what == QLatin1String("history"))
        return History(context, *store, records::NormalizedSerial(words.at(1)));
    return Export(context, *store, records::NormalizedSerial(words.at(1)));
}

} // namespace r310::cli
