// r310web: the service records in a web browser, read-only, behind a login.
#include "WebOptions.h"
#include "WebServer.h"

#include <GasTable.h>
#include <SignalWatcher.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <sodium.h>

#include <atomic>
#include <iostream>
#include <thread>

#include <csignal>

namespace {

using r310::web::WebOptions;

QtMessageHandler standardMessages = nullptr;

// The window system's notice that it falls back to a runtime folder of its
// own is no concern of a program that only draws pictures.
void DrawingMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (standardMessages)
        standardMessages(type, context, message);
}

int Fail(const QString &sentence)
{
    std::cerr << "r310web: " << sentence.toStdString() << std::endl;
    return 2;
}

int RunUser(const WebOptions &o)
{
    r310::web::UserFile file(o.usersFile);
    const QString what = o.user.at(0);
    if (what == QLatin1String("list")) {
        for (const QString &name : file.Names())
            std::cout << name.toStdString() << '\n';
        return 0;
    }
    const QString name = o.user.at(1);
    r310::web::UserFileResult result;
    if (what == QLatin1String("add")) {
        if (!r310::web::ValidUserName(name))
            return Fail(QStringLiteral("a user name has 1 to 64 letters, digits, '.', '_' or '-'"));
        QDir().mkpath(QFileInfo(o.usersFile).absolutePath());
        QString error;
        const QByteArray password = r310::web::ReadNewPassword(&error);
        if (!error.isEmpty())
            return Fail(error);
        result = file.Add(name, password);
    } else {
        result = file.Remove(name);
    }
    if (!result.ok)
        return Fail(result.error);
    std::cout << "User " << name.toStdString() << (what == QLatin1String("add") ? " added to " : " removed from ")
              << o.usersFile.toStdString() << '\n';
    return 0;
}

int Serve(const WebOptions &o)
{
    const r310::records::RecordsChoice choice = r310::records::ChooseRecords(o.records, false);
    if (!choice.ok())
        return Fail(choice.error);
    r310::web::RecordsSource records(choice.target, std::chrono::seconds(o.refreshSeconds),
                                     std::chrono::minutes(o.verifyMinutes));
    QString error;
    if (!records.Check(&error))
        return Fail(QStringLiteral("cannot read the records %1: %2").arg(choice.target.text(), error));
    r310::web::UserFile users(o.usersFile);
    if (users.Names().isEmpty())
        std::cerr << "r310web: no user in " << o.usersFile.toStdString() << " yet: add one with r310web user add NAME"
                  << std::endl;
    if (!r310::web::IsLoopback(o.server.host) && o.server.certFile.isEmpty())
        std::cerr << "r310web: warning: listening on " << o.server.host.toStdString()
                  << " without HTTPS: passwords and records cross the network readable" << std::endl;
    // The gas texts of the charts' series, where the gas table library is found.
    std::shared_ptr<const r310::GasTable> gasTable = r310::GasTable::Load(&error);
    r310::GasTextLookup gasTexts;
    if (gasTable)
        gasTexts = [gasTable](std::uint8_t unit, std::uint8_t gas) { return gasTable->GasTexts(unit, gas); };

    r310::web::WebServer server(o.server, records, users, gasTexts);
    if (!server.Bind(&error))
        return Fail(error);
    records.StartVerifying();
    const bool tls = !o.server.certFile.isEmpty();
    const QString host =
        o.server.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + o.server.host + QLatin1Char(']') : o.server.host;
    std::cout << "r310web: serving " << choice.target.text().toStdString() << " on " << (tls ? "https" : "http")
              << "://" << host.toStdString() << ':' << server.port() << '/' << std::endl;

    std::atomic<bool> stopped{false};
    std::thread serving([&server, &stopped] {
        server.Run();
        stopped = true;
    });
    r310::SignalWatcher watcher;
    QObject::connect(&watcher, &r310::SignalWatcher::signalled, [&server] { server.Stop(); });
    // The requests' threads hand their drawings to this thread, so it keeps
    // serving its events until the server has stopped.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&stopped] {
        if (stopped)
            QCoreApplication::quit();
    });
    poll.start(100);
    QCoreApplication::exec();
    server.Stop();
    while (!stopped) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    serving.join();
    std::cout << "r310web: stopped" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int n = 0; n < argc; ++n)
        arguments.append(QString::fromLocal8Bit(argv[n]));
    const WebOptions o = r310::web::ParseWebOptions(arguments);
    if (!o.error.isEmpty())
        return Fail(o.error);
    if (o.help) {
        std::cout << r310::web::kWebHelp;
        return 0;
    }
    if (o.version) {
        std::cout << "r310web " << R310_PROGRAM_VERSION << '\n';
        return 0;
    }
    // A browser that goes away mid-answer is a failed write, not the end of the server.
    std::signal(SIGPIPE, SIG_IGN);
    if (sodium_init() < 0)
        return Fail(QStringLiteral("libsodium cannot start"));
    if (!o.user.isEmpty()) {
        QCoreApplication app(argc, argv);
        return RunUser(o);
    }
    // The charts and certificates paint with Qt Gui, offscreen: no display needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    standardMessages = qInstallMessageHandler(DrawingMessages);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("r310web"));
    return Serve(o);
}
