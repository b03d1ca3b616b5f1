// r310ctl: the Lumo R310 on the command line, on the configurator's core.
#include "ExitCodes.h"
#include "Subcommands.h"

#include <RecordsLink.h>

#include <QCoreApplication>
#ifdef R310_HAVE_LOGCHART
#include <QApplication>
#endif
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// A standard stream the caller closed keeps its number taken by /dev/null,
// opened for reading only: nothing opened later (the event loop's
// descriptors, the serial port) can take its place and receive our output,
// and writing to it fails as writing to a closed stream does.
void HoldClosedStandardStreams()
{
#ifdef Q_OS_UNIX
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int placeholder = open("/dev/null", O_RDONLY);
        if (placeholder >= 0 && placeholder != stream) {
            dup2(placeholder, stream);
            close(placeholder);
        }
    }
#endif
}

// What the command wrote counts only once it reached standard output. A full
// disk, a closed stream or a reader that went away (when SIGPIPE is ignored;
// by default it ends the program as it ends any tool in a pipeline) turns a
// success into a failure, said once.
int CheckStandardOutput(QTextStream &out, const QFile &standardOutput, QTextStream &err, int code)
{
    out.flush();
    if (out.status() == QTextStream::Ok && standardOutput.error() == QFileDevice::NoError)
        return code;
    const QString reason = standardOutput.error() == QFileDevice::NoError ? QStringLiteral("write failed")
                                                                          : standardOutput.errorString();
    err << "r310ctl: cannot write to standard output: " << reason << Qt::endl;
    return code == r310::cli::kExitOk ? r310::cli::kExitFailure : code;
}

#ifdef R310_HAVE_LOGCHART
// The window system's notice that it falls back to a runtime folder of its
// own is no concern of a command that only draws a picture.
QtMessageHandler standardMessages = nullptr;

void DrawingMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (standardMessages)
        standardMessages(type, context, message);
}
#endif

// "plot" draws the log viewer's chart and the commands that print PDFs draw
// with Qt's paint system: both need a GUI application, which runs on the
// offscreen platform, so no display is needed. Every other command stays a
// console program.
std::unique_ptr<QCoreApplication> MakeApplication(int &argc, char *argv[])
{
    QStringList arguments;
    for (int n = 0; n < argc; ++n)
        arguments.append(QString::fromLocal8Bit(argv[n]));
#ifdef R310_HAVE_LOGCHART
    if (r310::cli::CommandDraws(arguments)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        standardMessages = qInstallMessageHandler(DrawingMessages);
        return std::make_unique<QApplication>(argc, argv);
    }
#endif
    const r310::cli::ParsedCommandLine parsed = r310::cli::ParseCommandLine(arguments);
    if (parsed.ok && !parsed.options.help && r310::cli::PrintsPdf(parsed.options.command)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int main(int argc, char *argv[])
{
    HoldClosedStandardStreams();
    const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("r310ctl"));
    QTextStream err(stderr);
    QFile standardOutput;
    if (!standardOutput.open(stdout, QIODevice::WriteOnly)) {
        err << "r310ctl: cannot write to standard output: " << standardOutput.errorString() << Qt::endl;
        return r310::cli::kExitFailure;
    }
    QTextStream out(&standardOutput);
    r310::cli::CtlEnvironment environment(out, err);
    environment.handleSignals = true;
    int code = r310::cli::kExitFailure;
    try {
        code = r310::cli::RunCtl(QCoreApplication::arguments(), environment);
    } catch (const std::exception &error) {
        err << "r310ctl: " << error.what() << Qt::endl;
    }
    code = CheckStandardOutput(out, standardOutput, err, code);
    err.flush();
    // A records thread stuck in a database that stopped answering holds
    // nothing of ours: the program ends without waiting for it.
    if (r310::records::RecordsLink::Stuck()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
