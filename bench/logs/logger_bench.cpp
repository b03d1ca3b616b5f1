// A full data logger downloaded through the product's real serial path: the
// instrument connection with QSerialPort on a pseudo-terminal, against
// r310sim paced at 9600 baud. Prints the download's time, the time the line
// needs at least (every request and answer byte at 10 bits, plus the
// instrument's pause before each answer), their ratio, the peak memory the
// download added, and the time to write the export file.
//
//   logger_bench [--blocks N] [--sets M] [--sim PATH] [--turnaround-ms MS]
#include "DataLoggerDownload.h"
#include "DataLoggerExport.h"
#include "LogDecoders.h"
#include "SimulatorProcess.h"

#include <InstrumentConnection.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

using namespace r310;

namespace {

struct Options {
    int blocks = 300;
    int sets = 4;
    QString simulator;
    int turnaroundMs = 5;
};

Options ParseOptions(const QStringList &arguments)
{
    Options options;
    options.simulator = QCoreApplication::applicationDirPath() + QStringLiteral("/../r310sim");
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &name = arguments.at(i);
        const QString &value = arguments.at(i + 1);
        if (name == QLatin1String("--blocks"))
            options.blocks = value.toInt();
        else if (name == QLatin1String("--sets"))
            options.sets = value.toInt();
        else if (name == QLatin1String("--sim"))
            options.simulator = value;
        else if (name == QLatin1String("--turnaround-ms"))
            options.turnaroundMs = value.toInt();
    }
    return options;
}

// A field of /proc/self/status in kB ("VmHWM", "VmRSS"); -1 where there is none.
long StatusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Lets the peak resident size start again from the current one.
bool ResetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// Bytes on the wire, each way, and how many exchanges.
struct Wire {
    long exchanges = 0;
    long bytes = 0;

    void add(int requestPayload, int answerPayload)
    {
        ++exchanges;
        bytes += kFrameOverhead + requestPayload + kFrameOverhead + answerPayload;
    }
};

Wire WireOf(const logs::LoggerDownloadResult &result)
{
    Wire wire;
    wire.add(0, logs::kLoggerInfoSize);
    for (const logs::LoggerBlock &block : result.data.blocks) {
        wire.add(2, logs::kLoggerBlockHeaderSize);
        for (std::size_t k = 0; k < block.sets.size(); ++k)
            wire.add(1, logs::kLoggerSampleSetSize);
    }
    return wire;
}

QStringList SimulatorArguments(const Options &options)
{
    return {QStringLiteral("--software=221"), QStringLiteral("--logger-blocks=%1").arg(options.blocks),
            QStringLiteral("--logger-max-blocks=%1").arg(std::max(options.blocks, 500)),
            QStringLiteral("--logger-sets=%1").arg(options.sets), QStringLiteral("--logger-samples=15"),
            QStringLiteral("--turnaround-ms=%1").arg(options.turnaroundMs)};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const Options options = ParseOptions(application.arguments());
    const SimulatorProcess simulator(options.simulator, SimulatorArguments(options));
    if (simulator.device().isEmpty()) {
        std::fprintf(stderr, "cannot start the simulated instrument %s\n", qPrintable(options.simulator));
        return 1;
    }

    ConnectionOptions connectionOptions;
    connectionOptions.idlePoll = false;
    connectionOptions.decoding.locale = QLocale::c();
    connectionOptions.decoderSetup = &logs::InstallLogDecoders;
    InstrumentConnection connection(connectionOptions);
    connection.waitFor(connection.open(simulator.device()));
    if (connection.phase() != ConnectionPhase::Connected) {
        std::fprintf(stderr, "no instrument answered on %s\n", qPrintable(simulator.device()));
        return 1;
    }

    const long residentBefore = StatusKilobytes("VmRSS");
    const bool peakReset = ResetPeakMemory();
    auto result = std::make_shared<logs::LoggerDownloadResult>();
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = connection.runAndWait(QStringLiteral("download"), logs::DataLoggerDownloadJob(result));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peakAfter = StatusKilobytes("VmHWM");
    if (outcome != Outcome::Done || !result->completed()) {
        std::fprintf(stderr, "%s\n", qPrintable(result->failureText()));
        return 1;
    }

    QTemporaryDir directory;
    const auto writeStart = std::chrono::steady_clock::now();
    const logs::ExportResult written =
        logs::WriteLoggerExport(directory.filePath(QStringLiteral("Logger.csv")), result->data);
    const double writeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count();
    const qint64 fileBytes = QFile(directory.filePath(QStringLiteral("Logger.csv"))).size();

    const Wire wire = WireOf(*result);
    const double bound = wire.bytes * 10.0 / 9600.0 + wire.exchanges * options.turnaroundMs / 1000.0;
    const double ratio = seconds / bound;
    std::printf("data logger download through QSerialPort against r310sim on %s\n", qPrintable(simulator.device()));
    std::printf("  logger             %d blocks x %d sets x 15 samples\n", result->blockCount, options.sets);
    std::printf("  exchanges          %ld, %ld bytes on the line, turnaround %d ms\n", wire.exchanges, wire.bytes,
                options.turnaroundMs);
    std::printf("  measured           %.3f s (%.2f ms per exchange)\n", seconds, seconds * 1000.0 / wire.exchanges);
    std::printf("  wire lower bound   %.3f s (%.2f ms per exchange)\n", bound, bound * 1000.0 / wire.exchanges);
    std::printf("  ratio              %.3f (goal <= 1.05: %s)\n", ratio, ratio <= 1.05 ? "met" : "missed");
    if (peakReset && peakAfter >= 0 && residentBefore >= 0)
        std::printf("  peak memory        %ld kB resident at most during the download (%+ld kB over before)\n",
                    peakAfter, peakAfter - residentBefore);
    else
        std::printf("  peak memory        not measurable on this system\n");
    std::printf("  export file        %lld bytes written in %.3f s (%s)\n", static_cast<long long>(fileBytes),
                writeSeconds, written.ok ? "ok" : qPrintable(written.message));
    return 0;
}
