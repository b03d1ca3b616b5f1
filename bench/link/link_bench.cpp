// N reads of the identity object (object 2) through QSerialPort, the serial
// port service and the transaction, against r310sim on a pseudo-terminal with
// its 9600-baud pacing. Prints the measured time, the time the line needs at
// least (request and answer bytes at 10 bits each, plus the simulator's pause
// before answering) and their ratio.
//
//   link_bench [--reads N] [--sim PATH] [--turnaround-ms MS]
#include "SerialPort.h"
#include "ExchangeReport.h"
#include "R310_typ.h"
#include "Transaction.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>

using namespace r310;

namespace {

// The benchmark shows nothing.
class SilentUi : public ExchangeReport {
public:
    void setStatusText(int, const QString &) override {}
    void showError(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
};

struct Options {
    int reads = 200;
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
        if (name == QLatin1String("--reads"))
            options.reads = value.toInt();
        else if (name == QLatin1String("--sim"))
            options.simulator = value;
        else if (name == QLatin1String("--turnaround-ms"))
            options.turnaroundMs = value.toInt();
    }
    return options;
}

// One read as the read commands do it; the answer is taken as the decoder would.
bool ReadIdentity(Transaction &transaction, int &answerLength)
{
    RequestBuffer request{};
    BuildReadRequest(2, request);
    transaction.ArmResponseTimer(1);
    transaction.RunTransaction(request);
    if (transaction.Result().Failed())
        return false;
    answerLength = FrameLength(transaction.TakeAnswer().bytes.data());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const Options options = ParseOptions(application.arguments());

    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(options.simulator,
                    {QStringLiteral("--turnaround-ms=%1").arg(options.turnaroundMs)});
    if (!simulator.waitForStarted(5000) || !simulator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot start the simulated instrument %s\n", qPrintable(options.simulator));
        return 1;
    }
    simulator.setReadChannel(QProcess::StandardOutput);
    while (!simulator.canReadLine() && simulator.waitForReadyRead(5000)) {
    }
    const QString device = QString::fromLocal8Bit(simulator.readLine()).trimmed();

    SilentUi ui;
    SerialPort port;
    Transaction transaction(port, ui);
    int answerLength = 0;
    int failures = 0;
    double seconds = 0.0;
    try {
        port.SetPortName(device);
        port.SetOpen(true);
        ReadIdentity(transaction, answerLength); // wakes both sides up

        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < options.reads; ++i) {
            if (!ReadIdentity(transaction, answerLength))
                ++failures;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        port.SetOpen(false);
    } catch (const PortError &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        simulator.terminate();
        simulator.waitForFinished(3000);
        return 1;
    }
    simulator.terminate();
    simulator.waitForFinished(3000);

    const int requestLength = kFrameOverhead; // a plain read has no payload
    const double wirePerExchange =
        (requestLength + answerLength) * 10.0 / 9600.0 + options.turnaroundMs / 1000.0;
    const double bound = wirePerExchange * options.reads;
    const double ratio = seconds / bound;
    std::printf("reads of object 2 through QSerialPort against r310sim on %s\n", qPrintable(device));
    std::printf("  exchanges          %d (failed %d)\n", options.reads, failures);
    std::printf("  bytes per exchange %d request + %d answer, turnaround %d ms\n", requestLength,
                answerLength, options.turnaroundMs);
    std::printf("  measured           %.3f s (%.2f ms per exchange)\n", seconds,
                seconds * 1000.0 / options.reads);
    std::printf("  wire lower bound   %.3f s (%.2f ms per exchange)\n", bound, wirePerExchange * 1000.0);
    std::printf("  ratio              %.3f (goal <= 1.05: %s)\n", ratio, ratio <= 1.05 ? "met" : "missed");
    return failures == 0 ? 0 : 1;
}
