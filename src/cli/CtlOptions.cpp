#include "CtlOptions.h"

#include <QCommandLineParser>

#include <vector>

namespace r310::cli {

namespace {

// A whole number of at least 0, or -1.
int NonNegative(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 0 ? value : -1;
}

// "-1" or "-0.5" where a command expects a word: the parser takes it for an
// option named "1"; the user meant a negative number.
bool NamesANumber(const QString &optionName)
{
    return !optionName.isEmpty() && (optionName.front().isDigit() || optionName.front() == QLatin1Char('.'));
}

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("device"));
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")});
    const QCommandLineOption timeout(QStringLiteral("timeout-s"), QString(), QStringLiteral("seconds"));
    const QCommandLineOption samples(QStringLiteral("samples"), QString(), QStringLiteral("count"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption trace(QStringLiteral("trace"));
    parser.addOptions({port, demo, json, help, verbose, timeout, samples, dryRun, trace});
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption full(QStringLiteral("full"));
    const QCommandLineOption serial(QStringLiteral("serial"), QString(), QStringLiteral("number"));
    const QCommandLineOption customerId(QStringLiteral("customer-id"), QString(), QStringLiteral("text"));
    const QCommandLineOption updateLimitList(QStringLiteral("update-limit-list"));
    const QCommandLineOption force(QStringLiteral("force"));
    parser.addOptions({yes, full, serial, customerId, updateLimitList, force});
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("file"));
    const QCommandLineOption max(QStringLiteral("max"), QString(), QStringLiteral("count"));
    parser.addOptions({out, max});
    const QCommandLineOption each(QStringLiteral("each"));
    const QCommandLineOption log(QStringLiteral("log"), QString(), QStringLiteral("file"));
    const QCommandLineOption noCustomerId(QStringLiteral("no-customer-id"));
    parser.addOptions({each, log, noCustomerId});
    const QCommandLineOption records(QStringLiteral("records"), QString(), QStringLiteral("url"));
    const QCommandLineOption noRecords(QStringLiteral("no-records"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("date"));
    const QCommandLineOption events(QStringLiteral("events"));
    const QCommandLineOption datalog(QStringLiteral("datalog"));
    const QCommandLineOption download(QStringLiteral("download"), QString(), QStringLiteral("id"));
    parser.addOptions({records, noRecords, since, events, datalog, download});
    // The cylinder register, certificates and what falls due: options that take a value.
    const char *const valued[] = {"lot",      "gas",        "unit",        "concentration", "expires", "balance",
                                  "supplier", "cylinder",   "technician",  "calibration",   "within",  "csv",
                                  "tolerance", "head", "trusted-keys", "name"};
    std::vector<QCommandLineOption> valuedOptions;
    for (const char *name : valued)
        valuedOptions.emplace_back(QLatin1String(name), QString(), QStringLiteral("value"));
    for (const QCommandLineOption &option : valuedOptions)
        parser.addOption(option);
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("datetime"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("datetime"));
    const QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
    const QCommandLineOption levels(QStringLiteral("levels"), QString(), QStringLiteral("A1,A2,A3,STEL,TWA"));
    parser.addOptions({from, to, size, levels});

    ParsedCommandLine result;
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty() && NamesANumber(unknown.first())) {
            result.error = QStringLiteral("\"-%1\" is read as an option: a negative number cannot be given here")
                               .arg(unknown.first());
            return result;
        }
        // Qt ends its sentence with a full stop; the hint follows it in the same line.
        result.error = parser.errorText();
        if (result.error.endsWith(QLatin1Char('.')))
            result.error.chop(1);
        return result;
    }
    CtlOptions &o = result.options;
    for (const QString &name : parser.optionNames())
        o.given.append(name == QLatin1String("h") ? QStringLiteral("help")
                       : name == QLatin1String("v") ? QStringLiteral("verbose")
                                                    : name);
    o.port = parser.value(port);
    o.demo = parser.isSet(demo);
    o.json = parser.isSet(json);
    o.help = parser.isSet(help);
    o.verbose = parser.isSet(verbose);
    o.dryRun = parser.isSet(dryRun);
    o.trace = parser.isSet(trace);
    o.yes = parser.isSet(yes);
    o.full = parser.isSet(full);
    o.force = parser.isSet(force);
    o.serial = parser.value(serial);
    o.customerId = parser.value(customerId);
    o.updateLimitList = parser.isSet(updateLimitList);
    o.out = parser.value(out);
    o.max = parser.value(max);
    o.log = parser.value(log);
    o.records = parser.value(records);
    o.noRecords = parser.isSet(noRecords);
    o.since = parser.value(since);
    o.events = parser.isSet(events);
    o.datalog = parser.isSet(datalog);
    o.download = parser.value(download);
    // In the order of `valued`.
    QString *const targets[] = {&o.lot,      &o.gas,      &o.unit,       &o.concentration, &o.expires, &o.balance,
                                &o.supplier, &o.cylinder, &o.technician, &o.calibration,   &o.within,  &o.csv,
                                &o.tolerance, &o.head,     &o.trustedKeys, &o.name};
    for (std::size_t n = 0; n < valuedOptions.size(); ++n) {
        *targets[n] = parser.value(valuedOptions[n]);
        if (parser.isSet(valuedOptions[n]) && targets[n]->trimmed().isEmpty()
            && valuedOptions[n].names().first() != QLatin1String("balance")
            && valuedOptions[n].names().first() != QLatin1String("supplier")) {
            result.error = QStringLiteral("--%1 needs a value").arg(valuedOptions[n].names().first());
            return result;
        }
    }
    o.from = parser.value(from);
    o.to = parser.value(to);
    o.size = parser.value(size);
    o.levels = parser.value(levels);
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty()) {
        o.command = positional.first();
        o.operands = positional.mid(1);
    }

    if (parser.isSet(port) && o.port.trimmed().isEmpty()) {
        result.error = QStringLiteral("--port needs a device name");
        return result;
    }
    if (parser.isSet(port) && o.demo) {
        result.error = QStringLiteral("--port and --demo exclude each other");
        return result;
    }
    if (parser.isSet(out) && o.out.isEmpty()) {
        result.error = QStringLiteral("--out needs a file name");
        return result;
    }
    if (parser.isSet(log) && o.log.isEmpty()) {
        result.error = QStringLiteral("--log needs a file name");
        return result;
    }
    if (parser.isSet(records) && o.noRecords) {
        result.error = QStringLiteral("--records and --no-records exclude each other");
        return result;
    }
    if (parser.isSet(records) && o.records.trimmed().isEmpty()) {
        result.error = QStringLiteral("--records needs a database: sqlite:FILE or postgresql://USER@HOST:PORT/DB");
        return result;
    }
    if (parser.isSet(timeout)) {
        o.timeoutSeconds = NonNegative(parser.value(timeout));
        if (o.timeoutSeconds < 0 || o.timeoutSeconds > kMaxTimeoutSeconds) {
            result.error = QStringLiteral("--timeout-s needs a whole number of seconds from 0 to %1 "
                                          "(0 searches until Ctrl+C)")
                               .arg(kMaxTimeoutSeconds);
            return result;
        }
    }
    if (parser.isSet(samples)) {
        o.samples = NonNegative(parser.value(samples));
        if (o.samples < 0) {
            result.error = QStringLiteral("--samples needs a whole number, 0 or more");
            return result;
        }
    }
    result.ok = true;
    return result;
}

} // namespace r310::cli
