#include "TestApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

namespace r310test {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a waiting loop looks at its condition at the latest.
constexpr std::chrono::milliseconds kWakeInterval{1};

} // namespace

void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "r310_test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

bool SpinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(kWakeInterval);
    const auto end = SteadyClock::now() + limit;
    while (!done()) {
        if (SteadyClock::now() >= end)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void SpinFor(std::chrono::milliseconds time)
{
    SpinUntil([] { return false; }, time);
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList Entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace r310test
