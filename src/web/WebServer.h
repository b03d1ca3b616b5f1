#pragma once
// The server: the pages' routes on cpp-httplib, behind the login. Every
// answer carries the protective headers; a request without a live session
// is sent to the login page (the CSV, meant for programs, gets 401); an
// unknown path is 404. Nothing is served from the file system: every answer
// is made from the records.
#include "Drawings.h"
#include "RecordsSource.h"
#include "Sessions.h"
#include "Users.h"

#include <DecodeAnswer.h>

#include <QString>

#include <memory>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace r310::web {

struct ServerSettings {
    QString host = QStringLiteral("127.0.0.1");
    int port = 8310;
    QString certFile; // both, for HTTPS
    QString keyFile;
    int soonDays = 30; // due dates within so many days are shown in amber
    int threads = 64;  // requests answered at once
};

// Limits of a request: its body (a login form is far smaller), and its header fields.
constexpr std::size_t kMaxBody = 64 * 1024;
constexpr std::size_t kMaxHeaderFields = 64;

class WebServer {
public:
    WebServer(ServerSettings settings, RecordsSource &records, UserFile &users, GasTextLookup gasTexts);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Binds the address; false with *error (the certificate or key cannot be
    // read, the address is taken).
    bool Bind(QString *error);
    int port() const { return port_; }
    // Answers requests until Stop; on any thread.
    void Run();
    void Stop();

private:
    void Routes();
    std::optional<QString> LoggedIn(const httplib::Request &request);
    void Login(const httplib::Request &request, httplib::Response &response);
    void Logout(const httplib::Request &request, httplib::Response &response);
    void Fleet(const httplib::Request &request, httplib::Response &response, const QString &user);
    void Instrument(const httplib::Request &request, httplib::Response &response, const QString &user);
    void Certificate(const httplib::Request &request, httplib::Response &response, const QString &user);
    void Chart(const httplib::Request &request, httplib::Response &response, const QString &user);
    void DueCsv(const httplib::Request &request, httplib::Response &response);
    void Problem(httplib::Response &response, int status, const QString &user, const QString &title,
                 const QString &sentence);

    ServerSettings settings_;
    RecordsSource &records_;
    UserFile &users_;
    GasTextLookup gasTexts_;
    Sessions sessions_;
    LoginThrottle throttle_;
    Drawings drawings_;
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
};

} // namespace r310::web
