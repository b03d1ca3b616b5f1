#include "CliProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace clitest {

QString CtlProgram()
{
    return r310test::BuildProgram(QStringLiteral("r310ctl"));
}

QString SimProgram()
{
    return r310test::BuildProgram(QStringLiteral("r310sim"));
}

QProcessEnvironment CtlEnvironment(const QString &configHome, const QString &locale)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("LC_")) || name == QLatin1String("LANG")
            || name == QLatin1String("LANGUAGE"))
            environment.remove(name);
    }
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    // The service records of the runs stay there too, whatever records the
    // test programs share.
    environment.insert(QStringLiteral("XDG_DATA_HOME"), configHome);
    environment.remove(QStringLiteral("R310_RECORDS"));
    return environment;
}

CtlRun RunProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
           std::chrono::milliseconds limit)
{
    CtlRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    run.finished = process.waitForFinished(static_cast<int>(limit.count()));
    run.took = std::chrono::milliseconds(clock.elapsed());
    if (!run.finished) {
        process.kill();
        process.waitForFinished(3000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList Words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void ExpectContains(const QString &output, const std::vector<const char *> &texts)
{
    for (const char *text : texts)
        EXPECT_TRUE(output.contains(QString::fromUtf8(text))) << text << "\n" << output.toStdString();
}

void ExpectMatches(const QString &output, const std::vector<const char *> &patterns)
{
    for (const char *pattern : patterns)
        EXPECT_TRUE(output.contains(QRegularExpression(QString::fromUtf8(pattern))))
            << pattern << "\n" << output.toStdString();
}

QJsonObject JsonOf(const QString &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return document.object();
}

QJsonValue JsonAt(const QJsonObject &object, const QString &path)
{
    QJsonValue value(object);
    for (const QString &step : path.split(QLatin1Char('.'))) {
        bool index = false;
        const int n = step.toInt(&index);
        value = index ? value.toArray().at(n) : value.toObject().value(step);
    }
    return value;
}

void ExpectJson(const QJsonObject &object, JsonExpectations expected)
{
    for (const auto &[path, want] : expected) {
        const QJsonValue got = JsonAt(object, QString::fromUtf8(path));
        if (want.isDouble())
            EXPECT_EQ(got.toDouble(-1e300), want.toDouble()) << path;
        else
            EXPECT_EQ(got, want) << path;
    }
}

std::string LoggedRequest::name() const
{
    if (object() == 1)
        return "C1";
    const bool write = frame.size() > 5 && (frame[5] & 0x40) != 0;
    return (write ? "W" : "R") + std::to_string(object());
}

SimProcess::SimProcess(const QStringList &scenarioOptions)
    : simulator_(QStringList{QStringLiteral("--log")} + scenarioOptions)
{
}

std::vector<LoggedRequest> SimProcess::requests()
{
    QProcess &process = simulator_.process();
    process.waitForReadyRead(50);
    log_ += QString::fromUtf8(process.readAllStandardError());
    std::vector<LoggedRequest> heard;
    for (const QString &line : log_.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // "<ms> -> 56 59 4B 34 01 60 00 A5 9F"
        const int arrow = line.indexOf(QLatin1String(" -> "));
        if (arrow < 0)
            continue;
        LoggedRequest request;
        request.millis = line.left(arrow).trimmed().toLong();
        for (const QString &byte : line.mid(arrow + 4).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            request.frame.push_back(static_cast<std::uint8_t>(byte.toUInt(nullptr, 16)));
        heard.push_back(request);
    }
    return heard;
}

std::vector<std::string> SimProcess::requestNames()
{
    std::vector<std::string> names;
    for (const LoggedRequest &request : requests())
        names.push_back(request.name());
    return names;
}

void CtlProgramTest::SetUp()
{
    EnsureApplication();
    ASSERT_TRUE(config_.isValid());
}

CtlRun CtlProgramTest::ctl(const QStringList &arguments, const QString &locale) const
{
    return RunProgram(CtlProgram(), arguments, CtlEnvironment(config_.path(), locale), std::chrono::seconds(60));
}

CtlRun CtlProgramTest::onPort(SimProcess &instrument, const char *words, const QStringList &more,
                              const QString &locale) const
{
    return ctl(QStringList{QStringLiteral("--port"), instrument.device()} + Words(words) + more, locale);
}

} // namespace clitest
