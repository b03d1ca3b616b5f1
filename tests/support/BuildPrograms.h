#pragma once
// The programs of this build as tests start them, above all the simulated
// instrument r310sim on its pseudo-terminal.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace r310test {

// Path of a program the build made ("r310ctl", "r310sim").
QString BuildProgram(const QString &name);

// r310sim of this build, started with the given options and serving on a
// pseudo-terminal until this object ends it with SIGTERM.
class SimulatorProcess {
public:
    explicit SimulatorProcess(const QStringList &options = {},
                              QProcess::ProcessChannelMode channels = QProcess::SeparateChannels);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // The serial device the program printed as its first line; empty when it
    // did not start or printed nothing in time.
    QString device() const { return device_; }
    // The running program: its further output, its log and its end.
    QProcess &process() { return process_; }

private:
    QProcess process_;
    QString device_;
};

} // namespace r310test
