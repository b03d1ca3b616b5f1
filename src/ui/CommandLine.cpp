#include "CommandLine.h"

namespace r310::ui {

namespace {

// "--name VALUE" or "--name=VALUE"; advances i past a separate value.
bool TakeValue(const QStringList &arguments, int &i, const QString &name, QString &value, QString &error)
{
    const QString &argument = arguments.at(i);
    const QString withValue = name + QLatin1Char('=');
    if (argument.startsWith(withValue)) {
        value = argument.mid(withValue.size());
    } else if (argument == name) {
        if (i + 1 >= arguments.size()) {
            error = QStringLiteral("%1 needs a value").arg(name);
            return true;
        }
        value = arguments.at(++i);
    } else {
        return false;
    }
    if (value.isEmpty())
        error = QStringLiteral("%1 needs a value").arg(name);
    return true;
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    for (int i = 1; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString &argument = arguments.at(i);
        QString viewFile;
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.help = true;
        } else if (argument == QLatin1String("--demo")) {
            line.demo = true;
        } else if (argument == QLatin1String("--no-records")) {
            line.noRecords = true;
        } else if (TakeValue(arguments, i, QStringLiteral("--port"), line.port, line.error)
                   || TakeValue(arguments, i, QStringLiteral("--screenshot"), line.screenshotDir, line.error)
                   || TakeValue(arguments, i, QStringLiteral("--records"), line.records, line.error)
                   || TakeValue(arguments, i, QStringLiteral("--levels"), line.levels, line.error)
                   || TakeValue(arguments, i, QStringLiteral("--view"), viewFile, line.error)) {
            if (!viewFile.isEmpty())
                line.viewFiles.append(viewFile);
        } else if (argument.startsWith(QLatin1Char('-'))) {
            line.error = QStringLiteral("unknown option %1").arg(argument);
        } else if (i > 1) {
            // Only the first argument has a meaning of its own ("/pr").
            line.error = QStringLiteral("unexpected argument %1").arg(argument);
        }
    }
    return line;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: R310Conf [/pr] [--port DEVICE] [--demo] [--screenshot DIR]\n"
        "       R310Conf --view FILE [--view FILE] [--levels A1,A2,A3,STEL,TWA] [--screenshot DIR]\n"
        "\n"
        "The configurator window of the Lumo R310 portable gas detector.\n"
        "\n"
        "  /pr               as the first argument, in any case: show the factory \"Setup\" button\n"
        "  --port DEVICE     add DEVICE (a serial port such as ttyUSB0 or COM3, or a device path\n"
        "                    such as a pseudo-terminal) to the port list and preselect it\n"
        "  --demo            preselect the built-in simulated instrument, paced like a real line;\n"
        "                    press \"Open Port\" to connect\n"
        "  --screenshot DIR  connect, visit every tab the instrument shows, save one PNG per tab\n"
        "                    in DIR (general.png, range.png, ...) and exit; uses the offscreen\n"
        "                    platform unless QT_QPA_PLATFORM says otherwise\n"
        "  --records URL     keep the service records there: sqlite:FILE or\n"
        "                    postgresql://USER@HOST:PORT/DB (default: $R310_RECORDS, else the\n"
        "                    setting, else records.sqlite in the program's data folder)\n"
        "  --no-records      record nothing this time\n"
        "  --view FILE       open the log viewer with a data logger or event log export file\n"
        "                    (chart, exposure figures, event table) instead of the window; a\n"
        "                    second --view adds the other log (events marked on the chart);\n"
        "                    --levels: the instrument's alarm levels (30,60,100,50,20; a \"v\"\n"
        "                    after A1 to A3 for one that falls below: 19.5v,18v,23.5);\n"
        "                    with --screenshot DIR: save viewer-chart.png, viewer-zoomed.png and\n"
        "                    viewer-events.png in DIR and exit\n"
        "  -h, --help        show this text\n"
        "\n"
        "The port opened last is remembered per user and preselected at the next start.\n");
}

} // namespace r310::ui
