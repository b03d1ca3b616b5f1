// r310ctl plot: the log viewer's chart of a data logger export file as a
// picture, rendered without a display.
#include "ExitCodes.h"
#include "Formats.h"
#include "LogFileCommands.h"
#include "Subcommands.h"

#ifdef R310_HAVE_LOGCHART
#include <ChartExport.h>
#include <LogChart.h>
#endif

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace r310::cli {

const char *const kPlotHelp = R"(Usage: r310ctl plot FILE [--out F.png|F.svg|F.pdf] [--from DATETIME] [--to DATETIME] [--size WxH]
                   [--levels A1,A2,A3,STEL,TWA]

Draws the chart of a data logger export file (as "datalog" and the
configurator write it, in any regional settings) as the log viewer shows
it: a line per series (the Gas column), broken between sections, samples
taken in alarm (the instrument's own flag) marked in red. No display is
needed.

--out F      the picture: .png, .svg or .pdf by the name's end (default:
             FILE with .png in place of its extension); it appears, or
             replaces an older one, only once it is complete
--from, --to the times shown (default: the whole log), as
             2008-12-24T13:45:00, "2008-12-24 13:45" or in your regional
             settings' short date and long time
--size WxH   the picture's size in pixels (PDF: points), default 1200x700
--levels     the instrument's alarm levels, drawn as lines (A1 to A3) and
             dashed lines (STEL, TWA, for toxic gases only): 30,60,100,50,20
             ("." as decimal point; a "v" after A1 to A3: falls below)

Exit code 2: the file cannot be opened or read as a data logger file (the
first line that cannot be read is named), or a bad option value.
Exit code 9: the picture cannot be written.
)";

namespace {

constexpr int kDefaultWidth = 1200;
constexpr int kDefaultHeight = 700;
constexpr int kMinSide = 200;
constexpr int kMaxSide = 10000;

std::optional<QSize> ParseSize(const QString &text)
{
    if (text.isEmpty())
        return QSize(kDefaultWidth, kDefaultHeight);
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size.width() < kMinSide || size.height() < kMinSide || size.width() > kMaxSide || size.height() > kMaxSide)
        return std::nullopt;
    return size;
}

std::optional<std::int64_t> ParseDateTime(const QString &text, const QLocale &fileLocale)
{
    QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    for (const QString &format : {QStringLiteral("yyyy-MM-dd HH:mm:ss"), QStringLiteral("yyyy-MM-dd HH:mm"),
                                  QStringLiteral("yyyy-MM-dd")}) {
        if (!parsed.isValid())
            parsed = QDateTime::fromString(text, format);
    }
    for (const QLocale &locale : {QLocale::system(), fileLocale}) {
        if (!parsed.isValid())
            parsed = locale.toDateTime(text, ShortDateFormat(locale) + QLatin1Char(' ') + LongTimeFormat(locale));
    }
    if (!parsed.isValid())
        return std::nullopt;
    return logs::WallClockSeconds(parsed);
}

QString DefaultOut(const QString &file)
{
    const QFileInfo info(file);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".png"));
}

} // namespace

int RunPlot(CtlContext &context)
{
    const CtlOptions &o = context.options;
    const std::optional<QSize> size = ParseSize(o.size);
    if (!size)
        return context.Fail(kExitUsage, QStringLiteral("--size needs WIDTHxHEIGHT in pixels, each %1 to %2: 1200x700")
                                            .arg(kMinSide)
                                            .arg(kMaxSide));
    const QString out = o.out.isEmpty() ? DefaultOut(o.operands.value(0)) : o.out;
    LoadedLog loaded;
    if (const int code = LoadLoggerFile(context, loaded); code != kExitOk)
        return code;
    std::optional<std::int64_t> from, to;
    if (!o.from.isEmpty() && !(from = ParseDateTime(o.from, loaded.file->locale)))
        return context.Fail(kExitUsage, QStringLiteral("--from \"%1\" is no date and time").arg(o.from));
    if (!o.to.isEmpty() && !(to = ParseDateTime(o.to, loaded.file->locale)))
        return context.Fail(kExitUsage, QStringLiteral("--to \"%1\" is no date and time").arg(o.to));
#ifdef R310_HAVE_LOGCHART
    if (ui::ChartFormatOf(out) == ui::ChartFormat::Unknown)
        return context.Fail(kExitUsage, QStringLiteral("--out needs a name ending in .png, .svg or .pdf"));
    ui::LogChart chart(QLocale::system());
    chart.setTitle(QFileInfo(o.operands.first()).fileName());
    chart.SetAlarmLevels(loaded.levels);
    chart.SetLogger(loaded.file);
    if (from || to) {
        const std::int64_t shownFrom = from.value_or(chart.WholeFrom());
        const std::int64_t shownTo = to.value_or(chart.WholeTo());
        if (shownTo <= shownFrom)
            return context.Fail(kExitUsage, QStringLiteral("--to must be later than --from"));
        chart.ShowTimes(shownFrom, shownTo);
    }
    const ui::ChartFileResult written = ui::WriteChartFile(chart, *size, out);
    if (!written.ok)
        return context.Fail(kExitCannotWrite, written.message);
    return kExitOk;
#else
    return context.Fail(kExitFailure, QStringLiteral("this r310ctl was built without Qt Charts: no plot"));
#endif
}

} // namespace r310::cli
