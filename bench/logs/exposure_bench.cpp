// r310ctl exposure (and plot) on data logger files a safety manager's PC may
// be handed: a five-million-line log, a file written newest first, one with
// 20,000 gas texts and one with a gas text of 100,000 characters. Each runs
// as its own r310ctl process; prints its time, its peak memory (the
// process's largest resident size) and its exit code beside the goal; the
// processor time beside the time for a busy machine. Files of more gases
// than a file may have end with exit code 2, as they should.
//
//   exposure_bench [--lines N] [--ctl PATH]
#include <DataLoggerExport.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Run {
    double seconds = 0;
    double processorSeconds = 0; // user and system: the figure on a busy machine
    long peakKilobytes = 0;
    int exitCode = -1;
};

// Runs the program with its output thrown away; wait4 gives the child's own peak.
Run RunProgram(const QString &program, const QStringList &arguments)
{
    std::vector<std::string> texts{program.toStdString()};
    for (const QString &argument : arguments)
        texts.push_back(argument.toStdString());
    std::vector<char *> argv;
    for (std::string &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    std::fflush(stdout); // nothing buffered is written twice
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        run.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        run.processorSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                             + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        run.peakKilobytes = usage.ru_maxrss;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

// Lines in the German settings, one every 10 s from 2 March 2026; gas(i) names the line's gas.
template <typename Gas>
bool WriteLines(const QString &path, long count, bool newestFirst, Gas gas)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::string text = r310::logs::kLoggerHeaderLine.toStdString() + "\r\n";
    const QDateTime start(QDate(2026, 3, 2), QTime(6, 0));
    char line[64];
    for (long i = 0; i < count; ++i) {
        const long at = (newestFirst ? count - 1 - i : i) * 10;
        const QDateTime time = start.addSecs(at);
        const QDate d = time.date();
        const QTime t = time.time();
        std::snprintf(line, sizeof line, "%02d.%02d.%04d %02d:%02d:%02d;%ld,%ld;", d.day(), d.month(), d.year(),
                      t.hour(), t.minute(), t.second(), i % 40, i % 10);
        text += line;
        text += gas(i);
        text += i % 97 < 5 ? ";ALARM;\r\n" : "; ;\r\n";
        if (i > 0 && i % 500000 == 0)
            text += " ; ; ; ;\r\n";
        if (text.size() > (1 << 24) || i + 1 == count) {
            if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
                return false;
            text.clear();
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    long lines = 5000000;
    QString ctl = QCoreApplication::applicationDirPath() + QStringLiteral("/../r310ctl");
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--lines"))
            lines = arguments[i + 1].toLong();
        else if (arguments[i] == QLatin1String("--ctl"))
            ctl = arguments[i + 1];
    }
    QTemporaryDir dir;
    const struct {
        const char *name;
        long count;
        bool newestFirst;
        std::string (*gas)(long);
        const char *goal;
    } files[] = {
        {"long.csv", lines, false, [](long) { return std::string("ppm CO"); }, "10 s, 1 GB"},
        {"newest-first.csv", 8000, true, [](long) { return std::string("ppm CO"); }, "0.2 s"},
        {"gases.csv", 20000, false, [](long i) { return "ppm G" + std::to_string(i); }, "10 s, 1 GB"},
        {"long-gas.csv", 100, false, [](long) { return "ppm " + std::string(100000, 'X'); }, "10 s, 1 GB"},
    };
    std::printf("r310ctl exposure (and plot) on hostile and large files\n");
    for (const auto &f : files) {
        const QString path = dir.filePath(QString::fromLatin1(f.name));
        if (!WriteLines(path, f.count, f.newestFirst, f.gas)) {
            std::printf("cannot write %s\n", qPrintable(path));
            return 1;
        }
        for (const char *command : {"exposure", "plot"}) {
            if (std::string(command) == "plot" && f.count > 100000)
                continue; // the chart of the long log is the viewer benchmark's
            QStringList args{QString::fromLatin1(command), path};
            if (std::string(command) == "plot")
                args << QStringLiteral("--out") << dir.filePath(QStringLiteral("plot.png"));
            const Run run = RunProgram(ctl, args);
            std::printf("  %-8s %-17s %8ld lines  %7.3f s (processor %6.3f s)  %7.1f MB peak  exit %d  (goal: %s)\n",
                        command, f.name, f.count, run.seconds, run.processorSeconds,
                        static_cast<double>(run.peakKilobytes) / 1024.0, run.exitCode, f.goal);
        }
    }
    return 0;
}
