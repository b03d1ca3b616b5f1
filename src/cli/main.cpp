// r310ctl: the Lumo R310 on the command line, on the configurator's core.
#include "ExitCodes.h"
#include "Subcommands.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("r310ctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    r310::cli::CtlEnvironment environment(out, err);
    environment.handleSignals = true;
    int code = r310::cli::kExitFailure;
    try {
        code = r310::cli::RunCtl(QCoreApplication::arguments(), environment);
    } catch (const std::exception &error) {
        err << "r310ctl: " << error.what() << Qt::endl;
    }
    out.flush();
    err.flush();
    return code;
}
