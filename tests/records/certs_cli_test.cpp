// Calibrating with a registered test-gas cylinder, its certificate, what
// falls due and the fleet report, as a user runs r310ctl against the
// simulator program on a pseudo-terminal; the PDFs are read back as text.
#include "CliProcess.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

using namespace clitest;
using namespace std::chrono_literals;

QT_BEGIN_NAMESPACE
inline std::ostream &operator<<(std::ostream &out, const QString &text) { return out << text.toStdString(); }
QT_END_NAMESPACE

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitDue = 10;

QStringList Args(std::initializer_list<const char *> words)
{
    QStringList list;
    for (const char *word : words)
        list.append(QString::fromUtf8(word));
    return list;
}

QString Day(int fromToday) { return QDate::currentDate().addDays(fromToday).toString(Qt::ISODate); }

// The PDF's text as pdftotext reads it, one line per line of the page.
QString PdfText(const QString &path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0)
        return QStringLiteral("<pdftotext failed: %1>").arg(QString::fromUtf8(pdftotext.readAllStandardError()));
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

int PdfPages(const QString &path)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {path});
    info.waitForFinished(30000);
    const QString text = QString::fromUtf8(info.readAllStandardOutput());
    const qsizetype at = text.indexOf(QLatin1String("Pages:"));
    return at < 0 ? -1 : text.mid(at + 6).section(QLatin1Char('\n'), 0, 0).trimmed().toInt();
}

bool HeardStart(SimProcess &sim)
{
    const std::vector<std::string> names = sim.requestNames();
    return std::find(names.begin(), names.end(), "W9") != names.end();
}

class CtlCertificates : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        url_ = QStringLiteral("sqlite:") + file(QStringLiteral("records.sqlite"));
    }

    CtlRun ctl(const QStringList &arguments)
    {
        return RunProgram(CtlProgram(), QStringList{QStringLiteral("--records"), url_} + arguments,
                          CtlEnvironment(home_.path()), 120s);
    }
    CtlRun on(SimProcess &sim, const QStringList &arguments)
    {
        return ctl(QStringList{QStringLiteral("--port"), sim.device()} + arguments);
    }
    QJsonArray json(const QStringList &arguments, int exitCode = 0)
    {
        const CtlRun run = ctl(arguments + QStringList{QStringLiteral("--json")});
        EXPECT_EQ(run.exitCode, exitCode) << arguments.join(u' ') << ": " << run.err;
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    }
    QJsonObject instrument(const QString &serial)
    {
        for (const QJsonValue &v : json(Args({"records", "instruments"}))) {
            if (v[QStringLiteral("serial")].toString() == serial)
                return v.toObject();
        }
        return {};
    }
    QString file(const QString &name) const { return files_.filePath(name); }

    QTemporaryDir home_;
    QTemporaryDir files_;
    QString url_;
};

TEST_F(CtlCertificates, ACalibrationWithARegisteredCylinderIsOnItsCertificateAndUnusableOnesSendNothing)
{
    SimProcess sim({QStringLiteral("--serial=4711"), QStringLiteral("--customer_id=Werk 3/B"),
                    QStringLiteral("--exponent=-1"), QStringLiteral("--no-pacing")});
    ASSERT_FALSE(sim.device().isEmpty());
    const QString expires = Day(200);
    struct Added {
        QStringList arguments;
        int exitCode;
    };
    for (const Added &add : std::vector<Added>{
             {Args({"--lot", "L-GOOD", "--gas", "co", "--unit", "ppm", "--concentration", "50", "--balance", "N2 (air)",
                    "--supplier", "Gasco AG"}) + QStringList{QStringLiteral("--expires"), expires}, 0},
             {Args({"--lot", "L-OLD", "--gas", "CO", "--unit", "0", "--concentration", "50"})
                  + QStringList{QStringLiteral("--expires"), Day(-1)}, 0},
             {Args({"--lot", "L-H2S", "--gas", "2", "--unit", "ppm", "--concentration", "25"})
                  + QStringList{QStringLiteral("--expires"), expires}, 0},
             {Args({"--lot", "L-RET", "--gas", "CO", "--unit", "ppm", "--concentration", "50"})
                  + QStringList{QStringLiteral("--expires"), expires}, 0},
             {Args({"--lot", "L-GOOD", "--gas", "CO", "--unit", "ppm", "--concentration", "50"})
                  + QStringList{QStringLiteral("--expires"), expires}, kExitUsage}, // the lot is taken
             {Args({"--lot", "L-X", "--gas", "no such gas", "--unit", "ppm", "--concentration", "50"})
                  + QStringList{QStringLiteral("--expires"), expires}, kExitUsage},
             {Args({"--lot", "L-X", "--gas", "CO", "--unit", "ppm", "--concentration", "50", "--expires", "31.12.2030"}),
              kExitUsage}}) {
        const CtlRun run = ctl(Args({"cylinders", "add"}) + add.arguments);
        EXPECT_EQ(run.exitCode, add.exitCode) << add.arguments.join(u' ') << ": " << run.err;
    }
    EXPECT_EQ(ctl(Args({"cylinders", "retire", "L-RET"})).exitCode, 0);
    const QJsonArray cylinders = json(Args({"cylinders", "list"}));
    ASSERT_EQ(cylinders.size(), 4);
    EXPECT_EQ(cylinders[0][QStringLiteral("lot")].toString(), QStringLiteral("L-GOOD"));
    EXPECT_EQ(cylinders[0][QStringLiteral("gas")].toString(), QStringLiteral("CO"));
    EXPECT_EQ(cylinders[1][QStringLiteral("gas")].toString(), QStringLiteral("H2S"));
    EXPECT_TRUE(cylinders[2][QStringLiteral("expired")].toBool());
    EXPECT_TRUE(cylinders[3][QStringLiteral("retired")].toBool());

    ASSERT_EQ(on(sim, Args({"get"})).exitCode, 0);
    // Refused before the start: nothing goes to the instrument.
    for (const auto &[arguments, reason] :
         std::vector<std::pair<QStringList, const char *>>{{Args({"span", "--cylinder", "L-OLD"}), "expired on"},
                                                           {Args({"span", "--cylinder", "L-RET"}), "retired"},
                                                           {Args({"span", "--cylinder", "L-H2S"}), "not the instrument's gas"},
                                                           {Args({"span", "--cylinder", "L-NONE"}), "not in the register"},
                                                           {Args({"span", "40", "--cylinder", "L-GOOD"}), "differs"}}) {
        const CtlRun run = on(sim, Args({"calibrate"}) + arguments);
        EXPECT_EQ(run.exitCode, kExitUsage) << arguments.join(u' ') << ": " << run.err;
        EXPECT_TRUE(run.err.contains(QLatin1String(reason))) << run.err;
        EXPECT_FALSE(HeardStart(sim)) << arguments.join(u' ');
    }

    const CtlRun calibrated = on(sim, Args({"calibrate", "span", "--cylinder", "L-GOOD"}));
    ASSERT_EQ(calibrated.exitCode, 0) << calibrated.err;
    EXPECT_TRUE(calibrated.out.contains(QLatin1String("raw 500 at decimal exponent -1"))) << calibrated.out;
    EXPECT_TRUE(HeardStart(sim));
    ASSERT_EQ(on(sim, Args({"calibrate", "span", "50"})).exitCode, 0);

    std::vector<QJsonObject> calibrations;
    std::vector<qint64> ids;
    for (const QJsonValue &v : json(Args({"records", "history", "00004711"}))) {
        if (v[QStringLiteral("kind")].toString() == QLatin1String("calibration")) {
            calibrations.push_back(v[QStringLiteral("record")].toObject());
            ids.push_back(v[QStringLiteral("id")].toInteger());
        }
    }
    ASSERT_EQ(calibrations.size(), 2u);
    EXPECT_EQ(calibrations[0][QStringLiteral("cylinder")][QStringLiteral("lot")].toString(), QStringLiteral("L-GOOD"));
    EXPECT_EQ(calibrations[1][QStringLiteral("testGas")].toString(), QStringLiteral("test gas not recorded"));

    const QJsonObject held = instrument(QStringLiteral("00004711"));
    const QString pdf = file(QStringLiteral("certificate.pdf"));
    const CtlRun printed = ctl({QStringLiteral("certificate"), QStringLiteral("00004711"), QStringLiteral("--calibration"),
                                QString::number(ids[0]), QStringLiteral("--technician"), QStringLiteral("Jana Nováková"),
                                QStringLiteral("--out"), pdf});
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    EXPECT_EQ(PdfPages(pdf), 1);
    const QString text = PdfText(pdf);
    const auto reading = [&](const char *key) {
        return QString::number(calibrations[0][QLatin1String(key)].toDouble(), 'g', 12) + QStringLiteral(" ppm");
    };
    for (const QString &expected :
         {QStringLiteral("00004711"), QStringLiteral("Werk 3/B"), QStringLiteral("ppm CO"), QStringLiteral("50 ppm"),
          QStringLiteral("L-GOOD"), expires, QStringLiteral("N2 (air)"), QStringLiteral("Gasco AG"),
          QStringLiteral("passed"), QStringLiteral("As found ") + reading("asFound"),
          QStringLiteral("As left ") + reading("asLeft"), QStringLiteral("Jana Nováková"),
          held[QStringLiteral("nextCalibration")].toString(), held[QStringLiteral("nextBumpTest")].toString()})
        EXPECT_TRUE(text.simplified().contains(expected.simplified())) << expected << " not in:\n" << text;
    // The same record prints the same number; the other calibration another.
    const CtlRun again = ctl({QStringLiteral("certificate"), QStringLiteral("00004711"), QStringLiteral("--calibration"),
                              QString::number(ids[0]), QStringLiteral("--out"), file(QStringLiteral("again.pdf"))});
    EXPECT_EQ(again.out, QString(printed.out).replace(pdf, file(QStringLiteral("again.pdf"))));
    const CtlRun latest = ctl(Args({"certificate", "00004711", "--out"}) + QStringList{file(QStringLiteral("latest.pdf"))});
    ASSERT_EQ(latest.exitCode, 0) << latest.err;
    EXPECT_NE(latest.out.section(QLatin1Char(' '), 1, 1), again.out.section(QLatin1Char(' '), 1, 1));
    EXPECT_TRUE(PdfText(file(QStringLiteral("latest.pdf"))).contains(QLatin1String("test gas not recorded")));

    for (const QStringList &unknown : {Args({"certificate", "00009999", "--out", "/dev/null"}),
                                       Args({"certificate", "00004711", "--calibration", "1", "--out", "/dev/null"})})
        EXPECT_EQ(ctl(unknown).exitCode, kExitUsage) << unknown.join(u' ');
}

TEST_F(CtlCertificates, WhatFallsDueIsListedExitsTenAndTheFleetReportMarksIt)
{
    SimProcess inDate({QStringLiteral("--serial=1001"), QStringLiteral("--customer_id=Halle 1"),
                       QStringLiteral("--next_cal_in=40"), QStringLiteral("--next_bump_in=10"), QStringLiteral("--no-pacing")});
    ASSERT_EQ(on(inDate, Args({"get"})).exitCode, 0);
    EXPECT_EQ(ctl(Args({"due"})).exitCode, 0);
    const QJsonArray listed = json(Args({"due", "--within", "3650"}), kExitDue);
    ASSERT_EQ(listed.size(), 2);
    const QJsonObject held = instrument(QStringLiteral("00001001"));
    EXPECT_EQ(listed[0][QStringLiteral("due")].toString(), QStringLiteral("bump test"));
    EXPECT_EQ(listed[0][QStringLiteral("date")].toString(), held[QStringLiteral("nextBumpTest")].toString());
    EXPECT_EQ(listed[0][QStringLiteral("daysOverdue")].toInt(), -10);
    EXPECT_EQ(listed[1][QStringLiteral("date")].toString(), held[QStringLiteral("nextCalibration")].toString());
    EXPECT_EQ(listed[1][QStringLiteral("customerId")].toString(), QStringLiteral("Halle 1"));
    EXPECT_EQ(json(Args({"due", "--within", "20"}), kExitDue).size(), 1);

    SimProcess overdue({QStringLiteral("--serial=1002"), QStringLiteral("--customer_id=Tor, Nord"),
                        QStringLiteral("--next_cal_in=-3"), QStringLiteral("--next_bump_in=5"), QStringLiteral("--no-pacing")});
    ASSERT_EQ(on(overdue, Args({"get"})).exitCode, 0);
    const CtlRun due = ctl(Args({"due", "--csv"}) + QStringList{file(QStringLiteral("due.csv"))});
    EXPECT_EQ(due.exitCode, kExitDue) << due.err;
    EXPECT_TRUE(due.out.contains(QLatin1String("00001002"))) << due.out;
    EXPECT_FALSE(due.out.contains(QLatin1String("00001001"))) << due.out;
    QFile csv(file(QStringLiteral("due.csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(csv.readAll()),
              QStringLiteral("serial,customer_id,due,date,days_overdue\n00001002,\"Tor, Nord\",calibration,%1,3\n").arg(Day(-3)));

    const QString pdf = file(QStringLiteral("fleet.pdf"));
    ASSERT_EQ(ctl(Args({"report", "fleet", "--out"}) + QStringList{pdf}).exitCode, 0);
    const QStringList lines = PdfText(pdf).split(QLatin1Char('\n'));
    const auto row = [&lines](const char *serial) {
        for (const QString &line : lines) {
            if (line.contains(QLatin1String(serial)))
                return line.simplified();
        }
        return QString();
    };
    EXPECT_TRUE(row("00001001").contains(QStringLiteral("Halle 1"))) << row("00001001");
    EXPECT_TRUE(row("00001001").contains(Day(40))) << row("00001001");
    EXPECT_FALSE(row("00001001").contains(QLatin1String("OVERDUE"))) << row("00001001");
    EXPECT_TRUE(row("00001002").contains(Day(-3) + QStringLiteral(" OVERDUE"))) << row("00001002");
}

} // namespace
