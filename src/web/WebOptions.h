#pragma once
// r310web's command line: serving the records, or keeping the user file.
#include "WebServer.h"

#include <QString>
#include <QStringList>

namespace r310::web {

extern const char *const kWebHelp;

struct WebOptions {
    bool help = false;
    bool version = false;
    QString records; // a records URL; empty: R310_RECORDS or the default file
    QString usersFile;
    ServerSettings server;
    bool insecureListen = false;
    int refreshSeconds = 5;
    int verifyMinutes = 60;
    QStringList user; // "user add NAME" and so on: the words after "user"
    QString error;    // a bad command line, in one sentence
};

WebOptions ParseWebOptions(const QStringList &arguments);

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopback(const QString &host);

// The default user file: r310web/users in the user's configuration folder.
QString DefaultUsersFile();

} // namespace r310::web
