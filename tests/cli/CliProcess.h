#pragma once
// Runs r310ctl as a user would, and the simulator program on a
// pseudo-terminal as the instrument, with its request log.
#include "BuildPrograms.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

using r310test::EnsureApplication;

QString CtlProgram();
QString SimProgram();

struct CtlRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
    std::chrono::milliseconds took{0};

    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QStringList outLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// A clean environment: regional settings `locale`, per-user settings in
// configHome (so the user's remembered port is neither read nor changed).
QProcessEnvironment CtlEnvironment(const QString &configHome, const QString &locale = QStringLiteral("C"));

// Runs program with arguments and waits for it (at most limit).
CtlRun RunProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
           std::chrono::milliseconds limit = std::chrono::seconds(30));

// A request the simulated instrument logged.
struct LoggedRequest {
    long millis = 0;
    std::vector<std::uint8_t> frame;

    std::uint8_t object() const { return frame.size() > 4 ? frame[4] : 0; }
    // "C1" for the connect request, "R3" for a read of object 3, "W3" for a write.
    std::string name() const;
};

// The simulator program on a pseudo-terminal, logging what it hears.
class SimProcess {
public:
    explicit SimProcess(const QStringList &scenarioOptions = {});
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The serial device to open; empty when the simulator did not start.
    QString device() const { return simulator_.device(); }
    // Every request heard so far, in order.
    std::vector<LoggedRequest> requests();
    std::vector<std::string> requestNames();

private:
    r310test::SimulatorProcess simulator_;
    QString log_;
};

} // namespace clitest
