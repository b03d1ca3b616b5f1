// R310Conf: the configurator window of the Lumo R310.
#include "CommandLine.h"

#include <QSettings>
#include "Dialogs.h"
#include "LogViewer.h"
#include "LogViewerShots.h"
#include "R310Cnf.h"
#include "ScreenshotTour.h"

#include <DemoInstrument.h>
#include <GasTable.h>
#include <PortOptions.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

using namespace r310;
using namespace r310::ui;

// As r310ctl: 2 a usage error, 6 the gas table library is missing.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitGasTableMissing = 6;

QStringList ArgumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Without a display the toolkit would end the program with a message of
// its own; say it in one line instead.
bool DisplayAvailable()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

DecodeEnvironment DecodingWith(const GasTable &gasTable)
{
    DecodeEnvironment environment;
    environment.locale = QLocale::system();
    environment.gasTexts = [&gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable.GasTexts(unit, gas); };
    return environment;
}

// The header picture lies beside the program in the build folder; an
// installed program finds it in the package's data folder, named relative to
// the program's folder (R310_INSTALLED_DATA_DIR, set by the packaging build).
QString HeaderPicturePath()
{
    const QDir programDir(QApplication::applicationDirPath());
    const QString beside = programDir.filePath(QStringLiteral("R310.jpg"));
#ifdef R310_INSTALLED_DATA_DIR
    if (!QFileInfo::exists(beside))
        return programDir.filePath(QStringLiteral(R310_INSTALLED_DATA_DIR "/R310.jpg"));
#endif
    return beside;
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLine line = ParseCommandLine(ArgumentsOf(argc, argv));
    QTextStream err(stderr);
    if (!line.error.isEmpty()) {
        err << "R310Conf: " << line.error << "\n" << UsageText();
        return kExitUsage;
    }
    if (line.help) {
        QTextStream(stdout) << UsageText();
        return 0;
    }
    // Pictures need no screen: the offscreen platform draws them.
    if (!line.screenshotDir.isEmpty() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!DisplayAvailable()) {
        err << "R310Conf: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
               "start it on a desktop, or use --screenshot DIR for pictures of the window\n";
        return kExitFailure;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("R310Conf"));
    if (!line.viewFiles.isEmpty())
        return RunLogViewer(line.viewFiles, line.levels, line.screenshotDir);
    MessageBoxDialogs startDialogs;

    QString gasTableError;
    const std::unique_ptr<GasTable> gasTable = GasTable::Load(&gasTableError);
    if (!gasTable) {
        err << "R310Conf: " << gasTableError << "\n";
        err.flush();
        if (line.screenshotDir.isEmpty())
            startDialogs.showError(gasTableError);
        return kExitGasTableMissing;
    }

    WindowSetup setup;
    setup.arguments = QApplication::arguments();
    setup.ports = SystemSerialPorts();
    setup.listPorts = &SystemSerialPorts;
    setup.portSettings = UserPortSettings();
    setup.connection.decoding = DecodingWith(*gasTable);
    setup.gasTable = gasTable.get();
    if (line.demo)
        setup.demoLink = DemoInstrumentLink(true);
    setup.picturePath = HeaderPicturePath();
    // The service records: --records, R310_RECORDS, the window's setting, the
    // default file. Pictures of the window keep their records in a file of
    // their own that goes with the run, so the user's records stay as they are.
    // A run on the simulated instrument (--demo) never opens the user's records either.
    QTemporaryDir pictureRecords;
    const bool pictures = !line.screenshotDir.isEmpty();
    const bool apart = (pictures && line.records.isEmpty()) || line.demo;
    setup.records = records::ChooseRecords(
        apart && !line.noRecords ? pictureRecords.filePath(QStringLiteral("records.sqlite")) : line.records,
        line.noRecords || (apart && !pictureRecords.isValid()),
        QSettings().value(QStringLiteral("records/url")).toString());
    setup.records.demo = line.demo && setup.records.target.enabled();

    TFo_R310 window(std::move(setup));
    window.show();

    std::unique_ptr<ScreenshotTour> tour;
    if (!line.screenshotDir.isEmpty()) {
        tour = std::make_unique<ScreenshotTour>(window, QDir(line.screenshotDir));
        QObject::connect(tour.get(), &ScreenshotTour::finished, &application, [&](int code, const QString &message) {
            QTextStream out(code == 0 ? stdout : stderr);
            out << "R310Conf: " << message << Qt::endl;
            window.close();
            QApplication::exit(code);
        });
        QTimer::singleShot(0, tour.get(), &ScreenshotTour::start);
    }
    return QApplication::exec();
}
