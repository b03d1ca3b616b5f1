#pragma once
// r310ctl keeping service records, run as a user runs it against the
// simulator program: the words of a command line, its JSON answers, and the
// PDFs it writes read back with the poppler tools.
#include "CliProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>

QT_BEGIN_NAMESPACE
inline std::ostream &operator<<(std::ostream &out, const QString &text) { return out << text.toStdString(); }
QT_END_NAMESPACE

namespace recordstest {

using namespace std::chrono_literals;
using clitest::CtlRun;
using clitest::SimProcess;

inline QStringList Args(std::initializer_list<const char *> words)
{
    QStringList list;
    for (const char *word : words)
        list.append(QString::fromUtf8(word));
    return list;
}

// What a poppler tool prints about the PDF; empty when it fails.
inline QString Poppler(const char *tool, const QStringList &arguments)
{
    QProcess process;
    process.start(QString::fromLatin1(tool), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The PDF's text as pdftotext reads it, one line per line of the page.
inline QString PdfText(const QString &path)
{
    return Poppler("pdftotext", {QStringLiteral("-layout"), path, QStringLiteral("-")});
}

inline int PdfPages(const QString &path)
{
    const QString text = Poppler("pdfinfo", {path});
    const qsizetype at = text.indexOf(QLatin1String("Pages:"));
    return at < 0 ? -1 : text.mid(at + 6).section(QLatin1Char('\n'), 0, 0).trimmed().toInt();
}

// r310ctl with per-user files and other files in folders of the test's own;
// `records`, when set, goes ahead of every command as its records location.
class CtlTest : public ::testing::Test {
protected:
    void SetUp() override { clitest::EnsureApplication(); }

    CtlRun ctl(const QStringList &arguments)
    {
        QStringList words = arguments;
        if (!records.isEmpty())
            words = QStringList{QStringLiteral("--records"), records} + arguments;
        return clitest::RunProgram(clitest::CtlProgram(), words, clitest::CtlEnvironment(home.path()), 120s);
    }
    CtlRun on(SimProcess &sim, const QStringList &arguments)
    {
        return ctl(QStringList{QStringLiteral("--port"), sim.device()} + arguments);
    }
    // The command's JSON answer; its exit code is expected to be `exitCode`.
    QJsonArray json(const QStringList &arguments, int exitCode = 0)
    {
        const CtlRun run = ctl(arguments + QStringList{QStringLiteral("--json")});
        EXPECT_EQ(run.exitCode, exitCode) << arguments.join(u' ') << ": " << run.err;
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    }
    QString file(const char *name) const { return files.filePath(QString::fromUtf8(name)); }

    QTemporaryDir home;
    QTemporaryDir files;
    QString records;
};

} // namespace recordstest
