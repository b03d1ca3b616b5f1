#include "WebOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStandardPaths>

namespace r310::web {

const char *const kWebHelp = R"(Usage: r310web [--records URL] [--listen ADDRESS:PORT] [--cert FILE --key FILE]
               [--insecure-listen] [--users FILE] [--due-within DAYS] [--verify-every MINUTES]
               [--refresh SECONDS] [--threads N]
       r310web [--users FILE] user add NAME | user remove NAME | user list

Shows the service records (the instruments, their history, calibration
certificates, data logger charts and what falls due) in a web browser, to
the users of its user file only, without changing anything.

--records URL     the records: sqlite:PATH or postgresql://USER@HOST:PORT/DB
                  (default: R310_RECORDS, else the configurator's own file);
                  opened read-only
--listen A:P      the address and port (default 127.0.0.1:8310; port 0 picks one)
--cert, --key     a certificate and its private key (PEM): HTTPS
--insecure-listen allows an address other than the loopback one without HTTPS
--users FILE      the user file (default ~/.config/r310web/users)
--due-within DAYS due dates within so many days are shown in amber (default 30)
--verify-every M  minutes between checks of every record chain (default 60)
--refresh S       seconds the fleet list is shown before it is read again (default 5)
--threads N       requests answered at once (default 64)

user add NAME     adds a user or sets a new password (asked twice on a
                  terminal, else read from the first line of standard input)
user remove NAME  removes a user and ends their sessions
user list         the users, one a line
)";

namespace {

bool Number(const QString &text, int low, int high, int *out)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return false;
    *out = value;
    return true;
}

} // namespace

bool IsLoopback(const QString &host)
{
    static const QRegularExpression loopback4(QStringLiteral("^127(\\.(25[0-5]|2[0-4]\\d|1?\\d?\\d)){3}$"));
    return host == QLatin1String("localhost") || host == QLatin1String("::1") || loopback4.match(host).hasMatch();
}

QString DefaultUsersFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/r310web/users");
}

WebOptions ParseWebOptions(const QStringList &arguments)
{
    WebOptions o;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption records(QStringLiteral("records"), {}, QStringLiteral("URL"));
    const QCommandLineOption listen(QStringLiteral("listen"), {}, QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption cert(QStringLiteral("cert"), {}, QStringLiteral("FILE"));
    const QCommandLineOption key(QStringLiteral("key"), {}, QStringLiteral("FILE"));
    const QCommandLineOption insecure(QStringLiteral("insecure-listen"));
    const QCommandLineOption users(QStringLiteral("users"), {}, QStringLiteral("FILE"));
    const QCommandLineOption within(QStringLiteral("due-within"), {}, QStringLiteral("DAYS"));
    const QCommandLineOption verify(QStringLiteral("verify-every"), {}, QStringLiteral("MINUTES"));
    const QCommandLineOption refresh(QStringLiteral("refresh"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption threads(QStringLiteral("threads"), {}, QStringLiteral("N"));
    parser.addOptions({help, version, records, listen, cert, key, insecure, users, within, verify, refresh, threads});
    if (!parser.parse(arguments)) {
        o.error = parser.errorText();
        return o;
    }
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    o.records = parser.value(records);
    o.usersFile = parser.isSet(users) ? parser.value(users) : DefaultUsersFile();
    o.server.certFile = parser.value(cert);
    o.server.keyFile = parser.value(key);
    o.insecureListen = parser.isSet(insecure);
    const QStringList words = parser.positionalArguments();
    if (!words.isEmpty()) {
        if (words.first() != QLatin1String("user")) {
            o.error = QStringLiteral("unknown command \"%1\" (see r310web --help)").arg(words.first());
            return o;
        }
        o.user = words.mid(1);
        const QString what = o.user.value(0);
        const bool named = what == QLatin1String("add") || what == QLatin1String("remove");
        if (!(named && o.user.size() == 2) && !(what == QLatin1String("list") && o.user.size() == 1))
            o.error = QStringLiteral("user needs add NAME, remove NAME or list");
        if (o.user.isEmpty())
            o.user.append(QString());
        return o;
    }
    if (parser.isSet(listen)) {
        const QString text = parser.value(listen);
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        QString host = text.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (colon <= 0 || host.isEmpty() || !Number(text.mid(colon + 1), 0, 65535, &o.server.port)) {
            o.error = QStringLiteral("--listen needs ADDRESS:PORT, such as 127.0.0.1:8310");
            return o;
        }
        o.server.host = host;
    }
    if (o.server.certFile.isEmpty() != o.server.keyFile.isEmpty()) {
        o.error = QStringLiteral("--cert and --key go together");
        return o;
    }
    if (parser.isSet(within) && !Number(parser.value(within), 0, 3650, &o.server.soonDays))
        o.error = QStringLiteral("--due-within needs days, 0 to 3650");
    else if (parser.isSet(verify) && !Number(parser.value(verify), 1, 7 * 24 * 60, &o.verifyMinutes))
        o.error = QStringLiteral("--verify-every needs minutes, 1 to 10080");
    else if (parser.isSet(refresh) && !Number(parser.value(refresh), 0, 3600, &o.refreshSeconds))
        o.error = QStringLiteral("--refresh needs seconds, 0 to 3600");
    else if (parser.isSet(threads) && !Number(parser.value(threads), 1, 1024, &o.server.threads))
        o.error = QStringLiteral("--threads needs a number, 1 to 1024");
    else if (o.server.certFile.isEmpty() && !IsLoopback(o.server.host) && !o.insecureListen)
        o.error = QStringLiteral("without --cert and --key r310web listens only on the loopback address "
                                 "(--insecure-listen to allow %1)")
                      .arg(o.server.host);
    return o;
}

} // namespace r310::web
