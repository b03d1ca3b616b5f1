// r310ctl due: the instruments on record whose calibration or bump test
// falls due, for a person or a scheduled job.
#include "ExitCodes.h"
#include "Report.h"
#include "Subcommands.h"

#include <FleetReport.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace r310::cli {

const char *const kDueHelp = R"(Usage: r310ctl [--records URL] due [--within DAYS] [--json] [--csv FILE]

Lists the instruments on record whose next calibration or next bump test,
as each instrument last reported it, falls on or before today + DAYS
(default 0: due today or overdue): serial number, customer ID, what is due,
the date, and the days overdue (negative: days still left). With --json a
JSON array; with --csv FILE the same list as a CSV file as well.

Exit codes: 0 nothing is due; 10 something is due (so a scheduled job can
mail the list); 1 the records cannot be read; 2 a bad DAYS; 9 the CSV file
cannot be written.
)";

int RunDue(CtlContext &context)
{
    const CtlOptions &o = context.options;
    int within = 0;
    if (!o.within.isEmpty()) {
        bool ok = false;
        within = o.within.trimmed().toInt(&ok);
        if (!ok || within < 0 || within > 36500)
            return context.Fail(kExitUsage, QStringLiteral("--within needs a whole number of days from 0 to 36500"));
    }
    int code = kExitOk;
    const std::optional<std::vector<records::InstrumentSummary>> onRecord = InstrumentsOnRecord(context, &code);
    if (!onRecord)
        return code;
    const std::vector<records::InstrumentSummary> &list = *onRecord;
    const QDate today = QDate::currentDate();
    const std::vector<records::DueItem> items = records::DueItems(records::InstrumentRows(list, today), today, within);
    if (!o.csv.isEmpty()) {
        QSaveFile file(o.csv);
        const QByteArray bytes = records::DueCsvLines(items).join(QLatin1Char('\n')).toUtf8() + '\n';
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            return context.Fail(kExitCannotWrite, QStringLiteral("cannot write %1: %2").arg(o.csv, file.errorString()));
    }
    if (o.json) {
        QJsonArray array;
        for (const records::DueItem &item : items)
            array.append(records::DueJson(item));
        context.out() << TerminalJson(QJsonDocument(array), QJsonDocument::Indented);
    } else if (items.empty()) {
        context.out() << "Nothing is due within " << within << " days.\n";
    } else {
        for (const QString &line : records::DueLines(items))
            context.out() << OneLineMessage(line) << '\n';
    }
    return items.empty() ? kExitOk : kExitSomethingDue;
}

} // namespace r310::cli
