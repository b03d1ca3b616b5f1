#pragma once
// Runs r310ctl as a user would, and the simulator program on a
// pseudo-terminal as the instrument, with its request log.
#include "BuildPrograms.h"
#include "QStringPrinting.h"
#include "TestApplication.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
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

// "--demo get" as {"--demo", "get"}: arguments written as one text, split at spaces.
QStringList Words(const char *text);

// Each of texts is part of output.
void ExpectContains(const QString &output, const std::vector<const char *> &texts);

// Each regular expression matches somewhere in output.
void ExpectMatches(const QString &output, const std::vector<const char *> &patterns);

// A JSON text as an object; a parse error fails the test.
QJsonObject JsonOf(const QString &text);
// The value at "a.b.2.c" (a number steps into an array); undefined when missing.
QJsonValue JsonAt(const QJsonObject &object, const QString &path);
// Each path has its value (numbers compared as numbers, whatever their JSON type).
using JsonExpectations = std::initializer_list<std::pair<const char *, QJsonValue>>;
void ExpectJson(const QJsonObject &object, JsonExpectations expected);

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

// Tests that run r310ctl as a program, with per-user settings of their own.
class CtlProgramTest : public ::testing::Test {
protected:
    void SetUp() override;

    CtlRun ctl(const QStringList &arguments, const QString &locale = QStringLiteral("C")) const;
    CtlRun ctl(const char *words, const QString &locale = QStringLiteral("C")) const
    {
        return ctl(Words(words), locale);
    }
    // `r310ctl --port DEVICE words more` against the simulator program.
    CtlRun onPort(SimProcess &instrument, const char *words, const QStringList &more = {},
                  const QString &locale = QStringLiteral("C")) const;

    QTemporaryDir config_;
};

} // namespace clitest
