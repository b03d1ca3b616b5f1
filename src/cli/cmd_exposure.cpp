// r310ctl exposure: the exposure figures of a data logger export file, per
// series and section, as the log viewer shows them under its chart.
#include "ExitCodes.h"
#include "Formats.h"
#include "LogFileCommands.h"
#include "Report.h"
#include "Subcommands.h"

#include <Exposure.h>

#include <QJsonArray>

namespace r310::cli {

const char *const kExposureHelp = R"(Usage: r310ctl exposure FILE [--levels A1,A2,A3,STEL,TWA] [--json]

Reads a data logger export file (as "datalog" and the configurator write it,
in any regional settings) and prints, per series (the Gas column) and
section: start, end, number of samples, the interval dt each sample stands
for (the most frequent time step between consecutive samples of the series
in the section), the peak (highest value and its time), STEL and TWA(8h).
Negative readings count as 0.
  STEL     the highest, over every sample i, of the sum of value x dt over the
           samples from t_i to just before t_i + 15 min, divided by 15 min
  TWA(8h)  the same over 8 hours; a section shorter than 8 hours gives its
           whole sum divided by 8 hours
STEL and TWA are figures of toxic gases: oxygen and combustibles (%LEL, or
%Vol of a flammable gas) show a dash (JSON: left out).
--levels     the instrument's alarm levels in the file's unit ("." as
             decimal point; leave out what is not known: 30,60,100): adds
             the time at or above A1, A2 and A3; a "v" after a level makes
             it one that falls below (oxygen: 19.5v,18v,23.5), counted at
             or below it
--json       one object with every figure as a number, times in ISO 8601

Exit code 2: the file cannot be opened or read as a data logger file (the
first line that cannot be read is named).
)";

namespace {

QString SecondsText(std::int64_t seconds)
{
    return QStringLiteral("%1 s").arg(seconds);
}

QString Iso(std::int64_t wallClock)
{
    return logs::WallClockDateTime(wallClock).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

QString KindText(logs::GasKind kind)
{
    switch (kind) {
    case logs::GasKind::Oxygen:
        return QStringLiteral("oxygen");
    case logs::GasKind::Combustible:
        return QStringLiteral("combustible");
    case logs::GasKind::Toxic:
        break;
    }
    return QStringLiteral("toxic");
}

QJsonObject FigureJson(const logs::ExposureFigures &figure, const logs::LoggerSeries &series)
{
    QJsonObject object;
    object.insert(QStringLiteral("gas"), figure.gas);
    object.insert(QStringLiteral("section"), figure.section + 1);
    object.insert(QStringLiteral("start"), Iso(figure.start));
    object.insert(QStringLiteral("end"), Iso(figure.end));
    object.insert(QStringLiteral("samples"), static_cast<qint64>(figure.samples));
    object.insert(QStringLiteral("interval_s"), static_cast<qint64>(figure.interval));
    object.insert(QStringLiteral("decimals"), series.decimals);
    object.insert(QStringLiteral("peak"), QJsonObject{{QStringLiteral("value"), figure.peak},
                                                      {QStringLiteral("time"), Iso(figure.peakTime)}});
    object.insert(QStringLiteral("kind"), KindText(figure.kind));
    if (figure.stel)
        object.insert(QStringLiteral("stel"), *figure.stel);
    if (figure.twa)
        object.insert(QStringLiteral("twa_8h"), *figure.twa);
    QJsonObject above, below;
    for (std::size_t k = 0; k < figure.inAlarm.size(); ++k) {
        if (figure.inAlarm[k])
            (figure.falling[k] ? below : above)
                .insert(QStringLiteral("A%1").arg(k + 1), static_cast<qint64>(*figure.inAlarm[k]));
    }
    if (!above.isEmpty())
        object.insert(QStringLiteral("at_or_above_s"), above);
    if (!below.isEmpty())
        object.insert(QStringLiteral("at_or_below_s"), below);
    return object;
}

} // namespace

int RunExposure(CtlContext &context)
{
    LoadedLog loaded;
    if (const int code = LoadLoggerFile(context, loaded); code != kExitOk)
        return code;
    const logs::LogFile &file = *loaded.file;
    const std::vector<logs::ExposureFigures> figures = logs::ComputeExposure(file.series, loaded.levels);
    const QLocale &locale = loaded.shownLocale;
    auto seriesOf = [&file](const logs::ExposureFigures &figure) -> const logs::LoggerSeries & {
        for (const logs::LoggerSeries &series : file.series) {
            if (series.gas == figure.gas)
                return series;
        }
        return file.series.front();
    };
    if (context.options.json) {
        QJsonArray all;
        for (const logs::ExposureFigures &figure : figures)
            all.append(FigureJson(figure, seriesOf(figure)));
        const QJsonObject document{{QStringLiteral("file"), context.options.operands.value(0)},
                                   {QStringLiteral("sections"), file.sections},
                                   {QStringLiteral("series"), all}};
        context.out() << QString::fromUtf8(TerminalJson(QJsonDocument(document), QJsonDocument::Indented));
        return kExitOk;
    }
    bool first = true;
    for (const logs::ExposureFigures &figure : figures) {
        const int decimals = seriesOf(figure).decimals;
        auto value = [&](const std::optional<double> &v) {
            return v ? ValueText(*v, decimals + 2, locale) : QString(QChar(0x2014));
        };
        if (!first)
            context.out() << "\n";
        first = false;
        context.out() << VisibleText(figure.gas) << ", section " << figure.section + 1 << "\n";
        Fields fields{{QStringLiteral("Start"), DateTimeText(logs::WallClockDateTime(figure.start), locale)},
                     {QStringLiteral("End"), DateTimeText(logs::WallClockDateTime(figure.end), locale)},
                     {QStringLiteral("Samples"), QString::number(figure.samples)},
                     {QStringLiteral("Interval (dt)"), SecondsText(figure.interval)},
                     {QStringLiteral("Peak"), ValueText(figure.peak, decimals, locale) + QStringLiteral(" at ")
                                                  + DateTimeText(logs::WallClockDateTime(figure.peakTime), locale)},
                     {QStringLiteral("STEL(15min)"), value(figure.stel)},
                     {QStringLiteral("TWA(8h)"), value(figure.twa)}};
        for (std::size_t k = 0; k < figure.inAlarm.size(); ++k) {
            if (figure.inAlarm[k])
                fields.push_back({QStringLiteral("At or %1 A%2").arg(figure.falling[k] ? "below" : "above").arg(k + 1),
                                  SecondsText(*figure.inAlarm[k])});
        }
        PrintFields(context.out(), fields, 2);
    }
    return kExitOk;
}

} // namespace r310::cli
