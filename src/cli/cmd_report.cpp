// r310ctl report fleet: every instrument on record in one table, as PDF.
#include "ExitCodes.h"
#include "Subcommands.h"

#include <FleetReport.h>
#include <Paper.h>

#include <QSysInfo>

namespace r310::cli {

const char *const kReportHelp = R"(Usage: r310ctl [--records URL] report fleet --out FILE.pdf

Prints the fleet report from the service records: one table of every
instrument on record with its customer ID, gas, last calibration (date,
kind, outcome), last bump test result, and next calibration and bump test
due as each instrument last reported them; overdue dates are marked
OVERDUE in red. The window's records window prints the same.

Exit codes: 0 written; 1 the records cannot be read; 9 the file cannot be
written.
)";

int RunReport(CtlContext &context)
{
    const CtlOptions &o = context.options;
    if (o.operands != QStringList{QStringLiteral("fleet")} || o.out.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("report needs fleet and --out FILE.pdf (see r310ctl report --help)"));
    int code = kExitOk;
    const std::optional<std::vector<records::InstrumentSummary>> onRecord = InstrumentsOnRecord(context, &code);
    if (!onRecord)
        return code;
    const std::vector<records::InstrumentSummary> &list = *onRecord;
    const QDate today = QDate::currentDate();
    const std::vector<records::FleetRow> rows = records::FleetRows(list, today);
    QString error;
    if (!records::SavePdf(records::FleetReportPdf(rows, today, QSysInfo::machineHostName(), o.demo), o.out, &error))
        return context.Fail(kExitCannotWrite, QStringLiteral("cannot write %1: %2").arg(o.out, error));
    context.out() << "Fleet report of " << rows.size() << " instruments written to " << o.out << '\n';
    return kExitOk;
}

} // namespace r310::cli
