// The configurator window as a user meets it: time from process start until
// the window is on screen (goal below 0.3 s), CPU time while it is connected
// to the simulated instrument with the idle poll reading clock and value
// once a second (goal below 0.5 % of one core), and peak resident memory
// (goal below 60 MB).
//
//   window_bench [SECONDS]     (default 60; R310_BENCH_SECONDS works as well)
//
// The simulated instrument runs in-process, paced like a 9600-baud line; its
// work is counted too. Without a display the offscreen platform is used.
#include <R310Cnf.h>

#include <DemoInstrument.h>
#include <GasTable.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

using namespace r310;
using namespace r310::ui;

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double PeakResidentMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

// Seconds since this process started, from the kernel's start time (in
// clock ticks since boot); -1 when the system does not say.
double SecondsSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22)
            startTicks = std::stoull(field);
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double sinceBoot = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
    return sinceBoot - static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int MeasuringSeconds(const QStringList &arguments)
{
    QString given = arguments.value(1);
    if (given.isEmpty())
        given = qEnvironmentVariable("R310_BENCH_SECONDS");
    bool ok = false;
    const int seconds = given.toInt(&ok);
    return ok && seconds > 0 ? seconds : 60;
}

bool SpinUntil(const std::function<bool()> &done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY")
        && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    const int seconds = MeasuringSeconds(QApplication::arguments());
    // The programs and the gas table library lie one folder up.
    const QString buildDir = QDir(QApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(".."));
    QString gasTableError;
    const std::unique_ptr<GasTable> gasTable = GasTable::Load({buildDir}, &gasTableError);
    if (!gasTable) {
        std::fprintf(stderr, "window_bench: %s\n", qPrintable(gasTableError));
        return 1;
    }

    WindowSetup setup;
    setup.arguments = QApplication::arguments().mid(0, 1) + QStringList{QStringLiteral("--demo")};
    setup.connection.decoding.locale = QLocale::system();
    setup.connection.decoding.gasTexts = [&](std::uint8_t unit, std::uint8_t gas) { return gasTable->GasTexts(unit, gas); };
    setup.demoLink = DemoInstrumentLink(true);
    setup.picturePath = buildDir + QStringLiteral("/R310.jpg");
    TFo_R310 window(std::move(setup));
    window.show();
    SpinUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 5000);
    const double startSeconds = SecondsSinceProcessStart();

    window.OpenPort();
    if (!SpinUntil([&] { return window.connection()->phase() == ConnectionPhase::Connected; }, 10000)) {
        std::fprintf(stderr, "window_bench: the simulated instrument did not connect\n");
        return 1;
    }
    SpinUntil([] { return false; }, 1000);

    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &application, &QApplication::quit);
    QApplication::exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;

    std::printf("window shown after process start: %.3f s (goal below 0.3 s)\n", startSeconds);
    std::printf("CPU while connected, idle poll running: %.3f %% of one core over %.1f s (goal below 0.5 %%)\n",
                100.0 * cpu / elapsed, elapsed);
    std::printf("peak resident memory: %.1f MB (goal below 60 MB)\n", PeakResidentMegabytes());
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
    window.close();
    return 0;
}
