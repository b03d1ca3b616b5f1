// r310ctl exposure and plot as a process on export files: the figures of
// each section against a literal recomputation from the samples written, the
// three picture formats (the PDF read back as text), and the exit codes of a
// damaged file, bad options and a picture that cannot be written.
#include "CliProcess.h"
#include "ShiftLog.h"

#include <DataLoggerExport.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace clitest;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitCannotWrite = 9;

struct Sample {
    std::int64_t t;
    double v;
};

// The figures by the definition, from the samples as generated (not read back).
struct Expected {
    double peak = 0, stel = 0, twa = 0;
    std::size_t samples = 0;
};
Expected Recompute(const std::vector<Sample> &samples, std::int64_t dt)
{
    Expected e;
    e.samples = samples.size();
    for (const Sample &i : samples) {
        e.peak = std::max(e.peak, i.v);
        double stel = 0, twa = 0;
        for (const Sample &j : samples) {
            if (j.t >= i.t && j.t < i.t + 900)
                stel += std::max(j.v, 0.0) * static_cast<double>(dt);
            if (j.t >= i.t && j.t < i.t + 28800)
                twa += std::max(j.v, 0.0) * static_cast<double>(dt);
        }
        e.stel = std::max(e.stel, stel / 900);
        e.twa = std::max(e.twa, twa / 28800);
    }
    return e;
}

class LogFileCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        ASSERT_TRUE(dir_.isValid());
        data_ = r310test::ShiftLogger(60, 1, QLocale(QLocale::German, QLocale::Germany));
        logger_ = dir_.filePath(QStringLiteral("Logger.csv"));
        ASSERT_TRUE(r310::logs::WriteLoggerExport(logger_, data_).ok);
    }
    CtlRun Ctl(const QStringList &arguments)
    {
        return RunProgram(CtlProgram(), arguments, CtlEnvironment(dir_.filePath(QStringLiteral("config"))),
                          std::chrono::seconds(60));
    }
    QByteArray Read(const QString &name)
    {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    r310::logs::LoggerExportData data_;
    QString logger_;
};

TEST_F(LogFileCommands, ExposureGivesEachSectionsFiguresByTheDefinition)
{
    // Sections: blocks 0 to 30, and 31 to 59 after the pause.
    std::vector<std::vector<Sample>> sections(2);
    for (std::size_t b = 0; b < data_.blocks.size(); ++b) {
        const auto &block = data_.blocks[b];
        for (int i = 0; i < 15; ++i)
            sections[b <= 30 ? 0 : 1].push_back(
                {std::int64_t{block.header.firstSampleTime} + i * 60, static_cast<double>(block.sets[0].samples[static_cast<std::size_t>(i)])});
    }
    const CtlRun run = Ctl({QStringLiteral("exposure"), logger_, QStringLiteral("--json")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject document = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const QJsonArray series = document.value(QStringLiteral("series")).toArray();
    ASSERT_EQ(series.size(), 2);
    for (int s = 0; s < 2; ++s) {
        const QJsonObject figures = series[s].toObject();
        const Expected expected = Recompute(sections[static_cast<std::size_t>(s)], 60);
        EXPECT_EQ(figures.value(QStringLiteral("gas")).toString(), QStringLiteral("ppm CO"));
        EXPECT_EQ(figures.value(QStringLiteral("section")).toInt(), s + 1);
        EXPECT_EQ(figures.value(QStringLiteral("samples")).toInteger(), static_cast<qint64>(expected.samples));
        EXPECT_EQ(figures.value(QStringLiteral("interval_s")).toInt(), 60);
        EXPECT_DOUBLE_EQ(figures.value(QStringLiteral("peak")).toObject().value(QStringLiteral("value")).toDouble(),
                         expected.peak);
        EXPECT_NEAR(figures.value(QStringLiteral("stel")).toDouble(), expected.stel, 1e-9);
        EXPECT_NEAR(figures.value(QStringLiteral("twa_8h")).toDouble(), expected.twa, 1e-9);
    }
    EXPECT_EQ(series[0].toObject().value(QStringLiteral("start")).toString(), QStringLiteral("2026-03-02T06:00:00"));

    // With the alarm levels: the time at or above each, a minute a sample.
    const CtlRun levels = Ctl({QStringLiteral("exposure"), logger_, QStringLiteral("--json"), QStringLiteral("--levels"),
                               QStringLiteral("30,60")});
    ASSERT_EQ(levels.exitCode, 0) << levels.err.toStdString();
    const QJsonObject above = QJsonDocument::fromJson(levels.out.toUtf8())
                                  .object()
                                  .value(QStringLiteral("series"))
                                  .toArray()[0]
                                  .toObject()
                                  .value(QStringLiteral("at_or_above_s"))
                                  .toObject();
    const auto countAtOrAbove = [&](double level) {
        return 60 * std::count_if(sections[0].begin(), sections[0].end(), [level](const Sample &s) { return s.v >= level; });
    };
    EXPECT_EQ(above.value(QStringLiteral("A1")).toInteger(), countAtOrAbove(30));
    EXPECT_EQ(above.value(QStringLiteral("A2")).toInteger(), countAtOrAbove(60));
    EXPECT_FALSE(above.contains(QStringLiteral("A3")));
    EXPECT_GT(countAtOrAbove(60), 0);

    const CtlRun text = Ctl({QStringLiteral("exposure"), logger_});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("ppm CO, section 2"))) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("TWA(8h)"))) << text.out.toStdString();
}

TEST_F(LogFileCommands, PlotWritesEachFormat)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext (poppler-utils) is needed";
    const CtlRun png = Ctl({QStringLiteral("plot"), logger_});
    ASSERT_EQ(png.exitCode, 0) << png.err.toStdString();
    EXPECT_TRUE(Read(QStringLiteral("Logger.png")).startsWith("\x89PNG"));
    const CtlRun svg = Ctl({QStringLiteral("plot"), logger_, QStringLiteral("--out"), dir_.filePath(QStringLiteral("a.svg")),
                            QStringLiteral("--size"), QStringLiteral("800x400")});
    ASSERT_EQ(svg.exitCode, 0) << svg.err.toStdString();
    const QByteArray svgBytes = Read(QStringLiteral("a.svg"));
    EXPECT_TRUE(svgBytes.contains("<svg") && svgBytes.contains("polyline")) << svgBytes.left(200).toStdString();
    const CtlRun pdf = Ctl({QStringLiteral("plot"), logger_, QStringLiteral("--out"), dir_.filePath(QStringLiteral("a.pdf")),
                            QStringLiteral("--from"), QStringLiteral("2026-03-02T08:00:00"), QStringLiteral("--to"),
                            QStringLiteral("2026-03-02 09:30")});
    ASSERT_EQ(pdf.exitCode, 0) << pdf.err.toStdString();
    QProcess text;
    text.start(pdftotext, {dir_.filePath(QStringLiteral("a.pdf")), QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString shown = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(shown.contains(QStringLiteral("ppm CO"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("Logger.csv"))) << shown.toStdString();
}

TEST_F(LogFileCommands, RefusesDamagedFilesBadOptionsAndUnwritablePictures)
{
    QStringList lines = r310::logs::LoggerExportLines(data_);
    lines[4] = QStringLiteral("02.03.2026 06:03:00;12;ppm CO");
    const QString damaged = dir_.filePath(QStringLiteral("damaged.csv"));
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(r310::logs::EncodeExportLines(lines));
    file.close();
    struct Case {
        QStringList arguments;
        int exitCode;
        const char *message;
    };
    const QString nowhere = dir_.filePath(QStringLiteral("no/such/folder/x.png"));
    const Case cases[] = {
        {{QStringLiteral("exposure"), damaged}, kExitUsage, "line 5"},
        {{QStringLiteral("plot"), damaged}, kExitUsage, "line 5"},
        {{QStringLiteral("exposure"), dir_.filePath(QStringLiteral("missing.csv"))}, kExitUsage, "Cannot open file"},
        {{QStringLiteral("plot"), logger_, QStringLiteral("--out"), nowhere}, kExitCannotWrite, "Cannot create file"},
        {{QStringLiteral("plot"), logger_, QStringLiteral("--out"), dir_.filePath(QStringLiteral("x.gif"))}, kExitUsage, ".png"},
        {{QStringLiteral("plot"), logger_, QStringLiteral("--size"), QStringLiteral("12x5")}, kExitUsage, "--size"},
        {{QStringLiteral("plot"), logger_, QStringLiteral("--from"), QStringLiteral("soon")}, kExitUsage, "--from"},
        {{QStringLiteral("exposure")}, kExitUsage, "one FILE"},
        {{QStringLiteral("exposure"), logger_, QStringLiteral("--levels"), QStringLiteral("30;60")}, kExitUsage, "--levels"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CtlRun run = Ctl(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(c.message))) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("damaged.png"))));
}

} // namespace
