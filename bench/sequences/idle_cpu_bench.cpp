// CPU time of the configurator's process while it is connected to an
// instrument and the idle poll reads clock and value once a second, as a
// percentage of one core. Goal: below 0.5 %.
//
//   idle_cpu_bench [SECONDS] [--pty]
//
// SECONDS defaults to 60. By default the simulated instrument runs
// in-process with line pacing on (its own work is counted too); with --pty
// the simulator program runs as a separate process on a pseudo-terminal and
// only the configurator side is measured.
#include "DemoInstrument.h"
#include "InstrumentConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

using namespace r310;

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Starts the simulator program and returns the device it serves, or empty.
QString StartSimulator(QProcess &simulator)
{
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../r310sim"));
    simulator.start(program, {});
    if (!simulator.waitForStarted(5000) || !simulator.waitForReadyRead(5000))
        return {};
    return QString::fromUtf8(simulator.readLine()).trimmed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 60;
    bool overPty = false;
    for (const QString &argument : app.arguments().mid(1)) {
        bool number = false;
        const int value = argument.toInt(&number);
        if (number && value > 0)
            seconds = value;
        else if (argument == QLatin1String("--pty"))
            overPty = true;
        else {
            std::fprintf(stderr, "usage: idle_cpu_bench [SECONDS] [--pty]\n");
            return 2;
        }
    }

    QProcess simulator;
    ConnectionOptions options;
    QString portName = QStringLiteral("demo");
    if (overPty) {
        portName = StartSimulator(simulator);
        if (portName.isEmpty()) {
            std::fprintf(stderr, "the simulator program did not start\n");
            return 1;
        }
    } else {
        options.link = DemoInstrumentLink(true);
    }

    // The connection as the window holds it: the engine thread with the idle
    // poll between jobs; the figures include the engine and the signals it sends.
    InstrumentConnection connection(options);
    long answers = 0;
    QObject::connect(&connection, &InstrumentConnection::answerDecoded, &connection,
                     [&answers](const DecodedAnswer &, const AnswerFrame &) { ++answers; });
    QObject::connect(&connection, &InstrumentConnection::errorMessage, &connection,
                     [](const QString &text) { std::fprintf(stderr, "error: %s\n", qPrintable(text)); });
    connection.waitFor(connection.open(portName));
    if (!connection.record().InstrumentConnected) {
        std::fprintf(stderr, "no instrument answered\n");
        return 1;
    }

    const long answersBefore = answers;
    const double cpuBefore = CpuSeconds();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const long decoded = answers - answersBefore;

    connection.closePort();
    if (overPty) {
        simulator.terminate();
        simulator.waitForFinished(3000);
    }

    const double percent = 100.0 * cpu / seconds;
    std::printf("idle poll, connected to the simulated instrument (%s), %d s\n",
                overPty ? "separate process on a pseudo-terminal" : "in-process, line pacing on", seconds);
    std::printf("  answers decoded:  %ld (%.2f per second; a poll reads clock and value)\n", decoded,
                static_cast<double>(decoded) / seconds);
    std::printf("  CPU time:         %.3f s\n", cpu);
    std::printf("  CPU load:         %.3f %% of one core (goal < 0.5 %%): %s\n", percent,
                percent < 0.5 ? "met" : "NOT MET");
    return 0;
}
