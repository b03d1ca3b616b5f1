#pragma once
// r310sim started as a program on a pseudo-terminal for a benchmark: the
// device path it prints first, stopped when this goes.
#include <QProcess>
#include <QString>
#include <QStringList>

class SimulatorProcess {
public:
    SimulatorProcess(const QString &program, const QStringList &arguments)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
        if (!process_.waitForStarted(5000))
            return;
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    ~SimulatorProcess()
    {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;
    // Empty when it did not start.
    QString device() const { return device_; }

private:
    QProcess process_;
    QString device_;
};
