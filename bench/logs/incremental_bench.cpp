// Downloads that read only what is new, through the product's real serial
// path (QSerialPort on a pseudo-terminal) against r310sim paced at 9600
// baud, with the service records in an SQLite file of the benchmark's own.
// Prints the time of a complete download of a 500-block, 4-set logger, of a
// repeat of it (goal: at most 5 % of the complete one), of one after 20 new
// blocks (at most 10 %), and of an event log of 192 events complete and
// after 5 new ones (at most 15 %), with the requests each sent.
//
//   incremental_bench [--blocks N] [--sets M] [--events N] [--sim PATH]
#include "DataLoggerDownload.h"
#include "EventLogJobs.h"
#include "LogDecoders.h"
#include "SimulatorProcess.h"

#include <DownloadsOnRecord.h>
#include <RecordStore.h>

#include <InstrumentConnection.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

using namespace r310;

namespace {

const QString kSerial = QStringLiteral("00001234");

struct Options {
    int blocks = 500;
    int sets = 4;
    int events = 192;
    QString simulator;
};

Options ParseOptions(const QStringList &arguments)
{
    Options options;
    options.simulator = QCoreApplication::applicationDirPath() + QStringLiteral("/../r310sim");
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &name = arguments.at(i);
        const int value = arguments.at(i + 1).toInt();
        if (name == QLatin1String("--blocks"))
            options.blocks = value;
        else if (name == QLatin1String("--sets"))
            options.sets = value;
        else if (name == QLatin1String("--events"))
            options.events = value;
        else if (name == QLatin1String("--sim"))
            options.simulator = arguments.at(i + 1);
    }
    return options;
}

struct Timed {
    bool ok = false;
    double seconds = 0;
    long requests = 0;
};

// Runs `job` on a connection to a paced r310sim with `extra` options and
// counts the requests the job sent.
Timed RunOn(const Options &options, const QStringList &extra, const ConnectionJob &job)
{
    QStringList arguments{QStringLiteral("--software=221"), QStringLiteral("--logger-start=900000000"),
                          QStringLiteral("--event-start=800000000"),
                          QStringLiteral("--logger-sets=%1").arg(options.sets),
                          QStringLiteral("--logger-max-blocks=%1").arg(options.blocks)};
    const SimulatorProcess simulator(options.simulator, arguments + extra);
    Timed timed;
    if (simulator.device().isEmpty()) {
        std::fprintf(stderr, "cannot start the simulated instrument %s\n", qPrintable(options.simulator));
        return timed;
    }
    ConnectionOptions connectionOptions;
    connectionOptions.idlePoll = false;
    connectionOptions.decoding.locale = QLocale::c();
    connectionOptions.decoderSetup = &logs::InstallLogDecoders;
    InstrumentConnection connection(connectionOptions);
    connection.waitFor(connection.open(simulator.device()));
    if (connection.phase() != ConnectionPhase::Connected) {
        std::fprintf(stderr, "no instrument answered on %s\n", qPrintable(simulator.device()));
        return timed;
    }
    long requests = 0;
    QObject::connect(&connection, &InstrumentConnection::answerDecoded, &connection,
                     [&requests](const DecodedAnswer &, const AnswerFrame &) { ++requests; });
    const auto start = std::chrono::steady_clock::now();
    timed.ok = connection.runAndWait(QStringLiteral("download"), job) == Outcome::Done;
    timed.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timed.requests = requests;
    return timed;
}

void Print(const char *what, const Timed &timed, const Timed *complete = nullptr, double goal = 0)
{
    if (!timed.ok) {
        std::printf("  %-28s failed\n", what);
        return;
    }
    std::printf("  %-28s %8.2f s, %5ld answers", what, timed.seconds, timed.requests);
    if (complete && complete->seconds > 0) {
        const double share = timed.seconds / complete->seconds;
        std::printf("  %5.1f %% of complete (goal <= %.0f %%: %s)", share * 100, goal * 100,
                    share <= goal ? "met" : "missed");
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const Options options = ParseOptions(application.arguments());
    QTemporaryDir directory;
    QString error;
    records::RecordsTarget target;
    target.kind = records::RecordsTarget::Kind::Sqlite;
    target.path = directory.filePath(QStringLiteral("records.sqlite"));
    const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(target, &error);
    if (!store) {
        std::fprintf(stderr, "cannot open the records: %s\n", qPrintable(error));
        return 1;
    }
    const QStringList blocks{QStringLiteral("--logger-blocks=%1").arg(options.blocks)};
    std::printf("downloads at 9600 baud against r310sim, records in SQLite\n");
    std::printf("  logger %d blocks x %d sets x 15 samples; event log %d events\n", options.blocks, options.sets,
                options.events);

    auto download = std::make_shared<logs::LoggerDownloadResult>();
    const Timed complete = RunOn(options, blocks, logs::DataLoggerDownloadJob(download));
    Print("logger, complete", complete);
    if (!complete.ok)
        return 1;
    store->AppendLogger(kSerial, {}, download->data.blocks);

    const Timed unchanged =
        RunOn(options, blocks, logs::DataLoggerDownloadJob(download, records::LoggerBlocksOnRecord(*store, kSerial)));
    Print("logger, unchanged", unchanged, &complete, 0.05);
    // 20 blocks more: the logger is full, so it wraps and the numbers shift.
    const Timed grown = RunOn(options, blocks + QStringList{QStringLiteral("--logger-overwritten=20")},
                              logs::DataLoggerDownloadJob(download, records::LoggerBlocksOnRecord(*store, kSerial)));
    Print("logger, 20 new blocks", grown, &complete, 0.10);
    std::printf("  %-28s %d of %d blocks from the records\n", "", download->onRecord, download->blockCount);

    auto events = std::make_shared<logs::EventDownload>();
    const QStringList log{QStringLiteral("--events=%1").arg(options.events)};
    const Timed eventsComplete = RunOn(options, log, logs::EventDownloadJob(options.events, events));
    Print("events, complete", eventsComplete);
    if (!eventsComplete.ok)
        return 1;
    store->AppendEvents(kSerial, {}, events->table);
    const Timed eventsGrown = RunOn(options, {QStringLiteral("--events=%1").arg(options.events + 5)},
                                    logs::EventDownloadJob(options.events + 5, events,
                                                           records::EventsOnRecord(*store, kSerial)));
    Print("events, 5 new", eventsGrown, &eventsComplete, 0.15);
    return 0;
}
