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
#include <QRegularExpression>
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
                {std::int64_t{block.header.firstSampleTime} + i * 60,
                 static_cast<double>(block.sets[0].samples[static_cast<std::size_t>(i)])});
    }
    const CtlRun run = Ctl({"exposure", logger_, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject document = JsonOf(run.out);
    ASSERT_EQ(document.value(QStringLiteral("series")).toArray().size(), 2);
    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(s);
        const QJsonObject figures = document.value(QStringLiteral("series")).toArray()[s].toObject();
        const Expected expected = Recompute(sections[static_cast<std::size_t>(s)], 60);
        ExpectJson(figures, {{"gas", "ppm CO"}, {"section", s + 1}, {"samples", double(expected.samples)},
                             {"interval_s", 60}, {"peak.value", expected.peak}});
        EXPECT_NEAR(figures.value(QStringLiteral("stel")).toDouble(), expected.stel, 1e-9);
        EXPECT_NEAR(figures.value(QStringLiteral("twa_8h")).toDouble(), expected.twa, 1e-9);
    }
    EXPECT_EQ(JsonAt(document, QStringLiteral("series.0.start")).toString(), QStringLiteral("2026-03-02T06:00:00"));

    // With the alarm levels: the time at or above each, a minute a sample.
    const CtlRun levels = Ctl({"exposure", logger_, "--json", "--levels", "30,60"});
    ASSERT_EQ(levels.exitCode, 0) << levels.err.toStdString();
    const QJsonObject above = JsonAt(JsonOf(levels.out), QStringLiteral("series.0.at_or_above_s")).toObject();
    const auto countAtOrAbove = [&](double level) {
        return 60 * std::count_if(sections[0].begin(), sections[0].end(),
                                  [level](const Sample &s) { return s.v >= level; });
    };
    EXPECT_EQ(above.value(QStringLiteral("A1")).toInteger(), countAtOrAbove(30));
    EXPECT_EQ(above.value(QStringLiteral("A2")).toInteger(), countAtOrAbove(60));
    EXPECT_FALSE(above.contains(QStringLiteral("A3")));
    EXPECT_GT(countAtOrAbove(60), 0);

    const CtlRun text = Ctl({"exposure", logger_});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    ExpectContains(text.out, {"ppm CO, section 2", "TWA(8h)"});
}

TEST_F(LogFileCommands, PlotWritesEachFormat)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext (poppler-utils) is needed";
    const CtlRun png = Ctl({"plot", logger_});
    ASSERT_EQ(png.exitCode, 0) << png.err.toStdString();
    EXPECT_TRUE(Read(QStringLiteral("Logger.png")).startsWith("\x89PNG"));
    const CtlRun svg = Ctl({"plot", logger_, "--out", dir_.filePath("a.svg"), "--size", "800x400"});
    ASSERT_EQ(svg.exitCode, 0) << svg.err.toStdString();
    const QByteArray svgBytes = Read(QStringLiteral("a.svg"));
    EXPECT_TRUE(svgBytes.contains("<svg") && svgBytes.contains("polyline")) << svgBytes.left(200).toStdString();
    const CtlRun pdf = Ctl({"plot", logger_, "--out", dir_.filePath("a.pdf"), "--from", "2026-03-02T08:00:00", "--to",
                            "2026-03-02 09:30"});
    ASSERT_EQ(pdf.exitCode, 0) << pdf.err.toStdString();
    QProcess text;
    text.start(pdftotext, {dir_.filePath(QStringLiteral("a.pdf")), QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString shown = QString::fromUtf8(text.readAllStandardOutput());
    ExpectContains(shown, {"ppm CO", "Logger.csv"});
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
        {{"exposure", damaged}, kExitUsage, "line 5"},
        {{"plot", damaged}, kExitUsage, "line 5"},
        {{"exposure", dir_.filePath("missing.csv")}, kExitUsage, "Cannot open file"},
        {{"plot", logger_, "--out", nowhere}, kExitCannotWrite, "Cannot create file"},
        {{"plot", logger_, "--out", dir_.filePath("x.gif")}, kExitUsage, ".png"},
        {{"plot", logger_, "--size", "12x5"}, kExitUsage, "--size"},
        {{"plot", logger_, "--from", "soon"}, kExitUsage, "--from"},
        {{"exposure"}, kExitUsage, "one FILE"},
        {{"exposure", logger_, "--levels", "30;60"}, kExitUsage, "--levels"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CtlRun run = Ctl(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        ExpectContains(run.err, {c.message});
    }
    EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("damaged.png"))));
}

} // namespace

namespace {

// The file's lines after the header, one a minute from 06:00 on 2 March 2026.
QByteArray MinuteLines(const QString &gas, const std::vector<QString> &values)
{
    QStringList lines{r310::logs::kLoggerHeaderLine};
    for (std::size_t i = 0; i < values.size(); ++i)
        lines.append(QStringLiteral("02.03.2026 %1:%2:00;%3;%4; ;")
                         .arg(6 + i / 60, 2, 10, QLatin1Char('0'))
                         .arg(i % 60, 2, 10, QLatin1Char('0'))
                         .arg(values[i], gas));
    return r310::logs::EncodeExportLines(lines);
}

} // namespace

TEST_F(LogFileCommands, OxygenHostileValuesAndMarkupFromTheFile)
{
    auto write = [this](const QString &name, const QByteArray &bytes) {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    };
    // 20.9 %Vol with ten minutes at 18.5: ten minutes below A1, none below A2, no STEL or TWA.
    std::vector<QString> air(90, QStringLiteral("20,9"));
    std::fill(air.begin() + 30, air.begin() + 40, QStringLiteral("18,5"));
    const CtlRun oxygen = Ctl({"exposure", "--json", "--levels", "19.5v,18v,23.5", write("o2.csv", MinuteLines("%Vol O2", air))});
    ASSERT_EQ(oxygen.exitCode, 0) << oxygen.err.toStdString();
    const QJsonObject series = JsonAt(JsonOf(oxygen.out), QStringLiteral("series.0")).toObject();
    EXPECT_EQ(series.value(QStringLiteral("at_or_below_s")).toObject(), (QJsonObject{{"A1", 600}, {"A2", 0}}));
    EXPECT_EQ(series.value(QStringLiteral("at_or_above_s")).toObject(), (QJsonObject{{"A3", 0}}));
    EXPECT_FALSE(series.contains(QStringLiteral("stel")) || series.contains(QStringLiteral("twa_8h")));

    // No value that is not a finite number becomes a figure.
    for (const char *bad : {"nan", "inf", "1e309"}) {
        std::vector<QString> values(30, QStringLiteral("10"));
        values[0] = QString::fromLatin1(bad);
        const CtlRun run = Ctl({"exposure", "--json", write(QStringLiteral("%1.csv").arg(bad), MinuteLines("ppm CO", values))});
        EXPECT_EQ(run.exitCode, kExitUsage) << bad;
        ExpectContains(run.err, {"line 2"});
    }

    // Markup in a gas text is shown as written, and the ticks are round.
    std::vector<QString> rising;
    for (int i = 0; i < 60; ++i)
        rising.push_back(QString::number(i * 0.7, 'f', 1).replace(u'.', u','));
    const CtlRun svg = Ctl({"plot", write("markup.csv", MinuteLines("ppm <b>CO</b>", rising)), "--out",
                            dir_.filePath("markup.svg")});
    ASSERT_EQ(svg.exitCode, 0) << svg.err.toStdString();
    const QString picture = QString::fromUtf8(Read(QStringLiteral("markup.svg")));
    EXPECT_TRUE(picture.contains(QStringLiteral("&lt;b&gt;CO&lt;/b&gt;")));
    EXPECT_FALSE(picture.contains(QStringLiteral("<b>")));
    QStringList numbers, times;
    static const QRegularExpression text(QStringLiteral(">([^<>]+)</text>"));
    for (auto match = text.globalMatch(picture); match.hasNext();) {
        const QString label = match.next().captured(1).trimmed();
        (label.contains(u':') ? times : numbers).append(label);
    }
    ASSERT_GE(numbers.size(), 4) << picture.left(300).toStdString();
    for (const QString &label : numbers) {
        bool number = false;
        const double value = label.toDouble(&number);
        if (number) // the value ticks, 5 apart on 0 to 41.3
            EXPECT_EQ(std::fmod(value, 5.0), 0.0) << label.toStdString();
    }
    ASSERT_GE(times.size(), 3);
    static const QRegularExpression minutes(QStringLiteral(":(\\d\\d)(:00)?( ?[AP]M)?$"));
    for (const QString &label : times) {
        const QRegularExpressionMatch match = minutes.match(label);
        ASSERT_TRUE(match.hasMatch()) << label.toStdString();
        EXPECT_EQ(match.captured(1).toInt() % 5, 0) << label.toStdString();
    }
}
