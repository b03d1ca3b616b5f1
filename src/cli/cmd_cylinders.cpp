// r310ctl cylinders: the register of test-gas cylinders in the service
// records: add one, list them, retire one.
#include "ExitCodes.h"
#include "GasTable.h"
#include "Report.h"
#include "Subcommands.h"

#include <Cylinders.h>

#include <QJsonArray>
#include <QJsonDocument>

namespace r310::cli {

const char *const kCylindersHelp = R"(Usage: r310ctl [--records URL] cylinders add --lot LOT --gas GAS --unit UNIT --concentration X --expires YYYY-MM-DD [--balance TEXT] [--supplier TEXT]
       r310ctl [--records URL] cylinders list [--json]
       r310ctl [--records URL] cylinders retire LOT

The register of test-gas cylinders, kept with the service records (see
--records in r310ctl --help).

add     registers a cylinder: its lot (unique), gas and unit - the texts the
        gas table gives, as "get" shows them ("CO", "ppm"), or their codes -,
        the certified concentration X in that unit ("." as decimal point),
        the expiry date, and optionally the balance gas and the supplier.
list    every cylinder: lot, gas, concentration and unit, expiry, balance,
        supplier, and whether it is retired or expired.
retire  takes the cylinder out of use; it stays in the register.

"calibrate span --cylinder LOT" calibrates with a registered cylinder.

Exit codes: 0 done; 1 the records cannot be read or written; 2 a missing
or bad value, a lot already registered, or an unknown lot.
)";

std::unique_ptr<records::RecordStore> OpenRecordStore(CtlContext &context, int *code)
{
    const records::RecordsChoice choice = records::ChooseRecords(context.options.records, false);
    if (!choice.ok()) {
        *code = context.Fail(kExitUsage, choice.error);
        return nullptr;
    }
    QString error;
    std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(choice.target, &error);
    if (!store)
        *code = context.Fail(kExitFailure, QStringLiteral("cannot open the records %1: %2").arg(choice.target.text(), error));
    return store;
}

std::unique_ptr<records::RecordStore> OpenCylinderRecords(CtlContext &context, int *code)
{
    if (context.options.noRecords) {
        *code = context.Fail(kExitUsage, QStringLiteral("--cylinder needs the records, where the cylinder register "
                                                        "is kept; --no-records leaves them out"));
        return nullptr;
    }
    return OpenRecordStore(context, code);
}

std::optional<std::vector<records::InstrumentSummary>> InstrumentsOnRecord(CtlContext &context, int *code)
{
    const std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, code);
    if (!store)
        return std::nullopt;
    QString error;
    std::vector<records::InstrumentSummary> list = store->Instruments(&error);
    if (!error.isEmpty()) {
        *code = context.Fail(kExitFailure, error);
        return std::nullopt;
    }
    return list;
}

namespace {

int Add(CtlContext &context, records::CylinderRegister &cylinders)
{
    const CtlOptions &o = context.options;
    const GasTable &table = *context.gasTable;
    const records::CylinderCheck check = records::CheckCylinderEntry(
        {o.lot, o.gas, o.unit, o.concentration, o.expires, o.balance, o.supplier},
        [&table](std::uint8_t code) { return table.GasNameText(code); },
        [&table](std::uint8_t code) { return table.GasUnitText(code); });
    if (!check.cylinder && check.field.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("cylinders add needs --lot, --gas, --unit, --concentration and "
                                                       "--expires (see r310ctl cylinders --help)"));
    if (!check.cylinder) {
        const QString given = check.field == QLatin1String("gas")             ? o.gas
                              : check.field == QLatin1String("unit")          ? o.unit
                              : check.field == QLatin1String("concentration") ? o.concentration
                                                                              : o.expires;
        return context.Fail(kExitUsage, QStringLiteral("--%1 %2: %3").arg(check.field, given, check.problem));
    }
    const records::Cylinder &c = *check.cylinder;
    QString error;
    if (cylinders.Find(c.lot, &error))
        return context.Fail(kExitUsage, QStringLiteral("cylinder %1 is already in the register").arg(c.lot));
    if (!cylinders.Add(c, &error))
        return context.Fail(kExitFailure, error);
    context.out() << "Cylinder added: " << records::CylinderText(c) << '\n';
    const QString warning = records::CylinderRangeWarning(cylinders.store(), c);
    if (!warning.isEmpty())
        context.err() << "r310ctl: warning: " << warning << '\n';
    return kExitOk;
}

int List(CtlContext &context, records::CylinderRegister &cylinders)
{
    QString error;
    const std::vector<records::Cylinder> list = cylinders.List(&error);
    if (!error.isEmpty())
        return context.Fail(kExitFailure, error);
    const QDate today = QDate::currentDate();
    if (context.options.json) {
        QJsonArray array;
        for (const records::Cylinder &c : list) {
            QJsonObject json = records::CylinderJson(c);
            json.insert(QStringLiteral("expired"), c.expires < today);
            array.append(json);
        }
        context.out() << TerminalJson(QJsonDocument(array), QJsonDocument::Indented);
        return kExitOk;
    }
    for (const records::Cylinder &c : list) {
        QString state = c.retired ? QStringLiteral("  RETIRED") : QString();
        if (c.expires < today)
            state += QStringLiteral("  EXPIRED");
        context.out() << OneLineMessage(QStringLiteral("%1  %2 %3 %4  expires %5  balance %6  supplier %7%8")
                                            .arg(c.lot, c.gas, QString::number(c.concentration, 'g', 12), c.unit,
                                                 c.expires.toString(Qt::ISODate),
                                                 c.balance.isEmpty() ? QStringLiteral("-") : c.balance,
                                                 c.supplier.isEmpty() ? QStringLiteral("-") : c.supplier, state))
                      << '\n';
    }
    return kExitOk;
}

} // namespace

int RunCylinders(CtlContext &context)
{
    const QStringList &words = context.options.operands;
    const QString what = words.value(0);
    const bool retire = what == QLatin1String("retire");
    if (words.size() != (retire ? 2 : 1) || !(retire || what == QLatin1String("add") || what == QLatin1String("list")))
        return context.Fail(kExitUsage, QStringLiteral("cylinders needs add, list or retire LOT (see r310ctl cylinders --help)"));
    int code = kExitOk;
    std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, &code);
    if (!store)
        return code;
    records::CylinderRegister cylinders(*store);
    if (what == QLatin1String("add"))
        return Add(context, cylinders);
    if (what == QLatin1String("list"))
        return List(context, cylinders);
    QString error;
    if (!cylinders.Find(words.at(1), &error))
        return context.Fail(error.isEmpty() ? kExitUsage : kExitFailure,
                            error.isEmpty() ? QStringLiteral("cylinder %1 is not in the register").arg(words.at(1)) : error);
    if (!cylinders.Retire(words.at(1), &error))
        return context.Fail(kExitFailure, error);
    context.out() << "Cylinder retired: " << words.at(1) << '\n';
    return kExitOk;
}

} // namespace r310::cli
