// What the identity check before every write costs: the time of the
// identity read the engine makes before a write, and of a whole alarm
// limits write with its check and read-back, on a 9600-baud line to the
// simulated instrument (in-process, line pacing on).
//
//   write_check_bench [WRITES]
//
// WRITES defaults to 20.
#include "AlarmSettings.h"
#include "DemoInstrument.h"
#include "InstrumentConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <optional>

using namespace r310;

namespace {

// Milliseconds per run of the job, over `runs` runs.
double MillisecondsPerJob(InstrumentConnection &connection, int runs, const std::function<ConnectionJob()> &make)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i)
        connection.runAndWait(QStringLiteral("measured"), make());
    return static_cast<double>(timer.nsecsElapsed()) / 1e6 / runs;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int writes = 20;
    if (argc > 1 && (writes = QString::fromLocal8Bit(argv[1]).toInt()) <= 0) {
        std::fprintf(stderr, "usage: write_check_bench [WRITES]\n");
        return 2;
    }
    ConnectionOptions options;
    options.link = DemoInstrumentLink(true);
    options.idlePoll = false;
    InstrumentConnection connection(options);
    std::optional<RangeAlarmSettings> range;
    QObject::connect(&connection, &InstrumentConnection::answerDecoded, &connection,
                     [&range](const DecodedAnswer &answer, const AnswerFrame &) {
                         if (answer.range)
                             range = answer.range;
                     });
    connection.waitFor(connection.open(QStringLiteral("demo")));
    connection.waitFor(connection.readTab(InstrumentTab::Range));
    if (!connection.record().InstrumentConnected || !range) {
        std::fprintf(stderr, "no instrument answered\n");
        return 1;
    }
    // The limits the instrument holds, written back unchanged.
    const AlarmSettingsValues values = AlarmSettingsValues::FromDecoded(*range);

    const double identity = MillisecondsPerJob(connection, writes, [] {
        return [](JobContext &job) { job.sequences().ReadIdentity(); };
    });
    const double write = MillisecondsPerJob(connection, writes, [&values] {
        return AlarmSettingsJob(values, std::make_shared<SettingsWriteResult>());
    });
    std::printf("identity check before a write, 9600 baud, simulated instrument, %d runs each\n", writes);
    std::printf("  identity read (the check's extra exchange): %.1f ms\n", identity);
    std::printf("  alarm limits write with check and read-back: %.1f ms\n", write);
    std::printf("  share of the check:                         %.0f %%\n", 100.0 * identity / write);
    return 0;
}
