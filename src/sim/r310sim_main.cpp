// r310sim: a simulated Lumo R310 on a pseudo-terminal. Prints the slave
// device path as its first line, serves until SIGINT or SIGTERM.
#include "PtyServer.h"
#include "Scenario.h"
#include "SignalWatcher.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

using namespace r310::sim;

namespace {

const char *const kUsage = R"(Usage: r310sim [options] [--scenario FILE] [--KEY=VALUE ...]

A simulated Lumo R310 gas detector on a pseudo-terminal. The first line on
standard output is the path of the serial device to open (9600 baud, 8N1).
The instrument answers every object of the configurator's protocol and keeps
its state while running. Ends cleanly on SIGINT (Ctrl+C) or SIGTERM.

Options:
  -h, --help          this text
  --log               each request and answer as a hex line on stderr:
                      "<ms> -> <request>", "<ms> <- <answer>" (milliseconds
                      since start, answers at the time they go out), and
                      "!crc", "!ignored", "!unanswered" for dropped frames
  --no-pacing         answers at once instead of at 9600-baud line speed
                      (the same as --pacing=off)
  --print-scenario    print the effective scenario as a file and exit
  --scenario FILE     read "key = value" lines; options after it override it

Scenario keys (as file lines "key = value" or options --key=value; '-' and
'_' are the same; [default]). In a file, a value in double quotes is taken
as written, '#' and blanks included; inside the quotes \\ is a backslash,
\" a quote and \xHH the byte HH (customer_id = "A#1 \"B\"").
)";

const char *const kFaultHelp = R"(
Fault values (no_answer, bad_crc, error_report, echo, stray, split, late,
wrong_object, short_answer, long_answer):
  off | always | K (the next K requests) | P (probability, e.g. 0.2 or 20%)
Faults are drawn from the seed, so a run repeats exactly. A request that is
"not heard" changes nothing; an error report, or the answer of another
object (identity, clock, live value or event counters, as if that had been
asked for), replaces the answer and the request has no effect; a short or
long answer is the right answer with its payload cut or filled up (data
answers only); all other faults alter only the answer's delivery.
With fault_objects set, only those objects' requests count and are hit.
The line drop (line_drop_after) stops all answers in the middle of a log
download: once that many requests of objects 34 to 38 were answered, the next
one of them is the first request lost; others are answered until it comes.

Example scenario file:
  # an older instrument with a full event log and a damaged logger
  software = 211
  events = 600
  logger_blocks = 4
  block2 = state=3
  block3 = sets=5
  block4 = samples=12 gap=7200
  no_answer = 0.1
  seed = 7
)";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);

    Scenario scenario;
    std::vector<std::string> rest;
    std::string error;
    if (!ParseScenarioArguments(args, scenario, &rest, &error)) {
        std::fprintf(stderr, "r310sim: %s\n", error.c_str());
        return 2;
    }
    bool log = false;
    bool printScenario = false;
    for (const std::string &arg : rest) {
        if (arg == "-h" || arg == "--help") {
            std::printf("%s%s%s", kUsage, ScenarioKeyHelp().c_str(), kFaultHelp);
            return 0;
        }
        if (arg == "--log") {
            log = true;
        } else if (arg == "--no-pacing") {
            scenario.pacing = false;
        } else if (arg == "--print-scenario") {
            printScenario = true;
        } else {
            std::fprintf(stderr, "r310sim: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (printScenario) {
        std::printf("%s", FormatScenario(scenario).c_str());
        return 0;
    }

    // Ctrl+C and SIGTERM end the event loop, so the server closes its
    // pseudo-terminal on the way out.
    r310::SignalWatcher signalWatcher;
    if (!signalWatcher.active()) {
        std::fprintf(stderr, "r310sim: cannot watch for SIGINT and SIGTERM\n");
        return 1;
    }
    QObject::connect(&signalWatcher, &r310::SignalWatcher::signalled, &app, &QCoreApplication::quit);

    PtyServer server(scenario);
    QString startError;
    if (!server.start(&startError)) {
        std::fprintf(stderr, "r310sim: %s\n", qPrintable(startError));
        return 1;
    }
    if (log)
        server.setLog([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });

    std::printf("%s\n", qPrintable(server.slavePath()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
