// Prints how r310web answers the fleet page of 10,000 instruments with a
// million records (SQLite) to 50 clients at once on loopback for 20 s: the
// median and 99th percentile latency (goal: p99 within 100 ms), requests per
// second and the server's memory. Each client keeps its connection and
// walks through the pages and sort orders a safety manager would.
//
//   web_bench [--fleet FILE] [--clients N] [--seconds S]
//
// The fleet is made by records_bench in FILE when FILE does not exist.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A line of /proc/PID/status, in kB.
long StatusKb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

double Percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    auto value = [&args](const char *name, const QString &fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    };
    QTemporaryDir dir;
    const QString fleet = value("--fleet", dir.filePath(QStringLiteral("fleet.sqlite")));
    const int clients = value("--clients", QStringLiteral("50")).toInt();
    const int seconds = value("--seconds", QStringLiteral("20")).toInt();
    if (!QFileInfo::exists(fleet)) {
        std::printf("making the fleet with records_bench ...\n");
        std::fflush(stdout);
        QProcess::execute(QStringLiteral(RECORDS_BENCH), {QStringLiteral("--list"), QStringLiteral("--fleet"), fleet});
    }
    const QString users = dir.filePath(QStringLiteral("users"));
    QProcess add;
    add.start(QStringLiteral(R310WEB), {QStringLiteral("--users"), users, QStringLiteral("user"), QStringLiteral("add"),
                                        QStringLiteral("bench")});
    add.write("bench password\n");
    add.closeWriteChannel();
    add.waitForFinished(60000);

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(R310WEB),
                 {QStringLiteral("--records"), QStringLiteral("sqlite:") + fleet, QStringLiteral("--users"), users,
                  QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QString out;
    int port = 0;
    static const QRegularExpression serving(QStringLiteral(":(\\d+)/\\s*$"));
    while (port == 0 && server.waitForReadyRead(30000)) {
        out += QString::fromUtf8(server.readAllStandardOutput());
        const QRegularExpressionMatch match = serving.match(out);
        if (match.hasMatch())
            port = match.captured(1).toInt();
    }
    if (port == 0) {
        std::fprintf(stderr, "web_bench: r310web did not start: %s\n", qPrintable(out));
        return 1;
    }
    const long idleKb = StatusKb(server.processId(), "VmRSS:");
    httplib::Client login("127.0.0.1", port);
    const httplib::Result res =
        login.Post("/login", httplib::Params{{"user", "bench"}, {"password", "bench password"}});
    if (!res || res->status != 303) {
        std::fprintf(stderr, "web_bench: the login failed\n");
        return 1;
    }
    const std::string cookie =
        res->get_header_value("Set-Cookie").substr(0, res->get_header_value("Set-Cookie").find(';'));
    const httplib::Headers headers{{"Cookie", cookie}};
    // The first page, read from the records before the clock starts.
    const Clock::time_point first = Clock::now();
    login.Get("/", headers);
    const double firstMs = std::chrono::duration<double, std::milli>(Clock::now() - first).count();

    const char *sorts[] = {"serial", "customer", "seen", "nextcal", "nextbump"};
    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<long> failures{0};
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            std::vector<double> own;
            for (int n = 0; Clock::now() < end; ++n) {
                const std::string path =
                    "/?sort=" + std::string(sorts[(c + n) % 5]) + "&page=" + std::to_string((c * 7 + n) % 100 + 1);
                const Clock::time_point start = Clock::now();
                const httplib::Result answer = client.Get(path.c_str(), headers);
                own.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                if (!answer || answer->status != 200)
                    ++failures;
            }
            const std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), own.begin(), own.end());
        });
    }
    for (std::thread &t : threads)
        t.join();
    std::sort(latencies.begin(), latencies.end());
    const long rssKb = StatusKb(server.processId(), "VmRSS:");
    const long peakKb = StatusKb(server.processId(), "VmHWM:");
    std::printf("fleet page, 10000 instruments, %d clients for %d s on loopback: %zu requests, %.0f requests/s, "
                "%ld failed\n",
                clients, seconds, latencies.size(), static_cast<double>(latencies.size()) / seconds, failures.load());
    std::printf("latency: median %.1f ms, p99 %.1f ms (goal 100 ms), max %.1f ms; first page (fleet read) %.0f ms\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.99), latencies.empty() ? 0.0 : latencies.back(),
                firstMs);
    std::printf("server memory: %ld MB at start, %ld MB after the run, %ld MB at most\n", idleKb / 1024, rssKb / 1024,
                peakKb / 1024);
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
