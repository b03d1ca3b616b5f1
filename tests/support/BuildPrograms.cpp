#include "BuildPrograms.h"

#include <QDir>
#include <QElapsedTimer>

namespace r310test {

namespace {

constexpr int kStartMillis = 5000;
constexpr int kEndMillis = 3000;

QString BuildDirectory()
{
    const QString fromTestRun = qEnvironmentVariable("R310_BUILD_DIR");
    return fromTestRun.isEmpty() ? QStringLiteral(R310_DEFAULT_BUILD_DIR) : fromTestRun;
}

} // namespace

QString BuildProgram(const QString &name)
{
    return QDir(BuildDirectory()).filePath(name + QStringLiteral(R310_PROGRAM_SUFFIX));
}

SimulatorProcess::SimulatorProcess(const QStringList &options, QProcess::ProcessChannelMode channels)
{
    process_.setProcessChannelMode(channels);
    process_.start(BuildProgram(QStringLiteral("r310sim")), options);
    if (!process_.waitForStarted(kStartMillis))
        return;
    QElapsedTimer clock;
    clock.start();
    while (!process_.canReadLine() && clock.elapsed() < kStartMillis)
        process_.waitForReadyRead(100);
    device_ = QString::fromUtf8(process_.readLine()).trimmed();
}

SimulatorProcess::~SimulatorProcess()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kEndMillis))
        process_.kill();
    process_.waitForFinished(kEndMillis);
}

} // namespace r310test
